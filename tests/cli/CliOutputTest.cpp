// Where `kestrix-cli page` writes: what the name given to --output leads to
// decides whether the result replaces a file or is written into something,
// and a failure leaves every file as it was. The real program is run.
#include "CliProcess.h"

#include "protection/SecurePage.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace kestrix;

namespace {

const QByteArray page = "<html><head><title>T</title></head><body>\r\n"
                        "<p>Caf\xC3\xA9</p>\r\n</body></html>\r\n";

std::string Secured(const QByteArray& input = page)
{
    ProtectionEngine engine;
    engine.SetProtectionParts(partEncrypt | partLimitAccess);
    std::string text = input.toStdString();
    EXPECT_TRUE(engine.SecurePage(text));
    return text;
}

QByteArray Read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll();
}

struct stat LinkStatus(const QString& path)
{
    struct stat st = {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

class CliOutput : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString input;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        input = Path(QStringLiteral("in.html"));
        QFile file(input);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(page);
    }

    QString Path(const QString& name) const { return dir.filePath(name); }

    test::CliOutput Page(const QString& output, const QString& in = {})
    {
        return test::RunCli(dir, {QStringLiteral("page"), QStringLiteral("-e"),
                                  QStringLiteral("-a"), QStringLiteral("--defaults"),
                                  QStringLiteral("--output"), output, in.isEmpty() ? input : in});
    }

    // The names in a folder that are not the test's own files: a temporary
    // file left behind would show here.
    QStringList Leftovers(const QString& folder, const QStringList& expected) const
    {
        QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                   QDir::NoDotAndDotDot);
        for (const QString& name : expected)
            names.removeAll(name);
        return names;
    }
};

// Regular targets, and names that lead to one: the result is in place, the
// names are what they were (a link stays a link), and nothing else appears.
TEST_F(CliOutput, RegularTargetsAreReplacedInTheirOwnFolder)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("real")));
    const QString real = Path(QStringLiteral("real/page.html"));
    struct Case
    {
        const char* what;
        QString name; // given to --output
        QString file; // where the result must be
        mode_t mode;  // of a file there before, 0 for none
    } cases[] = {
        {"a new file", QStringLiteral("new.html"), Path(QStringLiteral("new.html")), 0},
        {"a file with its own permissions", Path(QStringLiteral("old.html")),
         Path(QStringLiteral("old.html")), 0640},
        {"a link to a file in another folder", Path(QStringLiteral("link.html")), real, 0604},
        {"a path through another folder and back", Path(QStringLiteral("real/../real/page.html")),
         real, 0600},
    };
    // The folder's names after every case (a temporary file would show).
    const QStringList files = {QStringLiteral("in.html"), QStringLiteral("new.html"),
                               QStringLiteral("old.html"), QStringLiteral("link.html"),
                               QStringLiteral("real")};
    ASSERT_EQ(::symlink("real/page.html", QFile::encodeName(Path(QStringLiteral("link.html")))), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ino_t before = 0;
        if (c.mode != 0) {
            QFile file(c.file);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write("earlier");
            file.close();
            ASSERT_EQ(::chmod(QFile::encodeName(c.file), c.mode), 0);
            before = LinkStatus(c.file).st_ino;
        }
        const test::CliOutput r = Page(c.name);
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_EQ(Read(c.file).toStdString(), Secured());
        const struct stat after = LinkStatus(c.file);
        EXPECT_TRUE(S_ISREG(after.st_mode));
        if (c.mode != 0) {
            EXPECT_EQ(after.st_mode & 07777, c.mode);
            EXPECT_NE(after.st_ino, before) << "replaced, not written into";
        }
        EXPECT_TRUE(S_ISLNK(LinkStatus(Path(QStringLiteral("link.html"))).st_mode));
        EXPECT_EQ(Leftovers(dir.path(), files), QStringList());
        EXPECT_EQ(Leftovers(Path(QStringLiteral("real")), {QStringLiteral("page.html")}),
                  QStringList());
    }
}

// Failures name the target, change nothing and leave no file behind.
TEST_F(CliOutput, FailuresLeaveNoOutputFile)
{
    ASSERT_EQ(::symlink("nowhere/page.html", QFile::encodeName(Path(QStringLiteral("dangling")))),
              0);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    const QString noBody = Path(QStringLiteral("nobody.txt"));
    {
        QFile file(noBody);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("plain text without a body");
    }
    ASSERT_EQ(::symlink("/dev/full", QFile::encodeName(Path(QStringLiteral("full")))), 0);
    // Output of many buffers, written on the writer's own thread, whose
    // failure the program reports all the same.
    const QString large = Path(QStringLiteral("large.html"));
    {
        QByteArray text = "<html><head></head><body>";
        while (text.size() < 3 * 1024 * 1024)
            text += "<p>text of a large page</p>\n";
        text += "</body></html>";
        QFile file(large);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    struct Case
    {
        const char* what;
        QString output;
        QString in;
        const char* error; // the end of the message
    } cases[] = {
        {"a link that leads nowhere",
         Path(QStringLiteral("dangling")),
         {},
         ": No such file or directory\n"},
        {"a folder", Path(QStringLiteral("folder")), {}, ": Is a directory\n"},
        {"a missing folder",
         Path(QStringLiteral("missing/out.html")),
         {},
         ": No such file or directory\n"},
        {"a page that cannot be secured", Path(QStringLiteral("out.html")), noBody, ""},
        {"a device that takes no bytes",
         Path(QStringLiteral("full")),
         {},
         ": No space left on device\n"},
        {"a device that takes no bytes, a page of many buffers", Path(QStringLiteral("full")),
         large, ": No space left on device\n"},
    };
    const QStringList files = {QStringLiteral("in.html"),    QStringLiteral("dangling"),
                               QStringLiteral("folder"),     QStringLiteral("nobody.txt"),
                               QStringLiteral("large.html"), QStringLiteral("full")};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const test::CliOutput r = Page(c.output, c.in);
        EXPECT_EQ(r.exitCode, 1);
        if (*c.error)
            EXPECT_EQ(r.err.toStdString(), "Unable to write " + c.output.toStdString() + c.error);
        else
            EXPECT_TRUE(r.err.startsWith("Error processing file ")) << r.err.toStdString();
        EXPECT_EQ(Leftovers(dir.path(), files), QStringList());
        EXPECT_TRUE(S_ISLNK(LinkStatus(Path(QStringLiteral("dangling"))).st_mode));
        EXPECT_TRUE(QDir(Path(QStringLiteral("folder"))).isEmpty());
    }
}

// Targets that cannot be replaced are written into, as a copy program
// does, and stay what they are.
TEST_F(CliOutput, PipesAndDescriptorsAreWrittenInto)
{
    // A named pipe with a reader.
    const QString fifo = Path(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    std::string received;
    std::thread reader([&] {
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_RDONLY);
        char buffer[4096];
        ssize_t n;
        while (fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0)
            received.append(buffer, size_t(n));
        if (fd >= 0)
            ::close(fd);
    });
    test::CliOutput r = Page(fifo);
    // Should the program not have opened the pipe, the reader is let go.
    const int release = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
    if (release >= 0)
        ::close(release);
    reader.join();
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(received, Secured());
    EXPECT_TRUE(S_ISFIFO(LinkStatus(fifo).st_mode));

    // A link to the program's own standard output, which is a pipe here.
    const QString self = Path(QStringLiteral("stdout"));
    ASSERT_EQ(::symlink("/proc/self/fd/1", QFile::encodeName(self)), 0);
    r = Page(self);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.toStdString(), Secured());
    EXPECT_TRUE(S_ISLNK(LinkStatus(self).st_mode));

    // The same link when standard output is a file: that file gets the
    // result.
    QProcess process;
    process.setProcessEnvironment(test::IsolatedEnvironment(dir));
    process.setWorkingDirectory(dir.path());
    const QString redirected = Path(QStringLiteral("redirected.html"));
    process.setStandardOutputFile(redirected);
    process.start(QStringLiteral(KESTRIX_CLI_PATH),
                  {QStringLiteral("page"), QStringLiteral("-e"), QStringLiteral("-a"),
                   QStringLiteral("--defaults"), QStringLiteral("--output"), self, input});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_EQ(Read(redirected).toStdString(), Secured());
    EXPECT_EQ(Leftovers(dir.path(), {QStringLiteral("in.html"), QStringLiteral("fifo"),
                                     QStringLiteral("stdout"), QStringLiteral("redirected.html")}),
              QStringList());
}

// A page larger than the memory that comes from the heap is read whole,
// from a file or from a pipe, and secured as the engine secures it.
TEST_F(CliOutput, LargePagesReadFromFilesAndPipes)
{
    QByteArray large = "<html><head><meta charset=\"utf-8\"></head><body>";
    while (large.size() < 3 * 1024 * 1024)
        large += "<p>Stra\xC3\x9F"
                 "e \xE2\x82\xAC <b>bold</b> text</p>\r\n";
    large += "</body></html>";
    {
        QFile file(input);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(large);
    }
    const std::string expected = Secured(large);
    test::CliOutput r = Page(Path(QStringLiteral("out.html")));
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(Read(Path(QStringLiteral("out.html"))).toStdString(), expected);
    r = test::RunCli(dir,
                     {QStringLiteral("page"), QStringLiteral("-e"), QStringLiteral("-a"),
                      QStringLiteral("--defaults"), QStringLiteral("-")},
                     large);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.toStdString(), expected);
}

} // namespace
