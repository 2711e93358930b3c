// Securing and restoring one file on disk, with its backup: every check made
// before a file is touched, the order in which the backup and the new file
// are written, and the messages of these steps. The window's runs and the
// command line both work through these functions.
#pragma once

#include "platform/AtomicFile.h"
#include "platform/FileAttributes.h"
#include "processing/MessageList.h"

#include <QString>

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
};

enum class FileOutcome {
    NotAFile,   // a folder: passed over without a message
    Ready,      // checked and secured in memory, not yet written
    Secured,    // the backup and the secured file are written
    Restored,   // the backup has been moved back
    PassedOver, // left alone by the user's answer, or nothing to do
    Failed,     // left alone because of a listed error
};

// One file on its way through securing.
struct SecuringFile
{
    QString path;
    FileOutcome outcome = FileOutcome::Ready;
    // False when the user chose to end the run after this file.
    bool goOn = true;
    std::string original;
    std::string secured;
    // Whether a backup existed before this securing wrote one.
    bool hadBackup = false;
    // The file's permissions and times when it was read, for its backup.
    FileStatus status;
};

// The checks, the read and the securing in memory, nothing written: a folder
// is passed over; a read-only file ("%s: File is read only and cannot be
// secured.") or a program ("%s: File is forbidden and cannot be secured. It
// may be a program or other binary file.") is listed as an error followed by
// the continue question; an already secured page asks first whether to
// secure it again; a page the engine cannot secure is listed ("An error
// occurred securing file %s") followed by the continue question. Throws
// Failure when the file cannot be read.
SecuringFile PrepareSecuring(const QString& path, const ProtectionEngine& engine,
                             MessageList& messages, SecuringQuestions& questions);

// Writes the backup of a prepared file: creates the backup folder and writes
// the original bytes there (keeping the file's permissions and times),
// atomically. On failure lists an error naming the file and marks it Failed;
// the file is untouched.
void WriteBackup(SecuringFile& file, MessageList& messages, WriteDurability durability);

// Replaces a prepared file whose backup is written by its secured text,
// atomically, and marks it Secured. On failure lists the error, removes a
// backup that this securing created (the file is plain again) and marks it
// Failed; the file is as it was.
void WriteSecured(SecuringFile& file, MessageList& messages, WriteDurability durability);

// All of securing one file, as the window's run does it: prepare, write the
// backup, then the file.
SecuringFile SecureOneFile(const QString& path, const ProtectionEngine& engine,
                           MessageList& messages, SecuringQuestions& questions,
                           WriteDurability backupDurability = WriteDurability::Synced,
                           WriteDurability fileDurability = WriteDurability::Deferred);

// Restores one file: a folder is passed over; when its backup exists, the
// backup is moved over the file in one step (a read-only file, or one that
// cannot be replaced, is listed as an error and left with its backup);
// otherwise a file that holds a secured page is listed as a note
// ("%s: No backup exists. This file cannot be restored."). With `dryRun`
// nothing is moved. Throws Failure when a file without backup cannot be
// read.
FileOutcome RestoreOneFile(const QString& path, MessageList& messages, bool dryRun = false);

// The note of the command line for an already secured page it passes over.
QString AlreadySecuredNote(const QString& path);

} // namespace kestrix
