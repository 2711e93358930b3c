// Turning a selection of files and folders into a work list: every file
// below a selected folder whose name fits the file filter, depth first, in
// each folder's own order.
#pragma once

#include "processing/FileMask.h"
#include "support/SettingsStore.h"

#include <QString>
#include <QStringList>

namespace kestrix {

class SettingsStore;

// The stored "File Type Filter" of the application options, or the default
// when none (or an empty one) is stored.
QString StoredFileFilter(const SettingsStore& store);

// What a running search shows, and how it learns that the user cancelled.
class FolderScanView
{
public:
    virtual ~FolderScanView() = default;
    // The folder now being searched (ending in "/").
    virtual void ShowFolder(const QString& folder) { Q_UNUSED(folder); }
    // The work list's count after a find: "N files found."
    virtual void ShowCount(const QString& text) { Q_UNUSED(text); }
    // Called before every entry: lets pending events be handled; false once
    // the search is to stop.
    virtual bool KeepGoing() { return true; }
};

// One search: appends the matching files below a folder to a work list.
class FolderScanner
{
public:
    FolderScanner(const QString& filter, QStringList& workList, FolderScanView& view);

    // Searches a folder and its sub-folders, depth first and pre-order: a
    // sub-folder's files come where its entry is met. Hidden files are
    // searched like any other; a folder named as the backup folder
    // (translated or not), a symbolic link to a folder and temporary files of
    // the atomic writer are passed over. A folder that cannot be listed, a
    // name that is not valid text and a path too long become work-list
    // entries that the runs list as failed (WorkListProblem). False when the view stopped the
    // search; what was found stays in the list. An invalid mask throws Failure at the first name
    // tested against it.
    bool ScanFolder(const QString& folder);

    // "N files found." for a count.
    QString CountText(qsizetype count) const;

private:
    bool ScanBelow(const QString& folder, bool followLink);

    FileFilter filter_;
    QStringList& workList_;
    FolderScanView& view_;
    QString backupFolderName_;
    QString englishBackupFolderName_;
    QString countSuffix_;
    bool stopped_ = false;
};

// A search without a window. False when the start folder does not exist
// (nothing is appended) or the view stopped it.
bool ScanForFiles(const QString& startFolder, const QString& filter, QStringList& workList,
                  FolderScanView* view = nullptr);

// What gathering asks of the user and shows: the folder question and the
// search dialog.
class GatheringDialogs
{
public:
    virtual ~GatheringDialogs() = default;
    // "You have selected a folder. ..." through the remembered answers;
    // true on Yes.
    virtual bool ConfirmFolderProcessing() = 0;
    // Searches a folder in the scanning dialog; false when the folder does
    // not exist or the user cancelled (what was found stays appended).
    virtual bool ScanForFiles(const QString& folder, const QString& filter,
                              QStringList& workList) = 0;
};

// Empties the work list and fills it from the selected paths in their
// order: a file as it is, a folder (when expanding) replaced by its matching
// files after the folder question, which is asked once, at the first
// folder; a folder answered No (or not expanded) stays as its own path.
void GatherSelection(QStringList& workList, const QStringList& selection, bool expandFolders,
                     const QString& filter, GatheringDialogs& dialogs);

} // namespace kestrix
