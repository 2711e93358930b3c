#include "platform/InputFile.h"

#include "platform/Errors.h"
#include "platform/MessageFormat.h"
#include "platform/MessageTranslator.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

} // namespace

LargeBuffer ReadInputFile(const QString& path)
{
    LargeBuffer page;
    if (path == QLatin1String("-")) {
        struct stat st = {};
        const bool regular = ::fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode);
        const off_t at = regular ? ::lseek(STDIN_FILENO, 0, SEEK_CUR) : -1;
        const size_t expected = at >= 0 && st.st_size > at ? size_t(st.st_size - at) : 0;
        if (ReadAll(STDIN_FILENO, expected, page) != 0)
            Fail("Unable to read %s", QStringLiteral("standard input"), 0);
        return page;
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
    if (!error)
        error = ReadAll(fd, S_ISREG(st.st_mode) ? size_t(st.st_size) : 0, page);
    ::close(fd);
    if (error)
        Fail("Unable to read %s", path, error);
    return page;
}

} // namespace kestrix
