#include "shell/ui/UnitKestrix.h"

#include "platform/MessageFormat.h"
#include "platform/desktop/DesktopEdit.h"
#include "platform/desktop/DesktopOpen.h"
#include "shell/ui/FileListModel.h"
#include "shell/ui/Images.h"
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
#include <QComboBox>
#include <QCompleter>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
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

// A folder path as the tree names its locations: absolute, clean, "/" for
// the root.
QString NormalFolder(const QString& path)
{
    return QDir::cleanPath(QDir(path).absolutePath());
}

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

// Sets the same switch on a scope for as long as it lives, and back after,
// also when the scope is left by an exception.
class Switched
{
public:
    Switched(bool& flag, bool value) : flag_(flag), old_(flag) { flag_ = value; }
    ~Switched() { flag_ = old_; }

private:
    bool& flag_;
    bool old_;
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
    CreateActions();
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
    SplitterShellMoved();
    SetLocation(QDir::homePath());
    UpdateActions();
}

TFormKestrix::~TFormKestrix()
{
    // FormDestroy: the list's deselection empties the selection list; the
    // window's own settings reach the store.
    ShellListView->selectionModel()->clearSelection();
    selection_.clear();
    SelectionSnapshot.clear();
    history_.Clear();
    SaveMainSettings(store_);
    store_.Flush();
    // The views and models go before the icon provider they use.
    delete PanelShell;
    delete listModel_;
    delete listFiles_;
    delete treeModel_;
}

// ---- construction --------------------------------------------------------------

void TFormKestrix::CreateActions()
{
    struct Design
    {
        QAction** action;
        const char* name;
        const char* category;
        const char* caption;
        const char* hint;
        int image;
    };
    const Design designs[] = {
        {&actNavBack, "actNavBack", "Navigation", "Back", "Go back through History.", imgBack},
        {&actNavForward, "actNavForward", "Navigation", "Forward", "Go forward through History.",
         imgForward},
        {&actNavUp, "actNavUp", "Navigation", "Up", "Up", imgUp},
        {&actProcessFile, "actProcessFile", "", "Encrypt...", "", imgEncrypt},
        {&actEditHTML, "actEditHTML", "", "Edit Files", "Edit files", imgEdit},
        {&actViewWebPage, "actViewWebPage", "", "View Files", "View files in Web Browser", imgView},
        {&actRevert, "actRevert", "", "Restore File(s)", "", imgRestore},
        {&actViewAppOptions, "actViewAppOptions", "Edit", "Preferences...",
         "Change application preferences", imgPreferences},
        {&actFileExit, "actFileExit", "File", "E&xit", "", imgExit},
        {&actViewToolbar, "actViewToolbar", "View", "Toolbar", "", -1},
        {&actViewAddressBar, "actViewAddressBar", "View", "Address Bar", "", -1},
        {&actViewStatusBar, "actViewStatusBar", "View", "Status Bar", "", -1},
        {&actSelectAll, "actSelectAll", "Selection", "Select All", "", imgSelectAll},
        {&actHelpAbout, "actHelpAbout", "Help", "About...", "About Marquell Kestrix", imgAbout},
    };
    for (const Design& d : designs) {
        auto* action = new QAction(L(d.caption), this);
        action->setObjectName(L(d.name));
        action->setProperty("category", L(d.category));
        action->setProperty("imageIndex", d.image);
        if (*d.hint) {
            action->setToolTip(L(d.hint));
            action->setStatusTip(L(d.hint));
        }
        if (d.image >= 0)
            action->setIcon(StripIcon(d.image));
        *d.action = action;
    }
    for (QAction* bar : {actViewToolbar, actViewAddressBar, actViewStatusBar}) {
        bar->setCheckable(true);
        bar->setChecked(true);
    }
    actSelectAll->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    actSelectAll->setShortcutContext(Qt::WidgetWithChildrenShortcut);

    miInternetOptions = new QAction(L("&Internet Properties..."), this);
    miInternetOptions->setObjectName(L("miInternetOptions"));
    miMarquellSoftware = new QAction(L("&Marquell Software... (Online)"), this);
    miMarquellSoftware->setObjectName(L("miMarquellSoftware"));
    miMarquellServices = new QAction(L("Marquell &Services... (Online)"), this);
    miMarquellServices->setObjectName(L("miMarquellServices"));

    connect(actNavBack, &QAction::triggered, this, &TFormKestrix::actNavBackExecute);
    connect(actNavForward, &QAction::triggered, this, &TFormKestrix::actNavForwardExecute);
    connect(actNavUp, &QAction::triggered, this, &TFormKestrix::actNavUpExecute);
    connect(actProcessFile, &QAction::triggered, this, &TFormKestrix::SecureSelection);
    connect(actRevert, &QAction::triggered, this, &TFormKestrix::RestoreSelection);
    connect(actEditHTML, &QAction::triggered, this, [this] { OpenSelection(true); });
    connect(actViewWebPage, &QAction::triggered, this, [this] { OpenSelection(false); });
    connect(actViewAppOptions, &QAction::triggered, this, &TFormKestrix::actViewAppOptionsExecute);
    connect(actFileExit, &QAction::triggered, this, &QWidget::close);
    connect(actViewToolbar, &QAction::triggered, this,
            [this] { tbToolbar->setVisible(!tbToolbar->isVisible()); });
    connect(actViewAddressBar, &QAction::triggered, this,
            [this] { twAddressBar->setVisible(!twAddressBar->isVisible()); });
    connect(actViewStatusBar, &QAction::triggered, this,
            [this] { statusBar()->setVisible(!statusBar()->isVisible()); });
    connect(actSelectAll, &QAction::triggered, this, [this] { ShellListView->selectAll(); });
    connect(actHelpAbout, &QAction::triggered, this, [this] { ShowAboutBox(this); });
    connect(miInternetOptions, &QAction::triggered, this, [this] { services_.networkSettings(); });
    connect(miMarquellSoftware, &QAction::triggered, this, [] { OpenWebPage(HomePageUrl()); });
    connect(miMarquellServices, &QAction::triggered, this, [] {
        OpenWebPage(CombineUrl(UrlSiteRoot(HomePageUrl()), QStringLiteral("services.htm")));
    });
}

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
    ShellListView->addAction(actSelectAll);

    PanelShell->addWidget(ShellTreeView);
    PanelShell->addWidget(ShellListView);
    PanelShell->setStretchFactor(1, 1);
    PanelShell->setSizes({treeWidth, 660 - treeWidth - splitterWidth});
    setCentralWidget(PanelShell);

    connect(ShellTreeView->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid())
                    ShellTreeViewChange(treeModel_->filePath(current));
            });
    connect(ShellListView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection& deselected) {
                for (const QModelIndex& index : deselected.indexes())
                    if (index.column() == 0)
                        ShellListViewSelectItem(listModel_->FilePath(index), false);
                for (const QModelIndex& index : selected.indexes())
                    if (index.column() == 0)
                        ShellListViewSelectItem(listModel_->FilePath(index), true);
            });
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
    // The menu bar, a bar of its own in the top dock.
    tbMainMenu = new QToolBar(L("Main Menu"), this);
    tbMainMenu->setObjectName(L("tbMainMenu"));
    tbMainMenu->setIconSize(QSize(16, 16));
    MainMenu = new QMenuBar(tbMainMenu);
    MainMenu->setObjectName(L("MainMenu"));
    MainMenu->setNativeMenuBar(false);
    tbMainMenu->addWidget(MainMenu);
    QMenu* file = MainMenu->addMenu(L("&File"));
    file->setObjectName(L("miFile"));
    auto add = [](QMenu* menu, QAction* action, const char* caption, const char* name) {
        // The menu's caption for a shared action: a separate menu action
        // that triggers the shared one and follows its state.
        auto* item = new QAction(L(caption), menu);
        item->setObjectName(L(name));
        item->setIcon(action->icon());
        item->setCheckable(action->isCheckable());
        QObject::connect(item, &QAction::triggered, action, [action] { action->trigger(); });
        QObject::connect(action, &QAction::changed, item, [item, action] {
            item->setEnabled(action->isEnabled());
            item->setChecked(action->isChecked());
        });
        menu->addAction(item);
        return item;
    };
    add(file, actViewAppOptions, "&Options...", "miOptions");
    file->addSeparator();
    file->addAction(miInternetOptions);
    file->addSeparator();
    add(file, actFileExit, "E&xit", "miExit");
    QMenu* edit = MainMenu->addMenu(L("&Edit"));
    edit->setObjectName(L("miEdit"));
    add(edit, actProcessFile, "En&crypt...", "miEncrypt");
    edit->addSeparator();
    add(edit, actViewWebPage, "&View File(s)", "miViewFiles");
    add(edit, actEditHTML, "&Edit File(s)", "miEditFiles");
    edit->addSeparator();
    add(edit, actRevert, "&Restore File(s)", "miRestore");
    QMenu* view = MainMenu->addMenu(L("&View"));
    view->setObjectName(L("miView"));
    view->addAction(actViewStatusBar);
    view->addAction(actViewAddressBar);
    view->addAction(actViewToolbar);
    QMenu* help = MainMenu->addMenu(L("&Help"));
    help->setObjectName(L("miHelp"));
    add(help, actHelpAbout, "&About...", "miAbout");
    help->addSeparator();
    help->addAction(miMarquellSoftware);
    help->addAction(miMarquellServices);

    // The tool bar: images above captions, the captions with their blanks.
    tbToolbar = new QToolBar(L("Kestrix"), this);
    tbToolbar->setObjectName(L("tbToolbar"));
    tbToolbar->setIconSize(QSize(24, 24));
    tbToolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    auto button = [this](QAction* action, const char* caption, const char* name) {
        auto* item = new QToolButton(tbToolbar);
        item->setObjectName(L(name));
        item->setDefaultAction(action);
        item->setText(L(caption));
        item->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        item->setAutoRaise(true);
        // The action's changes would put its own caption back.
        connect(action, &QAction::changed, item,
                [item, text = L(caption)] { item->setText(text); });
        tbToolbar->addWidget(item);
        item->installEventFilter(this);
        return item;
    };
    button(actNavBack, "  Back  ", "tbBack");
    button(actNavForward, "Forward", "tbForward");
    button(actNavUp, "   Up   ", "tbUp");
    tbToolbar->addSeparator();
    button(actProcessFile, "Encrypt", "tbEncrypt");
    tbToolbar->addSeparator();
    button(actEditHTML, "Edit", "tbEdit");
    button(actViewWebPage, "View", "tbView");
    button(actRevert, "Restore", "tbRestore");
    tbToolbar->addSeparator();
    button(actViewAppOptions, "Options", "tbOptions");

    // The address bar: label, address box, Go at the right edge.
    twAddressBar = new QToolBar(L("Address"), this);
    twAddressBar->setObjectName(L("twAddressBar"));
    AddressPanel = new QWidget(twAddressBar);
    AddressPanel->setObjectName(L("AddressPanel"));
    AddressPanel->installEventFilter(this);
    AddressPanel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    LabelAddress = new QLabel(L("Address"), AddressPanel);
    LabelAddress->setObjectName(L("LabelAddress"));
    IEAddress = new QComboBox(AddressPanel);
    IEAddress->setObjectName(L("IEAddress"));
    IEAddress->setEditable(true);
    IEAddress->setInsertPolicy(QComboBox::NoInsert); // what is typed is not kept
    IEAddress->setDuplicatesEnabled(false);
    // No type-ahead of the box's own list; completion from the file system.
    auto* completer = new QCompleter(IEAddress);
    auto* completionModel = new QFileSystemModel(completer);
    completionModel->setRootPath(QString());
    completionModel->setFilter(ViewFilter(false, false));
    completer->setModel(completionModel);
    completer->setCaseSensitivity(Qt::CaseSensitive);
    IEAddress->setCompleter(completer);
    IEAddress->lineEdit()->installEventFilter(this);
    SpeedButtonGo = new QToolButton(AddressPanel);
    SpeedButtonGo->setObjectName(L("SpeedButtonGo"));
    SpeedButtonGo->setText(L("Go"));
    SpeedButtonGo->setIcon(StripIcon(imgForward));
    SpeedButtonGo->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    SpeedButtonGo->setAutoRaise(true);
    connect(SpeedButtonGo, &QToolButton::clicked, this, &TFormKestrix::SpeedButtonGoClick);
    const int line = IEAddress->sizeHint().height();
    AddressPanel->setFixedHeight(line);
    AddressPanel->setMinimumWidth(200);
    twAddressBar->addWidget(AddressPanel);

    for (QToolBar* bar : {tbMainMenu, tbToolbar, twAddressBar}) {
        bar->setAllowedAreas(Qt::TopToolBarArea | Qt::BottomToolBarArea);
        addToolBar(Qt::TopToolBarArea, bar);
        if (bar != twAddressBar)
            addToolBarBreak(Qt::TopToolBarArea);
    }
    // The check marks follow the bars, also when a floating bar is closed.
    connect(tbToolbar, &QToolBar::visibilityChanged, actViewToolbar, &QAction::setChecked);
    connect(twAddressBar, &QToolBar::visibilityChanged, actViewAddressBar, &QAction::setChecked);

    // The file list's pop-up menu.
    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(L("PopupMenu"));
    PopupMenu->addAction(actProcessFile);
    PopupMenu->addSeparator();
    PopupMenu->addAction(actViewWebPage);
    PopupMenu->addAction(actEditHTML);
    PopupMenu->addSeparator();
    PopupMenu->addAction(actRevert);
    PopupMenu->addSeparator();
    QMenu* bars = PopupMenu->addMenu(L("View"));
    bars->setObjectName(L("miPopupView"));
    bars->addAction(actViewStatusBar);
    bars->addAction(actViewAddressBar);
    bars->addAction(actViewToolbar);
    PopupMenu->addSeparator();
    PopupMenu->addAction(actSelectAll);
    connect(ShellListView, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        PopupMenu->popup(ShellListView->viewport()->mapToGlobal(at));
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
    // Nothing can be deleted from within the program.
    if ((watched == ShellTreeView || watched == ShellListView) &&
        (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        event->accept();
        return true;
    }
    // Enter in the address box is Go.
    if (IEAddress && watched == IEAddress->lineEdit() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            SpeedButtonGoClick();
            return true;
        }
    }
    if (AddressPanel && watched == AddressPanel && event->type() == QEvent::Resize)
        twAddressBarResize();
    // Back and Forward show their hint as it is about to show: none without
    // an entry.
    if (event->type() == QEvent::ToolTip || event->type() == QEvent::StatusTip) {
        if (auto* item = qobject_cast<QToolButton*>(watched)) {
            const int offset = item->defaultAction() == actNavBack      ? -1
                               : item->defaultAction() == actNavForward ? 1
                                                                        : 0;
            if (offset != 0) {
                const QString hint = NavigationHint(offset);
                if (event->type() == QEvent::ToolTip) {
                    if (hint.isEmpty())
                        QToolTip::hideText();
                    else
                        QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), hint,
                                           item);
                }
                statusBar()->showMessage(hint);
                return true;
            }
        }
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
    {
        const Switched off(recording_, false);
        const QString path = QString::fromUtf8(store.ReadStream(mainSection, activeDirectoryName));
        const QFileInfo info(path);
        if (!path.isEmpty() && info.isDir()) {
            SetLocation(path);
        } else if (!path.isEmpty() && info.exists()) {
            SetLocation(info.absolutePath());
            const QModelIndex item = listModel_->mapFromSource(listFiles_->index(path));
            if (item.isValid())
                ShellListView->setCurrentIndex(item);
        }
    }
    const QByteArray docking = store.ReadStream(mainSection, dockingName);
    if (!docking.isEmpty())
        restoreState(docking);
    LoadWindowPlacement(*this, store);
}

void TFormKestrix::OnStartup()
{
    if (Started)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct Finally
    {
        TFormKestrix* form;
        ~Finally()
        {
            QApplication::restoreOverrideCursor();
            form->Started = true;
        }
    } finally{this};
    try {
        LoadMainSettings(store_);
        LoadFormState(options_, store_);
        QCoreApplication::processEvents();
        ApplyOptions();
        if (!StartPath.isEmpty()) {
            const QString path = StartPath;
            StartPath.clear();
            if (IsWebAddress(path)) {
                IEAddress->setEditText(path);
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
    tbToolbar->setIconSize(options_.LargeIcons() ? QSize(24, 24) : QSize(16, 16));
    const Qt::ToolButtonStyle style =
        options_.ShowCaptions() ? Qt::ToolButtonTextUnderIcon : Qt::ToolButtonIconOnly;
    tbToolbar->setToolButtonStyle(style);
    for (QToolButton* item : tbToolbar->findChildren<QToolButton*>())
        if (item->defaultAction())
            item->setToolButtonStyle(style);
    TakeSelectionSnapshot();
    {
        const Switched off(recording_, false);
        SetShowHidden(options_.ShowHiddenItems());
    }
    listFiles_->setNameFilters(options_.FileFilter().split(u';'));
    RefreshFileList();
    Reselect();
}

void TFormKestrix::SetShowHidden(bool on)
{
    treeModel_->setFilter(ViewFilter(true, on));
    listFiles_->setFilter(ViewFilter(false, on));
}

// ---- navigation ----------------------------------------------------------------

QString TFormKestrix::Location() const
{
    const QModelIndex current = ShellTreeView->currentIndex();
    return current.isValid() ? NormalFolder(treeModel_->filePath(current)) : QDir::rootPath();
}

void TFormKestrix::SetLocation(const QString& folder)
{
    const QString path = NormalFolder(folder);
    QModelIndex index = treeModel_->index(path);
    if (!index.isValid())
        index = treeModel_->index(QDir::rootPath());
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent())
        ShellTreeView->expand(parent);
    ShellTreeView->setCurrentIndex(index);
    ShellTreeView->scrollTo(index);
    // Setting the same folder again changes nothing in the tree; the list
    // still follows it.
    if (listFiles_->rootPath() != path)
        ShellTreeViewChange(treeModel_->filePath(index));
}

void TFormKestrix::ShellTreeViewChange(const QString& folder)
{
    const QString path = NormalFolder(folder);
    if (recording_)
        history_.Add(path);
    // The list follows the tree.
    selection_.clear();
    ShellListView->setRootIndex(listModel_->mapFromSource(listFiles_->setRootPath(path)));
    IEAddress->setEditText(path);
    StatusPanel1->setText(path);
    // The box's list offers the folders of the history, latest first.
    const QString typed = IEAddress->currentText();
    IEAddress->blockSignals(true);
    IEAddress->clear();
    QStringList folders;
    for (auto it = history_.Entries().crbegin(); it != history_.Entries().crend(); ++it)
        if (!folders.contains(*it))
            folders << *it;
    IEAddress->addItems(folders);
    IEAddress->setEditText(typed);
    IEAddress->blockSignals(false);
}

void TFormKestrix::actNavBackExecute()
{
    GoTo(history_.GoBack(1));
}

void TFormKestrix::actNavForwardExecute()
{
    GoTo(history_.GoForward(1));
}

void TFormKestrix::GoTo(const std::optional<QString>& target)
{
    // Back and Forward move the tree without recording the move.
    if (!target)
        return;
    navigationTarget_ = target;
    const Switched off(recording_, false);
    SetLocation(*target);
    navigationTarget_.reset();
}

void TFormKestrix::actNavUpExecute()
{
    const QModelIndex current = ShellTreeView->currentIndex();
    if (current.isValid() && Location() != QDir::rootPath())
        SetLocation(QFileInfo(Location()).absolutePath());
}

QString TFormKestrix::NavigationHint(int offset) const
{
    const std::optional<QString> entry = history_.Peek(offset);
    if (!entry)
        return QString();
    QString name = QFileInfo(*entry).fileName();
    if (name.isEmpty())
        name = treeModel_->fileName(treeModel_->index(*entry));
    if (name.isEmpty())
        return QString();
    return FormatMessage(Tr(offset < 0 ? "Back to %s" : "Forward to %s"), {name});
}

void TFormKestrix::twAddressBarResize()
{
    const QRect area = AddressPanel->rect();
    const int labelWidth = LabelAddress->sizeHint().width();
    const int goWidth = SpeedButtonGo->sizeHint().width();
    LabelAddress->setGeometry(0, 0, labelWidth, area.height());
    SpeedButtonGo->setGeometry(area.width() - goWidth, 0, goWidth, area.height());
    const int boxLeft = labelWidth + 4;
    IEAddress->setGeometry(boxLeft, 0, std::max(0, area.width() - goWidth - boxLeft),
                           area.height());
}

void TFormKestrix::SpeedButtonGoClick()
{
    const QString text = IEAddress->currentText();
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
        const QModelIndex item =
            listModel_->mapFromSource(listFiles_->index(info.absoluteFilePath()));
        if (item.isValid() &&
            listModel_->FilePath(item).compare(info.absoluteFilePath(), Qt::CaseInsensitive) == 0)
            ShellListView->selectionModel()->select(item, QItemSelectionModel::Select);
        return;
    }
    // The tree's nodes that exist now, in order: the first whose caption is
    // the text, letter case aside.
    if (!text.isEmpty()) {
        std::vector<QModelIndex> nodes{ShellTreeView->rootIndex()};
        while (!nodes.empty()) {
            const QModelIndex node = nodes.back();
            nodes.pop_back();
            const int rows = treeModel_->rowCount(node);
            for (int row = rows - 1; row >= 0; --row) {
                const QModelIndex child = treeModel_->index(row, 0, node);
                nodes.push_back(child);
            }
            if (node != ShellTreeView->rootIndex() &&
                treeModel_->fileName(node).compare(text, Qt::CaseInsensitive) == 0) {
                SetLocation(treeModel_->filePath(node));
                return;
            }
        }
    }
    if (!text.isEmpty() && info.isDir())
        SetLocation(text);
    else
        SetLocation(QDir::rootPath());
}

// ---- selection and commands ----------------------------------------------------

void TFormKestrix::ShellListViewSelectItem(const QString& path, bool selected)
{
    if (selected) {
        selection_.append(path);
        if (selection_.size() == 1)
            IEAddress->setEditText(path);
        return;
    }
    for (qsizetype i = 0; i < selection_.size(); ++i)
        if (selection_[i].compare(path, Qt::CaseInsensitive) == 0) {
            selection_.removeAt(i);
            break;
        }
}

QStringList TFormKestrix::CollectSelection() const
{
    QModelIndexList rows = ShellListView->selectionModel()->selectedIndexes();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList paths;
    for (const QModelIndex& index : rows)
        if (index.column() == 0)
            paths << listModel_->FilePath(index);
    return paths;
}

void TFormKestrix::TakeSelectionSnapshot()
{
    SelectionSnapshot = CollectSelection();
}

void TFormKestrix::RefreshFileList()
{
    listModel_->RefreshMarks();
}

void TFormKestrix::Reselect()
{
    const QModelIndex root = ShellListView->rootIndex();
    const int rows = listModel_->rowCount(root);
    QItemSelection selection;
    for (int row = 0; row < rows && !SelectionSnapshot.isEmpty(); ++row) {
        const QModelIndex item = listModel_->index(row, 0, root);
        const QString path = listModel_->FilePath(item);
        for (qsizetype i = 0; i < SelectionSnapshot.size(); ++i)
            if (SelectionSnapshot[i].compare(path, Qt::CaseInsensitive) == 0) {
                selection.select(item, item);
                SelectionSnapshot.removeAt(i);
                break;
            }
    }
    if (!selection.isEmpty())
        ShellListView->selectionModel()->select(selection, QItemSelectionModel::Select);
    SelectionSnapshot.clear();
}

void TFormKestrix::UpdateActions()
{
    bool anyFolder = false, anyWritableFile = false, anyFile = false, anyBackup = false;
    for (const QString& path : selection_) {
        const QFileInfo info(path);
        if (info.isDir()) {
            anyFolder = true;
            continue;
        }
        if (!info.exists())
            continue; // a missing path counts as read-only and has no backup
        anyFile = true;
        if (!(services_.readOnly && services_.readOnly(path)))
            anyWritableFile = true;
        if (services_.backupExists && services_.backupExists(path))
            anyBackup = true;
    }
    actProcessFile->setEnabled(anyFolder || anyWritableFile);
    actEditHTML->setEnabled(anyFile);
    actViewWebPage->setEnabled(anyFile);
    actRevert->setEnabled(anyFolder || anyBackup);
    actNavBack->setEnabled(history_.CanGoBack(1));
    actNavForward->setEnabled(history_.CanGoForward(1));
    actNavUp->setEnabled(Location() != QDir::rootPath());
    actViewToolbar->setChecked(tbToolbar->isVisible() || (!isVisible() && !tbToolbar->isHidden()));
    actViewAddressBar->setChecked(twAddressBar->isVisible() ||
                                  (!isVisible() && !twAddressBar->isHidden()));
    actViewStatusBar->setChecked(!statusBar()->isHidden());
}

void TFormKestrix::OpenSelection(bool edit)
{
    selection_ = CollectSelection();
    for (const QString& path : selection_)
        edit ? services_.edit(path) : services_.view(path);
}

template <class Command> void TFormKestrix::RunFileCommand(Command command)
{
    FileCommandBusy = true;
    struct Finally
    {
        TFormKestrix* form;
        ~Finally()
        {
            // However the command ended: the list shows its results and
            // the commands are available again.
            form->FileCommandBusy = false;
            form->RefreshFileList();
            form->Reselect();
        }
    } finally{this};
    TakeSelectionSnapshot();
    command(services_.gather(SelectionSnapshot, options_.FileFilter()));
}

void TFormKestrix::SecureSelection()
{
    if (FileCommandBusy)
        return;
    try {
        RunFileCommand([this](const QStringList& workList) {
            services_.secureFiles(workList, allProtectionParts);
        });
    } catch (const std::exception& error) {
        QMessageBox box(QMessageBox::Critical, ApplicationTitle(), QString::fromUtf8(error.what()),
                        QMessageBox::Ok, this);
        ExecModal(box);
    }
}

void TFormKestrix::RestoreSelection()
{
    if (FileCommandBusy)
        return;
    FileCommandBusy = true;
    QString question = Tr("This will restore the selected files.\r\n\r\nAny changes you have made "
                          "to the selected files after securing them will be lost.\r\n\r\nDo "
                          "you wish to continue?");
    question.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    QMessageBox box(QMessageBox::Warning, ApplicationTitle(), question,
                    QMessageBox::Yes | QMessageBox::No, this);
    if (ExecModal(box) != QMessageBox::Yes) {
        FileCommandBusy = false;
        return;
    }
    try {
        RunFileCommand([this](const QStringList& workList) { services_.restoreFiles(workList); });
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
