#include "platform/OutputStream.h"

#include "platform/AtomicFile.h"
#include "platform/Errors.h"
#include "platform/MessageFormat.h"
#include "platform/MessageTranslator.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kestrix {

namespace {

// Pieces smaller than this are gathered before they are written; larger
// ones go out as they are.
constexpr size_t bufferSize = size_t(256) << 10;
// How much of a file is written before the disk is asked to write it.
constexpr size_t writeBehind = size_t(2) << 20;

std::string DescriptorPath(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

// True where a descriptor can be reached by name (/proc is mounted): an open
// file is then reopened and named through it. Elsewhere the name given is
// used again, and the new file has a hidden name from the start.
bool HaveDescriptorNames()
{
    return ::access("/proc/self/fd", X_OK) == 0;
}

// The hidden name a file has while it is written when it cannot be written
// without a name, of the form the folder scan passes over.
std::string TemporaryName(const std::string& name)
{
    return TemporaryNameFor(QByteArray::fromStdString(name)).toStdString();
}

class Descriptor
{
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { Reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor& operator=(Descriptor&& other) noexcept
    {
        Reset();
        fd_ = other.fd_;
        other.fd_ = -1;
        return *this;
    }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void Reset()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    int Release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_ = -1;
};

} // namespace

struct OutputStream::Target
{
    QString shownName; // in messages
    bool standard = false;
    bool direct = false; // written into (not replaced)
    Descriptor out;      // where the bytes go (fd 1 is not owned)
    int fd = -1;

    // A file target: its folder, its name there and what it replaces.
    Descriptor folder;
    std::string name;
    bool replaces = false;
    struct stat existing = {};
    bool anonymous = false; // written without a name until Commit
    std::string temporary;  // the hidden name otherwise
    bool committed = false;

    std::unique_ptr<char[]> buffer{new char[bufferSize]}; // being filled
    size_t held = 0;
    size_t written = 0; // bytes handed to the system
    size_t sent = 0;    // of them, those the disk was asked to write

    // Hands bytes to the system; 0 or the error number. Called by one
    // thread at a time: the writer's while it runs, this one's otherwise.
    int Put(const char* data, size_t size)
    {
        if (!WriteAll(fd, std::string_view(data, size)))
            return errno;
        written += size;
        // A file that is synced at the end has its bytes sent to the disk
        // while the rest is still being made, a few megabytes at a time, so
        // the final sync waits only for the last of them.
        if (!direct && written - sent >= writeBehind) {
            ::sync_file_range(fd, off_t(sent), off_t(written - sent), SYNC_FILE_RANGE_WRITE);
            sent = written;
        }
        return 0;
    }

    // The writer: once more than a buffer is written, full buffers are
    // handed to the system on a thread of its own while the next ones are
    // filled, so that the system's copying of the bytes (into the page
    // cache, a pipe) no longer holds up their making. A few buffers are in
    // flight at a time, so that neither side waits for the other's bursts.
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::pair<std::unique_ptr<char[]>, size_t>> full; // to be written
    std::vector<std::unique_ptr<char[]>> spare;                  // written, free
    size_t buffers = 1;                                          // in all
    bool writing = false, stopping = false;
    int error = 0;      // the first failure of the writer
    std::thread writer; // last: joined before anything above goes

    void RunWriter()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return !full.empty() || stopping; });
            if (full.empty())
                return;
            auto [bytes, size] = std::move(full.front());
            full.pop_front();
            writing = true;
            lock.unlock();
            const int failed = error == 0 ? Put(bytes.get(), size) : 0;
            lock.lock();
            if (failed != 0)
                error = failed;
            writing = false;
            spare.push_back(std::move(bytes));
            changed.notify_all();
        }
    }

    // Waits until the writer has written what it was given; its first
    // failure, or 0.
    int Drain()
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [this] { return full.empty() && !writing; });
        return error;
    }

    // Hands the filled buffer over and takes a written (or new) one for
    // filling; written here when no thread can be had. 0 or an error.
    int HandOver()
    {
        constexpr size_t mostBuffers = 4;
        try {
            if (!writer.joinable())
                writer = std::thread([this] { RunWriter(); });
            std::unique_lock<std::mutex> lock(mutex);
            if (spare.empty() && buffers < mostBuffers) {
                spare.emplace_back(new char[bufferSize]);
                ++buffers;
            }
            changed.wait(lock, [this] { return !spare.empty() || error != 0; });
            if (error != 0)
                return error;
            full.emplace_back(std::move(buffer), held);
            buffer = std::move(spare.back());
            spare.pop_back();
        } catch (const std::exception&) {
            // No thread or memory to be had: written here, as it comes.
            if (writer.joinable()) {
                if (const int failed = Drain())
                    return failed;
            }
            const int failed = Put(buffer.get(), held);
            held = 0;
            return failed;
        }
        held = 0;
        changed.notify_all();
        return 0;
    }

    ~Target()
    {
        if (writer.joinable()) {
            {
                const std::lock_guard<std::mutex> lock(mutex);
                stopping = true;
            }
            changed.notify_all();
            writer.join();
        }
        if (!committed && !temporary.empty())
            ::unlinkat(folder.get(), temporary.c_str(), 0);
    }
};

namespace {

// Splits a path as given into its folder ("." for none) and last name.
void SplitPath(const std::string& path, std::string& folder, std::string& name)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        folder = ".";
        name = path;
        return;
    }
    folder = slash == 0 ? "/" : path.substr(0, slash);
    name = path.substr(slash + 1);
}

// Opens the new file in the target's folder: without a name where the file
// system can, else under a hidden temporary name. Returns 0 or an error.
int OpenNewFile(OutputStream::Target& t, mode_t mode)
{
    int fd = HaveDescriptorNames()
                 ? ::openat(t.folder.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode)
                 : -1;
    if (fd >= 0) {
        t.anonymous = true;
        t.out = Descriptor(fd);
        t.fd = fd;
        return 0;
    }
    for (int tries = 0; tries < 100; ++tries) {
        const std::string temporary = TemporaryName(t.name);
        fd = ::openat(t.folder.get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                      mode);
        if (fd >= 0) {
            t.temporary = temporary;
            t.out = Descriptor(fd);
            t.fd = fd;
            return 0;
        }
        if (errno != EEXIST)
            return errno;
    }
    return EEXIST;
}

// The target as the name leads to it; returns 0 or an error number.
int Resolve(OutputStream::Target& t, const std::string& path)
{
    if (path.empty())
        return ENOENT;
    // Once, as given: every link on the way is followed by the kernel, the
    // descriptor links of /proc included.
    Descriptor object(::open(path.c_str(), O_PATH | O_CLOEXEC));
    struct stat st = {};
    if (!object.valid()) {
        if (errno != ENOENT)
            return errno;
        // No file yet: a new one in the named folder, unless the name is a
        // link that leads nowhere (the file would appear somewhere else).
        std::string folder;
        SplitPath(path, folder, t.name);
        if (t.name.empty() || t.name == "." || t.name == "..")
            return EISDIR;
        t.folder = Descriptor(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!t.folder.valid())
            return errno;
        if (::fstatat(t.folder.get(), t.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            return S_ISLNK(st.st_mode) ? ENOENT : EEXIST;
        return OpenNewFile(t, 0666);
    }
    if (::fstat(object.get(), &st) != 0)
        return errno;
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    const bool byDescriptor = HaveDescriptorNames();
    if (!S_ISREG(st.st_mode)) {
        // A pipe, a terminal, a device: written into, through the object
        // already found.
        Descriptor out(::open(byDescriptor ? DescriptorPath(object.get()).c_str() : path.c_str(),
                              O_WRONLY | O_CLOEXEC));
        if (!out.valid())
            return errno;
        t.direct = true;
        t.fd = out.get();
        t.out = std::move(out);
        return 0;
    }
    // A regular file: replaced in its own folder, which the kernel names.
    std::string resolved;
    if (byDescriptor) {
        char buffer[PATH_MAX];
        const ssize_t length =
            ::readlink(DescriptorPath(object.get()).c_str(), buffer, sizeof buffer);
        if (length <= 0 || size_t(length) >= sizeof buffer)
            return length < 0 ? errno : ENAMETOOLONG;
        resolved.assign(buffer, size_t(length));
    } else {
        char* real = ::realpath(path.c_str(), nullptr);
        if (!real)
            return errno;
        resolved = real;
        std::free(real);
    }
    std::string folder;
    SplitPath(resolved, folder, t.name);
    t.folder = Descriptor(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat named = {};
    if (!t.folder.valid() ||
        ::fstatat(t.folder.get(), t.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        named.st_dev != st.st_dev || named.st_ino != st.st_ino) {
        // The file has no name any more (deleted, or moved meanwhile): it
        // cannot be replaced, so it is written into, as a copy would be.
        t.folder.Reset();
        Descriptor out(::open(byDescriptor ? DescriptorPath(object.get()).c_str() : path.c_str(),
                              O_WRONLY | O_TRUNC | O_CLOEXEC));
        if (!out.valid())
            return errno;
        t.direct = true;
        t.fd = out.get();
        t.out = std::move(out);
        return 0;
    }
    t.replaces = true;
    t.existing = st;
    return OpenNewFile(t, st.st_mode & 07777);
}

} // namespace

OutputStream::OutputStream() : target_(std::make_unique<Target>())
{
    target_->standard = true;
    target_->direct = true;
    target_->fd = STDOUT_FILENO;
    target_->shownName = QStringLiteral("standard output");
}

OutputStream::OutputStream(const QString& path) : target_(std::make_unique<Target>())
{
    target_->shownName = path;
    errno = 0;
    if (const int error = Resolve(*target_, QFile::encodeName(path).toStdString()))
        Fail(error);
}

OutputStream::~OutputStream() = default;

bool OutputStream::WritesThrough() const
{
    return target_->direct;
}

void OutputStream::Fail(int error) const
{
    const QString format = QString::fromStdString(TranslateMessage("Unable to write %s"));
    QString message = FormatMessage(format, {target_->shownName});
    // Standard output is named without a reason, as it always was.
    if (!target_->standard)
        message += QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
    throw Failure(message.toStdString());
}

void OutputStream::Write(std::string_view bytes)
{
    Target& t = *target_;
    while (!bytes.empty()) {
        const size_t piece = std::min(bytes.size(), bufferSize - t.held);
        std::memcpy(t.buffer.get() + t.held, bytes.data(), piece);
        t.held += piece;
        bytes.remove_prefix(piece);
        if (t.held == bufferSize) {
            if (const int error = t.HandOver())
                Fail(error);
        }
    }
}

void OutputStream::Flush()
{
    Target& t = *target_;
    int error = t.writer.joinable() ? t.Drain() : 0;
    if (error == 0 && t.held > 0)
        error = t.Put(t.buffer.get(), t.held);
    t.held = 0;
    if (error != 0)
        Fail(error);
}

void OutputStream::Commit()
{
    Target& t = *target_;
    Flush();
    if (t.direct) {
        t.committed = true;
        return;
    }
    const int fd = t.fd;
    int error = 0;
    if (t.replaces) {
        // The umask applied at creation; the replaced file's bits are kept
        // exactly, and its owner and group where this user may set them.
        if (::fchmod(fd, t.existing.st_mode & 07777) != 0)
            error = errno;
        if (!error && (t.existing.st_uid != ::geteuid() || t.existing.st_gid != ::getegid()) &&
            ::fchown(fd, t.existing.st_uid, t.existing.st_gid) != 0) {
            // Not allowed to this user: the new file stays this user's own.
        }
    }
    if (!error && ::fdatasync(fd) != 0)
        error = errno;
    bool placed = false;
    if (!error && t.anonymous) {
        const std::string self = DescriptorPath(fd);
        // Named straight as the target when there is none, else under a
        // hidden name that is then renamed over it.
        if (!t.replaces && ::linkat(AT_FDCWD, self.c_str(), t.folder.get(), t.name.c_str(),
                                    AT_SYMLINK_FOLLOW) == 0) {
            placed = true;
        } else {
            error = EEXIST;
            for (int tries = 0; tries < 100 && error == EEXIST; ++tries) {
                const std::string temporary = TemporaryName(t.name);
                if (::linkat(AT_FDCWD, self.c_str(), t.folder.get(), temporary.c_str(),
                             AT_SYMLINK_FOLLOW) == 0) {
                    t.temporary = temporary;
                    error = 0;
                } else {
                    error = errno;
                }
            }
        }
    }
    if (::close(t.out.Release()) != 0 && !error)
        error = errno;
    t.fd = -1;
    if (!error && !placed &&
        ::renameat(t.folder.get(), t.temporary.c_str(), t.folder.get(), t.name.c_str()) != 0)
        error = errno;
    if (error)
        Fail(error); // the destructor removes the temporary name
    t.committed = true;
}

} // namespace kestrix
