// The progress dialog as a window: the run starts once it is painted, Cancel
// (button or Esc) with and without a question, the close request refused
// while the run goes on, and the hidden message list with its state image.
#include "processing/ui/UnitFileProgress.h"
#include "platform/Errors.h"
#include "support/ui/ModalDialog.h"

#include <QAction>
#include <QCheckBox>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <optional>

using namespace kestrix;

namespace {

const QStringList fiveItems{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),
                            QStringLiteral("d"), QStringLiteral("e")};

TEST(UnitFileProgress, TheRunStartsOnScreenAndShowsEachItemBeforeItIsWorkedOn)
{
    TFormFileProgress dialog;
    dialog.SetCaption(QStringLiteral("Securing Files..."));
    QStringList seen;
    dialog.OnNameQuery = [](FileProgress&, const QString& item) {
        return QStringLiteral("Processing ") + item;
    };
    dialog.OnNextItem = [&](FileProgress&, const QString& item) {
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Securing Files..."));
        seen << dialog.lblMessage->text() + QLatin1Char('@') +
                    QString::number(dialog.pbProgress->value());
        if (item == QLatin1String("b"))
            dialog.AddError(QStringLiteral("b failed"));
        if (item == QLatin1String("c"))
            dialog.AddNote(QStringLiteral("c noted"));
        return true;
    };
    EXPECT_TRUE(dialog.Execute(fiveItems));
    EXPECT_FALSE(dialog.isVisible()) << "the dialog closes by itself";
    EXPECT_EQ(seen, (QStringList{QStringLiteral("Processing a@0"), QStringLiteral("Processing b@1"),
                                 QStringLiteral("Processing c@2"), QStringLiteral("Processing d@3"),
                                 QStringLiteral("Processing e@4")}));
    EXPECT_EQ(dialog.pbProgress->maximum(), 4);
    EXPECT_EQ(dialog.State(), fpsIdle);

    // The messages are listed, hidden: errors with the red cross, notes without.
    EXPECT_FALSE(dialog.ShowMessages());
    EXPECT_FALSE(dialog.cbShowMessages->isVisibleTo(&dialog));
    ASSERT_EQ(dialog.lvMessages->topLevelItemCount(), 2);
    EXPECT_FALSE(dialog.lvMessages->topLevelItem(0)->icon(0).isNull());
    EXPECT_TRUE(dialog.lvMessages->topLevelItem(1)->icon(0).isNull());
    EXPECT_TRUE(dialog.lvMessages->isHeaderHidden());
    dialog.actViewMessages->trigger();
    EXPECT_TRUE(dialog.ShowMessages());
    dialog.SetShowMessages(false);
    EXPECT_FALSE(dialog.actViewMessages->isChecked());

    // The run is over: its problems are shown once, in one warning owned by
    // the main window, in the order they were added; then the list is empty.
    QWidget owner;
    dialog.SetOwner(&owner);
    int boxes = 0;
    QueueModalAnswer(
        {ModalAnswer::Kind::Button, QMessageBox::Ok, false, [&](QDialog& shown) {
             auto& box = static_cast<QMessageBox&>(shown);
             ++boxes;
             EXPECT_EQ(box.icon(), QMessageBox::Warning);
             EXPECT_EQ(box.parentWidget(), &owner);
             EXPECT_EQ(box.text(),
                       QStringLiteral("Some files could not be processed:\n\nb failed\nc noted"));
         }});
    dialog.Reset();
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(dialog.lvMessages->topLevelItemCount(), 0);
    EXPECT_EQ(dialog.ItemCount(), 0);
    EXPECT_EQ(dialog.pbProgress->maximum(), 0);
    // A run without problems ends as before: no box.
    dialog.OnNextItem = [](FileProgress&, const QString&) { return true; };
    EXPECT_TRUE(dialog.Execute(fiveItems));
    dialog.Reset();
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(QueuedModalAnswerCount(), 0u);
}

struct CancelCase
{
    const char* name;
    std::optional<bool> answer; // the cancel question's answer; none: no question
    bool escape;                // Esc instead of the button
    int expectedItems;
    bool expectedResult;
};

class ProgressCancel : public ::testing::TestWithParam<CancelCase>
{
};

TEST_P(ProgressCancel, AClickBetweenItemsIsHandledBeforeTheNext)
{
    const CancelCase& c = GetParam();
    TFormFileProgress dialog;
    int items = 0;
    int questions = 0;
    dialog.OnNextItem = [&](FileProgress&, const QString& item) {
        ++items;
        if (item == QLatin1String("b")) {
            // The user's click arrives while "b" is worked on.
            QTimer::singleShot(0, &dialog, [&] {
                if (c.escape)
                    QTest::keyClick(&dialog, Qt::Key_Escape);
                else
                    QTest::mouseClick(dialog.btCancel, Qt::LeftButton);
            });
        }
        return true;
    };
    if (c.answer)
        dialog.OnCancelQuery = [&](FileProgress&) {
            ++questions;
            return *c.answer;
        };
    bool finished = false;
    dialog.OnFinished = [&](FileProgress&) { finished = true; };
    EXPECT_EQ(dialog.Execute(fiveItems), c.expectedResult);
    EXPECT_EQ(items, c.expectedItems);
    EXPECT_EQ(questions, c.answer ? 1 : 0);
    EXPECT_TRUE(finished);
    EXPECT_EQ(dialog.State(), c.expectedResult ? fpsIdle : fpsCancelled);
    EXPECT_FALSE(dialog.isVisible());
}

const CancelCase cancelCases[] = {
    {"ConfirmedStopsBeforeTheNextItem", true, false, 2, false},
    {"RefusedRunsOn", false, false, 5, true},
    {"WithoutQuestionStops", std::nullopt, false, 2, false},
    {"EscapeIsCancel", true, true, 2, false},
};

INSTANTIATE_TEST_SUITE_P(UnitFileProgress, ProgressCancel, ::testing::ValuesIn(cancelCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(UnitFileProgress, CloseIsRefusedWhileRunningAndAllowedOnceCancelled)
{
    TFormFileProgress dialog;
    QStringList done;
    dialog.OnNextItem = [&](FileProgress& sender, const QString& item) {
        done << item;
        if (item == QLatin1String("a")) {
            EXPECT_FALSE(dialog.close()) << "the run goes on";
        }
        if (item == QLatin1String("b")) {
            sender.Cancel();
            EXPECT_TRUE(dialog.close());
        }
        return true;
    };
    EXPECT_FALSE(dialog.Execute(fiveItems));
    EXPECT_EQ(done, (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    // Outside a run the dialog closes as any other.
    dialog.show();
    EXPECT_TRUE(dialog.close());
}

TEST(UnitFileProgress, AHandlersErrorClosesTheDialogAndReachesTheCaller)
{
    TFormFileProgress dialog;
    QStringList done;
    dialog.OnNextItem = [&](FileProgress&, const QString& item) {
        if (item == QLatin1String("c"))
            throw Failure("Unable to read c");
        done << item;
        return true;
    };
    EXPECT_THROW(dialog.Execute(fiveItems), Failure);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(done, (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_TRUE(dialog.CloseAllowed());
}

} // namespace
