// The progress run: handler order, run states, Cancel with and without a
// question, a handler ending the run, a handler's error, and Reset.
#include "HeadlessProgress.h"
#include "platform/Errors.h"

#include <gtest/gtest.h>

#include <optional>

using namespace kestrix;

namespace {

struct RunCase
{
    const char* name;
    int items;
    int cancelDuring;                 // Cancel pressed while this item is worked on
    std::optional<bool> cancelAnswer; // OnCancelQuery's answer; none: no query set
    int stopAt;                       // OnNextItem returns false here
    int throwAt;                      // OnNextItem throws here
    const char* expectedLog;          // the handlers called, separated by "|"
    TFormFileProgressState expectedState;
    bool expectedResult;
};

const RunCase runCases[] = {
    {"OneItem", 1, -1, std::nullopt, -1, -1, "name 0|next 0|finished", fpsIdle, true},
    {"CancelConfirmedDuringThirdOfTen", 10, 2, true, -1, -1,
     "name 0|next 0|name 1|next 1|name 2|next 2|cancel?|finished", fpsCancelled, false},
    {"CancelRefusedRunsOn", 3, 0, false, -1, -1,
     "name 0|next 0|cancel?|name 1|next 1|name 2|next 2|finished", fpsIdle, true},
    {"CancelWithoutQueryStopsBeforeNextItem", 3, 1, std::nullopt, -1, -1,
     "name 0|next 0|name 1|next 1|finished", fpsCancelled, false},
    {"HandlerEndsRunOnFirstItem", 4, -1, std::nullopt, 0, -1, "name 0|next 0|finished", fpsIdle,
     true},
};

class RunStates : public ::testing::TestWithParam<RunCase>
{
};

TEST_P(RunStates, HandlersAreCalledInOrderAndTheRunEndsInItsState)
{
    const RunCase& c = GetParam();
    HeadlessProgress progress;
    QStringList log;
    QStringList items;
    for (int i = 0; i < c.items; ++i)
        items << QString::number(i);
    progress.OnNameQuery = [&](FileProgress&, const QString& item) {
        log << QStringLiteral("name ") + item;
        return QStringLiteral("Item ") + item;
    };
    progress.OnNextItem = [&](FileProgress& sender, const QString& item) {
        log << QStringLiteral("next ") + item;
        EXPECT_EQ(sender.State(), fpsRunning);
        EXPECT_EQ(sender.ItemCount(), c.items);
        const int i = item.toInt();
        if (i == c.cancelDuring)
            sender.Cancel();
        if (i == c.throwAt)
            throw Failure("broken");
        return i != c.stopAt;
    };
    if (c.cancelAnswer)
        progress.OnCancelQuery = [&](FileProgress&) {
            log << QStringLiteral("cancel?");
            return *c.cancelAnswer;
        };
    progress.OnFinished = [&](FileProgress& sender) {
        EXPECT_EQ(sender.State(), c.expectedState);
        log << QStringLiteral("finished");
    };

    EXPECT_EQ(progress.Execute(items), c.expectedResult);
    EXPECT_EQ(log.join(u'|').toStdString(), c.expectedLog);
    EXPECT_EQ(progress.State(), c.expectedState);
    EXPECT_EQ(progress.runsFinished, 1);
    EXPECT_EQ(progress.ItemCount(), 0) << "the list is dropped when Execute returns";
    // The shown text is the name query's.
    ASSERT_FALSE(progress.shown.isEmpty());
    EXPECT_EQ(progress.shown.front(), QStringLiteral("Item 0"));
    EXPECT_TRUE(progress.CloseAllowed());
}

INSTANTIATE_TEST_SUITE_P(FileProgress, RunStates, ::testing::ValuesIn(runCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FileProgress, AHandlersErrorEndsTheRunAtOnceAndReachesTheCaller)
{
    HeadlessProgress progress;
    QStringList done;
    bool finished = false;
    progress.OnNextItem = [&](FileProgress&, const QString& item) {
        if (item == QLatin1String("b"))
            throw Failure("Unable to read b");
        done << item;
        return true;
    };
    progress.OnFinished = [&](FileProgress&) { finished = true; };
    try {
        progress.Execute({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
        FAIL() << "the error was swallowed";
    } catch (const Failure& failure) {
        EXPECT_STREQ(failure.what(), "Unable to read b");
    }
    EXPECT_EQ(done, QStringList{QStringLiteral("a")});
    EXPECT_FALSE(finished);
    EXPECT_TRUE(progress.CloseAllowed()) << "the window must be able to close";
    EXPECT_EQ(progress.runsFinished, 1);

    // The next run starts afresh.
    progress.OnNextItem = [&](FileProgress&, const QString& item) {
        done << item;
        return true;
    };
    EXPECT_TRUE(progress.Execute({QStringLiteral("d")}));
    EXPECT_EQ(done.back(), QStringLiteral("d"));
}

TEST(FileProgress, ACancelAfterTheRunIsConfirmedOnceAndCloseIsRefusedWhileRunning)
{
    HeadlessProgress progress;
    int questions = 0;
    progress.OnCancelQuery = [&](FileProgress&) {
        ++questions;
        return true;
    };
    progress.OnNextItem = [&](FileProgress& sender, const QString&) {
        EXPECT_FALSE(sender.CloseAllowed());
        sender.Cancel();
        sender.Cancel(); // already cancelled: no second question
        EXPECT_TRUE(sender.CloseAllowed());
        return true;
    };
    EXPECT_FALSE(progress.Execute({QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_EQ(questions, 1);
}

TEST(FileProgress, ResetEmptiesTheMessagesAndRemovesTheHandlers)
{
    HeadlessProgress progress;
    progress.OnNextItem = [](FileProgress& sender, const QString& item) {
        sender.AddError(item + QStringLiteral(" failed"));
        sender.AddNote(item + QStringLiteral(" noted"));
        return true;
    };
    progress.OnNameQuery = [](FileProgress&, const QString& item) { return item; };
    progress.OnCancelQuery = [](FileProgress&) { return true; };
    progress.OnFinished = [](FileProgress&) {};
    progress.Execute({QStringLiteral("x")});
    const std::vector<ProgressMessage> expected = {
        {QStringLiteral("x failed"), ProgressMessage::Error},
        {QStringLiteral("x noted"), ProgressMessage::Note}};
    EXPECT_EQ(progress.Messages(), expected);

    progress.Reset();
    EXPECT_TRUE(progress.Messages().empty());
    EXPECT_EQ(progress.ItemCount(), 0);
    EXPECT_FALSE(progress.OnNextItem || progress.OnNameQuery || progress.OnCancelQuery ||
                 progress.OnFinished);
}

} // namespace
