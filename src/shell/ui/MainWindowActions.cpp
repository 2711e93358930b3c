#include "shell/ui/MainWindowActions.h"

#include "shell/CommandAvailability.h"
#include "shell/ui/Images.h"
#include "support/VersionInfo.h"
#include "support/WebHelpers.h"
#include "support/ui/UnitAboutBox.h"
#include "support/ui/WebDialogs.h"

#include <QAction>
#include <QEvent>
#include <QHelpEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>

namespace kestrix {

namespace {

QString L(const char* text)
{
    return QString::fromUtf8(text);
}

} // namespace

MainWindowActions::MainWindowActions(QMainWindow& window, QToolBar& addressBar)
    : QObject(&window), window_(window), addressBar_(addressBar)
{
    setObjectName(L("MainWindowActions"));
    CreateActions();
    CreateBars();
}

void MainWindowActions::SetNavigationHint(std::function<QString(int offset)> hint)
{
    hint_ = std::move(hint);
}

void MainWindowActions::SetAvailability(const CommandAvailability& files, bool back, bool forward,
                                        bool up)
{
    actProcessFile->setEnabled(files.secure);
    actEditHTML->setEnabled(files.edit);
    actViewWebPage->setEnabled(files.view);
    actRevert->setEnabled(files.restore);
    actNavBack->setEnabled(back);
    actNavForward->setEnabled(forward);
    actNavUp->setEnabled(up);
    const bool shown = window_.isVisible();
    actViewToolbar->setChecked(tbToolbar->isVisible() || (!shown && !tbToolbar->isHidden()));
    actViewAddressBar->setChecked(addressBar_.isVisible() || (!shown && !addressBar_.isHidden()));
    actViewStatusBar->setChecked(!window_.statusBar()->isHidden());
}

void MainWindowActions::SetToolBarLook(bool largeIcons, bool captions)
{
    tbToolbar->setIconSize(largeIcons ? QSize(24, 24) : QSize(16, 16));
    const Qt::ToolButtonStyle style =
        captions ? Qt::ToolButtonTextUnderIcon : Qt::ToolButtonIconOnly;
    tbToolbar->setToolButtonStyle(style);
    for (QToolButton* item : tbToolbar->findChildren<QToolButton*>())
        if (item->defaultAction())
            item->setToolButtonStyle(style);
}

void MainWindowActions::PopupAt(const QPoint& globalPosition)
{
    PopupMenu->popup(globalPosition);
}

void MainWindowActions::CreateActions()
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
        // A hint shows as a tooltip only: the status bar shows the path.
        // An action without one shows no tooltip at all.
        action->setProperty("hasHint", *d.hint != '\0');
        if (*d.hint)
            action->setToolTip(L(d.hint));
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

    connect(actNavBack, &QAction::triggered, this, &MainWindowActions::backRequested);
    connect(actNavForward, &QAction::triggered, this, &MainWindowActions::forwardRequested);
    connect(actNavUp, &QAction::triggered, this, &MainWindowActions::upRequested);
    connect(actProcessFile, &QAction::triggered, this, &MainWindowActions::secureRequested);
    connect(actRevert, &QAction::triggered, this, &MainWindowActions::restoreRequested);
    connect(actEditHTML, &QAction::triggered, this, [this] { emit openRequested(true); });
    connect(actViewWebPage, &QAction::triggered, this, [this] { emit openRequested(false); });
    connect(actViewAppOptions, &QAction::triggered, this, &MainWindowActions::optionsRequested);
    connect(actFileExit, &QAction::triggered, &window_, &QWidget::close);
    connect(actViewToolbar, &QAction::triggered, this,
            [this] { tbToolbar->setVisible(!tbToolbar->isVisible()); });
    connect(actViewAddressBar, &QAction::triggered, this,
            [this] { addressBar_.setVisible(!addressBar_.isVisible()); });
    connect(actViewStatusBar, &QAction::triggered, this,
            [this] { window_.statusBar()->setVisible(!window_.statusBar()->isVisible()); });
    connect(actSelectAll, &QAction::triggered, this, &MainWindowActions::selectAllRequested);
    connect(actHelpAbout, &QAction::triggered, this, [this] { ShowAboutBox(&window_); });
    connect(miInternetOptions, &QAction::triggered, this,
            &MainWindowActions::networkSettingsRequested);
    connect(miMarquellSoftware, &QAction::triggered, this, [] { OpenWebPage(HomePageUrl()); });
    connect(miMarquellServices, &QAction::triggered, this, [] {
        OpenWebPage(CombineUrl(UrlSiteRoot(HomePageUrl()), QStringLiteral("services.htm")));
    });
}

void MainWindowActions::CreateBars()
{
    // The menu bar, a bar of its own in the top dock.
    tbMainMenu = new QToolBar(L("Main Menu"), &window_);
    tbMainMenu->setObjectName(L("tbMainMenu"));
    tbMainMenu->setIconSize(QSize(16, 16));
    auto* MainMenu = new QMenuBar(tbMainMenu);
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
    tbToolbar = new QToolBar(L("Kestrix"), &window_);
    tbToolbar->setObjectName(L("tbToolbar"));
    tbToolbar->setIconSize(QSize(24, 24));
    tbToolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    auto button = [this](QAction* action, const char* caption, const char* name) {
        // The tool bar's caption is the action's icon text, which the
        // action keeps (and the translation translates) beside its menu
        // caption.
        action->setIconText(L(caption));
        auto* item = new QToolButton(tbToolbar);
        item->setObjectName(L(name));
        item->setDefaultAction(action);
        item->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        item->setAutoRaise(true);
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

    for (QToolBar* bar : {tbMainMenu, tbToolbar, &addressBar_}) {
        bar->setAllowedAreas(Qt::TopToolBarArea | Qt::BottomToolBarArea);
        window_.addToolBar(Qt::TopToolBarArea, bar);
        if (bar != &addressBar_)
            window_.addToolBarBreak(Qt::TopToolBarArea);
    }
    // The check marks follow the bars, also when a floating bar is closed.
    connect(tbToolbar, &QToolBar::visibilityChanged, actViewToolbar, &QAction::setChecked);
    connect(&addressBar_, &QToolBar::visibilityChanged, actViewAddressBar, &QAction::setChecked);

    // The file list's pop-up menu.
    PopupMenu = new QMenu(&window_);
    PopupMenu->setObjectName(L("PopupMenu"));
    PopupMenu->addAction(actProcessFile);
    PopupMenu->addSeparator();
    add(PopupMenu, actViewWebPage, "View File(s)", "miPopupViewFiles");
    add(PopupMenu, actEditHTML, "Edit File(s)", "miPopupEditFiles");
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
}

bool MainWindowActions::eventFilter(QObject* watched, QEvent* event)
{
    // Back and Forward show their hint as it is about to show: none without
    // an entry. Other actions show their own hint, or none.
    if (event->type() == QEvent::ToolTip || event->type() == QEvent::StatusTip) {
        auto* item = qobject_cast<QToolButton*>(watched);
        if (item && item->defaultAction() && !item->defaultAction()->property("hasHint").toBool()) {
            QToolTip::hideText();
            return true;
        }
        if (item) {
            const int offset = item->defaultAction() == actNavBack      ? -1
                               : item->defaultAction() == actNavForward ? 1
                                                                        : 0;
            if (offset != 0) {
                const QString hint = hint_ ? hint_(offset) : QString();
                if (event->type() == QEvent::ToolTip) {
                    if (hint.isEmpty())
                        QToolTip::hideText();
                    else
                        QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), hint,
                                           item);
                }
                return true;
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace kestrix
