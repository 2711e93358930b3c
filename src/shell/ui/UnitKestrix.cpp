#include "shell/ui/UnitKestrix.h"

#include "platform/MessageFormat.h"
#include "platform/desktop/DesktopEdit.h"
#include "platform/desktop/DesktopOpen.h"
#include "shell/CommandAvailability.h"
#include "shell/ui/AddressBar.h"
#include "shell/ui/FileListModel.h"
#include "shell/ui/FileSelection.h"
#include "shell/ui/FolderNavigator.h"
#include "shell/ui/Images.h"
#include "shell/ui/MainWindowActions.h"
#include "shell/ui/UnitKestrixOptions.h"
#include "support/Translation.h"
#include "support/VersionInfo.h"
#include "support/WebHelpers.h"
#include "support/ui/FormState.h"
#include "support/ui/ModalDialog.h"
#include "support/ui/UnitAboutBox.h"
#include "support/ui/WebDialogs.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QTreeView>

namespace kestrix {

namespace {

QString L(const char* text)
{
    return QString::fromUtf8(text);
}

const QString mainSection = QStringLiteral("FormKestrix");
const QString activeDirectoryName = QStringLiteral("ActiveDirectory");
const QString dockingName = QStringLiteral("Docking");
constexpr int treeWidth = 200;
constexpr int splitterWidth = 4;

// The parts of a QDir filter that every view shares, with or without
// hidden items.
QDir::Filters ViewFilter(bool folders, bool hidden)
{
    QDir::Filters filter = QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives;
    if (!folders)
        filter |= QDir::Files | QDir::System;
    if (hidden)
        filter |= QDir::Hidden;
    return filter;
}

// The desktop's file icons, or the style's own where the icon theme has
// none (a bare desktop has no theme), so that every item has an icon.
class FallbackIconProvider : public QFileIconProvider
{
public:
    QIcon icon(IconType type) const override
    {
        const QIcon themed = QFileIconProvider::icon(type);
        return themed.isNull() ? Standard(type == Folder || type == Drive) : themed;
    }
    QIcon icon(const QFileInfo& info) const override
    {
        const QIcon themed = QFileIconProvider::icon(info);
        return themed.isNull() ? Standard(info.isDir()) : themed;
    }

private:
    static QIcon Standard(bool folder)
    {
        return QApplication::style()->standardIcon(folder ? QStyle::SP_DirIcon
                                                          : QStyle::SP_FileIcon);
    }
};

} // namespace

TFormKestrix::TFormKestrix(SettingsStore store, TFormKestrixOptions& options,
                           MainWindowServices services, QWidget* parent)
    : QMainWindow(parent), store_(std::move(store)), options_(options),
      services_(std::move(services))
{
    if (!services_.view)
        services_.view = [](const QString& path) { return OpenFileWithDesktop(path); };
    if (!services_.edit)
        services_.edit = [](const QString& path) { return EditFileWithDesktop(path); };
    if (!services_.networkSettings)
        services_.networkSettings = [] { OpenNetworkSettings(); };

    // FormCreate.
    setObjectName(mainSection);
    setWindowTitle(ApplicationTitle());
    setWindowIcon(ApplicationIcon());
    setDockOptions(QMainWindow::AnimatedDocks);
    CreateViews();
    CreateBars();

    // Design size 660 x 554, centred on the desktop.
    resize(660, 554);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    // Availability is recomputed whenever the program is about to idle.
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                &TFormKestrix::UpdateActions);
    options_.SetOwner(this);
    SplitterShellMoved();
    SetLocation(QDir::homePath());
    UpdateActions();
}

TFormKestrix::~TFormKestrix()
{
    // FormDestroy: the list's deselection empties the selection list; the
    // window's own settings reach the store.
    selection_->Clear();
    delete selection_;
    navigator_->History().Clear();
    SaveMainSettings(store_);
    store_.Flush();
    // The parts that watch the views go before them.
    delete navigator_;
    // The views and models go before the icon provider they use.
    delete PanelShell;
    delete listModel_;
    delete listFiles_;
    delete treeModel_;
}

// ---- construction --------------------------------------------------------------

void TFormKestrix::CreateViews()
{
    // The folder tree: folders only, from the file system's root.
    icons_ = std::make_unique<FallbackIconProvider>();
    treeModel_ = new QFileSystemModel(this);
    treeModel_->setObjectName(L("ShellTreeModel"));
    treeModel_->setIconProvider(icons_.get());
    treeModel_->setFilter(ViewFilter(true, false));
    treeModel_->setRootPath(QDir::rootPath());
    // The file list: the tree's folder, files through the filter (others
    // are not shown at all), folders always.
    listFiles_ = new QFileSystemModel(this);
    listFiles_->setObjectName(L("ShellListModel"));
    listFiles_->setIconProvider(icons_.get());
    listFiles_->setFilter(ViewFilter(false, false));
    listFiles_->setNameFilterDisables(false);
    listFiles_->setNameFilters(QString::fromLatin1(defaultFileFilter).split(u';'));
    // Sorted by name, folders first, as a file window lists them.
    listFiles_->sort(0, Qt::AscendingOrder);
    treeModel_->sort(0, Qt::AscendingOrder);
    listModel_ = new FileListModel(
        *listFiles_,
        [this](const QString& path) {
            // A read-only file is marked so even when it has a backup.
            if (QFileInfo(path).isDir())
                return markNone;
            if (services_.readOnly && services_.readOnly(path))
                return markReadOnly;
            if (services_.backupExists && services_.backupExists(path))
                return markSecured;
            return markNone;
        },
        this);

    PanelShell = new QSplitter(Qt::Horizontal, this);
    PanelShell->setObjectName(L("PanelShell"));
    PanelShell->setHandleWidth(splitterWidth);
    PanelShell->setChildrenCollapsible(false);
    PanelShell->setOpaqueResize(true);

    ShellTreeView = new QTreeView(PanelShell);
    ShellTreeView->setObjectName(L("ShellTreeView"));
    ShellTreeView->setModel(treeModel_);
    ShellTreeView->setRootIndex(treeModel_->index(QDir::rootPath()));
    for (int column = 1; column < treeModel_->columnCount(); ++column)
        ShellTreeView->hideColumn(column);
    ShellTreeView->setHeaderHidden(true);
    ShellTreeView->setContextMenuPolicy(Qt::NoContextMenu);
    ShellTreeView->installEventFilter(this);

    ShellListView = new QListView(PanelShell);
    ShellListView->setObjectName(L("ShellListView"));
    ShellListView->setModel(listModel_);
    ShellListView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ShellListView->setViewMode(QListView::ListMode);
    ShellListView->setIconSize(QSize(16, 16));
    ShellListView->setResizeMode(QListView::Adjust);
    ShellListView->setWrapping(true);
    ShellListView->setContextMenuPolicy(Qt::CustomContextMenu);
    ShellListView->installEventFilter(this);

    PanelShell->addWidget(ShellTreeView);
    PanelShell->addWidget(ShellListView);
    PanelShell->setStretchFactor(1, 1);
    PanelShell->setSizes({treeWidth, 660 - treeWidth - splitterWidth});
    setCentralWidget(PanelShell);

    // The navigation: the list follows the tree.
    navigator_ = new FolderNavigator(*ShellTreeView, *treeModel_, this);
    connect(navigator_, &FolderNavigator::locationChanged, this,
            &TFormKestrix::ShellTreeViewChange);
    // The selection: exactly what the list shows selected in its folder;
    // the only selected item is shown in the address box.
    selection_ = new FileSelection(*ShellListView, *listModel_, this);
    connect(selection_, &FileSelection::onlyItemSelected, this,
            [this](const QString& path) { AddressPanel->SetText(path); });
    // A double-clicked folder opens in the tree, as in any file window.
    connect(ShellListView, &QAbstractItemView::activated, this, [this](const QModelIndex& index) {
        const QString path = listModel_->FilePath(index);
        if (QFileInfo(path).isDir())
            SetLocation(path);
    });
    connect(PanelShell, &QSplitter::splitterMoved, this, &TFormKestrix::SplitterShellMoved);

    // The status bar: panel 0 as wide as the folder pane, panel 1 the path.
    StatusPanel0 = new QLabel(this);
    StatusPanel0->setObjectName(L("StatusPanel0"));
    StatusPanel1 = new QLabel(this);
    StatusPanel1->setObjectName(L("StatusPanel1"));
    statusBar()->setObjectName(L("StatusBar"));
    statusBar()->addWidget(StatusPanel0);
    statusBar()->addWidget(StatusPanel1, 1);
}

void TFormKestrix::CreateBars()
{
    // The address bar: label, address box, Go at the right edge.
    twAddressBar = new QToolBar(L("Address"), this);
    twAddressBar->setObjectName(L("twAddressBar"));
    AddressPanel = new AddressBar(*icons_, twAddressBar);
    connect(AddressPanel, &AddressBar::goRequested, this, [this] { SpeedButtonGoClick(); });
    twAddressBar->addWidget(AddressPanel);

    // The commands: menus, tool bar (docked above the address bar) and the
    // list's pop-up menu; the window does what they ask.
    actions_ = new MainWindowActions(*this, *twAddressBar);
    actions_->SetNavigationHint([this](int offset) { return NavigationHint(offset); });
    connect(actions_, &MainWindowActions::backRequested, this, [this] { navigator_->Back(); });
    connect(actions_, &MainWindowActions::forwardRequested, this,
            [this] { navigator_->Forward(); });
    connect(actions_, &MainWindowActions::upRequested, this, [this] { navigator_->Up(); });
    connect(actions_, &MainWindowActions::secureRequested, this, &TFormKestrix::SecureSelection);
    connect(actions_, &MainWindowActions::restoreRequested, this, &TFormKestrix::RestoreSelection);
    connect(actions_, &MainWindowActions::openRequested, this, &TFormKestrix::OpenSelection);
    connect(actions_, &MainWindowActions::optionsRequested, this,
            &TFormKestrix::actViewAppOptionsExecute);
    connect(actions_, &MainWindowActions::selectAllRequested, this,
            [this] { ShellListView->selectAll(); });
    connect(actions_, &MainWindowActions::networkSettingsRequested, this,
            [this] { services_.networkSettings(); });
    ShellListView->addAction(&actions_->SelectAll());
    connect(ShellListView, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        actions_->PopupAt(ShellListView->viewport()->mapToGlobal(at));
    });
}

// ---- events --------------------------------------------------------------------

bool TFormKestrix::event(QEvent* event)
{
    if (event->type() == goEvent) {
        SpeedButtonGoClick();
        return true;
    }
    if (event->type() == startupEvent) {
        OnStartup();
        return true;
    }
    // Nothing but the path writes to the status bar.
    if (event->type() == QEvent::StatusTip)
        return true;
    return QMainWindow::event(event);
}

void TFormKestrix::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // FormShow: the deferred start-up runs once the window has appeared.
    if (!startupPosted_) {
        startupPosted_ = true;
        QCoreApplication::postEvent(this, new QEvent(startupEvent));
    }
}

void TFormKestrix::paintEvent(QPaintEvent* event)
{
    if (firstPaint_) {
        firstPaint_ = false;
        LoadFormState(options_, store_);
    }
    QMainWindow::paintEvent(event);
}

void TFormKestrix::closeEvent(QCloseEvent* event)
{
    // FormClose: the options dialog's values reach the store.
    SaveFormState(options_, store_);
    store_.Flush();
    QMainWindow::closeEvent(event);
}

bool TFormKestrix::eventFilter(QObject* watched, QEvent* event)
{
    // Status bar panel 0 is as wide as the folder pane from the first
    // layout on, not only once the splitter has moved.
    if (watched == ShellTreeView && event->type() == QEvent::Resize)
        SplitterShellMoved();
    // Nothing can be deleted from within the program.
    if ((watched == ShellTreeView || watched == ShellListView) &&
        (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        event->accept();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- settings and start --------------------------------------------------------

void TFormKestrix::SaveMainSettings(SettingsStore& store)
{
    store.WriteStream(mainSection, activeDirectoryName, Location().toUtf8());
    store.WriteStream(mainSection, dockingName, saveState());
    SaveWindowPlacement(*this, store);
}

void TFormKestrix::LoadMainSettings(const SettingsStore& store)
{
    // Restoring the folder is not a move of the user's: not recorded.
    navigator_->WithoutRecording([&] {
        const QString path = QString::fromUtf8(store.ReadStream(mainSection, activeDirectoryName));
        const QFileInfo info(path);
        if (!path.isEmpty() && info.isDir()) {
            SetLocation(path);
        } else if (!path.isEmpty() && info.exists()) {
            SetLocation(info.absolutePath());
            selection_->SelectPath(info.absoluteFilePath());
        }
    });
    const QByteArray docking = store.ReadStream(mainSection, dockingName);
    if (!docking.isEmpty())
        restoreState(docking);
    LoadWindowPlacement(*this, store);
}

void TFormKestrix::OnStartup()
{
    if (started_)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct Finally
    {
        TFormKestrix* form;
        ~Finally()
        {
            QApplication::restoreOverrideCursor();
            form->started_ = true;
        }
    } finally{this};
    try {
        LoadMainSettings(store_);
        LoadFormState(options_, store_);
        QCoreApplication::processEvents();
        ApplyOptions();
        if (!startPath_.isEmpty()) {
            const QString path = startPath_;
            startPath_.clear();
            if (IsWebAddress(path)) {
                AddressPanel->SetText(path);
                QCoreApplication::postEvent(this, new QEvent(goEvent));
            } else {
                NavigateToPath(path);
            }
        }
    } catch (const std::exception&) {
        // A failed start leaves the defaults; the step is never retried.
    }
}

void TFormKestrix::ApplyOptions()
{
    actions_->SetToolBarLook(options_.LargeIcons(), options_.ShowCaptions());
    selection_->TakeSnapshot();
    navigator_->WithoutRecording([&] { SetShowHidden(options_.ShowHiddenItems()); });
    // A new filter reads the tree again: its folder is scrolled to again.
    navigator_->ScrollToCurrent();
    listFiles_->setNameFilters(options_.FileFilter().split(u';'));
    RefreshFileList();
    selection_->Reselect();
}

void TFormKestrix::SetShowHidden(bool on)
{
    treeModel_->setFilter(ViewFilter(true, on));
    listFiles_->setFilter(ViewFilter(false, on));
}

// ---- navigation ----------------------------------------------------------------

QString TFormKestrix::Location() const
{
    return navigator_->Location();
}

NavigationHistory& TFormKestrix::History()
{
    return navigator_->History();
}

void TFormKestrix::SetLocation(const QString& folder)
{
    navigator_->Show(folder);
    // Setting the same folder again changes nothing in the tree; the list
    // still follows it.
    const QString path = navigator_->Location();
    if (listFiles_->rootPath() != path)
        navigator_->Announce(path);
}

void TFormKestrix::ShellTreeViewChange(const QString& path)
{
    // The list follows the tree; what was selected in the folder left
    // behind is selected no more.
    selection_->Clear();
    ShellListView->setRootIndex(listModel_->mapFromSource(listFiles_->setRootPath(path)));
    AddressPanel->SetText(path);
    StatusPanel1->setText(path);
    // The box's list offers the folders of the history, latest first.
    QStringList folders;
    const QStringList& entries = navigator_->History().Entries();
    for (auto it = entries.crbegin(); it != entries.crend(); ++it)
        if (!folders.contains(*it))
            folders << *it;
    AddressPanel->SetRecentFolders(folders);
}

QString TFormKestrix::NavigationHint(int offset) const
{
    return navigator_->Hint(offset);
}

void TFormKestrix::SpeedButtonGoClick()
{
    const QString text = AddressPanel->Text();
    if (IsWebAddress(text)) {
        if (services_.secureWebPage)
            services_.secureWebPage(text);
        return;
    }
    NavigateToPath(text);
}

void TFormKestrix::NavigateToPath(const QString& text)
{
    const QFileInfo info(text);
    if (!text.isEmpty() && info.exists() && !info.isDir()) {
        SetLocation(info.absolutePath());
        selection_->SelectPath(info.absoluteFilePath());
        return;
    }
    // The tree's nodes that exist now, in order: the first whose caption is
    // the text, letter case aside.
    if (navigator_->ShowNodeNamed(text))
        return;
    if (!text.isEmpty() && info.isDir())
        SetLocation(text);
    else
        SetLocation(QDir::rootPath());
}

// ---- selection and commands ----------------------------------------------------

const QStringList& TFormKestrix::Selection() const
{
    return selection_->Paths();
}

QStringList TFormKestrix::CollectSelection() const
{
    return selection_->InListOrder();
}

void TFormKestrix::RefreshFileList()
{
    listModel_->RefreshMarks();
}

void TFormKestrix::UpdateActions()
{
    const CommandAvailability available = AvailabilityOf(
        selection_->Paths(),
        {[](const QString& path) { return QFileInfo(path).isDir(); },
         [](const QString& path) {
             const QFileInfo info(path);
             return info.exists() && !info.isDir();
         },
         [this](const QString& path) { return services_.readOnly && services_.readOnly(path); },
         [this](const QString& path) {
             return services_.backupExists && services_.backupExists(path);
         },
         services_.backupItem});
    actions_->SetAvailability(available, navigator_->CanGoBack(), navigator_->CanGoForward(),
                              navigator_->CanGoUp());
}

void TFormKestrix::OpenSelection(bool edit)
{
    // The items the list shows selected now; folders have no edit verb.
    for (const QString& path : selection_->InListOrder()) {
        if (edit && QFileInfo(path).isDir())
            continue;
        edit ? services_.edit(path) : services_.view(path);
    }
}

template <class Command> void TFormKestrix::RunFileCommand(Command command, bool passOverBackups)
{
    fileCommandBusy_ = true;
    struct Finally
    {
        TFormKestrix* form;
        ~Finally()
        {
            // However the command ended: the list shows its results and
            // the commands are available again.
            form->fileCommandBusy_ = false;
            form->RefreshFileList();
            form->selection_->Reselect();
        }
    } finally{this};
    selection_->TakeSnapshot();
    QStringList chosen = selection_->Snapshot;
    if (passOverBackups && services_.backupItem)
        chosen.removeIf(services_.backupItem);
    if (chosen.isEmpty())
        return;
    command(services_.gather(chosen, options_.FileFilter()));
}

void TFormKestrix::SecureSelection()
{
    if (fileCommandBusy_)
        return;
    try {
        RunFileCommand(
            [this](const QStringList& workList) {
                services_.secureFiles(workList, allProtectionParts);
            },
            true);
    } catch (const std::exception& error) {
        QMessageBox box(QMessageBox::Critical, ApplicationTitle(), QString::fromUtf8(error.what()),
                        QMessageBox::Ok, this);
        ExecModal(box);
    }
}

void TFormKestrix::RestoreSelection()
{
    if (fileCommandBusy_)
        return;
    fileCommandBusy_ = true;
    QString question = Tr("This will restore the selected files.\r\n\r\nAny changes you have made "
                          "to the selected files after securing them will be lost.\r\n\r\nDo "
                          "you wish to continue?");
    question.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    QMessageBox box(QMessageBox::Warning, ApplicationTitle(), question,
                    QMessageBox::Yes | QMessageBox::No, this);
    if (ExecModal(box) != QMessageBox::Yes) {
        fileCommandBusy_ = false;
        return;
    }
    try {
        RunFileCommand([this](const QStringList& workList) { services_.restoreFiles(workList); },
                       false);
    } catch (const std::exception& error) {
        QMessageBox failure(QMessageBox::Critical, ApplicationTitle(),
                            QString::fromUtf8(error.what()), QMessageBox::Ok, this);
        ExecModal(failure);
    }
}

void TFormKestrix::actViewAppOptionsExecute()
{
    if (!EditApplicationOptions(options_, store_))
        return;
    ApplyOptions();
}

void TFormKestrix::SplitterShellMoved()
{
    const int left = ShellTreeView->width() + ShellTreeView->x();
    StatusPanel0->setFixedWidth(left + 1);
    statusBar()->update();
}

} // namespace kestrix
