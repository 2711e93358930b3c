// Reading a page whole, once, into the memory the engine reads it from.
#pragma once

#include "platform/LargeBuffer.h"

#include <QString>

#include <memory>
#include <string_view>

namespace kestrix {

class InputText;
InputText ReadInputFile(const QString& path);

// The bytes of a page read for one run: in memory of this program's own, or,
// for a large regular file, the file's own pages in the system's cache, lent
// for the run (see ReadInputFile). Read-only either way.
class InputText
{
public:
    InputText() = default;
    explicit InputText(LargeBuffer bytes);
    ~InputText();
    InputText(InputText&& other) noexcept;
    InputText& operator=(InputText&& other) noexcept;
    InputText(const InputText&) = delete;
    InputText& operator=(const InputText&) = delete;

    std::string_view View() const;
    // True when the bytes are the file's own pages.
    bool Lent() const { return lent_ != nullptr; }

    struct LentFile;

private:
    friend InputText ReadInputFile(const QString& path);

    LargeBuffer bytes_;
    std::unique_ptr<LentFile> lent_;
};

// Reads the file at `path` whole, or standard input for "-". The file is
// opened once and read through its descriptor (a regular file up to the size
// it has when opened, and on if it grows meanwhile; a pipe or device to its
// end). A regular file of a megabyte or more is not copied when the system
// lends it: its pages are mapped, and the file is held with a read lease, so
// that no other program can change or shorten it while it is mapped. One
// that opens it for writing, or shortens it, waits until this program has
// copied what it maps into memory of its own and let the file go (a
// moment); the bytes read stay those the file had when it was opened. Where
// no lease is to be had (another program has the file open for writing, the
// file is another user's, the file system has no leases) the file is read.
// Throws Failure in the program's words: "File %s does not exist" (also for
// a folder), "Unable to read %s: " and the system's reason.
InputText ReadInputFile(const QString& path);

} // namespace kestrix
