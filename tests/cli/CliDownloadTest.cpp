// kestrix-cli given a web address: downloaded, secured and written, or the
// download's failure reported.
#include "CliProcess.h"
#include "LocalHttpServer.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QString S(const char* text)
{
    return QString::fromUtf8(text);
}

struct CliRun
{
    int exitCode = -1;
    QByteArray out, err;
};

class CliDownloadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home_.isValid());
        ASSERT_TRUE(server_.Listening());
    }

    // Runs the tool while this process's event loop keeps serving pages.
    CliRun Cli(const QStringList& arguments, const QString& program = S(KESTRIX_CLI_PATH))
    {
        QProcess process;
        process.setProcessEnvironment(kestrix::test::IsolatedEnvironment(home_));
        QEventLoop loop;
        QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
        QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
        process.start(program, arguments);
        loop.exec();
        return CliRun{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                      process.readAllStandardOutput(), process.readAllStandardError()};
    }

    QStringList CachedFiles() const
    {
        return QDir(home_.filePath(S("cache/Marquell/Marquell Kestrix v2.0")))
            .entryList(QDir::Files | QDir::Hidden);
    }

    QTemporaryDir home_;
    LocalHttpServer server_;
};

} // namespace

TEST_F(CliDownloadTest, WebAddressIsDownloadedSecuredAndWritten)
{
    const QString output = home_.filePath(S("out.html"));
    const CliRun run = Cli({S("page"), S("-e"), S("--output"), output, server_.Url("/page.html")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    // Standard error is no terminal here: no progress lines.
    EXPECT_EQ(run.err, QByteArray());
    QFile file(output);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray page = file.readAll();
    EXPECT_TRUE(page.contains("kestrix-content"));
    EXPECT_FALSE(page.contains("Known body"));
    EXPECT_TRUE(CachedFiles().isEmpty());

    // To standard output as well, here with the access script alone.
    const QString settings = home_.filePath(S("settings.ini"));
    QFile ini(settings);
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[FormEncryptionOptions]\r\nCheckBoxRightClicking.Checked=1\r\n");
    ini.close();
    const CliRun toStdout =
        Cli({S("page"), S("-a"), S("--settings"), settings, server_.Url("/redirect")});
    ASSERT_EQ(toStdout.exitCode, 0) << toStdout.err.toStdString();
    EXPECT_TRUE(toStdout.out.contains("kestrix-script"));
    EXPECT_TRUE(toStdout.out.contains("Known body"));
}

TEST_F(CliDownloadTest, FailedDownloadIsReportedAndWritesNothing)
{
    const QString output = home_.filePath(S("out.html"));
    const QString missing = server_.Url("/missing");
    const CliRun run = Cli({S("page"), S("--output"), output, missing});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(QString::fromLocal8Bit(run.err),
              S("Unable to download ") + missing + S("\n\nThe Web Page may not exist.\n"));
    EXPECT_FALSE(QFile::exists(output));
    EXPECT_TRUE(CachedFiles().isEmpty());

    // An https address is a web address too: it is fetched (and fails here,
    // as the test server speaks no TLS) rather than looked for on disk.
    QString secure = server_.Url("/page.html");
    secure.replace(S("http://"), S("https://"));
    const CliRun tls = Cli({S("page"), S("--output"), output, secure});
    EXPECT_EQ(tls.exitCode, 1);
    EXPECT_TRUE(tls.err.startsWith("Unable to download https://")) << tls.err.toStdString();

    // A body above the limit says so.
    const CliRun huge = Cli({S("page"), S("--output"), output, server_.Url("/huge")});
    EXPECT_EQ(huge.exitCode, 1);
    EXPECT_TRUE(huge.err.contains("larger than 64 MB")) << huge.err.toStdString();
    EXPECT_FALSE(QFile::exists(output));
    EXPECT_TRUE(CachedFiles().isEmpty());
}

// The download is a module loaded only for a web address: a program
// without it secures files as ever, and for an address says what is
// missing and writes nothing.
TEST_F(CliDownloadTest, WithoutTheDownloadModuleOnlyAddressesFail)
{
    const QString program = home_.filePath(S("kestrix-cli"));
    ASSERT_TRUE(QFile::copy(S(KESTRIX_CLI_PATH), program));
    const QString input = home_.filePath(S("in.html"));
    {
        QFile file(input);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<html><body><p>Known body</p></body></html>");
    }
    const QString output = home_.filePath(S("out.html"));
    struct Case
    {
        const char* what;
        QString input;
        int exitCode;
    } cases[] = {
        {"a file", input, 0},
        {"a web address", server_.Url("/page.html"), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(output);
        const CliRun run = Cli({S("page"), S("--output"), output, c.input}, program);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err.toStdString();
        EXPECT_EQ(QFile::exists(output), c.exitCode == 0);
        if (c.exitCode != 0) {
            EXPECT_TRUE(run.err.startsWith("Unable to read " + c.input.toUtf8() + ": "))
                << run.err.toStdString();
            EXPECT_TRUE(run.err.contains("kestrix-cli-download.so")) << run.err.toStdString();
        }
    }
}
