// The questions and windows of the file commands as the desktop program
// shows them: the standard message dialog, error message boxes, the
// protection options dialog, the download dialog and the save prompt.
#pragma once

#include "processing/FileCommands.h"

class QWidget;

namespace kestrix {

class SettingsStore;

class WindowFileDialogs : public FileCommandDialogs
{
public:
    // The protection settings are loaded from, and saved to, `store`.
    explicit WindowFileDialogs(SettingsStore& store) : store_(store) {}

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
    QWidget* owner_ = nullptr;
};

} // namespace kestrix
