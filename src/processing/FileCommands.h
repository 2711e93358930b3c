// The file operations of the main window: securing a list of files after
// the protection options, restoring files from their backups, and securing a
// web page. Every question and window they show goes through
// FileCommandDialogs, so that they run and are tested without windows.
#pragma once

#include "processing/FileOperations.h"
#include "processing/FileProgress.h"
#include "protection/SecurePage.h"
#include "shell/RememberedAnswers.h"
#include "support/WebDownload.h"

#include <QString>
#include <QStringList>

#include <string>

namespace kestrix {

// What the file commands show and ask.
class FileCommandDialogs
{
public:
    virtual ~FileCommandDialogs() = default;
    // A standard message dialog of the type, with the text (line breaks as
    // CR LF) and the buttons; returns the result of the button pressed
    // (resultYes, resultNo, resultYesToAll), or resultCancel when it was
    // closed otherwise.
    virtual int MessageDialog(DialogType type, const QString& text, DialogButtons buttons) = 0;
    // A message box with the error icon, titled with the application title.
    virtual void ShowError(const QString& text) = 0;
    // The protection options dialog for a page (used for its preview; empty
    // for none), with the pages of the engine's parts: loads the stored
    // settings, shows the dialog without its own menu bar, and on OK stores
    // the values shown and gives them to the engine. True on OK; on Cancel
    // nothing is stored and the engine is unchanged.
    virtual bool AskProtectionOptions(const std::string& pageText, ProtectionEngine& engine) = 0;
    // Downloads a web page in the download dialog with the caption. On
    // success `location` names the local copy (which the caller deletes).
    virtual DownloadStatus DownloadUrl(const QString& caption, QString& location) = 0;
    // The save prompt with a filter ("description|pattern") and a default
    // extension; true with the chosen path in `path`.
    virtual bool PromptSaveFile(const QString& filter, const QString& defaultExtension,
                                QString& path) = 0;
};

class FileCommands
{
public:
    FileCommands(FileProgress& progress, FileCommandDialogs& dialogs);

    // The user answered Yes to All to the continue question of this run.
    bool ContinueWithoutAsking = false;
    // The user answered Yes to All to the already-secured warning.
    bool SecureAgainWithoutAsking = false;

    // The engine the runs secure with: its parts are set by each command,
    // its settings by the options dialog.
    ProtectionEngine& Engine() { return engine_; }

    // Secures the files of the list with the parts: the first readable file
    // is the options dialog's preview; after OK the progress dialog walks
    // the list with SecureFile. Cancel in the options dialog writes nothing.
    // A file that cannot be read ends the run, and its error is shown.
    void SecureFiles(const QStringList& list, ProtectionParts parts);
    // Restores the files of the list in the progress dialog with
    // RestoreFile; Cancel stops without a question.
    void RestoreFiles(const QStringList& list);

    // The progress dialog's item handlers: true lets the run go on.
    bool SecureFile(FileProgress& dialog, const QString& path);
    bool RestoreFile(FileProgress& dialog, const QString& path);
    // "Processing %s" with the file's name (no folder).
    static QString ItemCaption(FileProgress& dialog, const QString& path);
    // "This will stop the securing operation. Are you sure?"; on Yes lists
    // "Securing cancelled" and returns true.
    bool ConfirmStopSecuring(FileProgress& dialog);

    // The options dialog for a page with the engine's parts; true on OK.
    bool AskProtectionOptions(const std::string& pageText);

    // Downloads a web page, shows the options for it, secures it and saves
    // it where the user chooses (no backup on this path). Failures are
    // shown; the user's cancellations end it silently.
    void SecureWebPage(const QString& address);

private:
    class Questions;

    FileProgress& progress_;
    FileCommandDialogs& dialogs_;
    ProtectionEngine engine_;
};

} // namespace kestrix
