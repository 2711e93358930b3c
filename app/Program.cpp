#include "Program.h"

#include "platform/Errors.h"
#include "platform/FileAttributes.h"
#include "processing/Backup.h"
#include "processing/Batch.h"
#include "processing/CommandLine.h"
#include "processing/FileCommands.h"
#include "processing/FolderScan.h"
#include "processing/ui/FileDialogs.h"
#include "processing/ui/UnitFileList.h"
#include "processing/ui/UnitFileProgress.h"
#include "protection/ui/UnitEncryptionOptions.h"
#include "shell/ui/Images.h"
#include "shell/ui/UnitKestrix.h"
#include "shell/ui/UnitKestrixOptions.h"
#include "support/SettingsStore.h"
#include "support/Translation.h"
#include "support/ui/ModalDialog.h"
#include "support/ui/TranslateComponent.h"
#include "support/ui/UnitDownload.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

#include <cstdio>

namespace kestrix {

int RunProgram(const QStringList& arguments)
{
    QApplication::setWindowIcon(ApplicationIcon());
    SetApplicationTitle(QString::fromLatin1(applicationTitle));

    // The command line, before any window exists. Each argument is one
    // token as the shell passed it; bare names mean the working folder.
    CommandLine line;
    try {
        line = ParseCommandLine(arguments);
    } catch (const Failure& failure) {
        const QString message = QString::fromStdString(failure.what());
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        QMessageBox box(QMessageBox::Critical, ApplicationTitle(), message, QMessageBox::Ok);
        ExecModal(box);
        return usageExitStatus;
    }
    ResolveCommandLineNames(line, QDir::currentPath());

    // The windows, once, in their order (the main window last, as it is
    // given the others); every one lives until the end and is reused for
    // every command.
    TFormFileProgress progress;
    TFormKestrixOptions options;
    TFormEncryptionOptions protectionOptions;
    TFormFileList fileList;
    TFormDownload download;
    SettingsStore commandStore = SettingsStore::OpenProductKey();
    WindowFileDialogs dialogs(commandStore, protectionOptions, download);
    FileCommands commands(progress, dialogs);
    WindowGathering gathering(fileList);

    MainWindowServices services;
    services.secureFiles = [&](const QStringList& list, ProtectionParts parts) {
        commands.SecureFiles(list, parts);
    };
    services.restoreFiles = [&](const QStringList& list) { commands.RestoreFiles(list); };
    services.secureWebPage = [&](const QString& address) { commands.SecureWebPage(address); };
    services.gather = [&](const QStringList& selection, const QString& filter) {
        QStringList workList;
        GatherSelection(workList, selection, true, filter, gathering);
        return workList;
    };
    services.backupExists = [](const QString& path) { return BackupExists(path); };
    services.readOnly = [](const QString& path) { return IsReadOnlyFile(path); };
    services.backupItem = [backupName = BackupFolderName()](const QString& path) {
        const QFileInfo item(path);
        return item.fileName() == backupName ||
               QFileInfo(item.absolutePath()).fileName() == backupName;
    };
    TFormKestrix form(SettingsStore::OpenProductKey(), options, services);
    progress.SetOwner(&form);
    TranslateApplication();

    if (line.mode & cmOpenWindow) {
        form.SetStartPath(line.InputName);
        dialogs.SetOwner(&form);
        form.show();
        return QApplication::exec();
    }
    // The batch: the options dialog is the only window the user sees.
    protectionOptions.SetStandaloneMode(true);
    return int(RunBatch(line, dialogs));
}

} // namespace kestrix
