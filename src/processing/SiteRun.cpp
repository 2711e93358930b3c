#include "processing/SiteRun.h"

#include "platform/AtomicFile.h"
#include "platform/Errors.h"
#include "platform/FileAttributes.h"
#include "platform/MessageFormat.h"
#include "processing/FolderScan.h"
#include "protection/PageDecoder.h"
#include "protection/SecurePage.h"
#include "support/Translation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <tuple>

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
    QString MissingFileMessage(const QString& path) override { return MissingFileError(path); }

private:
    bool again_;
    MessageList& messages_;
};

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
    for (int i = 0; i < count; ++i) {
        results[size_t(i)].path = WorkListProblemPath(files[i]);
        results[size_t(i)].nativePath = WorkListProblemNativePath(files[i]);
    }
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

// Consecutive files of one folder in a chunk, with the folder opened once.
struct FolderGroup
{
    int begin = 0;
    int end = 0;
    std::unique_ptr<PageFolder> folder;
    bool lockable = false;
};

std::vector<FolderGroup> GroupByFolder(const SiteWorkList& work, int begin, int end)
{
    std::vector<FolderGroup> groups;
    QString current;
    for (int i = begin; i < end; ++i) {
        const QString& path = work.files[i];
        const QString folder = FolderOfPath(WorkListProblemPath(path));
        if (groups.empty() || folder != current || IsWorkListProblem(path) ||
            IsWorkListProblem(work.files[i - 1])) {
            FolderGroup group;
            group.begin = i;
            const QString root = i < work.roots.size() ? work.roots[i] : QString();
            group.lockable = !IsWorkListProblem(path);
            group.folder = std::make_unique<PageFolder>(group.lockable ? folder : QString(),
                                                        group.lockable ? root : QString());
            groups.push_back(std::move(group));
            current = folder;
        }
        groups.back().end = i + 1;
    }
    return groups;
}

// The file systems a run wrote to, by a folder on each: every one is
// flushed again when the run ends, for the pages replaced last.
class TouchedFileSystems
{
public:
    void Add(const PageFolder& folder)
    {
        std::lock_guard lock(mutex_);
        folders_.emplace(folder.Handle().Status().device, folder.Path());
    }
    void SyncAll() const
    {
        for (const auto& [device, path] : folders_)
            SyncFileSystemOf(path);
    }

private:
    std::mutex mutex_;
    std::map<dev_t, QString> folders_;
};

} // namespace

SiteWorkList::SiteWorkList(const QStringList& list) : files(list)
{
}

SiteWorkList GatherSitePaths(const QStringList& paths, const QString& filter)
{
    SiteWorkList gathered;
    for (const QString& path : paths) {
        const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
        const qsizetype before = gathered.files.size();
        if (IsFolder(absolute)) {
            ScanForFiles(absolute, filter, gathered.files);
            for (qsizetype i = before; i < gathered.files.size(); ++i)
                gathered.roots.append(absolute);
        } else {
            gathered.files.append(absolute);
            gathered.roots.append(FolderOfPath(absolute));
        }
    }
    // Each file once: the same name in the same folder (known by device and
    // inode, whatever path leads to it) is the same file. Two names of one
    // file are two files: each is replaced, and gets a backup, on its own.
    SiteWorkList unique;
    unique.files.reserve(gathered.files.size());
    unique.roots.reserve(gathered.files.size());
    std::map<QString, std::pair<dev_t, ino_t>> folders;
    std::set<std::tuple<dev_t, ino_t, QString>> seenFiles;
    std::set<QString> seenNames;
    for (qsizetype i = 0; i < gathered.files.size(); ++i) {
        const QString& path = gathered.files[i];
        const QString folder = FolderOfPath(path);
        auto known = folders.find(folder);
        if (known == folders.end() && !IsWorkListProblem(path)) {
            struct stat st;
            const bool exists = ::stat(QFile::encodeName(folder).constData(), &st) == 0;
            known = folders
                        .emplace(folder, exists ? std::pair{st.st_dev, st.st_ino}
                                                : std::pair{dev_t(0), ino_t(0)})
                        .first;
        }
        const bool first =
            known != folders.end() && known->second.second != 0
                ? seenFiles.insert({known->second.first, known->second.second, NameOfPath(path)})
                      .second
                : seenNames.insert(path).second;
        if (first) {
            unique.files.append(path);
            unique.roots.append(gathered.roots[i]);
        }
    }
    return unique;
}

void CheckSecuredText(SecuringFile& file, DecodedPage& decoded, MessageList& messages)
{
    const DecodeProblem unreadable = DecodeSecuredPage(file.secured, decoded);
    const VerifyProblem mismatch = unreadable == DecodeProblem::None
                                       ? VerifyAgainstOriginal(decoded, file.original)
                                       : VerifyProblem::None;
    if (unreadable == DecodeProblem::None && mismatch == VerifyProblem::None)
        return;
    const char* reason = unreadable != DecodeProblem::None ? DecodeProblemText(unreadable)
                                                           : VerifyProblemText(mismatch);
    messages.AddError(FormatMessage(Tr("%s: The secured page does not read back to the page it "
                                       "was made from, and the file was left as it is. %s"),
                                    {file.path, Tr(reason)}));
    file.outcome = FileOutcome::Failed;
    file.secured.clear();
}

SiteRunTotals SecureSite(const SiteWorkList& list, const ProtectionEngine& engine,
                         const SiteRunOptions& options, SiteRunReport& report)
{
    TouchedFileSystems touched;
    const int level = engine.parts.testFlag(partEncrypt) ? engine.settings.StrengthLevel : -1;
    // The check's buffers, handed from chunk to chunk so that each job
    // reuses grown ones instead of making new ones for every chunk.
    std::mutex spareMutex;
    std::vector<std::unique_ptr<DecodedPage>> spare;
    auto work = [&](std::vector<SiteFileResult>& results, int begin, int end) {
        std::vector<SecuringFile> prepared(size_t(end - begin));
        std::unique_ptr<DecodedPage> decoded;
        if (options.verify) {
            std::lock_guard lock(spareMutex);
            if (spare.empty()) {
                decoded = std::make_unique<DecodedPage>();
            } else {
                decoded = std::move(spare.back());
                spare.pop_back();
            }
        }
        std::vector<FolderGroup> groups = GroupByFolder(list, begin, end);
        // Checked, read, secured in memory and backed up, a folder at a
        // time under its lock.
        for (FolderGroup& group : groups) {
            PageFolder& folder = *group.folder;
            if (group.lockable && folder.IsOpen())
                folder.Lock();
            for (int i = group.begin; i < group.end; ++i) {
                SiteFileResult& result = results[size_t(i)];
                SecuringFile& file = prepared[size_t(i - begin)];
                CollectedMessages messages(result.messages);
                CommandLineAnswers answers(options.again, messages);
                try {
                    file = PrepareSecuring(list.files[i], folder, engine, messages, answers);
                } catch (const Failure& failure) {
                    messages.AddError(QString::fromStdString(failure.what()));
                    file.path = result.path;
                    file.outcome = FileOutcome::Failed;
                }
                if (file.outcome == FileOutcome::Ready) {
                    result.bytesBefore = qint64(file.original.size());
                    if (options.alterSecuredText)
                        options.alterSecuredText(file.secured);
                    if (options.verify)
                        CheckSecuredText(file, *decoded, messages);
                }
                if (file.outcome == FileOutcome::Ready) {
                    result.bytesAfter = qint64(file.secured.size());
                    result.level = level;
                    result.parts = int(engine.parts);
                }
                if (!options.dryRun)
                    WriteBackup(file, folder, messages, WriteDurability::Deferred);
            }
            folder.Unlock();
        }
        if (decoded) {
            std::lock_guard lock(spareMutex);
            spare.push_back(std::move(decoded));
        }
        if (options.dryRun) {
            for (int i = begin; i < end; ++i)
                results[size_t(i)].outcome = prepared[size_t(i - begin)].outcome;
            return;
        }
        // The backups and their folders reach the disk, on every file system
        // they lie on, before any file they keep is replaced.
        std::set<dev_t> synced;
        for (FolderGroup& group : groups) {
            bool anyReady = false;
            for (int i = group.begin; i < group.end; ++i)
                anyReady = anyReady || prepared[size_t(i - begin)].outcome == FileOutcome::Ready;
            int error = 0;
            const Folder* backup = anyReady ? group.folder->Backup(false, error) : nullptr;
            if (backup && synced.insert(backup->Status().device).second)
                backup->SyncFileSystem();
            if (anyReady)
                touched.Add(*group.folder);
        }
        // Replaced under the lock again, each only while it is still the
        // file that was read and backed up.
        for (FolderGroup& group : groups) {
            PageFolder& folder = *group.folder;
            if (group.lockable && folder.IsOpen())
                folder.Lock();
            for (int i = group.begin; i < group.end; ++i) {
                SiteFileResult& result = results[size_t(i)];
                SecuringFile& file = prepared[size_t(i - begin)];
                CollectedMessages messages(result.messages);
                WriteSecured(file, folder, messages, WriteDurability::Deferred);
                result.outcome = file.outcome;
                if (file.outcome != FileOutcome::Secured)
                    result.bytesAfter = result.level = result.parts = -1;
                file = SecuringFile{};
            }
            folder.Unlock();
        }
    };
    const SiteRunTotals totals = RunInOrder(list.files, options.jobs, work, report);
    touched.SyncAll();
    return totals;
}

SiteRunTotals RestoreSite(const SiteWorkList& list, const SiteRunOptions& options,
                          SiteRunReport& report)
{
    auto work = [&](std::vector<SiteFileResult>& results, int begin, int end) {
        for (FolderGroup& group : GroupByFolder(list, begin, end)) {
            PageFolder& folder = *group.folder;
            if (group.lockable && folder.IsOpen())
                folder.Lock();
            for (int i = group.begin; i < group.end; ++i) {
                SiteFileResult& result = results[size_t(i)];
                CollectedMessages messages(result.messages);
                try {
                    FileSizes sizes;
                    result.outcome = RestoreFileIn(list.files[i], folder, messages, options.dryRun,
                                                   true, &sizes);
                    result.bytesBefore = sizes.before;
                    result.bytesAfter = sizes.after;
                } catch (const Failure& failure) {
                    messages.AddError(QString::fromStdString(failure.what()));
                    result.outcome = FileOutcome::Failed;
                }
            }
            folder.Unlock();
        }
    };
    return RunInOrder(list.files, options.jobs, work, report);
}

} // namespace kestrix
