#include "SiteCommands.h"

#include "CommandLine.h"
#include "JsonLines.h"
#include "platform/Errors.h"
#include "platform/MessageFormat.h"
#include "processing/FileProgress.h"
#include "processing/FolderScan.h"
#include "processing/SiteRun.h"
#include "protection/SecurePage.h"
#include "support/SettingsStore.h"
#include "support/Translation.h"

#include <QCommandLineParser>
#include <QThread>

#include <cstdio>
#include <memory>
#include <optional>
#include <unistd.h>

namespace kestrix {

namespace {

void PrintLine(FILE* stream, const QString& text)
{
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    std::fputs(shown.toLocal8Bit().constData(), stream);
    std::fputs("\n", stream);
}

// The report's name of an outcome. A dry run reports what would be done
// (secured, restored) under the same names, its lines marked as a dry run.
const char* OutcomeName(FileOutcome outcome)
{
    switch (outcome) {
    case FileOutcome::Ready:
    case FileOutcome::Secured:
        return "secured";
    case FileOutcome::Restored:
        return "restored";
    case FileOutcome::Failed:
        return "failed";
    case FileOutcome::NotAFile:
    case FileOutcome::PassedOver:
        break;
    }
    return "passed-over";
}

ReportEntry EntryOf(const SiteFileResult& result)
{
    ReportEntry entry;
    entry.path = result.path;
    entry.nativePath = result.nativePath;
    entry.outcome = OutcomeName(result.outcome);
    for (const ProgressMessage& message : result.messages)
        entry.message +=
            (entry.message.isEmpty() ? QString() : QStringLiteral("\n")) + message.text;
    entry.bytesBefore = result.bytesBefore;
    entry.bytesAfter = result.bytesAfter;
    entry.level = result.level;
    entry.parts = result.parts;
    return entry;
}

// Prints each file's messages as its turn comes, what a dry run would do
// (when `listDryRun`),
// and on a terminal a progress line that the next output replaces; writes
// each file's line of the report.
class PrintedReport : public SiteRunReport
{
public:
    PrintedReport(bool securing, bool listDryRun, JsonLinesWriter* lines)
        : securing_(securing), listDryRun_(listDryRun), terminal_(::isatty(STDERR_FILENO) != 0),
          lines_(lines)
    {
    }
    ~PrintedReport() override { ClearProgress(); }

    void FileDone(int index, int count, const SiteFileResult& result) override
    {
        if (lines_)
            lines_->WriteFile(EntryOf(result));
        if (!result.messages.empty())
            ClearProgress();
        for (const ProgressMessage& message : result.messages)
            PrintLine(stderr, message.text);
        if (listDryRun_ &&
            (result.outcome == FileOutcome::Ready || result.outcome == FileOutcome::Restored)) {
            std::fflush(stderr);
            PrintLine(stdout, FormatMessage(securing_ ? Tr("%s would be secured")
                                                      : Tr("%s would be restored"),
                                            {result.path}));
            std::fflush(stdout);
        }
        if (terminal_) {
            const QString line =
                QStringLiteral("%1/%2 ").arg(index + 1).arg(count) +
                FormatMessage(Tr("Processing %s"),
                              {result.path.mid(result.path.lastIndexOf(u'/') + 1)});
            std::fprintf(stderr, "\r\x1b[K%s", line.toLocal8Bit().constData());
            std::fflush(stderr);
            progressShown_ = true;
        }
    }

    void ClearProgress()
    {
        if (progressShown_) {
            std::fputs("\r\x1b[K", stderr);
            progressShown_ = false;
        }
    }

private:
    bool securing_;
    bool listDryRun_;
    bool terminal_;
    JsonLinesWriter* lines_;
    bool progressShown_ = false;
};

struct SiteOptions
{
    ProtectionParts parts;
    std::optional<int> level;
    QString settingsFile;
    QString filter;
    bool filterGiven = false;
    SiteRunOptions run;
    QStringList paths;
    QString report; // --report FILE, empty without
};

SiteOptions ParseSiteArguments(const QStringList& arguments, bool securing)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    const QCommandLineOption encrypt(QStringLiteral("e"));
    const QCommandLineOption limit(QStringLiteral("a"));
    const QCommandLineOption optimise(QStringLiteral("o"));
    const QCommandLineOption level(QStringLiteral("level"), QString(), QStringLiteral("N"));
    const QCommandLineOption settings(QStringLiteral("settings"), QString(),
                                      QStringLiteral("FILE"));
    const QCommandLineOption filter(QStringLiteral("filter"), QString(), QStringLiteral("MASKS"));
    const QCommandLineOption again(QStringLiteral("again"));
    const QCommandLineOption jobs(QStringLiteral("jobs"), QString(), QStringLiteral("N"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"));
    const QCommandLineOption report(QStringLiteral("report"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption verify(QStringLiteral("verify"));
    parser.addOptions({filter, dryRun, report});
    if (securing)
        parser.addOptions({encrypt, limit, optimise, level, settings, again, jobs, verify});
    // The command's own name stands where the parser expects the program's.
    if (!parser.parse(arguments))
        throw UsageError{parser.errorText().toStdString()};

    SiteOptions o;
    o.filterGiven = parser.isSet(filter);
    o.filter = parser.value(filter);
    o.run.dryRun = parser.isSet(dryRun);
    o.run.jobs = 1;
    o.report = parser.value(report);
    if (parser.isSet(report) && o.report.isEmpty())
        throw UsageError{"--report takes a file name, or - for standard output"};
    if (securing) {
        o.parts.setFlag(partEncrypt, parser.isSet(encrypt));
        o.parts.setFlag(partLimitAccess, parser.isSet(limit));
        o.parts.setFlag(partOptimise, parser.isSet(optimise));
        if (!o.parts)
            o.parts = allProtectionParts;
        o.settingsFile = parser.value(settings);
        if (parser.isSet(level))
            o.level = ParseLevelValue(parser.value(level));
        o.run.again = parser.isSet(again);
        o.run.verify = parser.isSet(verify);
        // The check reads the scrambled content back: without it there is
        // nothing to compare, and a check that checks nothing must not pass.
        if (o.run.verify && !o.parts.testFlag(partEncrypt))
            throw UsageError{"--verify reads the scrambled content back: it needs -e"};
        o.run.jobs = QThread::idealThreadCount();
        if (parser.isSet(jobs)) {
            bool ok = false;
            const int n = parser.value(jobs).toInt(&ok);
            if (!ok || n < 1)
                throw UsageError{"--jobs takes a number of at least 1"};
            o.run.jobs = n;
        }
    }
    o.paths = parser.positionalArguments();
    if (o.paths.isEmpty())
        throw UsageError{"no PATH given"};
    return o;
}

// Whether what a dry run would do is listed on standard output: not when
// the report goes there (it holds the same), so that the list never breaks
// into the report's lines.
bool ListsDryRun(const SiteOptions& o)
{
    return o.run.dryRun && o.report != QLatin1String("-");
}

// The report opened before the run, so that one that cannot be written
// stops the command before any file is touched.
std::unique_ptr<JsonLinesWriter> OpenReport(const SiteOptions& o)
{
    if (o.report.isEmpty())
        return nullptr;
    return std::make_unique<JsonLinesWriter>(o.report, o.paths, o.run.dryRun);
}

// The summary line, then the report's totals; a report that could not be
// written is a failure of the run (thrown after the summary).
int PrintSummary(const char* format, const char* doneName, const SiteRunTotals& totals,
                 JsonLinesWriter* lines)
{
    PrintLine(stderr, FormatMessage(Tr(format), {QString::number(totals.done),
                                                 QString::number(totals.passedOver),
                                                 QString::number(totals.failed)}));
    if (lines) {
        lines->WriteTotals({{doneName, totals.done},
                            {"passed-over", totals.passedOver},
                            {"failed", totals.failed}});
        lines->Finish();
    }
    return totals.failed > 0 ? 1 : 0;
}

} // namespace

int SecureCommand(const QStringList& arguments)
{
    const SiteOptions o = ParseSiteArguments(arguments, true);
    SettingsStore store = SettingsStore::OpenProductKey();
    ProtectionEngine engine;
    engine.settings = EffectiveSettings(false, o.settingsFile, o.level, store);
    engine.SetProtectionParts(o.parts);
    // As for a single page: the optimisation runs when it is asked for.
    engine.OptimiseActive = o.parts.testFlag(partOptimise);
    const QString filter = o.filterGiven ? o.filter : StoredFileFilter(store);
    const std::unique_ptr<JsonLinesWriter> lines = OpenReport(o);
    const SiteWorkList files = GatherSitePaths(o.paths, filter);
    PrintedReport report(true, ListsDryRun(o), lines.get());
    const SiteRunTotals totals = SecureSite(files, engine, o.run, report);
    report.ClearProgress();
    // A dry run changed nothing, so its summary says what would have been done.
    return PrintSummary(o.run.dryRun ? "%d would be secured, %d passed over, %d failed"
                                     : "%d secured, %d passed over, %d failed",
                        "secured", totals, lines.get());
}

int RestoreCommand(const QStringList& arguments)
{
    const SiteOptions o = ParseSiteArguments(arguments, false);
    SettingsStore store = SettingsStore::OpenProductKey();
    const QString filter = o.filterGiven ? o.filter : StoredFileFilter(store);
    const std::unique_ptr<JsonLinesWriter> lines = OpenReport(o);
    const SiteWorkList files = GatherSitePaths(o.paths, filter);
    PrintedReport report(false, ListsDryRun(o), lines.get());
    const SiteRunTotals totals = RestoreSite(files, o.run, report);
    report.ClearProgress();
    return PrintSummary(o.run.dryRun ? "%d would be restored, %d passed over, %d failed"
                                     : "%d restored, %d passed over, %d failed",
                        "restored", totals, lines.get());
}

} // namespace kestrix
