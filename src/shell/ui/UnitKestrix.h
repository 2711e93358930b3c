// The main window: the folder tree and the file list of the local disk, the
// menu bar, the tool bar and the address bar, and the commands that secure,
// restore, view and edit the selected files.
#pragma once

#include "protection/ProtectionSettings.h"
#include "support/SettingsStore.h"

#include <QEvent>
#include <QMainWindow>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QFileIconProvider;
class QFileSystemModel;
class QLabel;
class QListView;
class QSplitter;
class QToolBar;
class QTreeView;

namespace kestrix {

class AddressBar;
class FileListModel;
class FileSelection;
class FolderNavigator;
class MainWindowActions;
class NavigationHistory;
class TFormKestrixOptions;

// The window's own posted events.
inline constexpr QEvent::Type goEvent = QEvent::Type(QEvent::User + 1);      // press Go
inline constexpr QEvent::Type startupEvent = QEvent::Type(QEvent::User + 2); // deferred start

// What the window's commands hand their work to: the file commands (with
// their progress, options and questions) and the desktop's handlers. The
// program fills it with the real ones, tests with their own.
struct MainWindowServices
{
    // Secures the files of a work list with the parts; restores a work
    // list; secures a web page. Required.
    std::function<void(const QStringList& workList, ProtectionParts parts)> secureFiles;
    std::function<void(const QStringList& workList)> restoreFiles;
    std::function<void(const QString& address)> secureWebPage;
    std::function<bool(const QString&)> view; // "open" a file; default: desktop
    std::function<bool(const QString&)> edit; // "edit" a file; default: desktop editor
    std::function<void()> networkSettings;    // Internet properties; default: desktop
    // The work list of a selection, folders expanded through the filter
    // after the folder question (asked at most once); required.
    std::function<QStringList(const QStringList& selection, const QString& filter)> gather;
    // Whether a file has a backup copy, and whether it is read-only;
    // required.
    std::function<bool(const QString&)> backupExists;
    std::function<bool(const QString&)> readOnly;
    // Whether a path is a backup folder or lies inside one: such items are
    // never secured from the window. Optional.
    std::function<bool(const QString&)> backupItem;
};

class TFormKestrix : public QMainWindow
{
    Q_OBJECT
public:
    TFormKestrix(SettingsStore store, TFormKestrixOptions& options, MainWindowServices services,
                 QWidget* parent = nullptr);
    ~TFormKestrix() override;

    // ---- state -------------------------------------------------------------
    // Whether the deferred start-up step has run.
    bool Started() const { return started_; }
    // The command line's name, shown at start-up; emptied once used.
    const QString& StartPath() const { return startPath_; }
    void SetStartPath(const QString& path) { startPath_ = path; }
    // Whether a file command runs.
    bool FileCommandBusy() const { return fileCommandBusy_; }
    // The paths the file list shows selected, in the folder it shows.
    const QStringList& Selection() const;
    NavigationHistory& History();
    SettingsStore& Store() { return store_; }

    // ---- operations --------------------------------------------------------
    void SaveMainSettings(SettingsStore& store);
    void LoadMainSettings(const SettingsStore& store);
    // The deferred start-up (posted when the window is first shown).
    void OnStartup();
    // Brings the tool bar, tree and list in line with the options dialog.
    void ApplyOptions();
    // The folder the tree shows (a normalised path; "/" is the root).
    QString Location() const;
    // Shows a folder in the tree and the list.
    void SetLocation(const QString& folder);
    // A local path typed or given: a file's folder with the file selected,
    // a node caption, a folder, or else the root.
    void NavigateToPath(const QString& text);
    // Go: a web address is secured, anything else navigated to.
    void SpeedButtonGoClick();
    // The securing and restoring commands on the selection.
    void SecureSelection();
    void RestoreSelection();
    // Recomputes every command's availability (run when the program idles).
    void UpdateActions();
    // The hint of Back or Forward: "Back to %s" / "Forward to %s" with the
    // folder's name; empty when there is no entry.
    QString NavigationHint(int offset) const;
    void RefreshFileList();
    // The selected paths of the folder shown, in list order.
    QStringList CollectSelection() const;

    QFileSystemModel& TreeModel() const { return *treeModel_; }
    FileListModel& ListModel() const { return *listModel_; }

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateViews();
    void CreateBars();
    void ShellTreeViewChange(const QString& folder);
    void SplitterShellMoved();
    void actViewAppOptionsExecute();
    void OpenSelection(bool edit);
    void SetShowHidden(bool on);
    // Runs a file command with the busy flag, the snapshot and the refresh.
    // Securing passes over backup folders and what they hold.
    template <class Command> void RunFileCommand(Command command, bool passOverBackups);

    SettingsStore store_;
    TFormKestrixOptions& options_;
    std::unique_ptr<QFileIconProvider> icons_; // outlives the models below
    MainWindowServices services_;
    QFileSystemModel* treeModel_ = nullptr;
    QFileSystemModel* listFiles_ = nullptr;
    FileListModel* listModel_ = nullptr;
    FileSelection* selection_ = nullptr;
    FolderNavigator* navigator_ = nullptr;
    MainWindowActions* actions_ = nullptr;
    QToolBar* twAddressBar = nullptr;
    AddressBar* AddressPanel = nullptr;
    QSplitter* PanelShell = nullptr;
    QTreeView* ShellTreeView = nullptr;
    QListView* ShellListView = nullptr;
    QLabel* StatusPanel0 = nullptr;
    QLabel* StatusPanel1 = nullptr;
    bool started_ = false;
    QString startPath_;
    bool fileCommandBusy_ = false;
    bool firstPaint_ = true;
    bool startupPosted_ = false;
};

} // namespace kestrix
