#include "processing/FolderScan.h"

#include "platform/AtomicFile.h"
#include "platform/FileAttributes.h"
#include "processing/Backup.h"
#include "support/SettingsStore.h"
#include "support/Translation.h"

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
      countSuffix_(Tr(" files found."))
{
}

QString FolderScanner::CountText(qsizetype count) const
{
    return QString::number(count) + countSuffix_;
}

bool FolderScanner::ScanFolder(const QString& folder)
{
    if (stopped_)
        return false;
    QString path = folder;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    view_.ShowFolder(path);

    // The entries are taken first and the folder closed again, so that a
    // deep tree does not hold a descriptor per level.
    std::vector<DirectoryEntry> entries;
    ListDirectory(path, [&](const DirectoryEntry& entry) {
        entries.push_back(entry);
        return true;
    });
    for (const DirectoryEntry& entry : entries) {
        if (!view_.KeepGoing()) {
            stopped_ = true;
            break;
        }
        switch (entry.kind) {
        case DirectoryEntry::Kind::Folder:
            // Backups are never gathered as pages: securing a folder twice
            // would otherwise secure the copies of its first securing.
            if (entry.name == backupFolderName_)
                break;
            ScanFolder(path + entry.name);
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
                workList_.append(path + entry.name);
                view_.ShowCount(CountText(workList_.size()));
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
