#include "platform/FolderHandle.h"

#include <QFile>
#include <QStringDecoder>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kestrix {

namespace {

EntryStatus FromStat(const struct stat& st)
{
    EntryStatus status;
    status.type = S_ISREG(st.st_mode)   ? EntryStatus::Type::Regular
                  : S_ISDIR(st.st_mode) ? EntryStatus::Type::Folder
                  : S_ISLNK(st.st_mode) ? EntryStatus::Type::Link
                                        : EntryStatus::Type::Other;
    status.device = st.st_dev;
    status.inode = st.st_ino;
    status.size = st.st_size;
    status.permissions = st.st_mode & 07777;
    status.owner = st.st_uid;
    status.group = st.st_gid;
    status.accessed = st.st_atim;
    status.modified = st.st_mtim;
    status.changed = st.st_ctim;
    return status;
}

// Who this process is, asked once: it does not change during a run.
uid_t EffectiveUser()
{
    static const uid_t user = ::geteuid();
    return user;
}

gid_t EffectiveGroup()
{
    static const gid_t group = ::getegid();
    return group;
}

constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// Opens `relative` below the descriptor `base` without following a link:
// in one step where the kernel can (openat2), else one name at a time.
int OpenWithoutLinks(int base, const QByteArray& relative)
{
#ifdef SYS_openat2
    open_how how{};
    how.flags = folderFlags | O_NOFOLLOW;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, base, relative.constData(), &how, sizeof how);
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM && errno != E2BIG))
        return int(fd);
#endif
    FileHandle current(::fcntl(base, F_DUPFD_CLOEXEC, 0));
    if (!current.IsOpen())
        return -1;
    for (const QByteArray& part : relative.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        FileHandle next(::openat(current.Get(), part.constData(), folderFlags | O_NOFOLLOW));
        if (!next.IsOpen())
            return -1;
        current = std::move(next);
    }
    return current.Release();
}

// A new entry is made under a free temporary name and then renamed over the
// final one, so that the name always holds either the old or the new entry.
template <typename Make> int MakeThenRename(int folder, const QByteArray& name, Make make)
{
    for (int tries = 0; tries < 100; ++tries) {
        const QByteArray temporary = TemporaryNameFor(name);
        if (make(temporary) != 0) {
            if (errno == EEXIST)
                continue;
            return errno;
        }
        if (::renameat(folder, temporary.constData(), folder, name.constData()) != 0) {
            const int error = errno;
            ::unlinkat(folder, temporary.constData(), 0);
            return error;
        }
        return 0;
    }
    return EEXIST;
}

} // namespace

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept
{
    if (this != &other) {
        Close();
        fd_ = other.Release();
    }
    return *this;
}

int FileHandle::Release()
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void FileHandle::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool EntryStatus::SameFileAs(const EntryStatus& other) const
{
    return type == other.type && device == other.device && inode == other.inode &&
           size == other.size && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec;
}

Folder Folder::Open(const QString& path, int& error)
{
    Folder folder;
    const QByteArray native = QFile::encodeName(path.isEmpty() ? QStringLiteral(".") : path);
    folder.fd_ = FileHandle(::open(native.constData(), folderFlags));
    struct stat st;
    if (!folder.fd_.IsOpen() || ::fstat(folder.fd_.Get(), &st) != 0) {
        error = errno;
        folder.fd_.Close();
        return folder;
    }
    folder.status_ = FromStat(st);
    return folder;
}

Folder Folder::OpenBelow(const QString& base, const QString& relative, int& error)
{
    Folder top = Open(base, error);
    if (!top.IsOpen() || relative.isEmpty() || relative == QLatin1String("."))
        return top;
    Folder folder;
    folder.fd_ = FileHandle(OpenWithoutLinks(top.Descriptor(), QFile::encodeName(relative)));
    struct stat st;
    if (!folder.fd_.IsOpen() || ::fstat(folder.fd_.Get(), &st) != 0) {
        error = errno;
        folder.fd_.Close();
        return folder;
    }
    folder.status_ = FromStat(st);
    return folder;
}

Folder Folder::OpenPath(const QByteArray& relative, int& error) const
{
    Folder folder;
    folder.fd_ = FileHandle(relative.isEmpty() ? ::fcntl(fd_.Get(), F_DUPFD_CLOEXEC, 0)
                                               : OpenWithoutLinks(fd_.Get(), relative));
    struct stat st;
    if (!folder.fd_.IsOpen() || ::fstat(folder.fd_.Get(), &st) != 0) {
        error = errno;
        folder.fd_.Close();
        return folder;
    }
    folder.status_ = FromStat(st);
    return folder;
}

Folder Folder::OpenChild(const QByteArray& name, int& error) const
{
    Folder child;
    child.fd_ = FileHandle(::openat(fd_.Get(), name.constData(), folderFlags | O_NOFOLLOW));
    struct stat st;
    if (!child.fd_.IsOpen() || ::fstat(child.fd_.Get(), &st) != 0) {
        error = errno;
        // A link, or a file where the folder should be.
        if (error == ELOOP || error == ENOTDIR) {
            const EntryStatus entry = StatusOf(name);
            error = entry.type == EntryStatus::Type::Link ? ELOOP : error;
        }
        child.fd_.Close();
        return child;
    }
    child.status_ = FromStat(st);
    return child;
}

Folder Folder::OpenOrMakeChild(const QByteArray& name, int& error) const
{
    Folder child = OpenChild(name, error);
    if (child.IsOpen() || error != ENOENT)
        return child;
    if (::mkdirat(fd_.Get(), name.constData(), 0777) != 0 && errno != EEXIST) {
        error = errno;
        return child;
    }
    child = OpenChild(name, error);
    if (!child.IsOpen())
        return child;
    // The new folder belongs with the folder that holds it.
    const EntryStatus& own = child.status_;
    if ((own.owner != status_.owner || own.group != status_.group) &&
        ::fchown(child.Descriptor(), status_.owner, status_.group) == 0) {
        child.status_.owner = status_.owner;
        child.status_.group = status_.group;
    }
    return child;
}

EntryStatus Folder::StatusOf(const QByteArray& name) const
{
    struct stat st;
    if (::fstatat(fd_.Get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return {};
    return FromStat(st);
}

FileHandle Folder::OpenEntry(const QByteArray& name, EntryStatus& status, int& error) const
{
    FileHandle file(::openat(fd_.Get(), name.constData(),
                             O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    if (!file.IsOpen() || ::fstat(file.Get(), &st) != 0) {
        error = errno;
        status = error == ELOOP ? StatusOf(name) : EntryStatus{};
        if (error == ENXIO) // a socket
            status.type = EntryStatus::Type::Other;
        file.Close();
        return file;
    }
    status = FromStat(st);
    return file;
}

QByteArray Folder::LinkTarget(const QByteArray& name, int& error) const
{
    QByteArray target(256, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::readlinkat(fd_.Get(), name.constData(), target.data(), target.size());
        if (n < 0) {
            error = errno;
            return {};
        }
        if (n < target.size()) {
            target.truncate(n);
            return target;
        }
        target.resize(target.size() * 2);
    }
}

bool Folder::MayWrite(const QByteArray& name, const EntryStatus& status) const
{
    if (!(status.permissions & S_IWUSR))
        return false;
    if (EffectiveUser() == 0) {
        // Root may write anything, except on a read-only file system,
        // which is asked once per folder.
        if (readOnlyFileSystem_ < 0) {
            struct statvfs fs;
            readOnlyFileSystem_ = ::fstatvfs(fd_.Get(), &fs) == 0 && (fs.f_flag & ST_RDONLY);
        }
        return readOnlyFileSystem_ == 0;
    }
    return ::faccessat(fd_.Get(), name.constData(), W_OK, AT_EACCESS) == 0;
}

int Folder::WriteEntry(const QByteArray& name, std::string_view bytes,
                       const NewFileAttributes& attributes, bool replace,
                       WriteDurability durability, ino_t* written) const
{
    return WriteEntryWith(
        name, [bytes](int fd) { return WriteAll(fd, bytes); }, attributes, replace, durability,
        written);
}

int Folder::WriteEntryWith(const QByteArray& name, const std::function<bool(int fd)>& fill,
                           const NewFileAttributes& attributes, bool replace,
                           WriteDurability durability, ino_t* written) const
{
    const mode_t wanted = attributes.exact ? (attributes.permissions & 07777)
                                           : (attributes.permissions & 0777 & ~CurrentUmask());
    // A file without a name (O_TMPFILE) is complete and has its attributes
    // before it is linked in, so that a run killed meanwhile leaves nothing
    // behind; a replacement is then linked under a temporary name renamed
    // over the target at once. Where the file system has no such files, a
    // named temporary file is written and renamed.
    FileHandle file;
    QByteArray temporary;
    mode_t created = attributes.permissions & 0777 & ~CurrentUmask();
    file = FileHandle(::openat(fd_.Get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, created));
    if (!file.IsOpen()) {
        // A private file until it has its final attributes, or with them
        // (less the umask) from the start when it holds nothing private.
        const mode_t first = attributes.privateUntilNamed ? 0600 : (wanted & 0777);
        created = first & ~CurrentUmask();
        for (int tries = 0; tries < 100 && !file.IsOpen(); ++tries) {
            temporary = TemporaryNameFor(name);
            file = FileHandle(::openat(fd_.Get(), temporary.constData(),
                                       O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, first));
            if (!file.IsOpen() && errno != EEXIST)
                return errno;
        }
        if (!file.IsOpen())
            return EEXIST;
    }
    auto fail = [&](int error) {
        if (!temporary.isEmpty())
            ::unlinkat(fd_.Get(), temporary.constData(), 0);
        return error;
    };
    if (!fill(file.Get()))
        return fail(errno);
    // Owner and group first: a change of owner clears set-id bits that the
    // mode then sets again.
    const gid_t expectedGroup = (status_.permissions & S_ISGID) ? status_.group : EffectiveGroup();
    if ((attributes.owner != uid_t(-1) && attributes.owner != EffectiveUser()) ||
        (attributes.group != gid_t(-1) && attributes.group != expectedGroup)) {
        // Not permitted to this user: the file stays the user's own.
        (void)::fchown(file.Get(), attributes.owner, attributes.group);
        created = mode_t(-1);
    }
    if (created != wanted && ::fchmod(file.Get(), wanted) != 0)
        return fail(errno);
    if (attributes.accessed.tv_nsec != UTIME_OMIT || attributes.modified.tv_nsec != UTIME_OMIT) {
        const timespec times[2] = {attributes.accessed, attributes.modified};
        if (::futimens(file.Get(), times) != 0)
            return fail(errno);
    }
    if (durability == WriteDurability::Synced && ::fdatasync(file.Get()) != 0)
        return fail(errno);
    if (written) {
        struct stat st;
        *written = ::fstat(file.Get(), &st) == 0 ? st.st_ino : 0;
    }
    if (temporary.isEmpty()) {
        char self[32];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", file.Get());
        if (replace)
            return MakeThenRename(fd_.Get(), name, [&](const QByteArray& temporaryName) {
                return ::linkat(AT_FDCWD, self, fd_.Get(), temporaryName.constData(),
                                AT_SYMLINK_FOLLOW);
            });
        if (::linkat(AT_FDCWD, self, fd_.Get(), name.constData(), AT_SYMLINK_FOLLOW) != 0)
            return errno;
        return 0;
    }
    if (replace) {
        if (::renameat(fd_.Get(), temporary.constData(), fd_.Get(), name.constData()) != 0)
            return fail(errno);
        return 0;
    }
    // Named only when the name is free.
    if (::renameat2(fd_.Get(), temporary.constData(), fd_.Get(), name.constData(),
                    RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return fail(errno);
    const int linked = ::linkat(fd_.Get(), temporary.constData(), fd_.Get(), name.constData(), 0);
    return fail(linked == 0 ? 0 : errno);
}

int Folder::RenameEntry(const QByteArray& name, const Folder& to, const QByteArray& toName) const
{
    return ::renameat(fd_.Get(), name.constData(), to.Descriptor(), toName.constData()) == 0
               ? 0
               : errno;
}

int Folder::RemoveEntry(const QByteArray& name) const
{
    return ::unlinkat(fd_.Get(), name.constData(), 0) == 0 ? 0 : errno;
}

int Folder::RemoveFolderEntry(const QByteArray& name) const
{
    return ::unlinkat(fd_.Get(), name.constData(), AT_REMOVEDIR) == 0 ? 0 : errno;
}

int Folder::LinkEntry(const FileHandle& file, const QByteArray& name) const
{
    char self[32];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", file.Get());
    return MakeThenRename(fd_.Get(), name, [&](const QByteArray& temporary) {
        return ::linkat(AT_FDCWD, self, fd_.Get(), temporary.constData(), AT_SYMLINK_FOLLOW);
    });
}

int Folder::WriteLinkEntry(const QByteArray& name, const QByteArray& target) const
{
    return MakeThenRename(fd_.Get(), name, [&](const QByteArray& temporary) {
        return ::symlinkat(target.constData(), fd_.Get(), temporary.constData());
    });
}

bool FolderLiesWithin(const Folder& inner, const Folder& outer)
{
    const EntryStatus& target = outer.Status();
    FileHandle current(::fcntl(inner.Descriptor(), F_DUPFD_CLOEXEC, 0));
    struct stat st;
    if (!current.IsOpen() || ::fstat(current.Get(), &st) != 0)
        return false;
    for (;;) {
        if (st.st_dev == target.device && st.st_ino == target.inode)
            return true;
        FileHandle parent(::openat(current.Get(), "..", folderFlags));
        struct stat up;
        if (!parent.IsOpen() || ::fstat(parent.Get(), &up) != 0)
            return false;
        // The top of the tree is its own parent.
        if (up.st_dev == st.st_dev && up.st_ino == st.st_ino)
            return false;
        current = std::move(parent);
        st = up;
    }
}

bool Folder::Lock(const std::function<bool()>& keepWaiting)
{
    if (locked_)
        return true;
    for (;;) {
        const int operation = keepWaiting ? LOCK_EX | LOCK_NB : LOCK_EX;
        if (::flock(fd_.Get(), operation) == 0) {
            locked_ = true;
            return true;
        }
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return true; // no locks on this file system: the run goes on as before
        if (!keepWaiting())
            return false;
        const timespec pause{0, 50 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
}

void Folder::Unlock()
{
    if (locked_)
        ::flock(fd_.Get(), LOCK_UN);
    locked_ = false;
}

int Folder::Sync() const
{
    return ::fsync(fd_.Get()) == 0 ? 0 : errno;
}

int Folder::SyncFileSystem() const
{
    return ::syncfs(fd_.Get()) == 0 ? 0 : errno;
}

int ReadAll(const FileHandle& file, off_t sizeHint, std::string& bytes)
{
    // The size known in advance is read in one go; a file that grows is
    // read on to its end.
    bytes.resize(sizeHint > 0 ? size_t(sizeHint) + 1 : 65536);
    size_t filled = 0;
    for (;;) {
        if (filled == bytes.size())
            bytes.resize(bytes.size() * 2);
        const ssize_t n = ::read(file.Get(), bytes.data() + filled, bytes.size() - filled);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            bytes.clear();
            return error;
        }
        if (n == 0)
            break;
        filled += size_t(n);
        // A regular file reads short only at its end. One that grows
        // meanwhile changes its size and time, which the caller checks
        // again before it replaces the file.
        if (sizeHint > 0 && filled == size_t(sizeHint))
            break;
    }
    bytes.resize(filled);
    return 0;
}

mode_t CurrentUmask()
{
    // Read from the process's status rather than set and set back, which
    // would race with threads creating files meanwhile.
    static const mode_t mask = [] {
        mode_t value = 022;
        if (FILE* status = std::fopen("/proc/self/status", "re")) {
            char line[256];
            while (std::fgets(line, sizeof line, status)) {
                unsigned octal = 0;
                if (std::sscanf(line, "Umask: %o", &octal) == 1) {
                    value = mode_t(octal);
                    break;
                }
            }
            std::fclose(status);
        }
        return value;
    }();
    return mask;
}

bool IsValidName(const QByteArray& name)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(name);
    return !decoder.hasError();
}

} // namespace kestrix
