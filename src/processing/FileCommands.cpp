#include "processing/FileCommands.h"

#include "platform/AtomicFile.h"
#include "platform/Errors.h"
#include "platform/FileAttributes.h"
#include "platform/MessageFormat.h"
#include "support/Translation.h"

namespace kestrix {

// The window's answers to the questions of securing one file: asked in
// message dialogs, with Yes to All remembered for the rest of the run.
class FileCommands::Questions : public SecuringQuestions
{
public:
    explicit Questions(FileCommands& commands) : commands_(commands) {}

    bool AskContinue(const QString& listedMessage) override
    {
        if (commands_.ContinueWithoutAsking)
            return true;
        const int answer =
            commands_.dialogs_.MessageDialog(DialogType::Error,
                                             listedMessage + QStringLiteral("\r\n\r\n") +
                                                 Tr("Do you wish to continue securing files?"),
                                             buttonYes | buttonNo | buttonYesToAll);
        if (answer == resultYesToAll)
            commands_.ContinueWithoutAsking = true;
        return answer == resultYes || answer == resultYesToAll;
    }

    bool AskSecureAgain(const QString& path) override
    {
        Q_UNUSED(path);
        if (commands_.SecureAgainWithoutAsking)
            return true;
        const int answer = commands_.dialogs_.MessageDialog(
            DialogType::Warning,
            Tr("This file may already be secured. Securing it again may make it "
               "unreadable.\r\n\r\nDo you wish to continue?"),
            buttonYes | buttonNo | buttonYesToAll);
        if (answer == resultYesToAll)
            commands_.SecureAgainWithoutAsking = true;
        return answer == resultYes || answer == resultYesToAll;
    }

private:
    FileCommands& commands_;
};

namespace {

// Resets the progress dialog however the run ended.
struct ResetWhenDone
{
    FileProgress& progress;
    ~ResetWhenDone() { progress.Reset(); }
};

} // namespace

FileCommands::FileCommands(FileProgress& progress, FileCommandDialogs& dialogs)
    : progress_(progress), dialogs_(dialogs)
{
}

void FileCommands::SecureFiles(const QStringList& list, ProtectionParts parts)
{
    if (list.isEmpty())
        return;
    // The preview: the first path that reads as a file; folders and locked
    // files are passed over.
    std::string preview;
    for (const QString& path : list)
        if (ReadPlainFile(path, preview))
            break;
    engine_.SetProtectionParts(parts);
    if (!AskProtectionOptions(preview))
        return;
    ContinueWithoutAsking = false;
    SecureAgainWithoutAsking = false;

    progress_.SetCaption(Tr("Securing Files..."));
    progress_.OnNextItem = [this](FileProgress& dialog, const QString& path) {
        return SecureFile(dialog, path);
    };
    progress_.OnNameQuery = &FileCommands::ItemCaption;
    progress_.OnCancelQuery = [this](FileProgress& dialog) { return ConfirmStopSecuring(dialog); };
    progress_.OnFinished = [this](FileProgress&) { ContinueWithoutAsking = false; };
    try {
        ResetWhenDone reset{progress_};
        progress_.Execute(list);
    } catch (const Failure& failure) {
        dialogs_.ShowError(QString::fromStdString(failure.what()));
    }
    ContinueWithoutAsking = false;
    // The backups are on disk before their files were replaced; the last
    // files of the run are pushed to disk now.
    const QString first = WorkListProblemPath(list.front());
    SyncFileSystemOf(IsFolder(first) ? first : FolderOfPath(first));
}

void FileCommands::RestoreFiles(const QStringList& list)
{
    if (list.isEmpty())
        return;
    progress_.SetCaption(Tr("Restoring Files..."));
    progress_.OnNextItem = [this](FileProgress& dialog, const QString& path) {
        return RestoreFile(dialog, path);
    };
    progress_.OnNameQuery = &FileCommands::ItemCaption;
    try {
        ResetWhenDone reset{progress_};
        progress_.Execute(list);
    } catch (const Failure& failure) {
        dialogs_.ShowError(QString::fromStdString(failure.what()));
    }
}

bool FileCommands::SecureFile(FileProgress& dialog, const QString& path)
{
    Questions questions(*this);
    // While another run holds the file's folder the window waits, with its
    // events flowing and Cancel working.
    return SecureOneFile(path, engine_, dialog, questions,
                         [&dialog] { return dialog.KeepWaiting(); })
        .goOn;
}

bool FileCommands::RestoreFile(FileProgress& dialog, const QString& path)
{
    RestoreOneFile(path, dialog, false, [&dialog] { return dialog.KeepWaiting(); });
    return true;
}

QString FileCommands::ItemCaption(FileProgress& dialog, const QString& path)
{
    Q_UNUSED(dialog);
    return FormatMessage(Tr("Processing %s"), {NameOfPath(WorkListProblemPath(path))});
}

bool FileCommands::ConfirmStopSecuring(FileProgress& dialog)
{
    if (dialogs_.MessageDialog(DialogType::Confirmation,
                               Tr("This will stop the securing operation. Are you sure?"),
                               buttonYes | buttonNo) != resultYes)
        return false;
    dialog.AddError(Tr("Securing cancelled"));
    return true;
}

bool FileCommands::AskProtectionOptions(const std::string& pageText)
{
    return dialogs_.AskProtectionOptions(pageText, engine_);
}

void FileCommands::SecureWebPage(const QString& address)
{
    try {
        QString local = address;
        const DownloadStatus status = dialogs_.DownloadUrl(Tr("Downloading Page..."), local);
        if (status == DownloadStatus::Cancelled)
            return;
        if (status != DownloadStatus::Succeeded) {
            dialogs_.ShowError(DownloadFailureMessage(address, status));
            return;
        }
        std::string page;
        {
            // Only the downloaded copy is removed, never a file the address
            // itself names.
            struct RemoveCopy
            {
                QString path;
                ~RemoveCopy()
                {
                    if (!path.isEmpty())
                        RemoveFile(path);
                }
            } copy{local != address ? local : QString()};
            page = ReadWholeFile(local);
        }

        engine_.SetProtectionParts(allProtectionParts);
        if (!AskProtectionOptions(page))
            return;
        // A page that cannot be secured is not saved: it would be published
        // in clear as if it were secured.
        if (!engine_.SecurePage(page)) {
            dialogs_.ShowError(FormatMessage(Tr("An error occurred securing file %s"), {address}));
            return;
        }
        QString target;
        if (!dialogs_.PromptSaveFile(QStringLiteral("HTML Files (*.html)|*.html"),
                                     QStringLiteral("html"), target))
            return;
        WriteFileAtomically(target, page);
    } catch (const Failure& failure) {
        dialogs_.ShowError(QString::fromStdString(failure.what()));
    } catch (const Cancelled&) {
    }
}

} // namespace kestrix
