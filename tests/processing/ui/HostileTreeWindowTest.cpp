// The window's securing run over a hostile tree, in the real progress
// dialog: links, a FIFO and a planted backup-folder link are listed and left
// alone, and a folder another run holds is waited for with events flowing,
// so that Cancel still ends the run.
#include "processing/Backup.h"
#include "processing/FileCommands.h"
#include "processing/ui/UnitFileProgress.h"

#include "../TreeHelpers.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace kestrix;

namespace {

const QByteArray page = "<html><head></head><body><p>clear text</p></body></html>\n";

// The progress dialog, keeping every message past the run's reset.
class RecordingProgress : public TFormFileProgress
{
public:
    QStringList log;

protected:
    void MessageAdded(const ProgressMessage& message) override
    {
        TFormFileProgress::MessageAdded(message);
        log << message.text;
    }
    // The problems box after the run is not shown: the log holds them.
    void ShowProblems(const std::vector<ProgressMessage>&) override {}
};

// Yes to All to the continue question, Yes to stopping, OK to the options.
class Answers : public FileCommandDialogs
{
public:
    int MessageDialog(DialogType, const QString& text, DialogButtons) override
    {
        return text.contains(QLatin1String("stop the securing")) ? resultYes : resultYesToAll;
    }
    void ShowError(const QString& text) override { ADD_FAILURE() << text.toStdString(); }
    bool AskProtectionOptions(const std::string&, ProtectionEngine&) override { return true; }
    DownloadStatus DownloadUrl(const QString&, QString&) override { return DownloadStatus::Failed; }
    bool PromptSaveFile(const QString&, const QString&, QString&) override { return false; }
};

TEST(HostileTreeWindow, TheRunListsWhatItPassesOverAndLeavesItAlone)
{
    QTemporaryDir dir;
    const QString outside = WriteTreeFile(dir.filePath(QStringLiteral("outside.html")), "SECRET");
    const QString plain = WriteTreeFile(dir.filePath(QStringLiteral("site/a.html")), page);
    const QString link = dir.filePath(QStringLiteral("site/link.html"));
    MakeLink(outside, link);
    const QString fifo = dir.filePath(QStringLiteral("site/fifo.html"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
    const QString sub = WriteTreeFile(dir.filePath(QStringLiteral("site/sub/b.html")), page);
    MakeLink(dir.path(), dir.filePath(QStringLiteral("site/sub/Kestrix Backup")));

    RecordingProgress progress;
    Answers answers;
    FileCommands commands(progress, answers);
    commands.SecureFiles({plain, link, fifo, sub}, allProtectionParts);

    EXPECT_EQ(progress.log,
              (QStringList{
                  link + QStringLiteral(": This is not a plain file (a link or a device) and was "
                                        "passed over."),
                  fifo + QStringLiteral(": This is not a plain file (a link or a device) and was "
                                        "passed over."),
                  sub + QStringLiteral(": Its backup folder is a link or not a folder. The file "
                                       "was left as it is.")}));
    EXPECT_EQ(ReadTreeFile(outside), "SECRET");
    EXPECT_EQ(ReadTreeFile(BackupPathFor(plain)), page);
    EXPECT_NE(ReadTreeFile(plain), page);
    EXPECT_EQ(ReadTreeFile(sub), page);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("b.html"))));
}

TEST(HostileTreeWindow, AFolderAnotherRunHoldsIsWaitedForAndCancelStillWorks)
{
    QTemporaryDir dir;
    const QString first = WriteTreeFile(dir.filePath(QStringLiteral("site/a.html")), page);
    const QString second = WriteTreeFile(dir.filePath(QStringLiteral("site/b.html")), page);
    // Another run holds the folder.
    const int held = ::open(QFile::encodeName(dir.filePath(QStringLiteral("site"))).constData(),
                            O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    RecordingProgress progress;
    Answers answers;
    FileCommands commands(progress, answers);
    int ticks = 0;
    QTimer clock;
    // Events go on flowing while the run waits: the clock ticks, and a
    // click on Cancel (confirmed) ends the wait and the run.
    QObject::connect(&clock, &QTimer::timeout, [&] {
        if (++ticks == 5)
            progress.btCancel->click();
    });
    clock.start(20);
    commands.SecureFiles({first, second}, allProtectionParts);
    clock.stop();
    ::close(held);

    EXPECT_GE(ticks, 5);
    EXPECT_EQ(progress.State(), fpsCancelled);
    EXPECT_EQ(progress.log, QStringList{QStringLiteral("Securing cancelled")});
    EXPECT_EQ(ReadTreeFile(first), page);
    EXPECT_EQ(ReadTreeFile(second), page);
    EXPECT_FALSE(BackupExists(first));
}

} // namespace
