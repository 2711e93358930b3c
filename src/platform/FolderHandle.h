// Files reached through an open folder instead of a path: the folder is
// opened once and its entries are opened, created, renamed and linked
// relative to it, so that a symbolic link met inside a tree is seen and never
// followed, and the file that was checked is the file that is read or
// replaced. Only the path a user names is resolved as given.
#pragma once

#include "platform/AtomicFile.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

namespace kestrix {

// A descriptor, closed by its owner.
class FileHandle
{
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : fd_(fd) {}
    FileHandle(FileHandle&& other) noexcept : fd_(other.Release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { Close(); }

    int Get() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    int Release();
    void Close();

private:
    int fd_ = -1;
};

// What one look at an entry tells, without following a link.
struct EntryStatus
{
    enum class Type { Missing, Regular, Folder, Link, Other };
    Type type = Type::Missing;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    mode_t permissions = 0; // the 07777 bits
    uid_t owner = 0;
    gid_t group = 0;
    timespec accessed{};
    timespec modified{};
    timespec changed{}; // the status change time, which no program sets

    // The same file with the same content as far as the system tells: the
    // same device and inode, size and modification time.
    bool SameFileAs(const EntryStatus& other) const;
};

// The attributes a new file is given before it gets its name.
struct NewFileAttributes
{
    mode_t permissions = 0666; // before the umask when `exact` is false
    bool exact = false;        // the permissions as they are, whatever the umask
    // Owner and group to give where this user may (-1: the creator's).
    uid_t owner = uid_t(-1);
    gid_t group = gid_t(-1);
    // Access and modification times to give (tv_nsec UTIME_OMIT: now).
    timespec accessed{0, UTIME_OMIT};
    timespec modified{0, UTIME_OMIT};
    // Whether the file may be read by others only once it has its name (it
    // holds the clear text of a backup); otherwise a temporary file may be
    // created with the final permissions at once.
    bool privateUntilNamed = true;
};

class Folder
{
public:
    Folder() = default;

    // Opens the folder a path names; links on the way are followed, as the
    // user named them. Returns a closed Folder and sets `error` on failure.
    static Folder Open(const QString& path, int& error);
    // Opens the folder `relative` below the folder `base` (both paths);
    // `base` is resolved as given, and no link below it is followed
    // (ELOOP or ENOTDIR when one is met). An empty `relative` is `base`.
    static Folder OpenBelow(const QString& base, const QString& relative, int& error);

    bool IsOpen() const { return fd_.IsOpen(); }
    int Descriptor() const { return fd_.Get(); }
    // The folder's own status (taken when it was opened).
    const EntryStatus& Status() const { return status_; }

    // Opens the folder `relative` below this one without following any
    // link on the way (ELOOP or ENOTDIR when one is met). An empty
    // `relative` opens this folder again.
    Folder OpenPath(const QByteArray& relative, int& error) const;
    // Opens a sub-folder, never through a link (ELOOP, ENOTDIR otherwise).
    Folder OpenChild(const QByteArray& name, int& error) const;
    // Opens a sub-folder, creating it first when it does not exist; a new
    // one takes this folder's owner and group (where permitted).
    Folder OpenOrMakeChild(const QByteArray& name, int& error) const;

    // The status of an entry, not following a link.
    EntryStatus StatusOf(const QByteArray& name) const;
    // Opens an entry for reading without following a link and without
    // waiting on a FIFO or a device, and gives its status (fstat). The
    // handle is closed and `error` set when it cannot be opened.
    FileHandle OpenEntry(const QByteArray& name, EntryStatus& status, int& error) const;
    // The target of a symbolic link entry; empty with `error` set otherwise.
    QByteArray LinkTarget(const QByteArray& name, int& error) const;
    // Whether this user may replace the entry (a regular file with this
    // status): the owner's write bit, the user's access, a file system
    // mounted read-write. For root the owner's bit and the file system decide.
    bool MayWrite(const QByteArray& name, const EntryStatus& status) const;

    // Writes `bytes` to a new file that gets the attributes and only then the
    // name `name`, atomically replacing an entry of that name when
    // `replace` is true (else EEXIST when one exists). Returns 0 or the
    // error number; on failure no new file remains. `written` receives the
    // new file's inode.
    int WriteEntry(const QByteArray& name, std::string_view bytes,
                   const NewFileAttributes& attributes, bool replace, WriteDurability durability,
                   ino_t* written = nullptr) const;
    // The same, the new file's content written by `fill` (given its
    // descriptor; false with errno set on failure).
    int WriteEntryWith(const QByteArray& name, const std::function<bool(int fd)>& fill,
                       const NewFileAttributes& attributes, bool replace,
                       WriteDurability durability, ino_t* written = nullptr) const;
    // Gives an opened file (by its descriptor, so exactly the file that was
    // checked) the name `name` in this folder as a further hard link,
    // atomically replacing an entry of that name. 0 or errno (EXDEV when the
    // file lies on another file system).
    int LinkEntry(const FileHandle& file, const QByteArray& name) const;
    // Creates a symbolic link `name` holding `target`, atomically replacing
    // an entry of that name. 0 or errno.
    int WriteLinkEntry(const QByteArray& name, const QByteArray& target) const;
    // Removes an empty sub-folder. 0 or errno (ENOTEMPTY when it holds
    // entries).
    int RemoveFolderEntry(const QByteArray& name) const;
    // Renames an entry of this folder over `toName` in `to`. 0 or errno.
    int RenameEntry(const QByteArray& name, const Folder& to, const QByteArray& toName) const;
    // Removes an entry that is not a folder. 0 or errno.
    int RemoveEntry(const QByteArray& name) const;

    // Takes the folder's advisory lock, waiting while another run holds it.
    // `keepWaiting` (when set) is asked about every 50 ms while waiting and
    // ends the wait when it answers false; the wait then returns false.
    // Where the file system has no locks the run goes on without one.
    bool Lock(const std::function<bool()>& keepWaiting = {});
    void Unlock();
    bool IsLocked() const { return locked_; }

    // Flushes the folder's entries to disk (fsync); 0 or errno.
    int Sync() const;
    // Flushes everything on the folder's file system (syncfs); 0 or errno.
    int SyncFileSystem() const;

private:
    FileHandle fd_;
    EntryStatus status_;
    bool locked_ = false;
    mutable int readOnlyFileSystem_ = -1;
};

// Reads a whole opened file; a regular file of the known size is taken as
// complete once that many bytes are read. 0 or errno.
int ReadAll(const FileHandle& file, off_t sizeHint, std::string& bytes);

// True when the folder `inner` is `outer` or lies anywhere below it, as the
// folders are on disk (links on the way to either were resolved when they
// were opened).
bool FolderLiesWithin(const Folder& inner, const Folder& outer);

// The process's file-creation mask, read once.
mode_t CurrentUmask();

// True when the bytes of a file name are valid UTF-8 text (the names this
// program shows and names again are text).
bool IsValidName(const QByteArray& name);

} // namespace kestrix
