#include "platform/InputFile.h"

#include "platform/Errors.h"
#include "platform/MessageFormat.h"
#include "platform/MessageTranslator.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrix {

namespace {

[[noreturn]] void Fail(const char* english, const QString& name, int error)
{
    QString message = FormatMessage(QString::fromStdString(TranslateMessage(english)), {name});
    if (error != 0)
        message += QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
    throw Failure(message.toStdString());
}

// Reads to the end; `expected` is the size a regular file had when opened
// (0 when unknown). Returns 0 or the error number.
int ReadAll(int fd, size_t expected, LargeBuffer& out)
{
    // One byte more than expected, so that the end is seen without growing.
    out.Reserve(expected > 0 ? expected + 1 : size_t(64) << 10);
    for (;;) {
        if (out.size() == out.capacity())
            out.Reserve(2 * out.capacity());
        const ssize_t n = ::read(fd, out.data() + out.size(), out.capacity() - out.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return 0;
        out.SetSize(out.size() + size_t(n));
    }
}

// A file lent to this program: its pages mapped read-only, the file held
// with a read lease. The system tells of another program's wish to write or
// shorten the file with a signal, and that program waits until the lease is
// let go: the signal's handler then copies the mapped bytes into memory of
// this program's own, puts the copy where the mapping was (the bytes read
// stay the same, wherever the engine is in them), and lets the file go. A
// signal handler reaches only what is static, so the one file lent at a
// time is described here; it is the only state of this kind the program
// has, and it lives no longer than the run's input.
constexpr int leaseSignal = SIGURG; // ignored where no handler is set
enum LendState : int { Free, Setting, Held, Copying, Copied, Releasing };
struct LentMapping
{
    std::atomic<int> state{Free};
    char* address = nullptr;
    size_t fileLength = 0; // the mapped part: whole small pages of the file
    int fd = -1;
};
LentMapping lentMapping;

size_t PageSize()
{
    const long page = ::sysconf(_SC_PAGESIZE);
    return page > 0 ? size_t(page) : 4096;
}

// Copies the lent bytes into this program's memory at the same address and
// lets the file go; async-signal-safe. Where no memory is to be had the
// file stays held, and the other program waits until the run ends.
void CopyAndLetGo()
{
    int expected = Held;
    if (!lentMapping.state.compare_exchange_strong(expected, Copying))
        return;
    const size_t length = lentMapping.fileLength;
    void* copy =
        ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (copy != MAP_FAILED) {
        std::memcpy(copy, lentMapping.address, length);
        ::mprotect(copy, length, PROT_READ);
        if (::mremap(copy, length, length, MREMAP_MAYMOVE | MREMAP_FIXED, lentMapping.address) !=
            MAP_FAILED) {
            ::fcntl(lentMapping.fd, F_SETLEASE, F_UNLCK);
            lentMapping.state.store(Copied);
            return;
        }
        ::munmap(copy, length);
    }
    lentMapping.state.store(Held);
}

void LeaseBroken(int)
{
    const int saved = errno;
    CopyAndLetGo();
    errno = saved;
}

} // namespace

struct InputText::LentFile
{
    char* address = nullptr;
    size_t size = 0;     // the file's bytes
    size_t reserved = 0; // the mapping and one zero page after it

    ~LentFile()
    {
        if (!address)
            return; // never lent
        int expected = Held;
        if (lentMapping.state.compare_exchange_strong(expected, Releasing)) {
            ::fcntl(lentMapping.fd, F_SETLEASE, F_UNLCK);
        } else {
            // The handler is copying (on another thread): it is let finish.
            while (lentMapping.state.load() == Copying)
                ::sched_yield();
        }
        ::munmap(address, reserved);
        ::close(lentMapping.fd);
        lentMapping.fd = -1;
        lentMapping.state.store(Free);
    }
};

namespace {

// Maps the regular file open at `fd` when it is large and the system lends
// it (see ReadInputFile); null when it is to be read instead. `fd` is the
// lent file's from then on.
std::unique_ptr<InputText::LentFile> Lend(int fd, const struct stat& opened)
{
    if (!S_ISREG(opened.st_mode) || size_t(opened.st_size) < largeBufferThreshold)
        return nullptr;
    auto lent = std::make_unique<InputText::LentFile>();
    int expected = Free;
    if (!lentMapping.state.compare_exchange_strong(expected, Setting))
        return nullptr; // another file is lent: this one is read
    struct Undo
    {
        int fd;
        bool leased = false;
        bool done = false;
        ~Undo()
        {
            if (done)
                return;
            if (leased)
                ::fcntl(fd, F_SETLEASE, F_UNLCK);
            lentMapping.state.store(Free);
        }
    } undo{fd};
    struct sigaction action = {};
    action.sa_handler = LeaseBroken;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    if (::sigaction(leaseSignal, &action, nullptr) != 0 ||
        ::fcntl(fd, F_SETSIG, leaseSignal) != 0 || ::fcntl(fd, F_SETLEASE, F_RDLCK) != 0)
        return nullptr;
    undo.leased = true;
    // Its size now that no one can change it.
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || size_t(st.st_size) < largeBufferThreshold)
        return nullptr;
    const size_t page = PageSize();
    lent->size = size_t(st.st_size);
    const size_t fileLength = (lent->size + page - 1) / page * page;
    // One readable page of zeros after the file, as a buffer read into has
    // room after the bytes.
    lent->reserved = fileLength + page;
    void* region = ::mmap(nullptr, lent->reserved, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED)
        return nullptr;
    if (::mmap(region, fileLength, PROT_READ, MAP_PRIVATE | MAP_FIXED | MAP_POPULATE, fd, 0) ==
        MAP_FAILED) {
        ::munmap(region, lent->reserved);
        return nullptr;
    }
    lent->address = static_cast<char*>(region);
    lentMapping.address = lent->address;
    lentMapping.fileLength = fileLength;
    lentMapping.fd = fd;
    undo.done = true;
    lentMapping.state.store(Held);
    // A wish to write that came while the mapping was being made has sent
    // its signal already: it is answered now.
    if (::fcntl(fd, F_GETLEASE) != F_RDLCK)
        CopyAndLetGo();
    return lent;
}

} // namespace

InputText::InputText(LargeBuffer bytes) : bytes_(std::move(bytes))
{
}

InputText::~InputText() = default;

InputText::InputText(InputText&& other) noexcept = default;

InputText& InputText::operator=(InputText&& other) noexcept = default;

std::string_view InputText::View() const
{
    return lent_ ? std::string_view(lent_->address, lent_->size) : bytes_.View();
}

InputText ReadInputFile(const QString& path)
{
    LargeBuffer page;
    if (path == QLatin1String("-")) {
        struct stat st = {};
        const bool regular = ::fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode);
        const off_t at = regular ? ::lseek(STDIN_FILENO, 0, SEEK_CUR) : -1;
        const size_t expected = at >= 0 && st.st_size > at ? size_t(st.st_size - at) : 0;
        if (ReadAll(STDIN_FILENO, expected, page) != 0)
            Fail("Unable to read %s", QStringLiteral("standard input"), 0);
        return InputText(std::move(page));
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            Fail("File %s does not exist", path, 0);
        Fail("Unable to read %s", path, errno);
    }
    struct stat st = {};
    int error = ::fstat(fd, &st) == 0 ? 0 : errno;
    if (!error && S_ISDIR(st.st_mode)) {
        ::close(fd);
        Fail("File %s does not exist", path, 0);
    }
    if (!error) {
        if (std::unique_ptr<InputText::LentFile> lent = Lend(fd, st)) {
            InputText text;
            text.lent_ = std::move(lent);
            return text;
        }
        error = ReadAll(fd, S_ISREG(st.st_mode) ? size_t(st.st_size) : 0, page);
    }
    ::close(fd);
    if (error)
        Fail("Unable to read %s", path, error);
    return InputText(std::move(page));
}

} // namespace kestrix
