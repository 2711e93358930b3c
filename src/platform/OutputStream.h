// Where a command's result goes, written in pieces as it is made: standard
// output, or a target the user names.
//
// A named target is resolved once, as given (links followed, including the
// descriptor links /dev/stdout and /proc/self/fd/N), and what it leads to
// decides how it is written:
//   - a regular file, or no file yet: the bytes go to a new file in the
//     target's folder that has no name (or a hidden temporary one) until
//     Commit syncs it to the disk and puts it in the target's place in one
//     step, with the replaced file's permission bits (and owner where this
//     user may set it). Until then the target is untouched, and an output
//     that is dropped without Commit leaves nothing behind;
//   - anything else that can be written (a pipe, a terminal, a device): the
//     bytes are written into it, as a copy program does, since it cannot be
//     replaced;
//   - a folder, or a link that leads nowhere: a failure, before anything is
//     written.
#pragma once

#include <QString>

#include <memory>
#include <string_view>

namespace kestrix {

class OutputStream
{
public:
    // Standard output.
    OutputStream();
    // The target at `path`. Throws Failure ("Unable to write %s" with the
    // system's reason, translated) when it cannot be written.
    explicit OutputStream(const QString& path);
    // Without Commit, a file target is left as it was.
    ~OutputStream();
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    // True when the bytes go straight to their destination as they are
    // written (standard output, a pipe, a device): whatever is written can
    // no longer be taken back.
    bool WritesThrough() const;

    // Appends bytes; they are copied, and may be held in a buffer until
    // later. Once more than a buffer's worth is written, full buffers are
    // handed to the system on a thread of its own while the next is filled.
    // Throws Failure as the constructor does (a failure of the thread's
    // writing at the next call).
    void Write(std::string_view bytes);
    // Writes what is held and, for a file target, syncs it and puts it in
    // place. Throws Failure as the constructor does; the target is then
    // left as it was.
    void Commit();

    struct Target;

private:
    void Flush();
    [[noreturn]] void Fail(int error) const;

    std::unique_ptr<Target> target_;
};

} // namespace kestrix
