// kestrix-cli secure and restore run as a separate process over a site in a
// temporary folder, with the settings store isolated there too.
#include "CliProcess.h"

#include "protection/ProtectionSettings.h"
#include "protection/SecurePage.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kestrix;

namespace {

struct Result
{
    int exitCode = -1;
    QString out;
    QString err;
};

const QByteArray page = "<html><head></head><body><p>Hello</p></body></html>\n";

class SiteCommands : public ::testing::Test
{
protected:
    QTemporaryDir dir;

    Result Run(const QStringList& args)
    {
        const test::CliOutput run = test::RunCli(dir, args);
        return {run.exitCode, QString::fromLocal8Bit(run.out), QString::fromLocal8Bit(run.err)};
    }
    QString Site(const QString& relative = {}) const
    {
        return dir.filePath(QStringLiteral("site/") + relative);
    }
    QString Write(const QString& path, const QByteArray& data)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
        return path;
    }
    static QByteArray Read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    QStringList Files() const
    {
        QStringList all;
        QDirIterator it(Site(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            all << QDir(Site()).relativeFilePath(it.next());
        all.sort();
        return all;
    }
};

std::string Secured(const QByteArray& text)
{
    ProtectionEngine engine;
    engine.OptimiseActive = true;
    std::string result = text.toStdString();
    EXPECT_TRUE(engine.SecurePage(result));
    return result;
}

TEST_F(SiteCommands, SecuresASiteOnceAndRestoresIt)
{
    const QString index = Write(Site(QStringLiteral("index.html")), page);
    const QString deep = Write(Site(QStringLiteral("a/b/deep.htm")), page);
    Write(Site(QStringLiteral("notes.txt")), page);

    Result r = Run({QStringLiteral("secure"), Site(), Site(QStringLiteral("a"))});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.err, QStringLiteral("2 secured, 0 passed over, 0 failed\n"));
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_EQ(Read(index).toStdString(), Secured(page));
    EXPECT_EQ(Read(deep).toStdString(), Secured(page));
    EXPECT_EQ(Files(), (QStringList{QStringLiteral("Kestrix Backup/index.html"),
                                    QStringLiteral("a/b/Kestrix Backup/deep.htm"),
                                    QStringLiteral("a/b/deep.htm"), QStringLiteral("index.html"),
                                    QStringLiteral("notes.txt")}));

    // Again: the pages are passed over with a note, the backups not gathered.
    r = Run({QStringLiteral("secure"), QStringLiteral("--jobs"), QStringLiteral("1"), Site()});
    EXPECT_EQ(r.exitCode, 0);
    const QString note =
        QStringLiteral(": This file may already be secured. It was passed over.\n");
    EXPECT_EQ(r.err,
              index + note + deep + note + QStringLiteral("0 secured, 2 passed over, 0 failed\n"));
    EXPECT_EQ(Read(Site(QStringLiteral("Kestrix Backup/index.html"))), page);

    r = Run({QStringLiteral("restore"), QStringLiteral("--dry-run"), Site()});
    EXPECT_EQ(r.out, index + QStringLiteral(" would be restored\n") + deep +
                         QStringLiteral(" would be restored\n"));
    EXPECT_EQ(r.err, QStringLiteral("2 would be restored, 0 passed over, 0 failed\n"));
    EXPECT_EQ(Read(index).toStdString(), Secured(page));

    r = Run({QStringLiteral("restore"), Site()});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.err, QStringLiteral("2 restored, 0 passed over, 0 failed\n"));
    EXPECT_EQ(Read(index), page);
    EXPECT_EQ(Read(deep), page);
}

TEST_F(SiteCommands, ProblemsAreListedTheRunGoesOnAndTheExitSaysSo)
{
    const QString readOnly = Write(Site(QStringLiteral("ro.html")), page);
    ::chmod(QFile::encodeName(readOnly).constData(), 0444);
    const QString fine = Write(Site(QStringLiteral("fine.html")), page);
    const QString missing = Site(QStringLiteral("missing.html"));

    Result r = Run({QStringLiteral("secure"), readOnly, missing, Site()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, readOnly + QStringLiteral(": File is read only and cannot be secured.\n") +
                         QStringLiteral("File ") + missing + QStringLiteral(" does not exist\n") +
                         QStringLiteral("1 secured, 0 passed over, 2 failed\n"));
    EXPECT_EQ(Read(readOnly), page);
    EXPECT_EQ(Read(fine).toStdString(), Secured(page));
}

TEST_F(SiteCommands, DryRunListsAndTouchesNothing)
{
    const QString a = Write(Site(QStringLiteral("a.html")), page);
    const QString nobody = Write(Site(QStringLiteral("b.html")), "<p>no body</p>");
    Result r = Run({QStringLiteral("secure"), QStringLiteral("--dry-run"), Site()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, a + QStringLiteral(" would be secured\n"));
    EXPECT_TRUE(r.err.contains(QStringLiteral("An error occurred securing file ") + nobody));
    EXPECT_TRUE(r.err.endsWith(QStringLiteral("1 would be secured, 0 passed over, 1 failed\n")))
        << r.err.toStdString();
    EXPECT_EQ(Files(), (QStringList{QStringLiteral("a.html"), QStringLiteral("b.html")}));
    EXPECT_EQ(Read(a), page);
}

TEST_F(SiteCommands, TheFilterComesFromTheSwitchElseTheStoreElseTheDefault)
{
    Write(Site(QStringLiteral("page.html")), page);
    Write(Site(QStringLiteral("page.txt")), page);
    Write(dir.filePath(QStringLiteral("config/Marquell/Marquell Kestrix.conf")),
          "[FormKestrixOptions]\nEditFileFilter.Text=*.txt\n");
    Result r = Run({QStringLiteral("secure"), QStringLiteral("--dry-run"), Site()});
    EXPECT_EQ(r.out, Site(QStringLiteral("page.txt")) + QStringLiteral(" would be secured\n"));
    r = Run({QStringLiteral("secure"), QStringLiteral("--dry-run"), QStringLiteral("--filter"),
             QStringLiteral("*.html;*.txt"), Site()});
    EXPECT_EQ(r.out.count(QStringLiteral(" would be secured")), 2);
    QFile::remove(dir.filePath(QStringLiteral("config/Marquell/Marquell Kestrix.conf")));
    r = Run({QStringLiteral("secure"), QStringLiteral("--dry-run"), Site()});
    EXPECT_EQ(r.out, Site(QStringLiteral("page.html")) + QStringLiteral(" would be secured\n"));
    r = Run({QStringLiteral("secure"), QStringLiteral("--filter"), QStringLiteral("[x"), Site()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, QStringLiteral("'[x' is an invalid mask at (3)\n"));
}

TEST_F(SiteCommands, WrongUsageExitsWithTwo)
{
    const QStringList wrong[] = {
        {QStringLiteral("secure")},
        {QStringLiteral("secure"), QStringLiteral("--jobs"), QStringLiteral("0"), Site()},
        {QStringLiteral("secure"), QStringLiteral("--level"), QStringLiteral("7"), Site()},
        {QStringLiteral("restore"), QStringLiteral("-e"), Site()},
        {QStringLiteral("restore"), QStringLiteral("--again"), Site()},
    };
    for (const QStringList& args : wrong) {
        const Result r = Run(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(u' ').toStdString();
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("kestrix-cli: "))) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("kestrix-cli secure")));
    }
}

} // namespace
