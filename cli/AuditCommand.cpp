// kestrix-cli audit: every file of a tree to be published that holds the
// clear text of a page secured in it.
#include "TrustCommands.h"

#include "CommandLine.h"
#include "RegularFile.h"
#include "platform/Errors.h"
#include "platform/MessageFormat.h"
#include "processing/Backup.h"
#include "processing/SiteBuild.h"
#include "protection/ClearText.h"
#include "protection/PageDecoder.h"
#include "protection/SecurePage.h"
#include "support/Translation.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

namespace kestrix {

namespace {

void PrintLine(const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fputs("\n", stdout);
}

struct AuditFile
{
    std::string path; // the folder given, then the names below it, as bytes
    bool inBackupFolder = false;
    // Filled by the first pass.
    int page = -1;       // its own index, when it is a secured page read back
    int backupOf = -1;   // the page whose clear text it was read as
    std::u32string scan; // a secured page's text outside its content element
    QString problem;     // why it could not be read
};

// A name below a folder, as the walk names it.
std::string Join(std::string_view folder, std::string_view name)
{
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path += folder;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    return path;
}

// Lists the regular files below a folder, and its backup folders that hold
// any, reached by descriptor: links are not followed and special files are
// passed over. Files are listed in the order the folders give them, each
// folder's files and folders as they come.
class TreeWalk
{
public:
    TreeWalk(std::vector<AuditFile>& files, std::vector<std::string>& backupFolders)
        : files_(files), backupFolders_(backupFolders),
          backupName_(QFile::encodeName(BackupFolderName()).toStdString())
    {
    }

    bool Walk(const QString& folder)
    {
        const std::string path = QFile::encodeName(QDir::cleanPath(folder)).toStdString();
        const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return false;
        WalkFolder(fd, path, false);
        return true;
    }

private:
    // Takes over `fd`. Returns the number of files found below.
    size_t WalkFolder(int fd, const std::string& path, bool inBackup)
    {
        DIR* dir = ::fdopendir(fd);
        if (!dir) {
            ::close(fd);
            return 0;
        }
        size_t found = 0;
        while (const dirent* entry = ::readdir(dir)) {
            const char* name = entry->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
                continue;
            // The entry's type as the folder gives it; asked of the file
            // system (not through a link) only where the folder does not.
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) {
                struct stat st;
                if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                type = S_ISREG(st.st_mode) ? DT_REG : S_ISDIR(st.st_mode) ? DT_DIR : DT_UNKNOWN;
            }
            // The build state of an output folder holds no text of any page.
            if (type == DT_REG && std::strcmp(name, buildStateName) == 0)
                continue;
            if (type == DT_REG) {
                AuditFile file;
                file.path = Join(path, name);
                file.inBackupFolder = inBackup;
                files_.push_back(std::move(file));
                ++found;
            } else if (type == DT_DIR) {
                const int sub = ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (sub < 0)
                    continue;
                const bool backup = name == backupName_;
                const std::string child = Join(path, name);
                const size_t below = WalkFolder(sub, child, inBackup || backup);
                found += below;
                if (backup && !inBackup && below > 0)
                    backupFolders_.push_back(child);
            }
        }
        ::closedir(dir);
        return found;
    }

    std::vector<AuditFile>& files_;
    std::vector<std::string>& backupFolders_;
    std::string backupName_;
};

// What one worker reads into, used again from file to file, so that the
// room of the largest file is made once and never cleared.
struct Scratch
{
    UninitialisedBuffer<char> bytes;
    UninitialisedBuffer<char> backup;
    std::string outside;
    ClearTextBuffer text;
    DecodedPage decoded;
};

// Runs `work(i, worker)` over the indices 0 to count - 1 in `jobs` workers
// (numbered from 0).
void InParallel(size_t count, size_t jobs, const std::function<void(size_t, size_t)>& work)
{
    std::atomic<size_t> next{0};
    auto run = [&](size_t worker) {
        for (size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < count;)
            work(i, worker);
    };
    std::vector<std::thread> workers;
    for (size_t j = 1; j < jobs; ++j)
        workers.emplace_back(run, j);
    run(0);
    for (std::thread& worker : workers)
        worker.join();
}

// A secured page's text with its content element (the scrambled part)
// left out: the head, the access script and the tail stay in clear.
std::u32string TextOutsideContent(const DecodedPage& decoded, Scratch& room)
{
    std::string& outside = room.outside;
    outside.clear();
    outside += decoded.head;
    outside += decoded.scriptElement;
    outside += decoded.tail;
    NormalisedFileText(outside, room.text);
    return std::u32string(room.text.data(), room.text.size());
}

// Where securing keeps the backup of a page.
std::string BackupPathOf(const std::string& page, const std::string& backupName)
{
    const size_t slash = page.rfind('/');
    // A bare name lies in the current folder.
    const std::string folder =
        slash == std::string::npos ? std::string(".") : page.substr(0, slash);
    return Join(Join(folder, backupName), page.substr(slash + 1));
}

} // namespace

int AuditCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption minChars(QStringLiteral("min-chars"), QString(), QStringLiteral("N"));
    parser.addOption(minChars);
    if (!parser.parse(arguments))
        throw UsageError{parser.errorText().toStdString()};
    const QStringList folders = parser.positionalArguments();
    if (folders.isEmpty())
        throw UsageError{"no DIR given"};
    size_t min = 40;
    if (parser.isSet(minChars)) {
        bool ok = false;
        const int n = parser.value(minChars).toInt(&ok);
        // Below ten characters, common words and spaces match in every
        // file, so the result says nothing and the matches grow with the
        // square of the text: such a run is refused rather than left to
        // run for hours.
        if (!ok || n < 10)
            throw UsageError{"--min-chars takes a number of at least 10"};
        min = size_t(n);
    }

    std::vector<AuditFile> files;
    std::vector<std::string> backupFolders;
    TreeWalk walk(files, backupFolders);
    for (const QString& folder : folders) {
        if (!walk.Walk(folder))
            throw Failure(Message("Folder %s does not exist", {folder}).toStdString());
    }
    const auto fileName = [&](size_t i) { return QFile::decodeName(files[i].path.c_str()); };

    // First pass: the secured pages and their clear text, from the backup
    // where there is one, else read back from the page itself, added to the
    // index by each worker in its own part.
    const size_t jobs =
        std::max<size_t>(1, std::min<size_t>(size_t(QThread::idealThreadCount()), files.size()));
    std::vector<Scratch> scratch(jobs);
    ClearTextIndex index(min);
    std::vector<ClearTextIndex::Part> parts;
    for (size_t j = 0; j < jobs; ++j)
        parts.push_back(index.NewPart());
    // The files of backup folders, by path: only a page whose backup the
    // walk found has its backup read.
    const std::string backupName = QFile::encodeName(BackupFolderName()).toStdString();
    std::unordered_map<std::string_view, size_t> backupFiles;
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i].inBackupFolder)
            backupFiles.emplace(files[i].path, i);
    }
    InParallel(files.size(), jobs, [&](size_t i, size_t worker) {
        AuditFile& file = files[i];
        if (file.inBackupFolder)
            return;
        Scratch& room = scratch[worker];
        if (const int error = ReadRegularFile(file.path.c_str(), room.bytes)) {
            file.problem = ReadFailure(fileName(i), error);
            return;
        }
        const std::string_view bytes(room.bytes.data(), room.bytes.size());
        if (!IsSecuredPage(bytes))
            return;
        // With a backup the loaders need not be undone: the layout
        // tells what of the page stands in clear.
        DecodedPage& decoded = room.decoded;
        auto backup = backupFiles.end();
        if (!backupFiles.empty())
            backup = backupFiles.find(BackupPathOf(file.path, backupName));
        const bool haveBackup =
            backup != backupFiles.end() &&
            ReadRegularFile(files[backup->second].path.c_str(), room.backup) == 0;
        if ((haveBackup ? ReadSecuredLayout(bytes, decoded)
                        : DecodeSecuredPage(bytes, decoded, true)) != DecodeProblem::None)
            return; // searched whole, like any other file
        file.page = int(i);
        file.scan = TextOutsideContent(decoded, room);
        if (haveBackup) {
            VisibleBodyText({room.backup.data(), room.backup.size()}, room.text);
            files[backup->second].backupOf = int(i);
        } else {
            NormaliseClearText(decoded.Content(), room.text);
        }
        parts[worker].AddPage(int(i), {room.text.data(), room.text.size()});
    });
    index.Finish(parts);

    // Second pass: every file searched for the pages' text. A backup read
    // as a page's clear text holds it whole.
    std::vector<std::vector<int>> leaks(files.size());
    InParallel(files.size(), jobs, [&](size_t i, size_t worker) {
        AuditFile& file = files[i];
        if (file.backupOf >= 0) {
            leaks[i] = {file.backupOf};
            return;
        }
        if (file.page >= 0) {
            leaks[i] = index.FindLeaks(file.scan);
            return;
        }
        if (!file.problem.isEmpty())
            return;
        Scratch& room = scratch[worker];
        if (const int error = ReadRegularFile(file.path.c_str(), room.bytes)) {
            file.problem = ReadFailure(fileName(i), error);
            return;
        }
        NormalisedFileText({room.bytes.data(), room.bytes.size()}, room.text);
        leaks[i] = index.FindLeaks({room.text.data(), room.text.size()});
    });

    int leaking = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        if (!files[i].problem.isEmpty())
            PrintError(files[i].problem);
        if (leaks[i].empty())
            continue;
        ++leaking;
        const QString path = fileName(i);
        const QString page = fileName(size_t(leaks[i].front()));
        if (leaks[i].size() == 1)
            PrintLine(FormatMessage(Tr("%s holds the clear text of %s"), {path, page}));
        else if (leaks[i].size() == 2)
            PrintLine(FormatMessage(Tr("%s holds the clear text of %s and of one other page"),
                                    {path, page}));
        else
            PrintLine(FormatMessage(Tr("%s holds the clear text of %s and of %d other pages"),
                                    {path, page, QString::number(leaks[i].size() - 1)}));
    }
    for (const std::string& folder : backupFolders)
        PrintLine(FormatMessage(Tr("%s is a backup folder: it holds the pages beside it as they "
                                   "were before securing."),
                                {QFile::decodeName(folder.c_str())}));
    std::fflush(stdout);
    return leaking > 0 || !backupFolders.empty() ? 1 : 0;
}

} // namespace kestrix
