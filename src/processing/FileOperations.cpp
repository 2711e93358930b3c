#include "processing/FileOperations.h"

#include "platform/Errors.h"
#include "platform/FileAttributes.h"
#include "platform/MessageFormat.h"
#include "processing/Backup.h"
#include "protection/SecurePage.h"
#include "support/Translation.h"

#include <QFile>

#include <cerrno>

namespace kestrix {

namespace {

QString Message(const char* english, const QString& path)
{
    return FormatMessage(Tr(english), {path});
}

QString WithReason(const QString& message, int error)
{
    return message + QStringLiteral(": ") + SystemErrorText(error);
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

QString NotPlainMessage(const QString& path)
{
    return Message("%s: This is not a plain file (a link or a device) and was passed over.", path);
}

QString BackupFolderProblem(const QString& path, int error)
{
    if (error == ELOOP || error == ENOTDIR)
        return Message("%s: Its backup folder is a link or not a folder. The file was left as it "
                       "is.",
                       path);
    return WithReason(Message("Unable to create the backup folder for %s", path), error);
}

QString BackupNotPlainMessage(const QString& path)
{
    return Message("%s: Its backup is not a plain file (a link or a device). The file was left as "
                   "it is.",
                   path);
}

// The problems of a path that are known before its folder is opened: an
// entry made by gathering, a file in a backup folder. True when one was
// handled (listed, the outcome set).
bool HandledBeforeOpening(const QString& path, FileOutcome& outcome, MessageList& messages)
{
    if (IsWorkListProblem(path)) {
        messages.AddError(WorkListProblemMessage(path));
        outcome = FileOutcome::Failed;
        return true;
    }
    if (IsInBackupFolder(path) && !IsFolder(path)) {
        messages.AddNote(
            Message("%s: This is a backup folder or lies in one, and was passed over.", path));
        outcome = FileOutcome::PassedOver;
        return true;
    }
    return false;
}

// The message for a folder that could not be opened.
QString FolderProblem(const QString& path, int error)
{
    if (error == ELOOP)
        return NotPlainMessage(path);
    return WithReason(Message("Unable to read %s", path), error);
}

[[noreturn]] void ThrowReadFailure(const QString& path, int error)
{
    throw Failure(WithReason(Message("Unable to read %s", path), error).toStdString());
}

constexpr QChar problemMark = QChar(0);

} // namespace

QString SecuringQuestions::MissingFileMessage(const QString& path)
{
    return Message("%s: File is read only and cannot be secured.", path);
}

QString MissingFileError(const QString& path)
{
    return FormatMessage(Tr("File %s does not exist"), {path});
}

QString FolderOfPath(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash > 0 ? path.left(slash) : slash == 0 ? QStringLiteral("/") : QStringLiteral(".");
}

QString NameOfPath(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

bool IsInBackupFolder(const QString& path)
{
    const QString translated = BackupFolderName();
    const QString english = QStringLiteral("Kestrix Backup");
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& part : parts)
        if (part == translated || part == english)
            return true;
    return false;
}

QString WorkListProblem(const QString& path, const QString& message, const QByteArray& nativePath)
{
    QString entry = problemMark + path + problemMark + message;
    if (!nativePath.isEmpty())
        entry += problemMark + QString::fromLatin1(nativePath);
    return entry;
}

bool IsWorkListProblem(const QString& entry)
{
    return entry.startsWith(problemMark);
}

QString WorkListProblemPath(const QString& entry)
{
    if (!IsWorkListProblem(entry))
        return entry;
    return entry.mid(1, entry.indexOf(problemMark, 1) - 1);
}

QString WorkListProblemMessage(const QString& entry)
{
    if (!IsWorkListProblem(entry))
        return entry;
    const qsizetype start = entry.indexOf(problemMark, 1) + 1;
    const qsizetype end = entry.indexOf(problemMark, start);
    return end < 0 ? entry.mid(start) : entry.mid(start, end - start);
}

QByteArray WorkListProblemNativePath(const QString& entry)
{
    if (!IsWorkListProblem(entry))
        return QByteArray();
    const qsizetype end = entry.indexOf(problemMark, entry.indexOf(problemMark, 1) + 1);
    return end < 0 ? QByteArray() : entry.mid(end + 1).toLatin1();
}

PageFolder::PageFolder(const QString& path, const QString& root) : path_(path)
{
    if (root.isEmpty() || root == path) {
        folder_ = Folder::Open(path, openError_);
        return;
    }
    const QString base = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    if (path.startsWith(base))
        folder_ = Folder::OpenBelow(root, path.mid(base.size()), openError_);
    else
        folder_ = Folder::Open(path, openError_);
}

const Folder* PageFolder::Backup(bool create, int& error)
{
    if (!backupTried_ || (!backup_.IsOpen() && create && backupError_ == ENOENT)) {
        backupTried_ = true;
        backupError_ = 0;
        const QByteArray name = QFile::encodeName(BackupFolderName());
        backup_ = create ? folder_.OpenOrMakeChild(name, backupError_)
                         : folder_.OpenChild(name, backupError_);
    }
    error = backupError_;
    return backup_.IsOpen() ? &backup_ : nullptr;
}

SecuringFile PrepareSecuring(const QString& path, PageFolder& folder,
                             const ProtectionEngine& engine, MessageList& messages,
                             SecuringQuestions& questions)
{
    SecuringFile file;
    file.path = path;
    file.name = QFile::encodeName(NameOfPath(path));
    if (IsWorkListProblem(path)) {
        ListProblem(file, WorkListProblemMessage(path), messages, questions);
        return file;
    }
    if (HandledBeforeOpening(path, file.outcome, messages))
        return file;
    if (!folder.IsOpen()) {
        ListProblem(file,
                    folder.OpenError() == ENOENT ? questions.MissingFileMessage(path)
                                                 : FolderProblem(path, folder.OpenError()),
                    messages, questions);
        return file;
    }
    int error = 0;
    FileHandle handle = folder.Handle().OpenEntry(file.name, file.status, error);
    if (file.status.type == EntryStatus::Type::Folder) {
        file.outcome = FileOutcome::NotAFile;
        return file;
    }
    if (file.status.type == EntryStatus::Type::Link ||
        file.status.type == EntryStatus::Type::Other) {
        ListProblem(file, NotPlainMessage(path), messages, questions);
        return file;
    }
    if (!handle.IsOpen() && error == ENOENT && path.contains(QChar::ReplacementCharacter)) {
        ListProblem(file,
                    Message("%s: The name is not valid text. The file was passed over.", path),
                    messages, questions);
        return file;
    }
    // The read-only check comes first, as it always has; a file that cannot
    // be opened is judged by its name before its read error counts.
    if (handle.IsOpen() && !folder.Handle().MayWrite(file.name, file.status)) {
        ListProblem(file, Message("%s: File is read only and cannot be secured.", path), messages,
                    questions);
        return file;
    }
    const QString name = NameOfPath(path);
    bool readable = handle.IsOpen();
    if (readable)
        error = ReadAll(handle, file.status.size, file.original);
    handle.Close();
    if (!readable || error) {
        if (!readable && error == ENOENT) {
            ListProblem(file, questions.MissingFileMessage(path), messages, questions);
            return file;
        }
        if (!LooksLikeProgram({}, name))
            ThrowReadFailure(path, error);
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

void WriteBackup(SecuringFile& file, PageFolder& folder, MessageList& messages,
                 WriteDurability durability)
{
    if (file.outcome != FileOutcome::Ready)
        return;
    auto fail = [&](const QString& message) {
        messages.AddError(message);
        file.outcome = FileOutcome::Failed;
    };
    int error = 0;
    const Folder* backup = folder.Backup(true, error);
    if (!backup)
        return fail(BackupFolderProblem(file.path, error));
    // As the system's copy keeps them, and more: the backup carries the
    // permissions, owner, group and times the file had, from the moment it
    // has a name, and restoring gives them back.
    NewFileAttributes attributes;
    attributes.permissions = file.status.permissions;
    attributes.exact = true;
    attributes.owner = file.status.owner;
    attributes.group = file.status.group;
    attributes.accessed = file.status.accessed;
    attributes.modified = file.status.modified;
    // Linked in under its name when there is no backup yet; an earlier one
    // (which must be a plain file) is replaced.
    error = backup->WriteEntry(file.name, file.original, attributes, false, durability,
                               &file.backupInode);
    if (error == EEXIST) {
        const EntryStatus existing = backup->StatusOf(file.name);
        if (existing.type != EntryStatus::Type::Regular)
            return fail(BackupNotPlainMessage(file.path));
        file.hadBackup = true;
        error = backup->WriteEntry(file.name, file.original, attributes, true, durability,
                                   &file.backupInode);
    }
    if (error)
        return fail(WithReason(Message("Unable to write %s", BackupPathFor(file.path)), error));
}

void WriteSecured(SecuringFile& file, PageFolder& folder, MessageList& messages,
                  WriteDurability durability)
{
    if (file.outcome != FileOutcome::Ready)
        return;
    // A backup this securing made goes again when the file is not replaced:
    // the file then stays plain, as it was. One that another run has put in
    // its place since is left alone.
    auto undoBackup = [&] {
        int error = 0;
        const Folder* backup = folder.Backup(false, error);
        if (!file.hadBackup && backup && backup->StatusOf(file.name).inode == file.backupInode)
            backup->RemoveEntry(file.name);
    };
    const EntryStatus now = folder.Handle().StatusOf(file.name);
    if (!now.SameFileAs(file.status)) {
        messages.AddError(Message("%s: The file was changed by another program while it was being "
                                  "secured, and was left as it is.",
                                  file.path));
        undoBackup();
        file.outcome = FileOutcome::Failed;
        return;
    }
    NewFileAttributes attributes;
    attributes.permissions = file.status.permissions;
    attributes.exact = true;
    attributes.owner = file.status.owner;
    attributes.group = file.status.group;
    attributes.privateUntilNamed = false; // the secured text
    const int error =
        folder.Handle().WriteEntry(file.name, file.secured, attributes, true, durability);
    if (error) {
        messages.AddError(WithReason(Message("Unable to write %s", file.path), error));
        undoBackup();
        file.outcome = FileOutcome::Failed;
        return;
    }
    file.outcome = FileOutcome::Secured;
}

SecuringFile SecureOneFile(const QString& path, const ProtectionEngine& engine,
                           MessageList& messages, SecuringQuestions& questions,
                           const std::function<bool()>& keepWaiting)
{
    PageFolder folder(FolderOfPath(path));
    if (folder.IsOpen() && !IsWorkListProblem(path) && !folder.Lock(keepWaiting)) {
        SecuringFile file;
        file.path = path;
        file.outcome = FileOutcome::PassedOver;
        return file;
    }
    SecuringFile file = PrepareSecuring(path, folder, engine, messages, questions);
    WriteBackup(file, folder, messages, WriteDurability::Synced);
    if (file.outcome == FileOutcome::Ready) {
        // The backup's name reaches the disk with its content, before the
        // file it keeps is replaced.
        int error = 0;
        if (const Folder* backup = folder.Backup(false, error))
            backup->Sync();
    }
    WriteSecured(file, folder, messages, WriteDurability::Deferred);
    folder.Unlock();
    return file;
}

FileOutcome RestoreFileIn(const QString& path, PageFolder& folder, MessageList& messages,
                          bool dryRun, bool missingFails, FileSizes* sizes)
{
    FileSizes unused;
    FileSizes& size = sizes ? *sizes : unused;
    FileOutcome outcome = FileOutcome::PassedOver;
    if (HandledBeforeOpening(path, outcome, messages))
        return outcome;
    if (!folder.IsOpen()) {
        messages.AddError(folder.OpenError() == ENOENT && missingFails
                              ? MissingFileError(path)
                              : FolderProblem(path, folder.OpenError()));
        return FileOutcome::Failed;
    }
    const QByteArray name = QFile::encodeName(NameOfPath(path));
    const EntryStatus page = folder.Handle().StatusOf(name);
    if (page.type == EntryStatus::Type::Folder)
        return FileOutcome::NotAFile;
    if (page.type == EntryStatus::Type::Regular)
        size.before = qint64(page.size);
    auto fail = [&](const QString& message) {
        messages.AddError(message);
        return FileOutcome::Failed;
    };
    if (page.type == EntryStatus::Type::Missing && path.contains(QChar::ReplacementCharacter))
        return fail(Message("%s: The name is not valid text. The file was passed over.", path));
    if (page.type == EntryStatus::Type::Missing && missingFails)
        return fail(MissingFileError(path));
    int error = 0;
    const Folder* backup = folder.Backup(false, error);
    if (!backup && error != ENOENT)
        return fail(BackupFolderProblem(path, error));
    const EntryStatus saved = backup ? backup->StatusOf(name) : EntryStatus{};
    if (saved.type != EntryStatus::Type::Missing) {
        if (saved.type != EntryStatus::Type::Regular)
            return fail(BackupNotPlainMessage(path));
        if (page.type == EntryStatus::Type::Link || page.type == EntryStatus::Type::Other)
            return fail(NotPlainMessage(path));
        // A read-only file is one the user does not want replaced.
        if (page.type == EntryStatus::Type::Regular && !folder.Handle().MayWrite(name, page))
            return fail(Message("Unable to restore %s", path) + QStringLiteral(": ") +
                        Tr("The file is read only."));
        if (!dryRun) {
            // One rename: the file is replaced by its backup, never missing.
            if (const int moved = backup->RenameEntry(name, folder.Handle(), name))
                return fail(WithReason(Message("Unable to restore %s", path), moved));
        }
        size.after = qint64(saved.size);
        return FileOutcome::Restored;
    }
    if (page.type == EntryStatus::Type::Link || page.type == EntryStatus::Type::Other)
        return FileOutcome::PassedOver;
    EntryStatus status;
    FileHandle file = folder.Handle().OpenEntry(name, status, error);
    std::string text;
    if (!file.IsOpen() || (error = ReadAll(file, status.size, text)) != 0)
        ThrowReadFailure(path, error);
    if (IsSecuredPage(text))
        messages.AddNote(Message("%s: No backup exists. This file cannot be restored.", path));
    return FileOutcome::PassedOver;
}

FileOutcome RestoreOneFile(const QString& path, MessageList& messages, bool dryRun,
                           const std::function<bool()>& keepWaiting)
{
    PageFolder folder(FolderOfPath(path));
    if (folder.IsOpen() && !IsWorkListProblem(path) && !folder.Lock(keepWaiting))
        return FileOutcome::PassedOver;
    const FileOutcome outcome = RestoreFileIn(path, folder, messages, dryRun);
    folder.Unlock();
    return outcome;
}

bool ReadPlainFile(const QString& path, std::string& bytes)
{
    if (IsWorkListProblem(path))
        return false;
    int error = 0;
    const Folder folder = Folder::Open(FolderOfPath(path), error);
    EntryStatus status;
    const FileHandle file =
        folder.IsOpen() ? folder.OpenEntry(QFile::encodeName(NameOfPath(path)), status, error)
                        : FileHandle();
    return file.IsOpen() && status.type == EntryStatus::Type::Regular &&
           ReadAll(file, status.size, bytes) == 0;
}

QString AlreadySecuredNote(const QString& path)
{
    return Message("%s: This file may already be secured. It was passed over.", path);
}

} // namespace kestrix
