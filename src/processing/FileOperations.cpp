#include "processing/FileOperations.h"

#include "platform/Errors.h"
#include "platform/FileAttributes.h"
#include "platform/MessageFormat.h"
#include "processing/Backup.h"
#include "protection/SecurePage.h"
#include "support/Translation.h"

namespace kestrix {

namespace {

QString Message(const char* english, const QString& path)
{
    return FormatMessage(Tr(english), {path});
}

// Lists an error that may end the run, and asks whether to go on.
void ListProblem(SecuringFile& file, const QString& message, MessageList& messages,
                 SecuringQuestions& questions)
{
    file.outcome = FileOutcome::Failed;
    messages.AddError(message);
    if (!questions.AskContinue(message))
        file.goOn = false;
}

QString FolderOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash >= 0 ? path.left(slash + 1) : QStringLiteral("./");
}

} // namespace

SecuringFile PrepareSecuring(const QString& path, const ProtectionEngine& engine,
                             MessageList& messages, SecuringQuestions& questions)
{
    SecuringFile file;
    file.path = path;
    file.status = StatusOf(path);
    if (file.status.folder) {
        file.outcome = FileOutcome::NotAFile;
        return file;
    }
    if (file.status.readOnly) {
        ListProblem(file, Message("%s: File is read only and cannot be secured.", path), messages,
                    questions);
        return file;
    }
    // The program check looks at the first bytes: the file is read once for
    // both. One that cannot be read is judged by its name before its read
    // error counts.
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    bool readable = true;
    try {
        file.original = ReadWholeFile(path);
    } catch (const Failure&) {
        if (!LooksLikeProgram({}, name))
            throw;
        readable = false;
    }
    if (!readable || LooksLikeProgram(std::string_view(file.original).substr(0, 4), name)) {
        file.original.clear();
        ListProblem(file,
                    Message("%s: File is forbidden and cannot be secured. It may be a program or "
                            "other binary file.",
                            path),
                    messages, questions);
        return file;
    }
    if (IsSecuredPage(file.original) && !questions.AskSecureAgain(path)) {
        file.outcome = FileOutcome::PassedOver;
        file.original.clear();
        return file;
    }
    file.secured = file.original;
    if (!engine.SecurePage(file.secured)) {
        file.secured.clear();
        ListProblem(file, Message("An error occurred securing file %s", path), messages, questions);
        return file;
    }
    file.outcome = FileOutcome::Ready;
    return file;
}

void WriteBackup(SecuringFile& file, MessageList& messages, WriteDurability durability)
{
    if (file.outcome != FileOutcome::Ready)
        return;
    const QString folder = BackupFolderFor(FolderOf(file.path));
    QString reason;
    if (!MakeFolders(folder, &reason)) {
        messages.AddError(Message("Unable to create the backup folder for %s", file.path) +
                          QStringLiteral(": ") + reason);
        file.outcome = FileOutcome::Failed;
        return;
    }
    const QString backup = BackupPathFor(file.path);
    file.hadBackup = IsExistingFile(backup);
    try {
        // The copy is written whole under a temporary name and then renamed:
        // a backup that exists is always complete.
        WriteFileAtomically(backup, file.original, durability);
    } catch (const Failure& failure) {
        messages.AddError(QString::fromStdString(failure.what()));
        file.outcome = FileOutcome::Failed;
        return;
    }
    // As the system's copy keeps them: the backup carries the permissions
    // and times the file had, and restoring gives them back.
    ApplyFileAttributes(file.status, backup);
}

void WriteSecured(SecuringFile& file, MessageList& messages, WriteDurability durability)
{
    if (file.outcome != FileOutcome::Ready)
        return;
    try {
        WriteFileAtomically(file.path, file.secured, durability);
    } catch (const Failure& failure) {
        messages.AddError(QString::fromStdString(failure.what()));
        // The file is as it was: without a backup of its own it stays plain.
        if (!file.hadBackup)
            RemoveFile(BackupPathFor(file.path));
        file.outcome = FileOutcome::Failed;
        return;
    }
    file.outcome = FileOutcome::Secured;
}

SecuringFile SecureOneFile(const QString& path, const ProtectionEngine& engine,
                           MessageList& messages, SecuringQuestions& questions,
                           WriteDurability backupDurability, WriteDurability fileDurability)
{
    SecuringFile file = PrepareSecuring(path, engine, messages, questions);
    WriteBackup(file, messages, backupDurability);
    WriteSecured(file, messages, fileDurability);
    return file;
}

FileOutcome RestoreOneFile(const QString& path, MessageList& messages, bool dryRun)
{
    if (IsFolder(path))
        return FileOutcome::NotAFile;
    const QString backup = BackupPathFor(path);
    if (IsExistingFile(backup)) {
        // A read-only file is one the user does not want replaced.
        if (IsExistingFile(path) && IsReadOnlyFile(path)) {
            messages.AddError(Message("Unable to restore %s", path) + QStringLiteral(": ") +
                              Tr("The file is read only."));
            return FileOutcome::Failed;
        }
        if (dryRun)
            return FileOutcome::Restored;
        // One rename: the file is replaced by its backup, never missing.
        QString reason;
        if (!MoveFileOver(backup, path, &reason)) {
            messages.AddError(Message("Unable to restore %s", path) + QStringLiteral(": ") +
                              reason);
            return FileOutcome::Failed;
        }
        return FileOutcome::Restored;
    }
    if (IsSecuredPage(ReadWholeFile(path)))
        messages.AddNote(Message("%s: No backup exists. This file cannot be restored.", path));
    return FileOutcome::PassedOver;
}

QString AlreadySecuredNote(const QString& path)
{
    return Message("%s: This file may already be secured. It was passed over.", path);
}

} // namespace kestrix
