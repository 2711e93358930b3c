#include "processing/FolderScan.h"

#include "platform/AtomicFile.h"
#include "platform/FileAttributes.h"
#include "platform/MessageFormat.h"
#include "processing/Backup.h"
#include "processing/FileOperations.h"
#include "support/SettingsStore.h"
#include "support/Translation.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <vector>

namespace kestrix {

QString StoredFileFilter(const SettingsStore& store)
{
    const QString filter = store.ReadString(QStringLiteral("FormKestrixOptions"),
                                            QStringLiteral("EditFileFilter.Text"), QString());
    return filter.isEmpty() ? QString::fromLatin1(defaultFileFilter) : filter;
}

FolderScanner::FolderScanner(const QString& filter, QStringList& workList, FolderScanView& view)
    : filter_(filter), workList_(workList), view_(view), backupFolderName_(BackupFolderName()),
      englishBackupFolderName_(QStringLiteral("Kestrix Backup")), countSuffix_(Tr(" files found."))
{
}

QString FolderScanner::CountText(qsizetype count) const
{
    return QString::number(count) + countSuffix_;
}

bool FolderScanner::ScanFolder(const QString& folder)
{
    return ScanBelow(folder, true);
}

bool FolderScanner::ScanBelow(const QString& folder, bool followLink)
{
    if (stopped_)
        return false;
    QString path = folder;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    view_.ShowFolder(path);

    // What cannot be searched is not passed over in silence: it becomes an
    // entry that the run lists as failed.
    auto problem = [&](const QString& at, const QString& message,
                       const QByteArray& nativeName = QByteArray()) {
        workList_.append(WorkListProblem(
            at, message,
            nativeName.isEmpty() ? QByteArray() : QFile::encodeName(path) + nativeName));
        view_.ShowCount(CountText(workList_.size()));
    };
    auto unreadable = [&](const QString& at, int error) {
        problem(at, FormatMessage(Tr("Unable to read %s"), {at}) + QStringLiteral(": ") +
                        SystemErrorText(error));
    };
    const QString shown = path.size() > 1 ? path.chopped(1) : path;
    if (QFile::encodeName(path).size() >= PATH_MAX) {
        unreadable(shown, ENAMETOOLONG);
        return true;
    }

    // The entries are taken first and the folder closed again, so that a
    // deep tree does not hold a descriptor per level.
    std::vector<DirectoryEntry> entries;
    const int error = ListFolderEntries(path, followLink, [&](const DirectoryEntry& entry) {
        entries.push_back(entry);
        return true;
    });
    // A folder that became a link since its entry was met is not followed.
    if (error == ELOOP && !followLink)
        return true;
    if (error) {
        unreadable(shown, error);
        if (entries.empty())
            return true;
    }
    for (const DirectoryEntry& entry : entries) {
        if (!view_.KeepGoing()) {
            stopped_ = true;
            break;
        }
        const QString entryPath = path + entry.name;
        switch (entry.kind) {
        case DirectoryEntry::Kind::Folder:
            // Backups are never gathered as pages: securing a folder twice
            // would otherwise secure the copies of its first securing.
            if (entry.name == backupFolderName_ || entry.name == englishBackupFolderName_)
                break;
            if (!entry.validName) {
                problem(entryPath,
                        FormatMessage(Tr("%s: The name is not valid text. The file was "
                                         "passed over."),
                                      {entryPath}),
                        entry.nativeName);
                break;
            }
            ScanBelow(entryPath, false);
            if (stopped_)
                return false;
            view_.ShowFolder(path);
            break;
        case DirectoryEntry::Kind::LinkToFolder:
            // A link may lead to a folder above it: following it would never end.
            break;
        case DirectoryEntry::Kind::File:
            if (IsAtomicWriteTemporary(entry.name))
                break;
            if (filter_.Matches(entry.name)) {
                if (!entry.validName)
                    problem(entryPath,
                            FormatMessage(Tr("%s: The name is not valid text. The file "
                                             "was passed over."),
                                          {entryPath}),
                            entry.nativeName);
                else if (QFile::encodeName(entryPath).size() >= PATH_MAX)
                    unreadable(entryPath, ENAMETOOLONG);
                else {
                    workList_.append(entryPath);
                    view_.ShowCount(CountText(workList_.size()));
                }
            }
            break;
        }
        if (stopped_)
            break;
    }
    return !stopped_;
}

bool ScanForFiles(const QString& startFolder, const QString& filter, QStringList& workList,
                  FolderScanView* view)
{
    if (!IsFolder(startFolder))
        return false;
    FolderScanView silent;
    FolderScanner scanner(filter, workList, view ? *view : silent);
    return scanner.ScanFolder(startFolder);
}

void GatherSelection(QStringList& workList, const QStringList& selection, bool expandFolders,
                     const QString& filter, GatheringDialogs& dialogs)
{
    workList.clear();
    bool asked = false;
    bool expand = false;
    for (const QString& path : selection) {
        if (expandFolders && IsFolder(path)) {
            if (!asked) {
                expand = dialogs.ConfirmFolderProcessing();
                asked = true;
            }
            if (expand)
                dialogs.ScanForFiles(path, filter, workList);
            else
                workList.append(path);
        } else {
            workList.append(path);
        }
    }
}

} // namespace kestrix
