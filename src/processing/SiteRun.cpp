#include "processing/SiteRun.h"

#include "platform/AtomicFile.h"
#include "platform/Errors.h"
#include "platform/FileAttributes.h"
#include "platform/MessageFormat.h"
#include "processing/FolderScan.h"
#include "protection/SecurePage.h"
#include "support/Translation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <thread>

namespace kestrix {

namespace {

// Files handled together: their backups are written and pushed to disk
// before any of their files is replaced.
constexpr int chunkSize = 64;

class CollectedMessages : public MessageList
{
public:
    explicit CollectedMessages(std::vector<ProgressMessage>& rows) : rows_(rows) {}
    void AddError(const QString& text) override { rows_.push_back({text, ProgressMessage::Error}); }
    void AddNote(const QString& text) override { rows_.push_back({text, ProgressMessage::Note}); }

private:
    std::vector<ProgressMessage>& rows_;
};

// The command line asks nothing: problems are listed as after Yes to All,
// and an already secured page is passed over with a note unless asked to
// secure it again.
class CommandLineAnswers : public SecuringQuestions
{
public:
    CommandLineAnswers(bool again, MessageList& messages) : again_(again), messages_(messages) {}
    bool AskContinue(const QString&) override { return true; }
    bool AskSecureAgain(const QString& path) override
    {
        if (!again_)
            messages_.AddNote(AlreadySecuredNote(path));
        return again_;
    }

private:
    bool again_;
    MessageList& messages_;
};

bool ReportMissing(const QString& path, MessageList& messages)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0)
        return false;
    messages.AddError(FormatMessage(Tr("File %s does not exist"), {path}));
    return true;
}

void Count(SiteRunTotals& totals, FileOutcome outcome)
{
    switch (outcome) {
    case FileOutcome::Ready:
    case FileOutcome::Secured:
    case FileOutcome::Restored:
        ++totals.done;
        break;
    case FileOutcome::Failed:
        ++totals.failed;
        break;
    case FileOutcome::NotAFile:
    case FileOutcome::PassedOver:
        ++totals.passedOver;
        break;
    }
}

// Works on the list in chunks, `jobs` chunks at a time, and reports each
// result on this thread in list order.
SiteRunTotals RunInOrder(const QStringList& files, int jobs,
                         const std::function<void(std::vector<SiteFileResult>&, int, int)>& work,
                         SiteRunReport& report)
{
    const int count = int(files.size());
    std::vector<SiteFileResult> results(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        results[size_t(i)].path = files[i];
    SiteRunTotals totals;
    auto deliver = [&](int i) {
        Count(totals, results[size_t(i)].outcome);
        report.FileDone(i, count, results[size_t(i)]);
        // Delivered results are not needed again.
        results[size_t(i)].messages.clear();
        results[size_t(i)].messages.shrink_to_fit();
    };
    const int chunks = (count + chunkSize - 1) / chunkSize;
    jobs = std::clamp(jobs, 1, std::max(1, chunks));
    if (jobs == 1) {
        for (int begin = 0; begin < count; begin += chunkSize) {
            const int end = std::min(count, begin + chunkSize);
            work(results, begin, end);
            for (int i = begin; i < end; ++i)
                deliver(i);
        }
        return totals;
    }

    std::mutex mutex;
    std::condition_variable doneChanged;
    std::vector<char> chunkDone(size_t(chunks), 0);
    std::atomic<int> nextChunk{0};
    std::exception_ptr error;
    std::vector<std::thread> workers;
    for (int j = 0; j < jobs; ++j) {
        workers.emplace_back([&] {
            for (;;) {
                const int chunk = nextChunk.fetch_add(1);
                if (chunk >= chunks)
                    return;
                try {
                    work(results, chunk * chunkSize, std::min(count, (chunk + 1) * chunkSize));
                } catch (...) {
                    std::lock_guard lock(mutex);
                    if (!error)
                        error = std::current_exception();
                    nextChunk = chunks; // the others stop at their next chunk
                }
                {
                    std::lock_guard lock(mutex);
                    chunkDone[size_t(chunk)] = 1;
                }
                doneChanged.notify_all();
            }
        });
    }
    for (int chunk = 0; chunk < chunks; ++chunk) {
        {
            std::unique_lock lock(mutex);
            doneChanged.wait(lock, [&] { return chunkDone[size_t(chunk)] != 0 || error; });
            if (error)
                break;
        }
        for (int i = chunk * chunkSize; i < std::min(count, (chunk + 1) * chunkSize); ++i)
            deliver(i);
    }
    for (std::thread& worker : workers)
        worker.join();
    if (error)
        std::rethrow_exception(error);
    return totals;
}

QString FolderOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash > 0 ? path.left(slash) : QStringLiteral("/");
}

} // namespace

QStringList GatherSitePaths(const QStringList& paths, const QString& filter)
{
    QStringList gathered;
    for (const QString& path : paths) {
        if (IsFolder(path))
            ScanForFiles(QDir::cleanPath(QFileInfo(path).absoluteFilePath()), filter, gathered);
        else
            gathered.append(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    }
    // Each file once: the same device and inode is the same file, whatever
    // path leads to it; a path that does not exist is known by its name.
    QStringList unique;
    unique.reserve(gathered.size());
    std::set<std::pair<dev_t, ino_t>> seenFiles;
    std::set<QString> seenNames;
    for (const QString& path : std::as_const(gathered)) {
        struct stat st;
        const bool known = ::stat(QFile::encodeName(path).constData(), &st) == 0
                               ? seenFiles.insert({st.st_dev, st.st_ino}).second
                               : seenNames.insert(path).second;
        if (known)
            unique.append(path);
    }
    return unique;
}

SiteRunTotals SecureSite(const QStringList& files, const ProtectionEngine& engine,
                         const SiteRunOptions& options, SiteRunReport& report)
{
    auto work = [&](std::vector<SiteFileResult>& results, int begin, int end) {
        std::vector<SecuringFile> prepared(size_t(end - begin));
        bool anyReady = false;
        for (int i = begin; i < end; ++i) {
            SiteFileResult& result = results[size_t(i)];
            SecuringFile& file = prepared[size_t(i - begin)];
            CollectedMessages messages(result.messages);
            file.path = result.path;
            file.outcome = FileOutcome::Failed;
            if (ReportMissing(result.path, messages))
                continue;
            try {
                CommandLineAnswers answers(options.again, messages);
                file = PrepareSecuring(result.path, engine, messages, answers);
            } catch (const Failure& failure) {
                messages.AddError(QString::fromStdString(failure.what()));
                file.outcome = FileOutcome::Failed;
            }
            if (!options.dryRun)
                WriteBackup(file, messages, WriteDurability::Deferred);
            anyReady = anyReady || file.outcome == FileOutcome::Ready;
        }
        // The backups reach the disk before any file they keep is replaced.
        if (anyReady && !options.dryRun)
            SyncFileSystemOf(FolderOf(results[size_t(begin)].path));
        for (int i = begin; i < end; ++i) {
            SiteFileResult& result = results[size_t(i)];
            SecuringFile& file = prepared[size_t(i - begin)];
            if (!options.dryRun) {
                CollectedMessages messages(result.messages);
                WriteSecured(file, messages, WriteDurability::Deferred);
            }
            result.outcome = file.outcome;
            file = SecuringFile{};
        }
    };
    const SiteRunTotals totals = RunInOrder(files, options.jobs, work, report);
    if (!options.dryRun && !files.isEmpty())
        SyncFileSystemOf(FolderOf(files.front()));
    return totals;
}

SiteRunTotals RestoreSite(const QStringList& files, const SiteRunOptions& options,
                          SiteRunReport& report)
{
    auto work = [&](std::vector<SiteFileResult>& results, int begin, int end) {
        for (int i = begin; i < end; ++i) {
            SiteFileResult& result = results[size_t(i)];
            CollectedMessages messages(result.messages);
            if (ReportMissing(result.path, messages)) {
                result.outcome = FileOutcome::Failed;
                continue;
            }
            try {
                result.outcome = RestoreOneFile(result.path, messages, options.dryRun);
            } catch (const Failure& failure) {
                messages.AddError(QString::fromStdString(failure.what()));
                result.outcome = FileOutcome::Failed;
            }
        }
    };
    return RunInOrder(files, options.jobs, work, report);
}

} // namespace kestrix
