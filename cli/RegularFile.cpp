#include "RegularFile.h"

#include "platform/FileAttributes.h"
#include "platform/MessageFormat.h"
#include "support/Translation.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrix {

// Reads a file that is a regular file, not through a link, whole. Returns
// 0 or the error number (ELOOP for a link, EINVAL for anything that is not
// a regular file).
int ReadRegularFile(const QString& path, std::string& out)
{
    out.clear();
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
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
    // The size known in advance is read into the string; what a growing
    // file adds past it comes through a small buffer, so that no room is
    // cleared in advance for bytes that may never come.
    out.resize(size_t(st.st_size));
    size_t filled = 0;
    char more[4096];
    for (;;) {
        const bool inside = filled < out.size();
        const ssize_t n = inside ? ::read(fd, out.data() + filled, out.size() - filled)
                                 : ::read(fd, more, sizeof more);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            break;
        if (!inside)
            out.append(more, size_t(n));
        filled += size_t(n);
    }
    out.resize(filled);
    return 0;
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
