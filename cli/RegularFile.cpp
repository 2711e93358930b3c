#include "RegularFile.h"

#include "platform/FileAttributes.h"
#include "platform/MessageFormat.h"
#include "support/Translation.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrix {

namespace {

void SizeForReading(std::string& out, size_t size)
{
    out.resize(size);
}
void SizeForReading(UninitialisedBuffer<char>& out, size_t size)
{
    ResizeForWriting(out, size);
}

// Reads a file that is a regular file, not through a link, whole. Returns
// 0 or the error number (ELOOP for a link, EINVAL for anything that is not
// a regular file).
template <typename Buffer> int ReadInto(const char* path, Buffer& out)
{
    out.clear();
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return errno;
    struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return EINVAL;
    // The size known in advance and one byte more are asked for at once:
    // the bytes the file had are read with one call, and a file that has
    // grown since shows it and is read on to its end.
    const auto known = size_t(st.st_size);
    SizeForReading(out, known + 1);
    size_t filled = 0;
    for (;;) {
        if (filled == out.size())
            out.resize(out.size() + std::max<size_t>(out.size() / 2, 4096));
        const ssize_t n = ::read(fd, out.data() + filled, out.size() - filled);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            break;
        filled += size_t(n);
        if (filled == known && out.size() == known + 1)
            break;
    }
    out.resize(filled);
    return 0;
}

} // namespace

int ReadRegularFile(const QString& path, std::string& out)
{
    return ReadInto(QFile::encodeName(path).constData(), out);
}

int ReadRegularFile(const char* path, UninitialisedBuffer<char>& out)
{
    return ReadInto(path, out);
}

QString ReadFailure(const QString& path, int error)
{
    if (error == ELOOP)
        return FormatMessage(Tr("%s is a symbolic link and was not followed"), {path});
    if (error == EINVAL)
        return FormatMessage(Tr("%s is not a regular file"), {path});
    return FormatMessage(Tr("Unable to read %s"), {path}) + QStringLiteral(": ") +
           SystemErrorText(error);
}

} // namespace kestrix
