// kestrix-cli recover, verify and audit run as separate processes over
// sites secured by kestrix-cli itself in a temporary folder.
#include "CliProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestrix;

namespace {

struct Result
{
    int exitCode = -1;
    QString out;
    QString err;
};

const QByteArray utf8Page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>T</title>"
                            "</head>\n<body>\n<p>Grüße aus Köln: the quick brown fox jumps over "
                            "the lazy dog again and again.</p>\n</body>\n</html>\n";
const QByteArray asciiPage = "<html><head></head><body><h1>Plain</h1><p>Nothing but ASCII here, "
                             "written for the verify test of the command line.</p></body></html>";
const QByteArray undeclaredPage =
    "<html><head></head><body><p>caf\xC3\xA9 au lait</p></body></html>";

// Every access switch and the first optimisation switches on.
const QByteArray allAccessSwitches =
    "[FormEncryptionOptions]\nCheckBoxRightClicking.Checked=1\nCheckBoxSelection.Checked=1\n"
    "CheckBoxDragAndDrop.Checked=1\nCheckBoxStatusBar.Checked=1\nCheckBoxScriptErrors.Checked=1\n"
    "CheckBoxBreakOutOfFrames.Checked=1\nCheckBoxPrinting.Checked=1\nCheckBoxOffline.Checked=1\n";
const QByteArray removeEndP =
    "[FormEncryptionOptions]\nCheckBoxEndP.Checked=1\nCheckBoxOptimize.Checked=1\n";

QString Arg(const char* text)
{
    return QString::fromUtf8(text);
}
QString Arg(const QString& text)
{
    return text;
}

class TrustCommands : public ::testing::Test
{
public:
    QTemporaryDir dir;

    template <typename... Args> Result Run(const Args&... args)
    {
        return RunList(QStringList{Arg(args)...});
    }
    Result RunList(const QStringList& args)
    {
        const test::CliOutput run = test::RunCli(dir, args);
        return {run.exitCode, QString::fromLocal8Bit(run.out), QString::fromLocal8Bit(run.err)};
    }
    template <typename Name> QString Path(const Name& relative) const
    {
        return dir.filePath(Arg(relative));
    }
    template <typename Name> QString Write(const Name& relative, const QByteArray& data)
    {
        const QString path = Path(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(data);
        return path;
    }
    static QByteArray Read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    // A site of two pages secured in place, with backups.
    void SecureSite(const QStringList& extra = {})
    {
        Write(QStringLiteral("site/index.html"), utf8Page);
        Write(QStringLiteral("site/sub/plain.htm"), asciiPage);
        const Result secured =
            RunList(QStringList{QStringLiteral("secure")} + extra + QStringList{Path("site")});
        ASSERT_EQ(secured.exitCode, 0) << secured.err.toStdString();
    }
};

TEST_F(TrustCommands, RecoverGivesBackTheBytesAtEveryLevelWithEveryAccessSwitch)
{
    const QString settings = Write(QStringLiteral("all.ini"), allAccessSwitches);
    for (const QByteArray& page : {utf8Page, asciiPage}) {
        for (int level = 1; level <= 4; ++level) {
            SCOPED_TRACE(level);
            const QString original = Write(QStringLiteral("page.html"), page);
            ASSERT_EQ(Run("page", "-e", "-a", "--settings", settings, "--level",
                          QString::number(level), "--output", Path("secured.html"), original)
                          .exitCode,
                      0);
            const Result recovered =
                Run("recover", "--output", Path("recovered.html"), Path("secured.html"));
            EXPECT_EQ(recovered.exitCode, 0) << recovered.err.toStdString();
            EXPECT_EQ(Read(Path("recovered.html")), page);
            EXPECT_EQ(Run("recover", Path("secured.html")).out.toUtf8(), page);
        }
    }
}

TEST_F(TrustCommands, RecoverRefusesWhatItCannotGiveBackExactly)
{
    const QString plain = Write(QStringLiteral("plain.html"), asciiPage);
    const QString undeclared = Write(QStringLiteral("undeclared.html"), undeclaredPage);
    const QString optimise = Write(QStringLiteral("opt.ini"), removeEndP);
    ASSERT_EQ(Run("page", "-e", "--output", Path("undeclared.sec"), undeclared).exitCode, 0);
    ASSERT_EQ(Run("page", "-e", "-o", "--settings", optimise, "--output", Path("optimised.sec"),
                  Write(QStringLiteral("u.html"), utf8Page))
                  .exitCode,
              0);
    QByteArray tampered = Read(Path("optimised.sec"));
    tampered.replace("%66%6F%72", "%67%6F%72");
    const QString altered = Write(QStringLiteral("altered.sec"), tampered);

    const struct
    {
        const char* name;
        QString page;
        int exitCode;
        const char* says;
    } cases[] = {
        {"not secured", plain, 1, "holds no scrambled content"},
        {"undeclared charset", Path("undeclared.sec"), 1, "declares no character set"},
        {"loaders altered", altered, 1, "loader scripts are not those"},
        {"optimisation switches", Path("optimised.sec"), 0, "optimisation switches on"},
        {"missing file", Path("none.html"), 1, "does not exist"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = Run("recover", "--output", Path("out.html"), c.page);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_TRUE(r.err.contains(QLatin1String(c.says))) << r.err.toStdString();
    }
    EXPECT_EQ(Run("recover").exitCode, 2);
}

TEST_F(TrustCommands, VerifyFindsEveryKindOfDamage)
{
    const struct
    {
        const char* name;
        void (*damage)(TrustCommands&);
        int exitCode;
        const char* summary;
        const char* says;
    } cases[] = {
        {"untouched", [](TrustCommands&) {}, 0, "2 verified, 0 without backup, 0 failed", ""},
        {"unsecured page beside them",
         [](TrustCommands& t) { t.Write(QStringLiteral("site/new.html"), asciiPage); }, 0,
         "2 verified, 0 without backup, 0 failed", ""},
        {"loader changed",
         [](TrustCommands& t) {
             QByteArray page = Read(t.Path("site/index.html"));
             page.replace("%66%6F%72", "%67%6F%72");
             t.Write(QStringLiteral("site/index.html"), page);
         },
         1, "1 verified, 0 without backup, 1 failed", "cannot be decoded"},
        {"backup changed",
         [](TrustCommands& t) {
             QByteArray backup = Read(t.Path("site/Kestrix Backup/index.html"));
             backup.replace("lazy dog", "lazy cat");
             t.Write(QStringLiteral("site/Kestrix Backup/index.html"), backup);
         },
         1, "1 verified, 0 without backup, 1 failed", "does not decode to the original"},
        {"head changed",
         [](TrustCommands& t) {
             QByteArray page = Read(t.Path("site/sub/plain.htm"));
             page.replace("<head>", "<head><title>x</title>");
             t.Write(QStringLiteral("site/sub/plain.htm"), page);
         },
         1, "1 verified, 0 without backup, 1 failed", "head differs"},
        {"backup removed",
         [](TrustCommands& t) { QFile::remove(t.Path("site/sub/Kestrix Backup/plain.htm")); }, 1,
         "1 verified, 1 without backup, 0 failed", "No backup exists"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(Path("site")).removeRecursively();
        SecureSite({QStringLiteral("-e"), QStringLiteral("-a")});
        c.damage(*this);
        const Result r = Run("verify", Path("site"));
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QLatin1String(c.summary))) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QLatin1String(c.says))) << r.err.toStdString();
    }
}

TEST_F(TrustCommands, VerifyChecksABuildAgainstItsSourceAndReportsJsonLines)
{
    Write(QStringLiteral("src/index.html"), utf8Page);
    Write(QStringLiteral("src/sub/plain.htm"), asciiPage);
    Write(QString::fromUtf8("src/sub/caf\xC3\xA9 2.html"), asciiPage);
    for (const char* page : {"index.html", "sub/plain.htm", "sub/caf\xC3\xA9 2.html"}) {
        const QString name = QString::fromUtf8(page);
        Write(QStringLiteral("out/") + name, "");
        ASSERT_EQ(Run("page", "-e", "-o", "--output", Path(QStringLiteral("out/") + name),
                      Path(QStringLiteral("src/") + name))
                      .exitCode,
                  0);
    }
    const Result r =
        Run("verify", "--source", Path("src"), "--report", Path("report.jsonl"), Path("out"));
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QLatin1String("3 verified, 0 without backup, 0 failed")));
    const QList<QByteArray> lines = Read(Path("report.jsonl")).trimmed().split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(Read(Path("report.jsonl")).contains("\"path\":\"sub/caf\xC3\xA9 2.html\""));
    for (const QByteArray& line : lines) {
        QJsonParseError error;
        const QJsonObject object = QJsonDocument::fromJson(line, &error).object();
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        if (object.value(QStringLiteral("outcome")) == QStringLiteral("totals"))
            EXPECT_EQ(object.value(QStringLiteral("verified")).toInt(), 3);
        else
            EXPECT_EQ(object.value(QStringLiteral("outcome")), QStringLiteral("verified"));
    }
    // A source that lacks a page counts as without backup.
    QFile::remove(Path("src/index.html"));
    EXPECT_EQ(Run("verify", "--source", Path("src"), Path("out")).exitCode, 1);
}

TEST_F(TrustCommands, AuditListsEveryKindOfLeakAndPassesACleanTree)
{
    SecureSite();
    // Backups left in the tree leak, and their folders are named.
    Result r = Run("audit", Path("site"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.contains(Path("site/Kestrix Backup/index.html") +
                               Arg(" holds the clear text of ") + Path("site/index.html")))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(Path("site/Kestrix Backup") + Arg(" is a backup folder")));

    QDir(Path("site/Kestrix Backup")).removeRecursively();
    QDir(Path("site/sub/Kestrix Backup")).removeRecursively();
    r = Run("audit", Path("site"));
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
    EXPECT_TRUE(r.out.isEmpty());

    // One leak of each kind, read back from the pages alone.
    const struct
    {
        const char* file;
        QByteArray text;
    } leaks[] = {
        {"feed.xml", "<rss><item><description>&lt;p&gt;Gr&#252;&#xdf;e aus K&ouml;ln: the quick "
                     "brown FOX jumps over the lazy dog&lt;/p&gt;</description></item></rss>"},
        {"search.json", "[{\"t\":\"Nothing but ASCII here,\\n written for the verify test\"}]"},
        {"notes.md", "# Plain\n\nNothing   but ASCII here, written *for* the verify test"},
        {"index.html.kestrix", utf8Page},
        {".hidden/sitemap.txt", "grüße aus köln: the quick brown fox jumps over the lazy dog"},
    };
    for (const auto& leak : leaks)
        Write(QStringLiteral("site/") + Arg(leak.file), leak.text);
    Write(QStringLiteral("site/short.txt"), "the quick brown fox"); // shorter than 40
    r = Run("audit", Path("site"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.contains(Path("site/feed.xml") + Arg(" holds the clear text of ") +
                               Path("site/index.html")))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(Path("site/search.json") + Arg(" holds the clear text of ") +
                               Path("site/sub/plain.htm")));
    EXPECT_TRUE(r.out.contains(Path("site/index.html.kestrix")));
    EXPECT_TRUE(r.out.contains(Path("site/.hidden/sitemap.txt")));
    EXPECT_FALSE(r.out.contains(QLatin1String("notes.md"))) << "the emphasis breaks the run";
    EXPECT_FALSE(r.out.contains(QLatin1String("short.txt")));
    EXPECT_EQ(r.out.count(QLatin1Char('\n')), 4) << r.out.toStdString();
    EXPECT_TRUE(Run("audit", "--min-chars", "20", Path("site")).out.contains(Arg("notes.md")));
    for (const char* n : {"0", "9", "x"})
        EXPECT_EQ(Run("audit", "--min-chars", n, Path("site")).exitCode, 2) << n;
    EXPECT_EQ(Run("audit", "--min-chars", "10", Path("site")).exitCode, 1);

    // A link to a file outside and a pipe are passed over, not followed.
    ::symlink(QFile::encodeName(Path("site/feed.xml")).constData(),
              QFile::encodeName(Path("site/link.xml")).constData());
    ::mkfifo(QFile::encodeName(Path("site/pipe")).constData(), 0600);
    r = Run("audit", Path("site"));
    EXPECT_FALSE(r.out.contains(QLatin1String("link.xml")));
    EXPECT_FALSE(r.out.contains(QLatin1String("pipe")));
}

TEST_F(TrustCommands, AuditReadsPagesBackAndComparesTextExactly)
{
    // A page whose clear text can only come from its loaders (level 3, no
    // backup): letters beyond ASCII in both cases, a character beyond the
    // 16-bit range, entities.
    Write(QStringLiteral("site/wide.html"),
          "<html><head><meta charset=\"utf-8\"></head><body><p>\xCE\xA3\xCE\x9F\xCE\xA6"
          "\xCE\x99\xCE\x91 &amp; \xF0\x9F\x98\x80 smile: the five boxing wizards jump "
          "quickly over it</p></body></html>");
    ASSERT_EQ(Run("secure", "-e", "--level", "3", Path("site")).exitCode, 0);
    QDir(Path("site/Kestrix Backup")).removeRecursively();
    EXPECT_EQ(Run("audit", Path("site")).exitCode, 0);

    const struct
    {
        const char* file;
        QByteArray text;
        bool leaks;
    } cases[] = {
        // JSON escapes of both cases and a surrogate pair.
        {"index.json",
         "{\"t\":\"\\u03c3\\u03bf\\u03C6\\u03b9\\u03b1 & \\ud83d\\ude00 SMILE: the five boxing "
         "wizards jump\"}",
         true},
        {"feed.xml", "<b>&#x3A3;&#927;&Phi;</b>&#921;&#x391; &amp;amp; &#128512; smile: x", false},
        {"feed2.xml",
         "&lt;i&gt;&#x3A3;&#x39F;&#x3A6;&#x399;&#x391;&lt;/i&gt; &amp; &#128512; "
         "smile: the five boxing wizards jump",
         true},
        // Exactly forty characters of the run, and thirty-nine.
        {"forty.txt", "[the five boxing wizards jump quickly ove]", true},
        {"thirty-nine.txt", "[he five boxing wizards jump quickly ove]", false},
    };
    for (const auto& c : cases)
        Write(QStringLiteral("site/") + Arg(c.file), c.text);
    // A name that is not UTF-8 is read all the same.
    const QByteArray odd = QFile::encodeName(Path("site")) + "/leak-\xFF.txt";
    const int fd = ::open(odd.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    const QByteArray leak = "FIVE boxing wizards jump quickly over it";
    ASSERT_EQ(::write(fd, leak.constData(), size_t(leak.size())), leak.size());
    ::close(fd);

    const Result r = Run("audit", Path("site"));
    EXPECT_EQ(r.exitCode, 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(r.out.contains(Path("site/") + Arg(c.file) + Arg(" holds the clear text of ") +
                                 Path("site/wide.html")),
                  c.leaks)
            << r.out.toStdString();
    }
    EXPECT_TRUE(r.out.contains(QLatin1String("/leak-"))) << r.out.toStdString();
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    EXPECT_EQ(r.out.count(QLatin1Char('\n')), 4);
}

} // namespace
