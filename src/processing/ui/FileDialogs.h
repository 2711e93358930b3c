// The questions and windows of the file commands as the desktop program
// shows them: the standard message dialog, error message boxes, the
// protection options dialog, the download dialog and the save prompt.
#pragma once

#include "processing/FileCommands.h"
#include "support/ui/WebDialogs.h"

class QWidget;

namespace kestrix {

class SettingsStore;
class TFormDownload;
class TFormEncryptionOptions;

class WindowFileDialogs : public FileCommandDialogs
{
public:
    // The protection settings are loaded from, and saved to, `store`. The
    // two dialogs are the program's own, created at start-up and reused for
    // every file; the save prompt is this object's, created on first use.
    WindowFileDialogs(SettingsStore& store, TFormEncryptionOptions& protectionOptions,
                      TFormDownload& download)
        : store_(store), protectionOptions_(protectionOptions), download_(download)
    {
    }

    // The window that owns the message boxes: the main window in window
    // mode; none (the default) in the command-line batch.
    void SetOwner(QWidget* owner) { owner_ = owner; }

    int MessageDialog(DialogType type, const QString& text, DialogButtons buttons) override;
    void ShowError(const QString& text) override;
    bool AskProtectionOptions(const std::string& pageText, ProtectionEngine& engine) override;
    DownloadStatus DownloadUrl(const QString& caption, QString& location) override;
    bool PromptSaveFile(const QString& filter, const QString& defaultExtension,
                        QString& path) override;

private:
    SettingsStore& store_;
    TFormEncryptionOptions& protectionOptions_;
    TFormDownload& download_;
    SaveFilePrompt savePrompt_;
    QWidget* owner_ = nullptr;
};

} // namespace kestrix
