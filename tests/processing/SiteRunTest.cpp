// Whole-site runs of the command line: the work list of overlapping paths,
// and parallel jobs giving exactly the files and messages of one job.
#include "processing/SiteRun.h"
#include "TreeHelpers.h"
#include "processing/Backup.h"
#include "protection/SecurePage.h"

#include <QDirIterator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

using namespace kestrix;

namespace {

struct Recorded : SiteRunReport
{
    QStringList lines;
    std::vector<int> order;
    void FileDone(int index, int, const SiteFileResult& result) override
    {
        order.push_back(index);
        lines << QStringLiteral("%1 %2").arg(result.path).arg(int(result.outcome));
        for (const ProgressMessage& m : result.messages)
            lines << QStringLiteral("  %1 %2").arg(int(m.kind)).arg(m.text);
    }
};

// A site of many pages with a problem every so often: read-only files,
// programs, pages without body, pages already secured.
void BuildSite(const QString& root, int pages)
{
    for (int i = 0; i < pages; ++i) {
        const QString path =
            QStringLiteral("%1/d%2/e%3/p%4.html").arg(root).arg(i % 7).arg(i % 3).arg(i);
        QByteArray text =
            "<html><head></head><body><p>page " + QByteArray::number(i) + "</p></body></html>";
        if (i % 41 == 5)
            text = "MZ binary";
        else if (i % 37 == 3)
            text = "<html>no body " + QByteArray::number(i) + "</html>";
        else if (i % 29 == 2)
            text = "<html><body><kestrix-content>x</kestrix-content></body></html>";
        WriteTreeFile(path, text);
        if (i % 31 == 7)
            SetMode(path, 0444);
    }
}

std::map<QString, QByteArray> Snapshot(const QString& root)
{
    std::map<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files[QDir(root).relativeFilePath(path)] = ReadTreeFile(path);
    }
    return files;
}

ProtectionEngine Engine()
{
    ProtectionEngine engine;
    engine.settings.StrengthLevel = 2;
    engine.settings.DisableSelection = true;
    return engine;
}

TEST(SiteRun, ParallelJobsGiveTheFilesAndMessagesOfOneJob)
{
    QTemporaryDir one, four;
    BuildSite(one.path(), 300);
    BuildSite(four.path(), 300);
    const ProtectionEngine engine = Engine();
    const QString filter = QStringLiteral("*.html");

    Recorded sequential, parallel;
    SiteRunOptions options;
    options.jobs = 1;
    const SiteRunTotals a =
        SecureSite(GatherSitePaths({one.path()}, filter), engine, options, sequential);
    options.jobs = 4;
    const SiteRunTotals b =
        SecureSite(GatherSitePaths({four.path()}, filter), engine, options, parallel);

    EXPECT_EQ(Snapshot(one.path()), Snapshot(four.path()));
    sequential.lines.replaceInStrings(one.path(), QStringLiteral("ROOT"));
    parallel.lines.replaceInStrings(four.path(), QStringLiteral("ROOT"));
    EXPECT_EQ(sequential.lines, parallel.lines);
    std::vector<int> inOrder(300);
    for (int i = 0; i < 300; ++i)
        inOrder[size_t(i)] = i;
    EXPECT_EQ(parallel.order, inOrder);
    EXPECT_EQ(a.done, b.done);
    EXPECT_EQ(a.failed, b.failed);
    EXPECT_EQ(a.done + a.passedOver + a.failed, 300);
    EXPECT_GT(a.failed, 10);
    EXPECT_GT(a.passedOver, 5);

    // A second run secures nothing again: the backups are not gathered and
    // every page is passed over with its note.
    Recorded again;
    const SiteRunTotals c =
        SecureSite(GatherSitePaths({four.path()}, filter), engine, options, again);
    EXPECT_EQ(c.done, 0);
    EXPECT_EQ(c.passedOver, a.done + a.passedOver);
    EXPECT_EQ(Snapshot(four.path()), Snapshot(one.path()));
}

TEST(SiteRun, AFileNamedTwiceIsHandledOnce)
{
    QTemporaryDir dir;
    const QString page =
        WriteTreeFile(dir.filePath(QStringLiteral("sub/a.html")), "<html><body>a</body></html>");
    MakeLink(page, dir.filePath(QStringLiteral("link.html")));
    const SiteWorkList list =
        GatherSitePaths({dir.filePath(QStringLiteral("sub")), dir.path(), page,
                         dir.filePath(QStringLiteral("sub/../sub/a.html")),
                         dir.filePath(QStringLiteral("missing.html")),
                         dir.filePath(QStringLiteral("missing.html"))},
                        QStringLiteral("*.html"));
    // The link is a page of its own, which the run lists and leaves alone.
    EXPECT_EQ(list.files, (QStringList{page, dir.filePath(QStringLiteral("link.html")),
                                       dir.filePath(QStringLiteral("missing.html"))}));

    Recorded report;
    SiteRunOptions options;
    options.jobs = 3;
    const SiteRunTotals totals = SecureSite(list, Engine(), options, report);
    EXPECT_EQ(totals.done, 1);
    EXPECT_EQ(totals.failed, 2);
    EXPECT_TRUE(report.lines.contains(QStringLiteral("  0 File ") +
                                      dir.filePath(QStringLiteral("missing.html")) +
                                      QStringLiteral(" does not exist")));
}

TEST(SiteRun, DryRunsTouchNothingAndRestoreGivesTheSiteBack)
{
    QTemporaryDir dir;
    BuildSite(dir.path(), 60);
    const auto before = Snapshot(dir.path());
    const SiteWorkList list = GatherSitePaths({dir.path()}, QStringLiteral("*.html"));
    SiteRunOptions dry;
    dry.dryRun = true;
    dry.jobs = 2;
    Recorded report;
    const SiteRunTotals would = SecureSite(list, Engine(), dry, report);
    EXPECT_EQ(Snapshot(dir.path()), before);

    SiteRunOptions real;
    real.jobs = 2;
    const SiteRunTotals did = SecureSite(list, Engine(), real, report);
    EXPECT_EQ(would.done, did.done);
    EXPECT_EQ(would.failed, did.failed);
    const auto secured = Snapshot(dir.path());
    EXPECT_NE(secured, before);

    EXPECT_EQ(RestoreSite(list, dry, report).done, did.done);
    EXPECT_EQ(Snapshot(dir.path()), secured);
    const SiteRunTotals restored = RestoreSite(list, real, report);
    EXPECT_EQ(restored.done, did.done);
    for (const auto& [name, bytes] : before)
        EXPECT_EQ(ReadTreeFile(dir.filePath(name)), bytes) << name.toStdString();
}

// The check of secure --verify: a secured text that does not read back to
// its page (altered here through the test hook) leaves the page and its
// backup folder exactly as they were, and counts as failed.
TEST(SiteRun, VerifyLeavesAPageWhoseSecuredTextDoesNotReadBackAsItWas)
{
    const QByteArray page = "<html><head><title>t</title></head><body><p>Caf\xC3\xA9 "
                            "text</p></body></html>\n";
    const struct
    {
        const char* name;
        std::function<void(std::string&)> alter;
        bool earlierBackup;
        FileOutcome outcome;
        const char* says;
    } cases[] = {
        {"untouched", nullptr, false, FileOutcome::Secured, ""},
        {"head changed", [](std::string& s) { s.replace(s.find("<title>t"), 8, "<title>T"); },
         false, FileOutcome::Failed, "head differs"},
        {"tail changed", [](std::string& s) { s.insert(s.rfind("</html>"), " "); }, true,
         FileOutcome::Failed, "after the body"},
        {"loader changed",
         [](std::string& s) {
             const size_t at = s.find("p8Rfhjqh=\"") + 10;
             s[at] = s[at] == 'A' ? 'B' : 'A';
         },
         false, FileOutcome::Failed, ""},
        {"content marker gone",
         [](std::string& s) { s.replace(s.find("<kestrix-content"), 16, "<kestrix-contenx"); },
         true, FileOutcome::Failed, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("page.html"));
        WriteTreeFile(path, page);
        const QString backup = BackupPathFor(path);
        if (c.earlierBackup)
            WriteTreeFile(backup, "earlier backup");
        const auto before = Snapshot(dir.path());
        SiteRunOptions options;
        options.verify = true;
        options.alterSecuredText = c.alter;
        Recorded report;
        const SiteRunTotals totals = SecureSite(
            GatherSitePaths({dir.path()}, QStringLiteral("*.html")), Engine(), options, report);
        EXPECT_EQ(totals.failed, c.outcome == FileOutcome::Failed ? 1 : 0);
        ASSERT_FALSE(report.lines.isEmpty());
        EXPECT_TRUE(report.lines[0].endsWith(QString::number(int(c.outcome))))
            << report.lines.join(u'\n').toStdString();
        if (c.outcome == FileOutcome::Secured) {
            EXPECT_TRUE(IsSecuredPage(ReadTreeFile(path).toStdString()));
            continue;
        }
        EXPECT_EQ(Snapshot(dir.path()), before);
        EXPECT_EQ(QFileInfo::exists(backup), c.earlierBackup);
        ASSERT_EQ(report.lines.size(), 2);
        EXPECT_TRUE(report.lines[1].contains(QLatin1String("does not read back")));
        EXPECT_TRUE(report.lines[1].contains(QLatin1String(c.says), Qt::CaseInsensitive))
            << report.lines[1].toStdString();
    }
}

} // namespace
