// The command-line batch end to end with answers given in advance: what is
// written, what is kept, and what a failed or cancelled run leaves.
#include "processing/Batch.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kestrix;

namespace {

QString S(const char* text)
{
    return QString::fromUtf8(text);
}

const QByteArray page = "<html><head><title>T</title></head><body><p>Hello</p></body></html>";

struct FakeHooks : FileCommandDialogs
{
    DownloadStatus downloadStatus = DownloadStatus::Succeeded;
    QString downloadedFile;
    bool optionsOk = true;
    std::optional<QString> saveAs;
    QStringList errors;
    int optionsShown = 0;
    int saveAsked = 0;

    int MessageDialog(DialogType, const QString&, DialogButtons) override
    {
        ADD_FAILURE() << "the batch asks no question";
        return resultCancel;
    }
    DownloadStatus DownloadUrl(const QString& caption, QString& location) override
    {
        EXPECT_EQ(caption, QStringLiteral("Downloading Page..."));
        location = downloadedFile;
        return downloadStatus;
    }
    bool AskProtectionOptions(const std::string&, ProtectionEngine& engine) override
    {
        ++optionsShown;
        engine.settings.StrengthLevel = 1;
        return optionsOk;
    }
    bool PromptSaveFile(const QString& filter, const QString& extension, QString& path) override
    {
        EXPECT_EQ(filter, QStringLiteral("HTML Files (*.html)|*.html"));
        EXPECT_EQ(extension, QStringLiteral("html"));
        ++saveAsked;
        if (saveAs)
            path = *saveAs;
        return saveAs.has_value();
    }
    void ShowError(const QString& message) override { errors << message; }
};

class Batch : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    FakeHooks hooks;

    QString Path(const char* name) const { return dir.filePath(S(name)); }
    QString Write(const char* name, const QByteArray& data) const
    {
        QFile file(Path(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
        return Path(name);
    }
    static QByteArray Read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    QStringList Files() const { return QDir(dir.path()).entryList(QDir::Files, QDir::Name); }
    CommandLine Line(const char* text) const
    {
        CommandLine line = ParseCommandLine(SplitCommandLine(S(text)));
        ResolveCommandLineNames(line, dir.path());
        return line;
    }
};

TEST_F(Batch, InPlaceKeepsTheOriginalAsDotKestrix)
{
    Write("a.html", page);
    // Bare names mean the working folder, so the same name twice works.
    EXPECT_EQ(RunBatch(Line("k -e -i a.html a.html"), hooks), BatchResult::Written);
    EXPECT_EQ(Read(Path("a.html.kestrix")), page);
    EXPECT_TRUE(Read(Path("a.html")).contains("kestrix-content"));
    EXPECT_EQ(hooks.optionsShown, 1);
    EXPECT_EQ(hooks.saveAsked, 0);
    EXPECT_TRUE(hooks.errors.isEmpty());

    // A kept original is never overwritten: the run stops before the input
    // is touched, naming the file.
    const QByteArray secured = Read(Path("a.html"));
    EXPECT_EQ(RunBatch(Line("k -e -i a.html a.html"), hooks), BatchResult::Failed);
    ASSERT_EQ(hooks.errors.size(), 1);
    EXPECT_TRUE(hooks.errors[0].contains(Path("a.html.kestrix"))) << hooks.errors[0].toStdString();
    EXPECT_EQ(Read(Path("a.html")), secured);
    EXPECT_EQ(Read(Path("a.html.kestrix")), page);
}

TEST_F(Batch, FailuresLeaveTheFilesAsTheyWere)
{
    Write("a.html", page);
    Write("other.html", "keep me");
    Write("nobody.html", "<p>no body tags at all</p>");
    struct Case
    {
        const char* line;
        const char* error;
    };
    const Case cases[] = {
        {"k -e missing.html", "File %1 does not exist"},
        // A page without a body: the save prompt's mode never deletes the
        // second name.
        {"k -e nobody.html other.html", "Error processing file %1"},
        // In place without an output name: checked before the rename,
        // naming the input.
        {"k -e -i a.html", "No output file is given for %1"},
        // In place into the name the original is kept under (also through
        // a link to the folder): refused before the rename, or the
        // original text would be lost.
        {"k -e -i a.html a.html.kestrix", "The output file %2 is the name the original is kept"},
        {"k -e -i a.html link/a.html.kestrix",
         "The output file %2 is the name the original is kept"},
    };
    QFile::link(dir.path(), Path("link"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        hooks.errors.clear();
        const QStringList before = Files();
        const CommandLine line = Line(c.line);
        EXPECT_EQ(RunBatch(line, hooks), BatchResult::Failed);
        ASSERT_EQ(hooks.errors.size(), 1);
        EXPECT_TRUE(hooks.errors[0].startsWith(
            S(c.error).replace(S("%1"), line.InputName).replace(S("%2"), line.OutputName)))
            << hooks.errors[0].toStdString();
        EXPECT_EQ(Files(), before);
    }
    EXPECT_EQ(Read(Path("a.html")), page);
    EXPECT_EQ(Read(Path("other.html")), "keep me");

    // An output that cannot be written: the input gets its name back.
    Write("blocker", "a file where a folder should be");
    EXPECT_EQ(RunBatch(Line("k -e -i a.html blocker/out.html"), hooks), BatchResult::Failed);
    EXPECT_EQ(Read(Path("a.html")), page);
    EXPECT_FALSE(QFile::exists(Path("a.html.kestrix")));
}

TEST_F(Batch, SavePromptDownloadAndCancellations)
{
    Write("a.html", page);
    // The save prompt decides the output; a second name is not used.
    hooks.saveAs = Path("sub/dir/out.html");
    EXPECT_EQ(RunBatch(Line("k -e a.html ignored.html"), hooks), BatchResult::Written);
    EXPECT_TRUE(Read(Path("sub/dir/out.html")).contains("kestrix-content"));
    EXPECT_FALSE(QFile::exists(Path("ignored.html")));

    // A downloaded page: the local copy is read and deleted.
    const QString local = Write("download.tmp", page);
    hooks.downloadedFile = local;
    hooks.saveAs = Path("web.html");
    EXPECT_EQ(RunBatch(Line("k -e -i http://example.com/ x.html"), hooks), BatchResult::Written);
    EXPECT_TRUE(Read(Path("web.html")).contains("kestrix-content"));
    EXPECT_FALSE(QFile::exists(local));

    // A failed download names the address; nothing is written.
    hooks.downloadStatus = DownloadStatus::Failed;
    EXPECT_EQ(RunBatch(Line("k -e http://example.com/x"), hooks), BatchResult::Failed);
    EXPECT_EQ(hooks.errors.value(0),
              S("Unable to download http://example.com/x\n\nThe Web Page may not exist."));

    // Cancelling the download, the options or the save prompt: silent.
    hooks.errors.clear();
    hooks.downloadStatus = DownloadStatus::Cancelled;
    EXPECT_EQ(RunBatch(Line("k -e http://example.com/x"), hooks), BatchResult::Cancelled);
    hooks.optionsOk = false;
    EXPECT_EQ(RunBatch(Line("k -e -i a.html a.html"), hooks), BatchResult::Cancelled);
    hooks.optionsOk = true;
    hooks.saveAs.reset();
    EXPECT_EQ(RunBatch(Line("k -e a.html"), hooks), BatchResult::Cancelled);
    EXPECT_TRUE(hooks.errors.isEmpty());
    EXPECT_EQ(Read(Path("a.html")), page);
    EXPECT_FALSE(QFile::exists(Path("a.html.kestrix")));
}

} // namespace
