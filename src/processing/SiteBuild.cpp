#include "processing/SiteBuild.h"

#include "platform/AtomicFile.h"
#include "platform/Errors.h"
#include "platform/FileAttributes.h"
#include "platform/FolderHandle.h"
#include "platform/MessageFormat.h"
#include "processing/Backup.h"
#include "processing/FileMask.h"
#include "processing/FileOperations.h"
#include "processing/SiteRun.h"
#include "protection/PageCharset.h"
#include "protection/PageDecoder.h"
#include "protection/SecurePage.h"
#include "support/Translation.h"
#include "support/VersionInfo.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <optional>
#include <unistd.h>

namespace kestrix {

namespace {

// What an entry of the output folder is, as the build state records it.
enum class Kind : char {
    Page = 'P',     // a page secured
    Copy = 'C',     // a file copied, or a page already secured copied as it is
    HardLink = 'H', // a further name of the source file
    Link = 'L',     // a symbolic link copied as a link
    Folder = 'D',   // a folder
};

bool IsFolderKind(Kind kind)
{
    return kind == Kind::Folder;
}

// One entry an earlier build wrote: what its source was (size, times and
// inode as the system tells them, a hash of its bytes or its link's target)
// and what was written (inode, size, modification time), so that a rebuild
// knows both whether the source changed and whether the output is still
// the one it wrote. No byte of any file's content is kept.
struct Record
{
    Kind kind = Kind::Copy;
    qint64 size = 0;
    timespec modified{};
    timespec changed{};
    quint64 inode = 0;
    QByteArray hash;          // "-" when none
    QByteArray configuration; // pages: BuildConfiguration; "-" otherwise
    quint64 outInode = 0;
    qint64 outSize = 0;
    timespec outModified{};
};

// By relative path, sorted, so that a folder comes before its entries.
using Records = std::map<QByteArray, Record>;

constexpr char stateHeader[] = "kestrix-build\t1\n";

bool SameTime(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool SameSource(const Record& record, const EntryStatus& source)
{
    return record.size == source.size && SameTime(record.modified, source.modified) &&
           SameTime(record.changed, source.changed) && record.inode == source.inode;
}

// The output entry is still the one this record's build wrote.
bool SameOutput(const Record& record, const EntryStatus& output)
{
    const bool link = record.kind == Kind::Link;
    const bool folder = record.kind == Kind::Folder;
    const EntryStatus::Type type = link     ? EntryStatus::Type::Link
                                   : folder ? EntryStatus::Type::Folder
                                            : EntryStatus::Type::Regular;
    if (output.type != type || output.inode != record.outInode)
        return false;
    return folder ||
           (output.size == record.outSize && SameTime(output.modified, record.outModified));
}

void SetSource(Record& record, const EntryStatus& source)
{
    record.size = source.size;
    record.modified = source.modified;
    record.changed = source.changed;
    record.inode = source.inode;
}

void SetOutput(Record& record, const EntryStatus& output)
{
    record.outInode = output.inode;
    record.outSize = output.size;
    record.outModified = output.modified;
}

QByteArray HashOf(std::string_view bytes)
{
    return QCryptographicHash::hash(QByteArrayView(bytes.data(), qsizetype(bytes.size())),
                                    QCryptographicHash::Sha256)
        .toHex()
        .left(32);
}

// Relative paths are bytes as the system has them; the few that would
// break a line of the state are written as %XX.
QByteArray EscapePath(const QByteArray& path)
{
    QByteArray out;
    out.reserve(path.size());
    for (const char c : path) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == '%')
            out += '%' + QByteArray::number(u, 16).rightJustified(2, '0');
        else
            out += c;
    }
    return out;
}

std::optional<QByteArray> UnescapePath(const QByteArray& text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        bool ok = false;
        const int value = text.mid(i + 1, 2).toInt(&ok, 16);
        if (!ok || i + 2 >= text.size())
            return std::nullopt;
        out += char(value);
        i += 2;
    }
    return out;
}

QByteArray TimeText(const timespec& time)
{
    return QByteArray::number(qint64(time.tv_sec)) + '.' +
           QByteArray::number(qint64(time.tv_nsec)).rightJustified(9, '0');
}

bool ParseTime(const QByteArray& text, timespec& time)
{
    const qsizetype dot = text.indexOf('.');
    if (dot < 0)
        return false;
    bool a = false, b = false;
    time.tv_sec = time_t(text.left(dot).toLongLong(&a));
    time.tv_nsec = long(text.mid(dot + 1).toLong(&b));
    return a && b && time.tv_nsec >= 0 && time.tv_nsec < 1000000000;
}

QByteArray StateText(const Records& records)
{
    QByteArray text = stateHeader;
    for (const auto& [path, r] : records) {
        text += char(r.kind);
        text += '\t' + EscapePath(path);
        text += '\t' + QByteArray::number(r.size);
        text += '\t' + TimeText(r.modified);
        text += '\t' + TimeText(r.changed);
        text += '\t' + QByteArray::number(r.inode);
        text += '\t' + (r.hash.isEmpty() ? QByteArray("-") : r.hash);
        text += '\t' + (r.configuration.isEmpty() ? QByteArray("-") : r.configuration);
        text += '\t' + QByteArray::number(r.outInode);
        text += '\t' + QByteArray::number(r.outSize);
        text += '\t' + TimeText(r.outModified);
        text += '\n';
    }
    return text;
}

// False when the text is not a state this program wrote. The fields are
// read in place (a rebuild of a large site reads one line per file), and
// the configuration that the pages share is kept once.
bool ParseState(const std::string& text, Records& records)
{
    const std::string_view header(stateHeader, sizeof stateHeader - 1);
    if (std::string_view(text).substr(0, header.size()) != header)
        return false;
    std::string_view body = std::string_view(text).substr(header.size());
    QByteArray configuration;
    while (!body.empty()) {
        const size_t end = body.find('\n');
        std::string_view line = body.substr(0, end);
        body = end == std::string_view::npos ? std::string_view() : body.substr(end + 1);
        if (line.empty())
            continue;
        QByteArray f[11];
        int n = 0;
        for (;;) {
            const size_t tab = line.find('\t');
            if (n == 11)
                return false;
            const std::string_view field = line.substr(0, tab);
            f[n++] = QByteArray::fromRawData(field.data(), qsizetype(field.size()));
            if (tab == std::string_view::npos)
                break;
            line.remove_prefix(tab + 1);
        }
        if (n != 11 || f[0].size() != 1 || !QByteArray("PCHLD").contains(f[0][0]))
            return false;
        Record r;
        r.kind = Kind(f[0][0]);
        const std::optional<QByteArray> path = UnescapePath(f[1]);
        bool ok[5] = {};
        r.size = f[2].toLongLong(&ok[0]);
        r.inode = f[5].toULongLong(&ok[1]);
        if (f[6] != "-")
            r.hash = QByteArray(f[6].constData(), f[6].size());
        if (f[7] != "-") {
            if (f[7] != configuration)
                configuration = QByteArray(f[7].constData(), f[7].size());
            r.configuration = configuration;
        }
        r.outInode = f[8].toULongLong(&ok[2]);
        r.outSize = f[9].toLongLong(&ok[3]);
        ok[4] = ParseTime(f[3], r.modified) && ParseTime(f[4], r.changed) &&
                ParseTime(f[10], r.outModified);
        if (!path || path->isEmpty() ||
            !std::all_of(std::begin(ok), std::end(ok), [](bool b) { return b; }))
            return false;
        records.emplace_hint(records.end(), *path, r);
    }
    return true;
}

QByteArray ParentOf(const QByteArray& relative)
{
    const qsizetype slash = relative.lastIndexOf('/');
    return slash < 0 ? QByteArray() : relative.left(slash);
}

QByteArray NameOf(const QByteArray& relative)
{
    return relative.mid(relative.lastIndexOf('/') + 1);
}

bool LiesBelow(const QByteArray& relative, const QByteArray& folder)
{
    if (folder.isEmpty())
        return true;
    return relative.size() > folder.size() && relative.startsWith(folder) &&
           relative[folder.size()] == '/';
}

QString Text(const char* english, const QStringList& arguments)
{
    return FormatMessage(Tr(english), arguments);
}

QString WithReason(const QString& message, int error)
{
    return message + QStringLiteral(": ") + SystemErrorText(error);
}

QString OutputInsideMessage(const QString& output, const QString& source)
{
    return Text("%s: The output folder is the folder it is built from, or lies in it (%s). "
                "Choose an output folder outside it.",
                {output, source});
}

QString SourceInsideMessage(const QString& source, const QString& output)
{
    return Text("%s: The folder to build from lies in the output folder (%s). Choose an output "
                "folder outside it.",
                {source, output});
}

// An entry of the source tree to be built.
struct Item
{
    Kind kind = Kind::Copy;
    bool special = false; // a FIFO, socket or device: never copied
    QByteArray relative;
    EntryStatus source;
    const Record* earlier = nullptr;
    // The folder the entry's output could not be made in: nothing is
    // written there.
    int folderError = 0;
};

// The names of a folder, sorted, "." and ".." left out. 0 or errno.
int ListNames(const Folder& folder, std::vector<QByteArray>& names)
{
    const int fd = ::fcntl(folder.Descriptor(), F_DUPFD_CLOEXEC, 0);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        return error;
    }
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
        errno = 0;
    }
    const int error = errno;
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return error;
}

// Reads what an earlier build left: its records, or none (with a warning)
// when the state is not one this program wrote.
Records ReadState(const Folder& output, const QString& shownPath, SiteRunReport& report)
{
    Records records;
    if (!output.IsOpen())
        return records;
    EntryStatus status;
    int error = 0;
    FileHandle file = output.OpenEntry(buildStateName, status, error);
    if (status.type == EntryStatus::Type::Missing && error == ENOENT)
        return records;
    std::string text;
    if (!file.IsOpen() || status.type != EntryStatus::Type::Regular ||
        ReadAll(file, status.size, text) != 0 || !ParseState(text, records)) {
        records.clear();
        SiteFileResult result;
        result.path = shownPath;
        result.outcome = FileOutcome::NotAFile;
        result.messages.push_back(
            {Text("Warning: %s is not a build state this program wrote. It is written anew, and "
                  "no file of an earlier build is removed.",
                  {shownPath}),
             ProgressMessage::Note});
        report.FileDone(0, 1, result);
    }
    return records;
}

// Copies an opened file's bytes to a new file, hashing them on the way.
bool CopyHashing(int from, int to, QCryptographicHash& hash)
{
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(from, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        hash.addData(QByteArrayView(buffer.data(), n));
        if (!WriteAll(to, std::string_view(buffer.data(), size_t(n))))
            return false;
    }
}

// The hash of an opened file's bytes, read from its start. 0 or errno.
int HashFile(int fd, QByteArray& hash)
{
    QCryptographicHash h(QCryptographicHash::Sha256);
    std::vector<char> buffer(1 << 20);
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            break;
        h.addData(QByteArrayView(buffer.data(), n));
        offset += n;
    }
    hash = h.result().toHex().left(32);
    return 0;
}

class Build
{
public:
    Build(const QString& source, const QString& output, const ProtectionEngine& engine,
          const SiteBuildOptions& options, SiteRunReport& report)
        : sourcePath_(source), outputPath_(output), engine_(engine), options_(options),
          report_(report), filter_(options.filter),
          configuration_(BuildConfiguration(engine, options.again)), backupName_(BackupFolderName())
    {
    }

    SiteBuildTotals Run()
    {
        int error = 0;
        sourceRoot_ = Folder::Open(sourcePath_, error);
        if (!sourceRoot_.IsOpen())
            throw Failure(
                WithReason(Text("Unable to read %s", {sourcePath_}), error).toStdString());
        QString reason;
        if (!options_.dryRun && !kestrix::MakeFolders(outputPath_, &reason)) {
            throw Failure(
                (Text("Unable to write %s", {outputPath_}) + QStringLiteral(": ") + reason)
                    .toStdString());
        }
        outputRoot_ = Folder::Open(outputPath_, error);
        if (!outputRoot_.IsOpen() && !(options_.dryRun && error == ENOENT))
            throw Failure(
                WithReason(Text("Unable to write %s", {outputPath_}), error).toStdString());
        // Checked again on the folders opened: what is built into is what
        // was checked.
        if (outputRoot_.IsOpen() && FolderLiesWithin(outputRoot_, sourceRoot_))
            throw Failure(OutputInsideMessage(outputPath_, sourcePath_).toStdString());
        if (outputRoot_.IsOpen() && FolderLiesWithin(sourceRoot_, outputRoot_))
            throw Failure(SourceInsideMessage(sourcePath_, outputPath_).toStdString());
        // Two builds into one folder take turns.
        if (outputRoot_.IsOpen())
            outputRoot_.Lock();

        earlier_ = ReadState(outputRoot_, OutputShown(buildStateName), report_);
        Walk(sourceRoot_, outputRoot_.IsOpen(), QByteArray());
        RemoveWhatIsGone();
        MakeOutputFolders();
        Work();
        if (!options_.dryRun)
            WriteState();
        outputRoot_.Unlock();
        return totals_;
    }

private:
    QString SourceShown(const QByteArray& relative) const
    {
        return sourcePath_ + QLatin1Char('/') + QFile::decodeName(relative);
    }
    QString OutputShown(const QByteArray& relative) const
    {
        return outputPath_ + QLatin1Char('/') + QFile::decodeName(relative);
    }
    static QByteArray Join(const QByteArray& folder, const QByteArray& name)
    {
        return folder.isEmpty() ? name : folder + '/' + name;
    }
    const Record* Earlier(const QByteArray& relative) const
    {
        const auto found = earlier_.find(relative);
        return found == earlier_.end() ? nullptr : &found->second;
    }

    void Walk(const Folder& source, bool outputOpen, const QByteArray& relative)
    {
        // The output folder that corresponds, when it exists, to tell the
        // entries left as they were without writing anything.
        Folder output;
        if (outputOpen) {
            int error = 0;
            output = outputRoot_.OpenPath(relative, error);
        }
        std::vector<QByteArray> names;
        if (const int error = ListNames(source, names)) {
            // Nothing below an unreadable folder is removed from the output.
            kept_.push_back(relative);
            Problem(relative,
                    WithReason(Text("Unable to read %s", {SourceShown(relative)}), error));
            if (names.empty())
                return;
        }
        if (output.IsOpen())
            RemoveLeftTemporaries(output, names, relative);
        for (const QByteArray& name : names) {
            const QByteArray path = Join(relative, name);
            const QString decoded = QFile::decodeName(name);
            if (name == buildStateName || IsAtomicWriteTemporary(decoded))
                continue;
            Item item;
            item.relative = path;
            item.source = source.StatusOf(name);
            item.earlier = Earlier(path);
            switch (item.source.type) {
            case EntryStatus::Type::Missing:
                continue;
            case EntryStatus::Type::Folder: {
                // Backups are never published.
                if (decoded == backupName_ || decoded == QLatin1String("Kestrix Backup"))
                    continue;
                item.kind = Kind::Folder;
                folders_.push_back(item);
                present_[path] = Kind::Folder;
                int error = 0;
                const Folder below = source.OpenChild(name, error);
                if (!below.IsOpen()) {
                    kept_.push_back(path);
                    Problem(path,
                            WithReason(Text("Unable to read %s", {SourceShown(path)}), error));
                    continue;
                }
                Walk(below, output.IsOpen(), path);
                continue;
            }
            case EntryStatus::Type::Link:
                // A kept input is left out, whether a file or a link to one.
                if (decoded.endsWith(QLatin1String(".kestrix"), Qt::CaseInsensitive))
                    continue;
                item.kind = Kind::Link;
                break;
            case EntryStatus::Type::Other:
                item.special = true;
                break;
            case EntryStatus::Type::Regular:
                if (decoded.endsWith(QLatin1String(".kestrix"), Qt::CaseInsensitive))
                    continue;
                item.kind = filter_.Matches(decoded) ? Kind::Page
                            : options_.link          ? Kind::HardLink
                                                     : Kind::Copy;
                break;
            }
            if (!item.special)
                present_[path] = item.kind;
            if (output.IsOpen() && !item.special && LeftAsItWas(item, output.StatusOf(name))) {
                Record record = *item.earlier;
                if (item.kind == Kind::HardLink)
                    SetSource(record, item.source);
                next_[path] = record;
                if (item.kind == Kind::Page)
                    ++totals_.pages.passedOver;
                else
                    ++totals_.unchanged;
                // Still a line of the report: every file of the source has one.
                SiteFileResult result;
                result.path = SourceShown(path);
                if (!IsValidUtf8(std::string_view(path.constData(), size_t(path.size()))))
                    result.nativePath = QFile::encodeName(sourcePath_) + '/' + path;
                report_.FileDone(0, 1, result);
                continue;
            }
            items_.push_back(std::move(item));
        }
    }

    // A build killed while it named a file can leave the file under its
    // temporary name ("." + name + "." + six characters + ".tmp") beside its
    // place in the output: such files of the entries this build writes are
    // removed, where they would otherwise be published.
    void RemoveLeftTemporaries(const Folder& output, const std::vector<QByteArray>& sourceNames,
                               const QByteArray& relative)
    {
        std::vector<QByteArray> names;
        if (ListNames(output, names) != 0)
            return;
        for (const QByteArray& name : names) {
            if (!IsAtomicWriteTemporary(QFile::decodeName(name)) || name.size() < 13)
                continue;
            const QByteArray stem = name.mid(1, name.size() - 1 - 11); // ".XXXXXX.tmp"
            const bool ours = std::any_of(sourceNames.begin(), sourceNames.end(),
                                          [&](const QByteArray& n) { return n.startsWith(stem); });
            if (!ours || output.StatusOf(name).type != EntryStatus::Type::Regular)
                continue;
            SiteFileResult result;
            result.path = OutputShown(Join(relative, name));
            result.outcome = FileOutcome::NotAFile;
            if (options_.dryRun)
                result.dryRunText = Text("%s would be removed", {result.path});
            else if (output.RemoveEntry(name) != 0)
                continue;
            ++totals_.removed;
            if (options_.dryRun)
                report_.FileDone(0, 1, result);
        }
    }

    // Whether the entry can be left as it is from its status alone.
    bool LeftAsItWas(const Item& item, const EntryStatus& output) const
    {
        const Record* r = item.earlier;
        if (item.kind == Kind::HardLink && r && r->kind == Kind::HardLink)
            return output.type == EntryStatus::Type::Regular &&
                   output.device == item.source.device && output.inode == item.source.inode;
        // A file copied because the output lies on another file system.
        if (item.kind == Kind::HardLink && r && r->kind == Kind::Copy)
            return output.device != item.source.device && SameSource(*r, item.source) &&
                   SameOutput(*r, output);
        if (!r || r->kind != item.kind || !SameSource(*r, item.source) || !SameOutput(*r, output))
            return false;
        return item.kind != Kind::Page || r->configuration == configuration_;
    }

    void Problem(const QByteArray& relative, const QString& message)
    {
        Item item;
        item.relative = relative;
        item.special = true;
        problems_[relative] = message;
        items_.push_back(std::move(item));
    }

    bool Kept(const QByteArray& path) const
    {
        return std::any_of(kept_.begin(), kept_.end(),
                           [&](const QByteArray& folder) { return LiesBelow(path, folder); });
    }

    // Every entry an earlier build wrote whose source is gone (or is now a
    // folder where it was a file, or the other way round) is removed, when
    // it is still what that build wrote: the user's own files stay.
    void RemoveWhatIsGone()
    {
        std::vector<std::pair<QByteArray, Record>> gone;
        for (auto it = earlier_.rbegin(); it != earlier_.rend(); ++it) {
            const auto now = present_.find(it->first);
            if (Kept(it->first))
                next_.insert(*it);
            else if (now == present_.end() ||
                     IsFolderKind(now->second) != IsFolderKind(it->second.kind))
                gone.emplace_back(it->first, it->second);
        }
        int index = 0;
        for (const auto& [path, record] : gone) {
            int error = 0;
            const Folder folder =
                outputRoot_.IsOpen() ? outputRoot_.OpenPath(ParentOf(path), error) : Folder();
            if (!folder.IsOpen())
                continue;
            const QByteArray name = NameOf(path);
            const EntryStatus status = folder.StatusOf(name);
            if (!SameOutput(record, status))
                continue; // changed by the user since: theirs now
            // Reported under the source's path it was built from.
            const QString shownOut = OutputShown(path);
            SiteFileResult result;
            result.path = SourceShown(path);
            result.outcome = FileOutcome::NotAFile;
            if (options_.dryRun) {
                result.dryRunText = Text("%s would be removed", {shownOut});
                result.buildAction = SiteFileResult::BuildAction::Removed;
                ++totals_.removed;
            } else {
                error = IsFolderKind(record.kind) ? folder.RemoveFolderEntry(name)
                                                  : folder.RemoveEntry(name);
                if (error == 0) {
                    result.buildAction = SiteFileResult::BuildAction::Removed;
                    ++totals_.removed;
                } else if (error == ENOTEMPTY || error == EEXIST)
                    next_[path] = record; // holds the user's files: kept, and known as ours
                else {
                    result.messages.push_back(
                        {WithReason(Text("Unable to remove %s", {shownOut}), error),
                         ProgressMessage::Error});
                    result.outcome = FileOutcome::Failed;
                    ++totals_.pages.failed;
                    next_[path] = record;
                }
            }
            report_.FileDone(index++, int(gone.size()), result);
        }
    }

    // The output's folders, in tree order, made where missing with their
    // source folder's permissions.
    void MakeOutputFolders()
    {
        for (const Item& item : folders_) {
            if (Kept(item.relative))
                continue;
            int error = 0;
            const Folder parent = outputRoot_.IsOpen()
                                      ? outputRoot_.OpenPath(ParentOf(item.relative), error)
                                      : Folder();
            if (!parent.IsOpen()) {
                failedFolders_[item.relative] = error ? error : ENOENT;
                continue;
            }
            const QByteArray name = NameOf(item.relative);
            const bool existed = parent.StatusOf(name).type != EntryStatus::Type::Missing;
            if (options_.dryRun && !existed) {
                failedFolders_[item.relative] = ENOENT;
                continue;
            }
            const Folder made = parent.OpenOrMakeChild(name, error);
            if (!made.IsOpen()) {
                failedFolders_[item.relative] = error;
                continue;
            }
            if (!existed)
                ::fchmod(made.Descriptor(), item.source.permissions);
            // A folder's times and size change with its entries: its inode
            // alone tells that it is the one made.
            Record record;
            record.kind = Kind::Folder;
            record.inode = item.source.inode;
            record.outInode = made.Status().inode;
            // A folder the user made stays theirs.
            if (!existed || (item.earlier && item.earlier->kind == Kind::Folder &&
                             item.earlier->outInode == made.Status().inode))
                if (!options_.dryRun)
                    next_[item.relative] = record;
        }
    }

    // Why nothing can be written in the item's output folder (0: it can).
    int FolderError(const QByteArray& relative) const
    {
        for (QByteArray folder = ParentOf(relative); !folder.isEmpty(); folder = ParentOf(folder)) {
            const auto found = failedFolders_.find(folder);
            if (found != failedFolders_.end())
                return found->second;
        }
        return 0;
    }

    void Work()
    {
        QStringList shown;
        shown.reserve(qsizetype(items_.size()));
        for (const Item& item : items_)
            shown.append(SourceShown(item.relative));
        results_.assign(items_.size(), std::nullopt);
        asItIs_.assign(items_.size(), 0);
        auto work = [&](std::vector<SiteFileResult>& results, int begin, int end) {
            // The check's buffers, grown once for the pages of this part.
            std::unique_ptr<DecodedPage> decoded;
            if (options_.verify)
                decoded = std::make_unique<DecodedPage>();
            QByteArray folderPath;
            Folder source, output;
            int outputError = 0, sourceError = 0;
            bool opened = false;
            for (int i = begin; i < end; ++i) {
                const Item& item = items_[size_t(i)];
                const QByteArray parent = ParentOf(item.relative);
                if (!opened || parent != folderPath) {
                    sourceError = 0;
                    source = sourceRoot_.OpenPath(parent, sourceError);
                    outputError = FolderError(item.relative);
                    output = Folder();
                    if (outputRoot_.IsOpen() && outputError == 0)
                        output = outputRoot_.OpenPath(parent, outputError);
                    else if (outputError == 0)
                        outputError = ENOENT;
                    folderPath = parent;
                    opened = true;
                }
                SiteFileResult& result = results[size_t(i)];
                // A name that is not valid text keeps its bytes for a report.
                if (!IsValidUtf8(
                        std::string_view(item.relative.constData(), size_t(item.relative.size()))))
                    result.nativePath = QFile::encodeName(sourcePath_) + '/' + item.relative;
                try {
                    DoItem(size_t(i), source, sourceError, output, outputError, decoded.get(),
                           result);
                } catch (const Failure& failure) {
                    result.messages.push_back(
                        {QString::fromStdString(failure.what()), ProgressMessage::Error});
                    result.outcome = FileOutcome::Failed;
                }
            }
        };
        CountingReport counting(*this);
        RunInOrder(shown, options_.jobs, work, counting);
    }

    // Counts each result by what its file is, and passes it on.
    class CountingReport : public SiteRunReport
    {
    public:
        explicit CountingReport(Build& build) : build_(build) {}
        void FileDone(int index, int count, const SiteFileResult& result) override
        {
            const Item& item = build_.items_[size_t(index)];
            SiteBuildTotals& t = build_.totals_;
            const bool page = item.kind == Kind::Page || item.special;
            switch (result.outcome) {
            case FileOutcome::Failed:
                ++t.pages.failed;
                break;
            case FileOutcome::Ready:
            case FileOutcome::Secured:
                if (build_.asItIs_[size_t(index)])
                    ++t.pages.passedOver;
                else
                    ++(page ? t.pages.done : t.copied);
                break;
            default:
                ++(page ? t.pages.passedOver : t.unchanged);
                break;
            }
            build_.report_.FileDone(index, count, result);
        }

    private:
        Build& build_;
    };

    void DoItem(size_t index, const Folder& source, int sourceError, const Folder& output,
                int outputError, DecodedPage* decoded, SiteFileResult& result)
    {
        const Item& item = items_[index];
        const QString shown = SourceShown(item.relative);
        const QByteArray name = NameOf(item.relative);
        auto fail = [&](const QString& message) {
            result.messages.push_back({message, ProgressMessage::Error});
            result.outcome = FileOutcome::Failed;
        };
        if (const auto problem = problems_.find(item.relative); problem != problems_.end())
            return fail(problem->second);
        if (item.special) {
            result.messages.push_back(
                {Text("%s: This is not a plain file (a FIFO, a socket or a device) and was not "
                      "copied.",
                      {shown}),
                 ProgressMessage::Note});
            result.outcome = FileOutcome::PassedOver;
            return;
        }
        // Its folder gone, or turned into a link, since the tree was read.
        if (!source.IsOpen())
            return fail(sourceError == ENOENT
                            ? Text("File %s does not exist", {shown})
                            : WithReason(Text("Unable to read %s", {shown}), sourceError));
        const EntryStatus out = output.IsOpen() ? output.StatusOf(name) : EntryStatus{};
        auto writeProblem = [&](int error) {
            if (error == ELOOP || error == ENOTDIR)
                return fail(Text("%s: Its folder in the output folder is a link or not a folder, "
                                 "so nothing was written there.",
                                 {OutputShown(item.relative)}));
            fail(WithReason(Text("Unable to write %s", {OutputShown(item.relative)}), error));
        };
        // The output already holds what this entry would write: recorded
        // as it is, nothing written.
        auto leftAsItIs = [&](Record& record, const EntryStatus& output) {
            SetOutput(record, output);
            results_[index] = record;
            result.outcome = FileOutcome::PassedOver;
        };
        auto wouldBeWritten = [&](const char* text) {
            result.dryRunText = Text(text, {shown});
            result.outcome = FileOutcome::Ready;
        };
        // No folder to write into, and not a dry run that would make it.
        const bool cannotWrite = !output.IsOpen() && !(options_.dryRun && outputError == ENOENT);

        // Files that are not pages are copied (or linked), not secured.
        if (item.kind != Kind::Page)
            result.buildAction = SiteFileResult::BuildAction::Copied;
        if (item.kind == Kind::Link) {
            int error = 0;
            const QByteArray target = source.LinkTarget(name, error);
            if (error)
                return fail(WithReason(Text("Unable to read %s", {shown}), error));
            Record record;
            record.kind = Kind::Link;
            SetSource(record, source.StatusOf(name));
            record.hash = HashOf(target.toStdString());
            if (out.type == EntryStatus::Type::Link) {
                int readError = 0;
                if (output.LinkTarget(name, readError) == target)
                    return leftAsItIs(record, out);
            }
            if (cannotWrite)
                return writeProblem(outputError);
            if (options_.dryRun)
                return wouldBeWritten("%s would be copied");
            if ((error = output.WriteLinkEntry(name, target)) != 0)
                return writeProblem(error);
            SetOutput(record, output.StatusOf(name));
            results_[index] = record;
            result.outcome = FileOutcome::Secured;
            return;
        }

        EntryStatus status;
        int error = 0;
        FileHandle file = source.OpenEntry(name, status, error);
        if (status.type == EntryStatus::Type::Link || status.type == EntryStatus::Type::Other)
            return fail(Text(
                "%s: This is not a plain file (a link or a device) and was passed over.", {shown}));
        if (!file.IsOpen())
            return fail(error == ENOENT ? Text("File %s does not exist", {shown})
                                        : WithReason(Text("Unable to read %s", {shown}), error));
        Record record;
        record.kind = item.kind;
        SetSource(record, status);

        if (item.kind == Kind::HardLink) {
            if (out.type == EntryStatus::Type::Regular && out.device == status.device &&
                out.inode == status.inode)
                return leftAsItIs(record, out);
            if (cannotWrite)
                return writeProblem(outputError);
            if (options_.dryRun)
                return wouldBeWritten("%s would be linked");
            error = output.LinkEntry(file, name);
            if (error == 0) {
                // The new name changed the file's status change time.
                const EntryStatus linked = output.StatusOf(name);
                SetSource(record, linked);
                SetOutput(record, linked);
                results_[index] = record;
                result.outcome = FileOutcome::Secured;
                return;
            }
            if (error != EXDEV && error != EPERM)
                return writeProblem(error);
            record.kind = Kind::Copy; // another file system: copied instead
        }

        if (record.kind == Kind::Copy) {
            const Record* r = item.earlier;
            if (r && r->kind == Kind::Copy && SameOutput(*r, out)) {
                if ((error = HashFile(file.Get(), record.hash)) != 0)
                    return fail(WithReason(Text("Unable to read %s", {shown}), error));
                if (record.hash == r->hash)
                    return leftAsItIs(record, out);
            }
            if (cannotWrite)
                return writeProblem(outputError);
            if (options_.dryRun)
                return wouldBeWritten("%s would be copied");
            QCryptographicHash hash(QCryptographicHash::Sha256);
            NewFileAttributes attributes = CopyAttributes(status);
            attributes.accessed = status.accessed;
            attributes.modified = status.modified;
            ino_t written = 0;
            error = Write(output, name, out, attributes, written, [&](int fd) {
                hash.reset();
                return ::lseek(file.Get(), 0, SEEK_SET) == 0 && CopyHashing(file.Get(), fd, hash);
            });
            if (error)
                return writeProblem(error);
            record.hash = hash.result().toHex().left(32);
            return Written(index, output, name, written, record, result);
        }

        // A page.
        std::string bytes;
        if ((error = ReadAll(file, status.size, bytes)) != 0)
            return fail(WithReason(Text("Unable to read %s", {shown}), error));
        file.Close();
        record.hash = HashOf(bytes);
        record.configuration = configuration_;
        const Record* r = item.earlier;
        if (r && r->kind == Kind::Page && r->hash == record.hash &&
            r->configuration == configuration_ && SameOutput(*r, out))
            return leftAsItIs(record, out);
        if (LooksLikeProgram(std::string_view(bytes).substr(0, 4), QFile::decodeName(name)))
            return fail(Text("%s: File is forbidden and cannot be secured. It may be a program or "
                             "other binary file.",
                             {shown}));
        // A page secured already is published as it is, unless asked to
        // secure it again; its secured text is no clear text.
        const bool asItIs = IsSecuredPage(bytes) && !options_.again;
        result.bytesBefore = qint64(bytes.size());
        if (asItIs) {
            result.messages.push_back({AlreadySecuredNote(shown), ProgressMessage::Note});
            // Recorded as a page (it is one), counted as passed over.
            asItIs_[index] = 1;
        } else {
            std::string original;
            if (decoded)
                original = bytes;
            if (!engine_.SecurePage(bytes))
                return fail(Text("An error occurred securing file %s", {shown}));
            if (options_.alterSecuredText)
                options_.alterSecuredText(bytes);
            if (decoded) {
                const QString problem = SecuredTextProblem(bytes, original, shown, *decoded);
                if (!problem.isEmpty())
                    return fail(problem);
            }
            result.level =
                engine_.parts.testFlag(partEncrypt) ? engine_.settings.StrengthLevel : -1;
            result.parts = int(engine_.parts);
        }
        result.bytesAfter = qint64(bytes.size());
        if (cannotWrite)
            return writeProblem(outputError);
        if (options_.dryRun) {
            result.outcome = FileOutcome::Ready;
            if (asItIs) {
                result.dryRunText = Text("%s would be copied", {shown});
                result.outcome = FileOutcome::PassedOver;
            }
            return;
        }
        ino_t written = 0;
        error = Write(output, name, out, CopyAttributes(status), written,
                      [&](int fd) { return WriteAll(fd, bytes); });
        if (error)
            return writeProblem(error);
        Written(index, output, name, written, record, result);
        // Copied as it is, not secured by this build.
        if (asItIs)
            result.outcome = FileOutcome::PassedOver;
    }

    static NewFileAttributes CopyAttributes(const EntryStatus& status)
    {
        NewFileAttributes attributes;
        attributes.permissions = status.permissions;
        attributes.exact = true;
        attributes.privateUntilNamed = false;
        return attributes;
    }

    // A new file under the name, replacing what the output holds there.
    int Write(const Folder& output, const QByteArray& name, const EntryStatus& out,
              const NewFileAttributes& attributes, ino_t& written,
              const std::function<bool(int)>& fill) const
    {
        const bool replace = out.type != EntryStatus::Type::Missing;
        int error = output.WriteEntryWith(name, fill, attributes, replace,
                                          WriteDurability::Deferred, &written);
        if (error == EEXIST && !replace)
            error = output.WriteEntryWith(name, fill, attributes, true, WriteDurability::Deferred,
                                          &written);
        return error;
    }

    void Written(size_t index, const Folder& output, const QByteArray& name, ino_t written,
                 Record& record, SiteFileResult& result)
    {
        const EntryStatus now = output.StatusOf(name);
        // Recorded only while the name holds the file written.
        if (now.inode == written) {
            SetOutput(record, now);
            results_[index] = record;
        }
        result.outcome = FileOutcome::Secured;
    }

    void WriteState()
    {
        for (size_t i = 0; i < items_.size(); ++i) {
            const Item& item = items_[i];
            if (results_[i])
                next_[item.relative] = *results_[i];
            else if (item.earlier && !item.special)
                next_[item.relative] = *item.earlier; // failed: still what was written before
        }
        const QByteArray text = StateText(next_);
        std::string before;
        EntryStatus status;
        int error = 0;
        FileHandle file = outputRoot_.OpenEntry(buildStateName, status, error);
        if (file.IsOpen() && status.type == EntryStatus::Type::Regular &&
            ReadAll(file, status.size, before) == 0 && before == text.toStdString())
            return; // nothing changed: nothing written
        // What the state records reaches the disk before the state does.
        outputRoot_.SyncFileSystem();
        NewFileAttributes attributes;
        attributes.permissions = 0600;
        attributes.exact = true;
        error = outputRoot_.WriteEntry(buildStateName, text.toStdString(), attributes, true,
                                       WriteDurability::Synced);
        if (error)
            throw Failure(
                WithReason(Text("Unable to write %s", {OutputShown(buildStateName)}), error)
                    .toStdString());
        outputRoot_.Sync();
    }

    QString sourcePath_;
    QString outputPath_;
    const ProtectionEngine& engine_;
    const SiteBuildOptions& options_;
    SiteRunReport& report_;
    FileFilter filter_;
    QByteArray configuration_;
    QString backupName_;

    Folder sourceRoot_;
    Folder outputRoot_;
    Records earlier_;
    Records next_;
    std::map<QByteArray, Kind> present_;
    std::vector<QByteArray> kept_;
    std::vector<Item> folders_;
    std::vector<Item> items_;
    std::map<QByteArray, QString> problems_;
    std::map<QByteArray, int> failedFolders_;
    std::vector<std::optional<Record>> results_;
    std::vector<char> asItIs_; // pages already secured, copied as they are
    SiteBuildTotals totals_;
};

} // namespace

QByteArray BuildConfiguration(const ProtectionEngine& engine, bool again)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    auto add = [&](const QByteArray& part) {
        hash.addData(QByteArray::number(part.size()) + ':');
        hash.addData(part);
    };
    add(ProgramVersionInfo().FileVersion.toUtf8());
    add(QByteArray::number(int(engine.parts)) + (engine.OptimiseActive ? "+o" : "") +
        (again ? "+again" : ""));
    add(QByteArray::fromStdString(SettingsText(engine.settings)));
    QFile language(ApplicationLanguageFilePath());
    add(language.open(QIODevice::ReadOnly) ? language.readAll() : QByteArray("-"));
    return hash.result().toHex().left(32);
}

QString OutputFolderProblem(const QString& source, const QString& output)
{
    int error = 0;
    const Folder sourceFolder = Folder::Open(source, error);
    if (!sourceFolder.IsOpen())
        return {};
    // The output folder, or the nearest folder above it that exists.
    QString existing = QDir::cleanPath(QFileInfo(output).absoluteFilePath());
    Folder outputFolder = Folder::Open(existing, error);
    const bool outputExists = outputFolder.IsOpen();
    while (!outputFolder.IsOpen() && error == ENOENT && existing != QLatin1String("/")) {
        existing = QFileInfo(existing).path();
        outputFolder = Folder::Open(existing, error);
    }
    if (outputFolder.IsOpen() && FolderLiesWithin(outputFolder, sourceFolder))
        return OutputInsideMessage(output, source);
    if (outputExists && FolderLiesWithin(sourceFolder, outputFolder))
        return SourceInsideMessage(source, output);
    return {};
}

SiteBuildTotals BuildSite(const QString& source, const QString& output,
                          const ProtectionEngine& engine, const SiteBuildOptions& options,
                          SiteRunReport& report)
{
    const QString problem = OutputFolderProblem(source, output);
    if (!problem.isEmpty())
        throw Failure(problem.toStdString());
    const QString from = QDir::cleanPath(QFileInfo(source).absoluteFilePath());
    const QString to = QDir::cleanPath(QFileInfo(output).absoluteFilePath());
    return Build(from, to, engine, options, report).Run();
}

} // namespace kestrix
