// Securing and restoring one file on disk, with its backup: every check made
// before a file is touched, the order in which the backup and the new file
// are written, and the messages of these steps. The window's runs and the
// command line both work through these functions.
#pragma once

#include "platform/AtomicFile.h"
#include "platform/FileAttributes.h"
#include "platform/FolderHandle.h"
#include "processing/MessageList.h"

#include <QString>

#include <functional>
#include <string>

namespace kestrix {

struct ProtectionEngine;

// What securing a file may need to ask; the window asks the user, the
// command line answers by its switches.
class SecuringQuestions
{
public:
    virtual ~SecuringQuestions() = default;
    // After a problem has been listed (the message given): true to go on
    // with the run, false to end it after this file.
    virtual bool AskContinue(const QString& listedMessage) = 0;
    // The file already holds a secured page: true to secure it again.
    virtual bool AskSecureAgain(const QString& path) = 0;
    // The message for a file that does not exist: the window counts it
    // read-only, as a file whose attributes cannot be read.
    virtual QString MissingFileMessage(const QString& path);
};

enum class FileOutcome {
    NotAFile,   // a folder: passed over without a message
    Ready,      // checked and secured in memory, not yet written
    Secured,    // the backup and the secured file are written
    Restored,   // the backup has been moved back
    PassedOver, // left alone by the user's answer, or nothing to do
    Failed,     // left alone because of a listed error
};

// A folder whose pages are worked on: opened once, never through a link
// below the folder the user named, with its backup folder opened (or made)
// on first use. Its advisory lock is what keeps two runs off one page.
class PageFolder
{
public:
    // The folder `path`; with `root` (a folder that holds it, as the user
    // named it) the part below `root` is reached without following a link.
    explicit PageFolder(const QString& path, const QString& root = QString());

    const QString& Path() const { return path_; }
    bool IsOpen() const { return folder_.IsOpen(); }
    // The system's error number when the folder could not be opened.
    int OpenError() const { return openError_; }
    const Folder& Handle() const { return folder_; }

    // The backup folder, opened on first use and made when `create`; null
    // when it does not exist (and is not to be made) or is not a real
    // folder, with `error` set (ELOOP or ENOTDIR for a link or a file).
    const Folder* Backup(bool create, int& error);

    // The folder's lock, waiting while another run holds it (see
    // Folder::Lock); false when `keepWaiting` ended the wait.
    bool Lock(const std::function<bool()>& keepWaiting = {}) { return folder_.Lock(keepWaiting); }
    void Unlock() { folder_.Unlock(); }

private:
    QString path_;
    Folder folder_;
    int openError_ = 0;
    Folder backup_;
    bool backupTried_ = false;
    int backupError_ = 0;
};

// One file on its way through securing.
struct SecuringFile
{
    QString path;
    QByteArray name; // the file's name in its folder, as the system has it
    FileOutcome outcome = FileOutcome::Ready;
    // False when the user chose to end the run after this file.
    bool goOn = true;
    std::string original;
    std::string secured;
    // Whether a backup existed before this securing wrote one.
    bool hadBackup = false;
    // The file as it was read: its permissions, owner and times go to its
    // backup, and it is replaced only while it is still this file.
    EntryStatus status;
    // The backup this securing wrote.
    ino_t backupInode = 0;
};

// The checks, the read and the securing in memory, nothing written, for a
// file of an opened folder: a folder is passed over; a link, FIFO, device
// or socket is listed ("%s: This is not a plain file (a link or a device)
// and was passed over."); a file in a backup folder is passed over with a
// note; a read-only file ("%s: File is read only and cannot be secured.")
// or a program ("%s: File is forbidden and cannot be secured. It may be a
// program or other binary file.") is listed as an error followed by the
// continue question; an already secured page asks first whether to secure
// it again; a page the engine cannot secure is listed ("An error occurred
// securing file %s") followed by the continue question. Throws Failure
// when the file cannot be read.
SecuringFile PrepareSecuring(const QString& path, PageFolder& folder,
                             const ProtectionEngine& engine, MessageList& messages,
                             SecuringQuestions& questions);

// Writes the backup of a prepared file: opens or makes the backup folder
// (which must be a real folder) and writes the original bytes there under
// the file's name, with the file's permissions, owner, group and times given
// before the name (an existing backup must be a plain file). On failure
// lists an error naming the file and marks it Failed; the file is untouched.
void WriteBackup(SecuringFile& file, PageFolder& folder, MessageList& messages,
                 WriteDurability durability);

// Replaces a prepared file whose backup is written by its secured text,
// atomically, with the file's permissions (and owner and group where
// permitted), and marks it Secured. A file that another program changed
// since it was read is left as it is. On failure lists the error, removes
// a backup that this securing created (the file is plain again) and marks
// it Failed; the file is as it was.
void WriteSecured(SecuringFile& file, PageFolder& folder, MessageList& messages,
                  WriteDurability durability);

// All of securing one file, as the window's run does it: open its folder,
// take the folder's lock (asking `keepWaiting` while another run holds it;
// a wait it ends leaves the file alone, PassedOver), prepare, write the
// backup and push it and its folder to disk, then replace the file.
SecuringFile SecureOneFile(const QString& path, const ProtectionEngine& engine,
                           MessageList& messages, SecuringQuestions& questions,
                           const std::function<bool()>& keepWaiting = {});

// Restores one file of an opened folder (whose lock the caller holds): a
// folder is passed over; when its backup exists, the backup is moved over
// the file in one step (a read-only file, a file that is not a plain file,
// a backup that is not a plain file, or one that cannot be moved is listed
// as an error and left with its backup); otherwise a file that holds a
// secured page is listed as a note ("%s: No backup exists. This file
// cannot be restored."). With `dryRun` nothing is moved. Throws Failure
// when a file without backup cannot be read.
// With `missingFails` a file that does not exist is listed ("File %s does
// not exist") instead of being put back from its backup.
// With `sizes`, the size of the file before (when it could be seen) and,
// restored, after.
struct FileSizes
{
    qint64 before = -1;
    qint64 after = -1;
};
FileOutcome RestoreFileIn(const QString& path, PageFolder& folder, MessageList& messages,
                          bool dryRun, bool missingFails = false, FileSizes* sizes = nullptr);

// Restores one file by its path, under its folder's lock (waiting as
// SecureOneFile does).
FileOutcome RestoreOneFile(const QString& path, MessageList& messages, bool dryRun = false,
                           const std::function<bool()>& keepWaiting = {});

// The folder and the name of a path ("./" for a bare name).
QString FolderOfPath(const QString& path);
QString NameOfPath(const QString& path);

// True when the path is a backup folder or lies in one (under the name
// this program uses for it, translated or not): such files are backups and
// are never secured or restored as pages.
bool IsInBackupFolder(const QString& path);

// A work-list entry that stands for a problem met while gathering (a folder
// that cannot be listed, a name that is not valid text, a path too long):
// the path and the message, marked so that the entry names no file. The
// runs list its message as an error and count it failed. `nativePath` is
// the path's bytes as the system has them, given when they are not valid
// text (the path then holds replacement characters).
QString WorkListProblem(const QString& path, const QString& message,
                        const QByteArray& nativePath = QByteArray());
bool IsWorkListProblem(const QString& entry);
// The path and the message of such an entry (the entry itself otherwise).
QString WorkListProblemPath(const QString& entry);
QString WorkListProblemMessage(const QString& entry);
// The bytes given as `nativePath`; empty when none were.
QByteArray WorkListProblemNativePath(const QString& entry);

// Reads a plain file (a regular file, reached without following a link at
// its last step, never waiting on a FIFO or a device). False when it is
// anything else or cannot be read.
bool ReadPlainFile(const QString& path, std::string& bytes);

// "File %s does not exist", filled.
QString MissingFileError(const QString& path);

// The note of the command line for an already secured page it passes over.
QString AlreadySecuredNote(const QString& path);

} // namespace kestrix
