// What the file operations ask of the operating system: whether a file may
// be written, whether it is a program, reading a whole file, listing a
// folder in its own order, creating folders, moving a file over another and
// carrying a file's permissions and times over to a copy.
#pragma once

#include <QString>

#include <ctime>
#include <functional>
#include <string>
#include <string_view>

namespace kestrix {

// The system's text for an error number (strerror), as a QString.
QString SystemErrorText(int error);

// True when the path names a folder (following symbolic links).
bool IsFolder(const QString& path);
// True when the path names something that is not a folder (following
// symbolic links): a file, a device, a socket.
bool IsExistingFile(const QString& path);

// True when the file must not be written: it has no write permission for
// its owner (as after "chmod a-w"), the current user may not write it, it
// lies on a read-only file system, or its attributes cannot be read (it does
// not exist). For root, who may write anything, the owner's permission bit
// alone decides.
bool IsReadOnlyFile(const QString& path);

// What one look at a path (following symbolic links) tells.
struct FileStatus
{
    bool exists = false; // its attributes could be read
    bool folder = false;
    bool readOnly = true; // as IsReadOnlyFile
    unsigned permissions = 0;
    timespec accessed{};
    timespec modified{};
};
FileStatus StatusOf(const QString& path);

// True when the first bytes of a file are those of a program: a PE ("MZ"),
// ELF or Mach-O executable or a "#!" script; or when its name ends in .exe,
// .com, .bat or .cmd (in any letter case).
bool LooksLikeProgram(std::string_view firstBytes, const QString& fileName);
// The same for a file on disk; a file that cannot be read is judged by its
// name alone.
bool IsExecutableProgram(const QString& path);

// Reads a whole file as bytes. Throws Failure "Unable to read %s" (the
// path) followed by the system's reason when it cannot be opened or read.
std::string ReadWholeFile(const QString& path);

// One entry of a folder listing.
struct DirectoryEntry
{
    enum class Kind {
        File,        // a file, or a symbolic link to one (or to nothing)
        Folder,      // a real folder
        LinkToFolder // a symbolic link that leads to a folder
    };
    QString name;
    Kind kind = Kind::File;
    // False when the name's bytes are not valid text: `name` then holds a
    // replacement character and names no entry.
    bool validName = true;
    // The name's bytes as the system has them, kept only when they are not
    // valid text, so that what is reported of the entry can name it exactly.
    QByteArray nativeName;
};

// Calls `visit` for every entry of the folder except "." and "..", hidden
// ones included, in the order the file system returns them, while it
// returns true. False when the folder cannot be opened.
bool ListDirectory(const QString& folder, const std::function<bool(const DirectoryEntry&)>& visit);
// The same, the folder opened without following a link at its last step
// unless `followLink`. Returns 0, or the system's error number when the
// folder cannot be opened or read to its end.
int ListFolderEntries(const QString& folder, bool followLink,
                      const std::function<bool(const DirectoryEntry&)>& visit);

// Creates a folder and any missing parents. On failure returns false and
// sets `reason` to the system's reason.
bool MakeFolders(const QString& path, QString* reason = nullptr);

// Moves `from` over `to` in one step (rename), replacing `to`. The moved
// file keeps its permissions and times. On failure returns false and sets
// `reason`; both files are then as they were.
bool MoveFileOver(const QString& from, const QString& to, QString* reason = nullptr);

// Removes a file; false when it could not be removed.
bool RemoveFile(const QString& path);

// Gives `to` the permission bits and the access and modification times of
// `from`, as a copy made by the system's file copy keeps them. False when
// either could not be read or set.
bool CopyFileAttributes(const QString& from, const QString& to);
// The same with the permissions and times of a status taken earlier.
bool ApplyFileAttributes(const FileStatus& from, const QString& to);

} // namespace kestrix
