#include "platform/FileAttributes.h"

#include "platform/Errors.h"
#include "platform/FolderHandle.h"
#include "platform/MessageFormat.h"
#include "platform/MessageTranslator.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrix {

namespace {

QByteArray Native(const QString& path)
{
    return QFile::encodeName(path);
}

// Closes a descriptor when it goes out of scope.
struct FileDescriptor
{
    int fd = -1;
    ~FileDescriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

[[noreturn]] void ThrowReadFailure(const QString& path, int error)
{
    const QString format = QString::fromStdString(TranslateMessage("Unable to read %s"));
    throw Failure((FormatMessage(format, {path}) + QStringLiteral(": ") + SystemErrorText(error))
                      .toStdString());
}

} // namespace

QString SystemErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool IsFolder(const QString& path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(Native(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsExistingFile(const QString& path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(Native(path).constData(), &st) == 0 && !S_ISDIR(st.st_mode);
}

namespace {

bool ReadOnlyFor(const QByteArray& native, const struct stat& st)
{
    if (!(st.st_mode & S_IWUSR))
        return true;
    if (::geteuid() == 0) {
        // Root may write anything, except on a read-only file system.
        return ::faccessat(AT_FDCWD, native.constData(), W_OK, AT_EACCESS) != 0 && errno == EROFS;
    }
    return ::faccessat(AT_FDCWD, native.constData(), W_OK, AT_EACCESS) != 0;
}

} // namespace

bool IsReadOnlyFile(const QString& path)
{
    const QByteArray native = Native(path);
    struct stat st;
    if (path.isEmpty() || ::stat(native.constData(), &st) != 0)
        return true;
    return ReadOnlyFor(native, st);
}

FileStatus StatusOf(const QString& path)
{
    FileStatus status;
    const QByteArray native = Native(path);
    struct stat st;
    if (path.isEmpty() || ::stat(native.constData(), &st) != 0)
        return status;
    status.exists = true;
    status.folder = S_ISDIR(st.st_mode);
    status.readOnly = !status.folder && ReadOnlyFor(native, st);
    status.permissions = st.st_mode & 07777;
    status.accessed = st.st_atim;
    status.modified = st.st_mtim;
    return status;
}

bool LooksLikeProgram(std::string_view head, const QString& fileName)
{
    static const char* const programSuffixes[] = {".exe", ".com", ".bat", ".cmd"};
    for (const char* suffix : programSuffixes)
        if (fileName.endsWith(QLatin1String(suffix), Qt::CaseInsensitive))
            return true;
    auto startsWith = [&](std::string_view magic) { return head.substr(0, magic.size()) == magic; };
    return startsWith("MZ") || startsWith("#!") ||
           startsWith("\x7f"
                      "ELF") ||
           startsWith("\xfe\xed\xfa\xce") || startsWith("\xfe\xed\xfa\xcf") || // Mach-O, big end
           startsWith("\xce\xfa\xed\xfe") || startsWith("\xcf\xfa\xed\xfe") || // little end
           startsWith("\xca\xfe\xba\xbe");                                     // universal
}

bool IsExecutableProgram(const QString& path)
{
    char head[4];
    ssize_t n = 0;
    FileDescriptor file{::open(Native(path).constData(), O_RDONLY | O_CLOEXEC)};
    if (file.fd >= 0) {
        do
            n = ::read(file.fd, head, sizeof head);
        while (n < 0 && errno == EINTR);
    }
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    return LooksLikeProgram(std::string_view(head, n > 0 ? size_t(n) : 0), name);
}

std::string ReadWholeFile(const QString& path)
{
    FileDescriptor file{::open(Native(path).constData(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0)
        ThrowReadFailure(path, errno);
    struct stat st;
    if (::fstat(file.fd, &st) != 0)
        ThrowReadFailure(path, errno);
    if (S_ISDIR(st.st_mode))
        ThrowReadFailure(path, EISDIR);
    std::string bytes;
    // The size known in advance is read in one go; a file that grows (or a
    // device that reports no size) is read on to its end.
    size_t capacity = st.st_size > 0 ? size_t(st.st_size) + 1 : 65536;
    bytes.resize(capacity);
    size_t filled = 0;
    for (;;) {
        if (filled == bytes.size())
            bytes.resize(bytes.size() * 2);
        const ssize_t n = ::read(file.fd, bytes.data() + filled, bytes.size() - filled);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ThrowReadFailure(path, errno);
        }
        if (n == 0)
            break;
        filled += size_t(n);
    }
    bytes.resize(filled);
    return bytes;
}

bool ListDirectory(const QString& folder, const std::function<bool(const DirectoryEntry&)>& visit)
{
    return ListFolderEntries(folder, true, visit) == 0;
}

int ListFolderEntries(const QString& folder, bool followLink,
                      const std::function<bool(const DirectoryEntry&)>& visit)
{
    const QByteArray native = Native(folder);
    const int fd = ::open(native.constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
    if (fd < 0)
        return errno;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    DirectoryEntry entry;
    int error = 0;
    for (;;) {
        errno = 0;
        const dirent* d = ::readdir(dir);
        if (!d) {
            error = errno;
            break;
        }
        const char* name = d->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        unsigned char type = d->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
        }
        entry.kind = DirectoryEntry::Kind::File;
        if (type == DT_DIR) {
            entry.kind = DirectoryEntry::Kind::Folder;
        } else if (type == DT_LNK) {
            struct stat st;
            if (::fstatat(fd, name, &st, 0) == 0 && S_ISDIR(st.st_mode))
                entry.kind = DirectoryEntry::Kind::LinkToFolder;
        }
        const QByteArray bytes(name);
        entry.validName = IsValidName(bytes);
        entry.name = QFile::decodeName(bytes);
        entry.nativeName = entry.validName ? QByteArray() : bytes;
        if (!visit(entry))
            break;
    }
    ::closedir(dir);
    return error;
}

bool MakeFolders(const QString& path, QString* reason)
{
    QByteArray native = Native(path);
    while (native.size() > 1 && native.endsWith('/'))
        native.chop(1);
    struct stat st;
    if (::stat(native.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        if (reason)
            *reason = SystemErrorText(ENOTDIR);
        return false;
    }
    // Parents first, then the folder itself; a folder made meanwhile by
    // someone else is as good as one made here.
    const qsizetype slash = native.lastIndexOf('/');
    if (slash > 0 && !MakeFolders(QFile::decodeName(native.left(slash)), reason))
        return false;
    if (::mkdir(native.constData(), 0777) != 0 && errno != EEXIST) {
        if (reason)
            *reason = SystemErrorText(errno);
        return false;
    }
    if (::stat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (reason)
            *reason = SystemErrorText(ENOTDIR);
        return false;
    }
    return true;
}

bool MoveFileOver(const QString& from, const QString& to, QString* reason)
{
    if (::rename(Native(from).constData(), Native(to).constData()) == 0)
        return true;
    if (reason)
        *reason = SystemErrorText(errno);
    return false;
}

bool RemoveFile(const QString& path)
{
    return ::unlink(Native(path).constData()) == 0;
}

bool CopyFileAttributes(const QString& from, const QString& to)
{
    const FileStatus status = StatusOf(from);
    return status.exists && ApplyFileAttributes(status, to);
}

bool ApplyFileAttributes(const FileStatus& from, const QString& to)
{
    const QByteArray target = Native(to);
    bool ok = ::chmod(target.constData(), mode_t(from.permissions)) == 0;
    const timespec times[2] = {from.accessed, from.modified};
    ok = ::utimensat(AT_FDCWD, target.constData(), times, 0) == 0 && ok;
    return ok;
}

} // namespace kestrix
