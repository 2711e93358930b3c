#include "processing/ui/FileDialogs.h"

#include "platform/MessageFormat.h"
#include "protection/ui/UnitEncryptionOptions.h"
#include "shell/ui/AskWithMemory.h"
#include "support/SettingsStore.h"
#include "support/Translation.h"
#include "support/ui/ModalDialog.h"
#include "support/ui/TranslateComponent.h"
#include "support/ui/UnitDownload.h"
#include "support/ui/WebDialogs.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

namespace kestrix {

int WindowFileDialogs::MessageDialog(DialogType type, const QString& text, DialogButtons buttons)
{
    // The program's standard message dialog, without "Don't ask again".
    TFormAskWithMemory dialog(text, type, buttons, owner_);
    TranslateComponent(&dialog);
    dialog.FitButtonsToCaptions();
    return ExecModal(dialog);
}

void WindowFileDialogs::ShowError(const QString& text)
{
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    // Without a main window (a command-line run) the error also goes to
    // standard error, where the caller's script can see it.
    if (!owner_)
        std::fprintf(stderr, "%s\n", shown.toLocal8Bit().constData());
    QMessageBox box(QMessageBox::Critical, ApplicationTitle(), shown, QMessageBox::Ok, owner_);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    ExecModal(box);
}

bool WindowFileDialogs::AskProtectionOptions(const std::string& pageText, ProtectionEngine& engine)
{
    // The dialog keeps the form start-up gave it: stand-alone, with its
    // own menu bar, only in the command-line batch.
    LoadProtectionOptions(protectionOptions_, store_);
    if (!EditProtectionOptions(protectionOptions_, engine, pageText))
        return false;
    if (!SaveProtectionOptions(protectionOptions_, store_))
        ShowError(FormatMessage(Tr("Unable to write %s"), {Tr("the stored settings")}));
    return true;
}

DownloadStatus WindowFileDialogs::DownloadUrl(const QString& caption, QString& location)
{
    if (download_.DownloadUrl(caption, location))
        return DownloadStatus::Succeeded;
    return download_.LastStatus();
}

bool WindowFileDialogs::PromptSaveFile(const QString& filter, const QString& defaultExtension,
                                       QString& path)
{
    if (!savePrompt_.Prompt(QString(), filter, defaultExtension))
        return false;
    path = savePrompt_.FileName();
    return true;
}

} // namespace kestrix
