// The JSON Lines report of secure, restore and verify, written by the real
// kestrix-cli and read back with a JSON parser field by field; and secure
// --verify on a real site.
#include "CliProcess.h"

#include "protection/ProtectionSettings.h"
#include "protection/SecurePage.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestrix;

namespace {

QString Arg(const char* text)
{
    return QString::fromUtf8(text);
}
QString Arg(const QString& text)
{
    return text;
}
// A command line of C strings and QStrings.
template <typename... T> QStringList Args(const T&... args)
{
    return {Arg(args)...};
}

const QByteArray plainPage = "<html><head><title>r</title></head><body><p>Report "
                             "me</p></body></html>\n";

class RunReport : public ::testing::Test
{
protected:
    QTemporaryDir dir;

    // Names that are not valid text are beyond QDir: the tree goes by its bytes.
    void TearDown() override
    {
        std::filesystem::remove_all(QFile::encodeName(dir.path()).toStdString());
    }

    test::CliOutput Run(const QStringList& args) { return test::RunCli(dir, args); }
    template <typename... T> test::CliOutput Run(const T&... args)
    {
        return test::RunCli(dir, Args(args...));
    }
    QString Path(const QString& relative) const { return dir.filePath(relative); }
    QString Path(const char* relative) const { return dir.filePath(Arg(relative)); }
    QString Write(const QString& relative, const QByteArray& data)
    {
        const QString path = Path(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
        return path;
    }
    // A file whose name holds bytes that are not UTF-8, made by its bytes.
    void WriteNative(const QByteArray& relative, const QByteArray& data)
    {
        const QByteArray path = QFile::encodeName(dir.path()) + '/' + relative;
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, data.constData(), size_t(data.size())), data.size());
        ::close(fd);
    }
    static QByteArray Read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    std::map<QString, QByteArray> Snapshot() const
    {
        std::map<QString, QByteArray> files;
        QDirIterator it(dir.path(), QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            files[path] = Read(path);
        }
        return files;
    }
    // The report's lines, each parsed; a line that is not one JSON object
    // fails the test.
    static std::vector<QJsonObject> Lines(const QByteArray& text)
    {
        std::vector<QJsonObject> objects;
        EXPECT_TRUE(text.endsWith('\n')) << text.toStdString();
        for (const QByteArray& line : text.split('\n')) {
            if (line.isEmpty())
                continue;
            QJsonParseError error;
            const QJsonDocument document = QJsonDocument::fromJson(line, &error);
            EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
            EXPECT_TRUE(document.isObject()) << line.toStdString();
            objects.push_back(document.object());
        }
        return objects;
    }
    // The file lines by path, and the totals (the last line).
    static std::map<QString, QJsonObject> ByPath(const std::vector<QJsonObject>& lines,
                                                 QJsonObject& totals)
    {
        std::map<QString, QJsonObject> byPath;
        EXPECT_FALSE(lines.empty());
        if (lines.empty())
            return byPath;
        totals = lines.back();
        EXPECT_EQ(totals.value(QStringLiteral("outcome")).toString(), QStringLiteral("totals"));
        for (size_t i = 0; i + 1 < lines.size(); ++i)
            byPath[lines[i].value(QStringLiteral("path")).toString()] = lines[i];
        return byPath;
    }
};

qint64 Number(const QJsonObject& o, const char* key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isNull() ? -1 : v.toInteger(-2);
}

std::string Secured(const QByteArray& text)
{
    ProtectionEngine engine;
    std::string result = text.toStdString();
    EXPECT_TRUE(engine.SecurePage(result));
    return result;
}

// What one file's line must say; a size of -2 is the size of the file on
// disk after the run (secured, restored), -1 null.
struct Expected
{
    const char* path;
    const char* outcome;
    const char* message; // a part of it ("" for an empty message)
    qint64 before;
    qint64 after;
    int level;
    int parts;
    const char* pathBytes = nullptr; // path_bytes, when the name is not UTF-8
};

void Check(const std::map<QString, QJsonObject>& lines, const Expected& e, const QString& root,
           const QString& onDisk)
{
    SCOPED_TRACE(e.path);
    const auto found = lines.find(QString::fromUtf8(e.path));
    ASSERT_NE(found, lines.end());
    const QJsonObject& o = found->second;
    EXPECT_EQ(o.value(QStringLiteral("root")).toString(), root);
    EXPECT_EQ(o.value(QStringLiteral("outcome")).toString(), QLatin1String(e.outcome));
    const QString message = o.value(QStringLiteral("message")).toString();
    if (*e.message == 0)
        EXPECT_TRUE(message.isEmpty()) << message.toStdString();
    else
        EXPECT_TRUE(message.contains(QString::fromUtf8(e.message))) << message.toStdString();
    const qint64 diskSize = QFileInfo(onDisk).size();
    EXPECT_EQ(Number(o, "bytes_before"), e.before == -2 ? diskSize : e.before);
    EXPECT_EQ(Number(o, "bytes_after"), e.after == -2 ? diskSize : e.after);
    EXPECT_EQ(Number(o, "level"), e.level);
    EXPECT_EQ(Number(o, "parts"), e.parts);
    if (e.pathBytes)
        EXPECT_EQ(o.value(QStringLiteral("path_bytes")).toString(), QLatin1String(e.pathBytes));
    else
        EXPECT_FALSE(o.contains(QStringLiteral("path_bytes")));
}

TEST_F(RunReport, SecureAndRestoreWriteOneCheckedLinePerFileAndTheTotals)
{
    Write(QStringLiteral("site/index.html"), plainPage);
    Write(QStringLiteral("site/sub/caf\u00e9.html"), plainPage + "<!-- more -->\n");
    const std::string earlier = Secured(plainPage);
    Write(QStringLiteral("site/already.html"), QByteArray::fromStdString(earlier));
    ASSERT_EQ(::symlink("index.html", QFile::encodeName(Path("site/link.html")).constData()), 0);
    WriteNative("site/bad\xFF.html", plainPage);
    ASSERT_EQ(::mkdir((QFile::encodeName(dir.path()) + "/site/dir\xFE").constData(), 0755), 0);
    WriteNative("site/dir\xFE/inside.html", plainPage);
    const qint64 plain = plainPage.size();

    // A dry run reports what it would do, marked as such, and writes nothing
    // but the report.
    const auto untouched = Snapshot();
    test::CliOutput r = Run("secure", "-e", "-a", "--level", "3", "--dry-run", "--report",
                            Path("dry.jsonl"), Path("site"));
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    auto afterDry = Snapshot();
    afterDry.erase(Path("dry.jsonl"));
    EXPECT_EQ(afterDry, untouched);
    for (const QJsonObject& line : Lines(Read(Path("dry.jsonl"))))
        EXPECT_TRUE(line.value(QStringLiteral("dry_run")).toBool());

    r = Run("secure", "-e", "-a", "--level", "3", "--report", Path("secure.jsonl"), Path("site"));
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    QJsonObject totals;
    const auto secured = ByPath(Lines(Read(Path("secure.jsonl"))), totals);
    const auto dry = ByPath(Lines(Read(Path("dry.jsonl"))), totals);
    EXPECT_EQ(secured.size(), 6u);
    const int encryptAndScript = int(partEncrypt | partLimitAccess);
    const Expected secureLines[] = {
        {"index.html", "secured", "", plain, -2, 3, encryptAndScript},
        {"sub/caf\xC3\xA9.html", "secured", "", plain + 14, -2, 3, encryptAndScript},
        {"already.html", "passed-over", "may already be secured", -1, -1, -1, -1},
        {"link.html", "failed", "not a plain file", -1, -1, -1, -1},
        {"bad\xEF\xBF\xBD.html", "failed", "not valid text", -1, -1, -1, -1, "bad%FF.html"},
        {"dir\xEF\xBF\xBD", "failed", "not valid text", -1, -1, -1, -1, "dir%FE"},
    };
    for (const Expected& e : secureLines) {
        const QString onDisk = Path(QStringLiteral("site/") + QString::fromUtf8(e.path));
        Check(secured, e, QStringLiteral("%1").arg(Path("site")), onDisk);
        // The dry run said the same, sizes included.
        const auto same = dry.find(QString::fromUtf8(e.path));
        ASSERT_NE(same, dry.end());
        for (const char* key : {"outcome", "bytes_before", "bytes_after", "level", "parts"})
            EXPECT_EQ(same->second.value(QLatin1String(key)),
                      secured.at(QString::fromUtf8(e.path)).value(QLatin1String(key)))
                << key;
    }
    EXPECT_EQ(Number(totals, "secured"), 2);
    EXPECT_EQ(Number(totals, "passed-over"), 1);
    EXPECT_EQ(Number(totals, "failed"), 3);

    // verify reports through the same writer, the bad names included.
    r = Run("verify", "--report", Path("verify.jsonl"), Path("site"));
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    const auto verified = ByPath(Lines(Read(Path("verify.jsonl"))), totals);
    const Expected verifyLines[] = {
        // The stored settings limit nothing, so no access script was written.
        {"index.html", "verified", "", plain, -2, 3, int(partEncrypt)},
        {"already.html", "no-backup", "No backup exists", -1, -2, 2, int(partEncrypt)},
        {"dir\xEF\xBF\xBD", "failed", "not valid text", -1, -1, -1, -1, "dir%FE"},
    };
    for (const Expected& e : verifyLines)
        Check(verified, e, Path("site"), Path(QStringLiteral("site/") + QString::fromUtf8(e.path)));
    EXPECT_EQ(Number(totals, "verified"), 2);

    const qint64 securedSize = QFileInfo(Path("site/index.html")).size();
    r = Run("restore", "--report", Path("restore.jsonl"), Path("site"));
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    const auto restored = ByPath(Lines(Read(Path("restore.jsonl"))), totals);
    const Expected restoreLines[] = {
        {"index.html", "restored", "", securedSize, plain, -1, -1},
        {"already.html", "passed-over", "No backup exists", qint64(earlier.size()), -1, -1, -1},
        {"link.html", "passed-over", "", -1, -1, -1, -1},
        {"bad\xEF\xBF\xBD.html", "failed", "not valid text", -1, -1, -1, -1, "bad%FF.html"},
    };
    for (const Expected& e : restoreLines)
        Check(restored, e, Path("site"), QString());
    EXPECT_EQ(Read(Path("site/index.html")), plainPage);
    EXPECT_EQ(Number(totals, "restored"), 2);
    EXPECT_EQ(Number(totals, "failed"), 2);
}

TEST_F(RunReport, ParallelJobsWriteWholeLinesInWorkListOrder)
{
    // More files than one job's share, in several folders.
    for (int i = 0; i < 150; ++i)
        Write(QStringLiteral("site/d%1/p%2.html").arg(i % 5).arg(i), plainPage);
    test::CliOutput one =
        Run("secure", "--dry-run", "--jobs", "1", "--report", Path("one.jsonl"), Path("site"));
    test::CliOutput two = Run("secure", "--jobs", "2", "--report", Path("two.jsonl"), Path("site"));
    EXPECT_EQ(two.exitCode, 0) << two.err.toStdString();
    const std::vector<QJsonObject> first = Lines(Read(Path("one.jsonl")));
    const std::vector<QJsonObject> second = Lines(Read(Path("two.jsonl")));
    ASSERT_EQ(first.size(), 151u);
    ASSERT_EQ(second.size(), 151u);
    for (size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(first[i].value(QStringLiteral("path")), second[i].value(QStringLiteral("path")));
        EXPECT_EQ(first[i].value(QStringLiteral("bytes_after")),
                  second[i].value(QStringLiteral("bytes_after")));
    }
    EXPECT_EQ(Number(second.back(), "secured"), 150);
}

TEST_F(RunReport, AReportThatCannotBeOpenedTouchesNothingAndOneThatFailsLaterFailsTheRun)
{
    Write(QStringLiteral("site/index.html"), plainPage);
    QDir().mkpath(Path("folder"));
    const struct
    {
        const char* name;
        QString report;
    } cases[] = {
        {"no such folder", Path("missing/report.jsonl")},
        {"a folder", Path("folder")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* command : {"secure", "restore", "verify"}) {
            SCOPED_TRACE(command);
            const auto before = Snapshot();
            const test::CliOutput r = Run(command, "--report", c.report, Path("site"));
            EXPECT_EQ(r.exitCode, 1);
            EXPECT_TRUE(r.err.contains("Unable to write")) << r.err.toStdString();
            EXPECT_EQ(Snapshot(), before);
        }
    }
    EXPECT_EQ(Run("secure", "--report", "", Path("site")).exitCode, 2);

    // A report that fails while the run goes on (a full device) does not
    // stop it, and the exit status says that the report was not written.
    for (const char* command : {"secure", "verify", "restore"}) {
        SCOPED_TRACE(command);
        const test::CliOutput r = Run(command, "--report", "/dev/full", Path("site"));
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains("Unable to write /dev/full")) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(" 0 failed")) << r.err.toStdString();
    }
    EXPECT_EQ(Read(Path("site/index.html")), plainPage);
}

TEST_F(RunReport, StandardOutputGetsTheReport)
{
    Write(QStringLiteral("site/index.html"), plainPage);
    const test::CliOutput r = Run("secure", "--report", "-", Path("site/index.html"));
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const std::vector<QJsonObject> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 2u);
    // A file argument is its own root and path.
    EXPECT_EQ(lines[0].value(QStringLiteral("root")).toString(), Path("site/index.html"));
    EXPECT_EQ(lines[0].value(QStringLiteral("path")).toString(), QStringLiteral("index.html"));
    EXPECT_EQ(lines[0].value(QStringLiteral("outcome")).toString(), QStringLiteral("secured"));
    // A dry run's list stays out of a report on standard output.
    for (const QStringList& command :
         {Args("secure", "--again", "--dry-run"), Args("restore", "--dry-run")}) {
        const test::CliOutput dry = Run(command + Args("--report", "-", Path("site")));
        const std::vector<QJsonObject> report = Lines(dry.out);
        ASSERT_EQ(report.size(), 2u) << dry.out.toStdString();
        EXPECT_TRUE(report[0].value(QStringLiteral("dry_run")).toBool());
    }
}

TEST_F(RunReport, SecureVerifyPassesRealPagesWithEverySwitch)
{
    const QByteArray pages[] = {
        plainPage,
        "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>\n  <p>Gr\xC3\xBC\xC3\x9F"
        "e   und <b>mehr</b></p>  <!-- c -->\n<script>var a = 1;</script></body></html>",
        "<html><head><meta charset=\"windows-1252\"></head><body><p>\xE9t\xE9</p></body></html>",
    };
    for (size_t i = 0; i < std::size(pages); ++i)
        Write(QStringLiteral("site/p%1.html").arg(i), pages[i]);
    const struct
    {
        QStringList switches;
        int exitCode;
    } cases[] = {
        {Args("-e"), 0},
        {Args("-e", "-a", "--level", "4"), 0},
        {Args("-e", "-a", "-o", "--level", "1"), 0},
        {Args("-a"), 2}, // nothing scrambled, nothing to read back
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.switches.join(u' ').toStdString());
        const test::CliOutput r = Run(Args("secure", "--verify") + c.switches + Args(Path("site")));
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        if (c.exitCode != 0)
            continue;
        EXPECT_TRUE(r.err.contains("3 secured, 0 passed over, 0 failed")) << r.err.toStdString();
        EXPECT_EQ(Run("verify", Path("site")).exitCode, 0);
        EXPECT_EQ(Run("restore", Path("site")).exitCode, 0);
        for (size_t i = 0; i < std::size(pages); ++i)
            EXPECT_EQ(Read(Path(QStringLiteral("site/p%1.html").arg(i))), pages[i]);
    }
}

} // namespace
