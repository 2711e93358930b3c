// Securing and restoring files with their backups, through the operations
// the main window calls, with scripted answers in place of the user.
#include "processing/FileCommands.h"
#include "HeadlessProgress.h"
#include "TreeHelpers.h"
#include "processing/Backup.h"

#include <QDateTime>
#include <QDirIterator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <deque>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace kestrix;

namespace {

const QByteArray page =
    "<html><head><title>T</title></head><body>\r\n<p>Hello</p>\r\n</body></html>\r\n";

ProtectionSettings ChosenSettings()
{
    ProtectionSettings settings;
    settings.StrengthLevel = 1;
    settings.DisableRightClicking = true;
    return settings;
}

std::string Secured(const QByteArray& text, ProtectionParts parts = allProtectionParts)
{
    ProtectionEngine engine;
    engine.settings = ChosenSettings();
    engine.SetProtectionParts(parts);
    std::string result = text.toStdString();
    EXPECT_TRUE(engine.SecurePage(result));
    return result;
}

// The user, scripted: answers to message dialogs in order, the options
// dialog's choice, the download and the save prompt.
struct ScriptedDialogs : FileCommandDialogs
{
    std::deque<int> answers;
    QStringList questions;
    QStringList errors;
    bool optionsOk = true;
    int optionsShown = 0;
    std::string preview;
    DownloadStatus downloadStatus = DownloadStatus::Succeeded;
    QString downloadedCopy;
    bool saveOk = true;
    QString saveAs;
    int savePrompts = 0;

    int MessageDialog(DialogType, const QString& text, DialogButtons) override
    {
        questions << text;
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << text.toStdString();
            return resultNo;
        }
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void ShowError(const QString& text) override { errors << text; }
    bool AskProtectionOptions(const std::string& pageText, ProtectionEngine& engine) override
    {
        ++optionsShown;
        preview = pageText;
        if (!optionsOk)
            return false;
        engine.settings = ChosenSettings();
        engine.OptimiseActive = false;
        return true;
    }
    DownloadStatus DownloadUrl(const QString&, QString& location) override
    {
        if (downloadStatus == DownloadStatus::Succeeded)
            location = downloadedCopy;
        return downloadStatus;
    }
    bool PromptSaveFile(const QString& filter, const QString& extension, QString& path) override
    {
        ++savePrompts;
        EXPECT_EQ(filter, QStringLiteral("HTML Files (*.html)|*.html"));
        EXPECT_EQ(extension, QStringLiteral("html"));
        path = saveAs;
        return saveOk;
    }
};

const QString continueQuestion = QStringLiteral("\r\n\r\nDo you wish to continue securing files?");
const QString secureAgainQuestion =
    QStringLiteral("This file may already be secured. Securing it again may make it "
                   "unreadable.\r\n\r\nDo you wish to continue?");

class FileCommandsTest : public ::testing::Test
{
protected:
    QString Path(const QString& relative) const { return dir.filePath(relative); }
    QString Make(const QString& relative, const QByteArray& bytes = page)
    {
        return WriteTreeFile(Path(relative), bytes);
    }
    // Every file below the folder, relative, sorted: nothing unexpected left.
    QStringList Tree() const
    {
        QStringList all;
        QDirIterator it(dir.path(), QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            all << QDir(dir.path()).relativeFilePath(it.next());
        all.sort();
        return all;
    }
    void Secure(const QStringList& list) { commands.SecureFiles(list, allProtectionParts); }

    QTemporaryDir dir;
    HeadlessProgress progress;
    ScriptedDialogs dialogs;
    FileCommands commands{progress, dialogs};
};

TEST_F(FileCommandsTest, BackupKeepsTheBytesAndTimesAndRestoreMovesItBack)
{
    const QString file = Make(QStringLiteral("site/index.html"));
    SetMode(file, 0640);
    const QDateTime past = QDateTime::fromSecsSinceEpoch(1000000000);
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(past, QFileDevice::FileModificationTime));
    }
    Secure({file});
    const QString backup = Path(QStringLiteral("site/Kestrix Backup/index.html"));
    EXPECT_EQ(BackupPathFor(file), backup);
    EXPECT_TRUE(BackupExists(file));
    EXPECT_EQ(ReadTreeFile(backup), page);
    EXPECT_EQ(QFileInfo(backup).lastModified(), past);
    EXPECT_EQ(QFileInfo(backup).permissions(), QFileInfo(file).permissions());
    EXPECT_EQ(ReadTreeFile(file).toStdString(), Secured(page));
    EXPECT_EQ(Tree(), (QStringList{QStringLiteral("site/Kestrix Backup/index.html"),
                                   QStringLiteral("site/index.html")}))
        << "no temporary file is left";
    EXPECT_EQ(dialogs.preview, page.toStdString());
    EXPECT_EQ(progress.caption, QStringLiteral("Securing Files..."));
    EXPECT_EQ(progress.shown, QStringList{QStringLiteral("Processing index.html")});
    EXPECT_TRUE(progress.messageLog.isEmpty());

    commands.RestoreFiles({file});
    EXPECT_EQ(progress.caption, QStringLiteral("Restoring Files..."));
    EXPECT_EQ(ReadTreeFile(file), page);
    EXPECT_EQ(QFileInfo(file).lastModified(), past);
    EXPECT_FALSE(BackupExists(file));
    EXPECT_TRUE(QFileInfo(Path(QStringLiteral("site/Kestrix Backup"))).isDir())
        << "the emptied backup folder stays";
    EXPECT_EQ(progress.ItemCount(), 0);
    EXPECT_FALSE(progress.OnNextItem);
}

TEST_F(FileCommandsTest, SecuringTwiceAsksAndYesKeepsTheFirstSecuredTextAsBackup)
{
    const QString file = Make(QStringLiteral("index.html"));
    Secure({file});
    const QByteArray once = ReadTreeFile(file);

    dialogs.answers = {resultNo};
    Secure({file});
    EXPECT_EQ(dialogs.questions, QStringList{secureAgainQuestion});
    EXPECT_EQ(ReadTreeFile(file), once) << "No passes the file over";
    EXPECT_TRUE(progress.messageLog.isEmpty());

    dialogs.answers = {resultYes};
    Secure({file});
    EXPECT_EQ(ReadTreeFile(BackupPathFor(file)), once);
    EXPECT_EQ(ReadTreeFile(file).toStdString(), Secured(once));
}

TEST_F(FileCommandsTest, TheContentMarkerAnywhereAsWrittenTriggersTheWarning)
{
    struct Case
    {
        QByteArray text;
        bool warned;
    } cases[] = {
        {"<html><body><!-- kestrix-content --><p>x</p></body></html>", true},
        {"<html><body><p>about kestrix-content</p></body></html>", true},
        {"<html><body><p>KESTRIX-CONTENT</p></body></html>", false},
        {"<html><body><p>Kestrix-Content</p></body></html>", false},
    };
    int n = 0;
    for (const Case& c : cases) {
        const QString file = Make(QStringLiteral("p%1.html").arg(n++), c.text);
        dialogs.questions.clear();
        dialogs.answers = {resultNo};
        Secure({file});
        EXPECT_EQ(!dialogs.questions.isEmpty(), c.warned) << c.text.toStdString();
        EXPECT_EQ(BackupExists(file), !c.warned);
    }
}

struct ReadOnlyCase
{
    const char* name;
    int answer;
    QStringList secured;
    int questions;
};

class ReadOnlyInARun : public FileCommandsTest, public ::testing::WithParamInterface<ReadOnlyCase>
{
};

TEST_P(ReadOnlyInARun, IsListedAndTheAnswerDecidesTheRest)
{
    const ReadOnlyCase& c = GetParam();
    const QStringList names{QStringLiteral("a.html"), QStringLiteral("ro.html"),
                            QStringLiteral("c.html"), QStringLiteral("ro2.html")};
    QStringList paths;
    for (const QString& name : names)
        paths << Make(name);
    SetMode(paths[1], 0444);
    SetMode(paths[3], 0444);
    dialogs.answers = {c.answer, resultYes};
    Secure(paths);

    QStringList secured;
    for (const QString& name : names)
        if (BackupExists(Path(name)))
            secured << name;
    EXPECT_EQ(secured, c.secured);
    EXPECT_EQ(ReadTreeFile(paths[1]), page);
    const QString message = paths[1] + QStringLiteral(": File is read only and cannot be secured.");
    EXPECT_EQ(dialogs.questions.size(), c.questions);
    EXPECT_EQ(dialogs.questions.front(), message + continueQuestion);
    EXPECT_EQ(progress.messageLog.front(), QStringLiteral("error: ") + message);
    EXPECT_FALSE(commands.ContinueWithoutAsking) << "cleared when the run finishes";
}

const ReadOnlyCase readOnlyCases[] = {
    {"Yes", resultYes, {QStringLiteral("a.html"), QStringLiteral("c.html")}, 2},
    {"No", resultNo, {QStringLiteral("a.html")}, 1},
    {"YesToAll", resultYesToAll, {QStringLiteral("a.html"), QStringLiteral("c.html")}, 1},
};

INSTANTIATE_TEST_SUITE_P(FileCommands, ReadOnlyInARun, ::testing::ValuesIn(readOnlyCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileCommandsTest, ProgramsAndPagesWithoutBodyAreListedAndLeftAlone)
{
    struct Case
    {
        QString name;
        QByteArray text;
        const char* message;
    } cases[] = {
        {QStringLiteral("win.html"), "MZ\x90\0<html><body>x</body></html>",
         ": File is forbidden and cannot be secured. It may be a program or other binary file."},
        {QStringLiteral("elf.html"),
         "\x7f"
         "ELF<html><body>x</body></html>",
         ": File is forbidden and cannot be secured. It may be a program or other binary file."},
        {QStringLiteral("run.sh.html"), "#!/bin/sh\n<html><body>x</body></html>",
         ": File is forbidden and cannot be secured. It may be a program or other binary file."},
        {QStringLiteral("SETUP.BAT"), page,
         ": File is forbidden and cannot be secured. It may be a program or other binary file."},
        {QStringLiteral("nobody.html"), "<html><p>no body here</p></html>", nullptr},
    };
    for (const Case& c : cases) {
        const QString file = Make(c.name, c.text);
        dialogs.answers = {resultYes};
        dialogs.questions.clear();
        progress.messageLog.clear();
        Secure({file});
        const QString message = c.message
                                    ? file + QString::fromLatin1(c.message)
                                    : QStringLiteral("An error occurred securing file ") + file;
        EXPECT_EQ(progress.messageLog, QStringList{QStringLiteral("error: ") + message});
        EXPECT_EQ(dialogs.questions, QStringList{message + continueQuestion});
        EXPECT_EQ(ReadTreeFile(file), c.text);
        EXPECT_FALSE(QFileInfo::exists(Path(QStringLiteral("Kestrix Backup"))));
    }
}

TEST_F(FileCommandsTest, ThePreviewIsTheFirstReadableFileAndCancelChangesNothing)
{
    const QString folder = Path(QStringLiteral("folder"));
    QDir().mkpath(folder);
    MakeLink(Path(QStringLiteral("gone.html")), Path(QStringLiteral("locked.html")));
    const QString second = Make(QStringLiteral("second.html"), "<html><body>2</body></html>");
    dialogs.optionsOk = false;
    Secure({folder, Path(QStringLiteral("locked.html")), second});
    EXPECT_EQ(dialogs.preview, "<html><body>2</body></html>");
    EXPECT_EQ(progress.runsFinished, 0) << "no progress run after Cancel";
    EXPECT_EQ(ReadTreeFile(second), "<html><body>2</body></html>");
    EXPECT_FALSE(QFileInfo::exists(Path(QStringLiteral("Kestrix Backup"))));

    // Nothing readable: an empty preview.
    commands.SecureFiles({folder}, allProtectionParts);
    EXPECT_EQ(dialogs.preview, "");
    EXPECT_EQ(dialogs.optionsShown, 2);
    // An empty list shows nothing at all.
    commands.SecureFiles({}, allProtectionParts);
    EXPECT_EQ(dialogs.optionsShown, 2);
}

TEST_F(FileCommandsTest, ASocketIsListedAsNotAPlainFileAndNoEndsTheRun)
{
    const QString first = Make(QStringLiteral("a.html"));
    // A socket is never read: it is listed, and the continue question
    // answered No ends the run.
    const QString socketPath = Path(QStringLiteral("b.html"));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(socketPath);
    ASSERT_LT(size_t(native.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, native.constData(), size_t(native.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const QString last = Make(QStringLiteral("c.html"));

    dialogs.answers = {resultNo};
    Secure({first, socketPath, last});
    ::close(fd);
    EXPECT_TRUE(dialogs.errors.isEmpty());
    ASSERT_EQ(progress.messageLog.size(), 1);
    EXPECT_EQ(progress.messageLog.front(),
              QStringLiteral("error: ") + socketPath +
                  QStringLiteral(": This is not a plain file (a link or a device) and was passed "
                                 "over."));
    EXPECT_TRUE(BackupExists(first));
    EXPECT_FALSE(BackupExists(last));
    EXPECT_EQ(ReadTreeFile(last), page);
    EXPECT_EQ(progress.ItemCount(), 0);
    EXPECT_FALSE(progress.OnNextItem) << "the progress dialog is reset";
    EXPECT_TRUE(progress.CloseAllowed());
}

TEST_F(FileCommandsTest, ABackupFolderThatCannotBeMadeIsReportedAndTheFileKept)
{
    const QString file = Make(QStringLiteral("index.html"));
    Make(QStringLiteral("Kestrix Backup"), "a file where the folder belongs");
    Secure({file});
    ASSERT_EQ(progress.messageLog.size(), 1);
    EXPECT_EQ(progress.messageLog.front(),
              QStringLiteral("error: ") + file +
                  QStringLiteral(": Its backup folder is a link or not a folder. The file was "
                                 "left as it is."));
    EXPECT_EQ(ReadTreeFile(file), page);
    EXPECT_TRUE(dialogs.questions.isEmpty()) << "the run goes on without a question";
}

TEST_F(FileCommandsTest, AFailedWriteLeavesTheFilePlainAndDropsItsNewBackup)
{
    // The backup (the page) fits under the size limit, the secured text does
    // not: the second write fails as on a full disk.
    const QString file = Make(QStringLiteral("index.html"));
    const QString other = Make(QStringLiteral("other.html"));
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = rlim_t(page.size() + 10);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    Secure({file, other});
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_EQ(progress.messageLog.size(), 2);
    EXPECT_TRUE(progress.messageLog[0].startsWith(QStringLiteral("error: Unable to write ") + file))
        << progress.messageLog[0].toStdString();
    EXPECT_EQ(ReadTreeFile(file), page);
    EXPECT_FALSE(BackupExists(file)) << "a file left plain has no backup";
    EXPECT_EQ(Tree(), (QStringList{QStringLiteral("index.html"), QStringLiteral("other.html")}));
}

TEST_F(FileCommandsTest, RestoringListsWhatCannotBeRestored)
{
    const QString plain = Make(QStringLiteral("plain.html"));
    const QString securedNoBackup =
        Make(QStringLiteral("secured.html"), "<body><kestrix-content></kestrix-content></body>");
    const QString readOnly = Make(QStringLiteral("ro.html"), "secured text");
    Make(QStringLiteral("Kestrix Backup/ro.html"), "original");
    SetMode(readOnly, 0444);
    const QString restorable = Make(QStringLiteral("ok.html"), "secured text");
    Make(QStringLiteral("Kestrix Backup/ok.html"), "original");

    commands.RestoreFiles(
        {plain, securedNoBackup, readOnly, Path(QStringLiteral("Kestrix Backup")), restorable});
    ASSERT_EQ(progress.messageLog.size(), 2);
    EXPECT_EQ(progress.messageLog[0],
              QStringLiteral("note: ") + securedNoBackup +
                  QStringLiteral(": No backup exists. This file cannot be restored."));
    EXPECT_TRUE(
        progress.messageLog[1].startsWith(QStringLiteral("error: Unable to restore ") + readOnly));
    EXPECT_EQ(ReadTreeFile(readOnly), "secured text");
    EXPECT_EQ(ReadTreeFile(Path(QStringLiteral("Kestrix Backup/ro.html"))), "original");
    EXPECT_EQ(ReadTreeFile(restorable), "original");
    EXPECT_TRUE(dialogs.questions.isEmpty());
}

TEST_F(FileCommandsTest, StoppingASecuringRunIsConfirmedAndListed)
{
    dialogs.answers = {resultNo, resultYes};
    EXPECT_FALSE(commands.ConfirmStopSecuring(progress));
    EXPECT_TRUE(progress.messageLog.isEmpty());
    EXPECT_TRUE(commands.ConfirmStopSecuring(progress));
    EXPECT_EQ(dialogs.questions.back(),
              QStringLiteral("This will stop the securing operation. Are you sure?"));
    EXPECT_EQ(progress.messageLog, QStringList{QStringLiteral("error: Securing cancelled")});
}

struct WebCase
{
    const char* name;
    DownloadStatus download;
    QByteArray body;
    bool optionsOk;
    bool saveOk;
    const char* error; // the message shown, or none
    bool saved;
};

class SecureWebPageTest : public FileCommandsTest, public ::testing::WithParamInterface<WebCase>
{
};

TEST_P(SecureWebPageTest, DownloadsSecuresAndSavesOnlyASecuredPage)
{
    const WebCase& c = GetParam();
    const QString address = QStringLiteral("http://example.com/index.html");
    dialogs.downloadStatus = c.download;
    dialogs.downloadedCopy = Make(QStringLiteral("download.tmp"), c.body);
    dialogs.optionsOk = c.optionsOk;
    dialogs.saveOk = c.saveOk;
    dialogs.saveAs = Path(QStringLiteral("saved.html"));
    Make(QStringLiteral("saved.html"), "earlier");

    commands.SecureWebPage(address);
    if (c.error) {
        EXPECT_EQ(dialogs.errors, QStringList{QString::fromLatin1(c.error).arg(address)});
    } else {
        EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join(u'|').toStdString();
    }
    EXPECT_EQ(ReadTreeFile(dialogs.saveAs).toStdString(),
              c.saved ? Secured(c.body) : std::string("earlier"));
    if (c.download == DownloadStatus::Succeeded) {
        EXPECT_FALSE(QFileInfo::exists(dialogs.downloadedCopy)) << "the local copy is deleted";
    }
    EXPECT_EQ(commands.Engine().parts, allProtectionParts);
}

const WebCase webCases[] = {
    {"Saved", DownloadStatus::Succeeded, page, true, true, nullptr, true},
    {"DownloadCancelled", DownloadStatus::Cancelled, page, true, true, nullptr, false},
    {"DownloadFailed", DownloadStatus::Failed, page, true, true,
     "Unable to download %1\n\nThe Web Page may not exist.", false},
    {"PageWithoutBody", DownloadStatus::Succeeded, "<html><p>no body</p></html>", true, true,
     "An error occurred securing file %1", false},
    {"OptionsCancelled", DownloadStatus::Succeeded, page, false, true, nullptr, false},
    {"SaveCancelled", DownloadStatus::Succeeded, page, true, false, nullptr, false},
};

INSTANTIATE_TEST_SUITE_P(FileCommands, SecureWebPageTest, ::testing::ValuesIn(webCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
