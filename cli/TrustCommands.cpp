#include "TrustCommands.h"

#include "CommandLine.h"
#include "JsonLines.h"
#include "RegularFile.h"
#include "platform/AtomicFile.h"
#include "platform/Errors.h"
#include "platform/FileAttributes.h"
#include "platform/MessageFormat.h"
#include "processing/Backup.h"
#include "processing/FolderScan.h"
#include "processing/SiteRun.h"
#include "protection/PageDecoder.h"
#include "protection/SecurePage.h"
#include "support/SettingsStore.h"
#include "support/Translation.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kestrix {

namespace {

void PrintLine(FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputs("\n", stream);
}

QString Translated(const char* english)
{
    return Tr(english);
}

// The settings read back warn of optimisation: whether it ran is not kept.
void WarnOfOptimisation(const QString& path, const DecodedPage& decoded)
{
    if (AnyOptimisationSwitch(decoded.settings))
        PrintError(FormatMessage(
            Tr("Warning: %s was secured with optimisation switches on; if its markup was "
               "optimised, the recovered page differs from the original there."),
            {path}));
}

} // namespace

int RecoverCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption output(QStringLiteral("output"), QString(), QStringLiteral("FILE"));
    parser.addOption(output);
    if (!parser.parse(arguments))
        throw UsageError{parser.errorText().toStdString()};
    const QStringList names = parser.positionalArguments();
    if (names.isEmpty())
        throw UsageError{"no PAGE given"};
    if (names.size() > 1)
        throw UsageError{"unexpected argument: " + names[1].toStdString()};
    const QString name = names.first();

    const std::string page = ReadFile(name);
    DecodedPage decoded;
    const DecodeProblem problem = DecodeSecuredPage(page, decoded, true);
    if (problem != DecodeProblem::None) {
        PrintError(FormatMessage(Tr("%s cannot be recovered: %s"),
                                 {name, Translated(DecodeProblemText(problem))}));
        return 1;
    }
    std::string original;
    const RecoverProblem lost = RecoverOriginal(page, decoded, original);
    if (lost != RecoverProblem::None) {
        PrintError(FormatMessage(Tr("%s cannot be recovered: %s"),
                                 {name, Translated(RecoverProblemText(lost))}));
        return 1;
    }
    WarnOfOptimisation(name, decoded);
    if (decoded.earlierLayers > 0)
        PrintError(FormatMessage(Tr("Note: %s was secured more than once; the page recovered is "
                                    "the one before its first securing."),
                                 {name}));
    if (decoded.Content().find(u'\uFFFD') != std::u16string_view::npos)
        PrintError(FormatMessage(Tr("Warning: %s holds replacement characters; if its original "
                                    "held bytes its character set cannot read, those are lost."),
                                 {name}));
    if (parser.value(output).isEmpty()) {
        if (std::fwrite(original.data(), 1, original.size(), stdout) != original.size() ||
            std::fflush(stdout) != 0)
            throw Failure(
                Message("Unable to write %s", {QStringLiteral("standard output")}).toStdString());
    } else {
        WriteFileAtomically(parser.value(output), original);
    }
    return 0;
}

namespace {

// What verify found for one page.
struct VerifyResult
{
    enum Outcome { Verified, Mismatch, NoBackup, Failed, PassedOver };
    Outcome outcome = PassedOver;
    QString message;
    qint64 bytesBefore = -1; // the backup's (or source's) size
    qint64 bytesAfter = -1;  // the secured page's size
    int level = -1;
    int parts = -1;
};

const char* OutcomeName(VerifyResult::Outcome outcome)
{
    switch (outcome) {
    case VerifyResult::Verified:
        return "verified";
    case VerifyResult::Mismatch:
        return "mismatch";
    case VerifyResult::NoBackup:
        return "no-backup";
    case VerifyResult::Failed:
        return "failed";
    case VerifyResult::PassedOver:
        return "passed-over";
    }
    return "";
}

VerifyResult VerifyPage(const QString& path, const QString& relative, const QString& source)
{
    VerifyResult result;
    std::string page;
    if (const int error = ReadRegularFile(path, page)) {
        if (error == ELOOP) {
            result.message = ReadFailure(path, error);
            return result; // passed over, as secure passes links over
        }
        result.outcome = VerifyResult::Failed;
        result.message = ReadFailure(path, error);
        return result;
    }
    result.bytesAfter = qint64(page.size());
    if (!IsSecuredPage(page))
        return result;
    DecodedPage decoded;
    const DecodeProblem problem = DecodeSecuredPage(page, decoded);
    if (problem != DecodeProblem::None) {
        result.outcome = VerifyResult::Failed;
        result.message = FormatMessage(Tr("%s cannot be decoded: %s"),
                                       {path, Translated(DecodeProblemText(problem))});
        return result;
    }
    result.level = decoded.settings.StrengthLevel;
    result.parts = int(partEncrypt) + (decoded.scriptElement.empty() ? 0 : int(partLimitAccess));
    const QString originalPath =
        source.isEmpty() ? BackupPathFor(path) : QDir(source).filePath(relative);
    std::string original;
    if (const int error = ReadRegularFile(originalPath, original)) {
        if (error == ENOENT) {
            result.outcome = VerifyResult::NoBackup;
            result.message =
                FormatMessage(source.isEmpty() ? Tr("%s: No backup exists to verify it against.")
                                               : Tr("%s: Its source %s does not exist."),
                              {path, originalPath});
        } else {
            result.outcome = VerifyResult::Failed;
            result.message = ReadFailure(originalPath, error);
        }
        return result;
    }
    result.bytesBefore = qint64(original.size());
    const VerifyProblem mismatch = VerifyAgainstOriginal(decoded, original);
    if (mismatch != VerifyProblem::None) {
        result.outcome = VerifyResult::Mismatch;
        result.message =
            FormatMessage(Tr("%s does not match %s: %s"),
                          {path, originalPath, Translated(VerifyProblemText(mismatch))});
        return result;
    }
    result.outcome = VerifyResult::Verified;
    return result;
}

} // namespace

int VerifyCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption source(QStringLiteral("source"), QString(), QStringLiteral("SRC"));
    const QCommandLineOption filter(QStringLiteral("filter"), QString(), QStringLiteral("MASKS"));
    const QCommandLineOption report(QStringLiteral("report"), QString(), QStringLiteral("FILE"));
    parser.addOptions({source, filter, report});
    if (!parser.parse(arguments))
        throw UsageError{parser.errorText().toStdString()};
    const QStringList roots = parser.positionalArguments();
    if (roots.isEmpty())
        throw UsageError{"no PATH given"};
    const QString sourceFolder = parser.value(source);
    if (parser.isSet(source) && !IsFolder(sourceFolder))
        throw Failure(Message("Folder %s does not exist", {sourceFolder}).toStdString());
    QString masks = parser.value(filter);
    if (!parser.isSet(filter)) {
        const SettingsStore store = SettingsStore::OpenProductKey();
        masks = StoredFileFilter(store);
    }
    // Opened before the run, so that a report that cannot be written stops
    // it before any work.
    std::unique_ptr<JsonLinesWriter> lines;
    if (parser.isSet(report))
        lines = std::make_unique<JsonLinesWriter>(parser.value(report), roots);

    const SiteWorkList work = GatherSitePaths(roots, masks);
    const QStringList& files = work.files;
    const ReportRoots located(roots);

    // The pages are read and decoded in parallel; the lines come out in the
    // work list's order.
    const size_t count = size_t(files.size());
    std::vector<VerifyResult> results(count);
    std::vector<QString> relatives(count);
    for (size_t i = 0; i < count; ++i) {
        const QString path = WorkListProblemPath(files[qsizetype(i)]);
        relatives[i] = located.Relative(path, located.IndexOf(path));
    }
    std::atomic<size_t> next{0};
    auto verifyPages = [&] {
        for (size_t i; (i = next.fetch_add(1)) < count;) {
            const QString& entry = files[qsizetype(i)];
            if (IsWorkListProblem(entry)) {
                results[i].outcome = VerifyResult::Failed;
                results[i].message = WorkListProblemMessage(entry);
                continue;
            }
            results[i] = VerifyPage(entry, relatives[i], sourceFolder);
        }
    };
    const int jobs = std::max(1, std::min(QThread::idealThreadCount(), int(count)));
    std::vector<std::thread> workers;
    for (int j = 1; j < jobs; ++j)
        workers.emplace_back(verifyPages);
    verifyPages();
    for (std::thread& worker : workers)
        worker.join();

    int verified = 0, withoutBackup = 0, failed = 0, passedOver = 0;
    for (size_t i = 0; i < count; ++i) {
        const VerifyResult& r = results[i];
        switch (r.outcome) {
        case VerifyResult::Verified:
            ++verified;
            break;
        case VerifyResult::NoBackup:
            ++withoutBackup;
            break;
        case VerifyResult::Mismatch:
        case VerifyResult::Failed:
            ++failed;
            break;
        case VerifyResult::PassedOver:
            ++passedOver;
            break;
        }
        if (r.outcome != VerifyResult::Verified && !r.message.isEmpty())
            PrintLine(stderr, r.message);
        if (lines) {
            ReportEntry entry;
            entry.path = WorkListProblemPath(files[qsizetype(i)]);
            entry.nativePath = WorkListProblemNativePath(files[qsizetype(i)]);
            entry.outcome = OutcomeName(r.outcome);
            entry.message = r.message;
            entry.bytesBefore = r.bytesBefore;
            entry.bytesAfter = r.bytesAfter;
            entry.level = r.level;
            entry.parts = r.parts;
            lines->WriteFile(entry);
        }
    }
    PrintLine(stderr, FormatMessage(Tr("%d verified, %d without backup, %d failed"),
                                    {QString::number(verified), QString::number(withoutBackup),
                                     QString::number(failed)}));
    if (lines) {
        lines->WriteTotals({{"verified", verified},
                            {"no-backup", withoutBackup},
                            {"failed", failed},
                            {"passed-over", passedOver}});
        lines->Finish();
    }
    return failed == 0 && withoutBackup == 0 ? 0 : 1;
}

} // namespace kestrix
