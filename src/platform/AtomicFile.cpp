#include "platform/AtomicFile.h"

#include "platform/Errors.h"
#include "platform/MessageFormat.h"
#include "platform/MessageTranslator.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kestrix {

namespace {

constexpr int randomLength = 6;
constexpr std::string_view temporarySuffix = ".tmp";
// A temporary name is the target's with 12 bytes more; a long target name is
// cut so that the temporary one stays within the file system's limit.
constexpr qsizetype maximumNameLength = 255;
constexpr qsizetype temporaryExtra = 1 + 1 + randomLength + qsizetype(temporarySuffix.size());

[[noreturn]] void ThrowWriteFailure(const QString& path, int error)
{
    const QString format = QString::fromStdString(TranslateMessage("Unable to write %s"));
    throw Failure((FormatMessage(format, {path}) + QStringLiteral(": ") +
                   QString::fromLocal8Bit(std::strerror(error)))
                      .toStdString());
}

// Six letters and digits that differ from call to call, in this process and
// between processes.
std::string RandomPart()
{
    static std::atomic<unsigned long long> counter{0};
    static const unsigned long long process = static_cast<unsigned long long>(::getpid());
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned long long x = (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull) ^ (process << 20) ^
                           static_cast<unsigned long long>(
                               std::chrono::steady_clock::now().time_since_epoch().count()) ^
                           std::hash<std::thread::id>{}(std::this_thread::get_id());
    std::string part(randomLength, 'A');
    for (char& c : part) {
        x ^= x >> 29;
        x *= 0xBF58476D1CE4E5B9ull;
        c = alphabet[(x >> 40) % (sizeof alphabet - 1)];
    }
    return part;
}

} // namespace

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(size_t(n));
    }
    return true;
}

void WriteFileAtomically(const QString& path, std::string_view bytes, WriteDurability durability)
{
    QByteArray target = QFile::encodeName(path);
    // A symbolic link stays a link: the file it leads to is replaced.
    struct stat existing;
    bool replaces = ::lstat(target.constData(), &existing) == 0;
    if (replaces && S_ISLNK(existing.st_mode)) {
        if (char* resolved = ::realpath(target.constData(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
        replaces = ::stat(target.constData(), &existing) == 0;
    }
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash >= 0 ? target.left(slash + 1) : QByteArray();
    const QByteArray name = target.mid(slash + 1);
    if (name.isEmpty())
        ThrowWriteFailure(path, EISDIR);

    // The new file takes the permissions of the file it replaces; a new
    // target gets the usual ones (0666 less the umask).
    if (replaces && S_ISDIR(existing.st_mode))
        ThrowWriteFailure(path, EISDIR);
    const mode_t mode = replaces ? (existing.st_mode & 07777) : 0666;

    auto temporaryName = [&] { return folder + TemporaryNameFor(name); };

    // One attempt: the bytes into a new file, which is then put in place.
    // Anonymous (O_TMPFILE) the file has no name until it is complete, so a
    // kill while writing leaves nothing behind; it is then named straight as
    // the target when there is none yet, else under a temporary name renamed
    // over the target. Otherwise the file is written under a hidden
    // temporary name from the start. Returns 0 or the error number.
    auto attempt = [&](bool anonymous, bool& placed) -> int {
        placed = false;
        QByteArray temporary;
        int fd = -1;
        if (anonymous) {
            const QByteArray dir = folder.isEmpty() ? QByteArray(".") : folder;
            fd = ::open(dir.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
            if (fd < 0)
                return errno;
        } else {
            for (int tries = 0; tries < 100 && fd < 0; ++tries) {
                temporary = temporaryName();
                fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
                if (fd < 0 && errno != EEXIST)
                    return errno;
            }
            if (fd < 0)
                return EEXIST;
        }
        int error = 0;
        if (!WriteAll(fd, bytes))
            error = errno;
        if (!error && replaces) {
            // open() applied the umask; the replaced file's bits are restored
            // exactly, and its owner and group where this user may set them.
            if (::fchmod(fd, mode) != 0)
                error = errno;
            if (!error && (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) &&
                ::fchown(fd, existing.st_uid, existing.st_gid) != 0) {
                // Not allowed to this user: the new file stays this user's own.
            }
        }
        if (!error && durability == WriteDurability::Synced && ::fdatasync(fd) != 0)
            error = errno;
        bool direct = false;
        if (!error && anonymous) {
            const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
            if (!replaces && ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, target.constData(),
                                      AT_SYMLINK_FOLLOW) == 0) {
                direct = true;
            } else {
                error = EEXIST;
                for (int tries = 0; tries < 100 && error == EEXIST; ++tries) {
                    temporary = temporaryName();
                    error = ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, temporary.constData(),
                                     AT_SYMLINK_FOLLOW) == 0
                                ? 0
                                : errno;
                }
                if (error)
                    temporary.clear();
            }
        }
        if (::close(fd) != 0 && !error)
            error = errno;
        if (!error && !direct && ::rename(temporary.constData(), target.constData()) != 0)
            error = errno;
        if (error && !temporary.isEmpty())
            ::unlink(temporary.constData());
        placed = !error;
        return error;
    };

    bool placed = false;
    int error = attempt(true, placed);
    // A file system without anonymous files, or no /proc to name one
    // through: nothing is in place yet, so the named way is tried.
    if (!placed)
        error = attempt(false, placed);
    if (error)
        ThrowWriteFailure(path, error);
}

QByteArray TemporaryNameFor(const QByteArray& name)
{
    return '.' + name.left(maximumNameLength - temporaryExtra) + '.' +
           QByteArray::fromStdString(RandomPart()) +
           QByteArray(temporarySuffix.data(), qsizetype(temporarySuffix.size()));
}

bool IsAtomicWriteTemporary(const QString& fileName)
{
    // "." + at least one character + "." + six + ".tmp"
    const qsizetype minimum = 1 + 1 + 1 + randomLength + qsizetype(temporarySuffix.size());
    if (fileName.size() < minimum || !fileName.startsWith(QLatin1Char('.')) ||
        !fileName.endsWith(QLatin1String(temporarySuffix.data(), temporarySuffix.size())))
        return false;
    const qsizetype dot = fileName.size() - qsizetype(temporarySuffix.size()) - randomLength - 1;
    if (fileName[dot] != QLatin1Char('.'))
        return false;
    for (qsizetype i = dot + 1; i < dot + 1 + randomLength; ++i)
        if (!(fileName[i].isLetterOrNumber() && fileName[i].unicode() < 128))
            return false;
    return true;
}

void SyncFileSystemOf(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::syncfs(fd);
    ::close(fd);
}

} // namespace kestrix
