#include "processing/ui/BatchWindows.h"

#include "protection/ui/UnitEncryptionOptions.h"
#include "support/Translation.h"
#include "support/ui/ModalDialog.h"
#include "support/ui/UnitDownload.h"
#include "support/ui/WebDialogs.h"

#include <QMessageBox>

namespace kestrix {

DownloadStatus WindowBatchHooks::Download(const QString& address, QString& localFile)
{
    TFormDownload& form = FormDownload();
    QString location = address;
    if (form.DownloadUrl(Tr("Downloading Page..."), location)) {
        localFile = location;
        return DownloadStatus::Succeeded;
    }
    return form.ModalResult() == QDialog::Rejected ? DownloadStatus::Cancelled : form.LastStatus();
}

bool WindowBatchHooks::EditProtectionOptions(ProtectionEngine& engine, const std::string& page)
{
    LoadProtectionOptions(store_);
    if (!kestrix::EditProtectionOptions(engine, page))
        return false;
    SaveProtectionOptions(store_);
    return true;
}

std::optional<QString> WindowBatchHooks::PromptSaveFile()
{
    if (!kestrix::PromptSaveFile(QString(), QStringLiteral("HTML Files (*.html)|*.html"),
                                 QStringLiteral("html")))
        return std::nullopt;
    return SaveFileDialogFileName();
}

void WindowBatchHooks::ShowError(const QString& message)
{
    QString text = message;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    QMessageBox box(QMessageBox::Critical, ApplicationTitle(), text, QMessageBox::Ok);
    ExecModal(box);
}

} // namespace kestrix
