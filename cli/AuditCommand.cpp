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
#include <QFileInfo>
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
    QString path;
    bool inBackupFolder = false;
    // Filled by the first pass.
    int page = -1;       // its index among the secured pages, when it is one
    int backupOf = -1;   // the page whose clear text it was read as
    std::u32string scan; // a secured page's text outside its content element
    QString problem;     // why it could not be read
};

struct PageClearText
{
    int file; // index into the files
    std::u32string clearText;
};

// Lists the regular files below a folder, and its backup folders that hold
// any, reached by descriptor: links are not followed and special files are
// passed over.
class TreeWalk
{
public:
    TreeWalk(std::vector<AuditFile>& files, std::vector<QString>& backupFolders)
        : files_(files), backupFolders_(backupFolders), backupName_(BackupFolderName())
    {
    }

    bool Walk(const QString& folder)
    {
        const int fd =
            ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return false;
        WalkFolder(fd, QDir::cleanPath(folder), false);
        return true;
    }

private:
    // Takes over `fd`. Returns the number of files found below.
    size_t WalkFolder(int fd, const QString& path, bool inBackup)
    {
        DIR* dir = ::fdopendir(fd);
        if (!dir) {
            ::close(fd);
            return 0;
        }
        size_t found = 0;
        std::vector<std::pair<QString, int>> folders;
        while (const dirent* entry = ::readdir(dir)) {
            const char* name = entry->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
                continue;
            struct stat st;
            if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            const QString child = path + QLatin1Char('/') + QFile::decodeName(name);
            // The build state of an output folder holds no text of any page.
            if (S_ISREG(st.st_mode) && std::strcmp(name, buildStateName) == 0)
                continue;
            if (S_ISREG(st.st_mode)) {
                AuditFile file;
                file.path = child;
                file.inBackupFolder = inBackup;
                files_.push_back(std::move(file));
                ++found;
            } else if (S_ISDIR(st.st_mode)) {
                const int sub = ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (sub < 0)
                    continue;
                const bool backup = QFile::decodeName(name) == backupName_;
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
    std::vector<QString>& backupFolders_;
    QString backupName_;
};

// What one worker reads into, used again from file to file, so that the
// room of the largest file is made once.
struct Scratch
{
    std::string bytes;
    std::string backup;
    ClearTextBuffer text;
    DecodedPage decoded;
};

// Runs `work` over the indices 0 to count - 1 on every core, each worker
// with its own scratch room.
void InParallel(size_t count, std::vector<Scratch>& scratch,
                const std::function<void(size_t, Scratch&)>& work)
{
    std::atomic<size_t> next{0};
    auto run = [&](Scratch& room) {
        for (size_t i; (i = next.fetch_add(1)) < count;)
            work(i, room);
    };
    const int jobs = std::max(1, std::min(QThread::idealThreadCount(), int(count)));
    scratch.resize(size_t(jobs));
    std::vector<std::thread> workers;
    for (int j = 1; j < jobs; ++j)
        workers.emplace_back(run, std::ref(scratch[size_t(j)]));
    run(scratch[0]);
    for (std::thread& worker : workers)
        worker.join();
}

// A secured page's text with its content element (the scrambled part)
// left out: the head, the access script and the tail stay in clear.
std::u32string TextOutsideContent(const DecodedPage& decoded)
{
    std::string outside;
    outside.reserve(decoded.head.size() + decoded.tail.size() + decoded.scriptElement.size());
    outside += decoded.head;
    outside += decoded.scriptElement;
    outside += decoded.tail;
    return NormalisedFileText(outside);
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
        if (!ok || n < 1)
            throw UsageError{"--min-chars takes a number of at least 1"};
        min = size_t(n);
    }

    std::vector<AuditFile> files;
    std::vector<QString> backupFolders;
    TreeWalk walk(files, backupFolders);
    for (const QString& folder : folders) {
        if (!walk.Walk(folder))
            throw Failure(Message("Folder %s does not exist", {folder}).toStdString());
    }

    // First pass: the secured pages and their clear text, from the backup
    // where there is one, else read back from the page itself.
    std::vector<PageClearText> pages(files.size());
    std::vector<QString> backupPaths(files.size());
    std::vector<Scratch> scratch;
    InParallel(files.size(), scratch, [&](size_t i, Scratch& room) {
        AuditFile& file = files[i];
        if (file.inBackupFolder)
            return;
        std::string& bytes = room.bytes;
        std::string& backup = room.backup;
        ClearTextBuffer& text = room.text;
        if (const int error = ReadRegularFile(file.path, bytes)) {
            file.problem = ReadFailure(file.path, error);
            return;
        }
        if (!IsSecuredPage(bytes))
            return;
        // With a backup the loaders need not be undone: the layout tells
        // what of the page stands in clear.
        DecodedPage& decoded = room.decoded;
        const QString backupPath = BackupPathFor(file.path);
        const bool haveBackup = ReadRegularFile(backupPath, backup) == 0;
        if ((haveBackup ? ReadSecuredLayout(bytes, decoded)
                        : DecodeSecuredPage(bytes, decoded, true)) != DecodeProblem::None)
            return; // searched whole, like any other file
        file.page = int(i);
        file.scan = TextOutsideContent(decoded);
        if (haveBackup) {
            VisibleBodyText(backup, text);
            pages[i].clearText.assign(text.begin(), text.end());
            backupPaths[i] = backupPath;
        } else {
            NormaliseClearText(decoded.Content(), text);
            pages[i].clearText.assign(text.begin(), text.end());
        }
        pages[i].file = int(i);
    });

    ClearTextIndex index(min);
    std::unordered_map<QString, int> backupOf;
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i].page < 0)
            continue;
        index.AddPage(int(i), std::move(pages[i].clearText));
        if (!backupPaths[i].isEmpty())
            backupOf.emplace(QDir::cleanPath(backupPaths[i]), int(i));
    }
    pages.clear();
    index.Finish();

    // Second pass: every file searched for the pages' text. A backup read
    // as a page's clear text holds it whole.
    std::vector<std::vector<int>> leaks(files.size());
    InParallel(files.size(), scratch, [&](size_t i, Scratch& room) {
        AuditFile& file = files[i];
        if (const auto source = backupOf.find(file.path); source != backupOf.end()) {
            leaks[i] = {source->second};
            return;
        }
        if (file.page >= 0) {
            leaks[i] = index.FindLeaks(file.scan);
            return;
        }
        if (!file.problem.isEmpty())
            return;
        std::string& bytes = room.bytes;
        ClearTextBuffer& text = room.text;
        if (const int error = ReadRegularFile(file.path, bytes)) {
            file.problem = ReadFailure(file.path, error);
            return;
        }
        NormalisedFileText(bytes, text);
        leaks[i] = index.FindLeaks({text.data(), text.size()});
    });

    int leaking = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        if (!files[i].problem.isEmpty())
            PrintError(files[i].problem);
        if (leaks[i].empty())
            continue;
        ++leaking;
        const QString page = files[size_t(leaks[i].front())].path;
        if (leaks[i].size() == 1)
            PrintLine(FormatMessage(Tr("%s holds the clear text of %s"), {files[i].path, page}));
        else if (leaks[i].size() == 2)
            PrintLine(FormatMessage(Tr("%s holds the clear text of %s and of one other page"),
                                    {files[i].path, page}));
        else
            PrintLine(FormatMessage(Tr("%s holds the clear text of %s and of %d other pages"),
                                    {files[i].path, page, QString::number(leaks[i].size() - 1)}));
    }
    for (const QString& folder : backupFolders)
        PrintLine(FormatMessage(Tr("%s is a backup folder: it holds the pages beside it as they "
                                   "were before securing."),
                                {folder}));
    std::fflush(stdout);
    return leaking > 0 || !backupFolders.empty() ? 1 : 0;
}

} // namespace kestrix
