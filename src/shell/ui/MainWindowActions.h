// The main window's commands as the user reaches them: the action table,
// the menu bar, the tool bar and the file list's pop-up menu. The part
// owns the actions and asks for the window's work through its signals; a
// QObject child of the window, so that its texts are translated in the
// window's section.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QMainWindow;
class QMenu;
class QPoint;
class QToolBar;

namespace kestrix {

struct CommandAvailability;

class MainWindowActions : public QObject
{
    Q_OBJECT
public:
    // Creates the actions, the menu bar and the tool bar (added to the
    // window's top dock) and the pop-up menu. `addressBar` is the bar the
    // "Address Bar" command shows and hides; it is docked after the tool bar.
    MainWindowActions(QMainWindow& window, QToolBar& addressBar);

    // The hint of Back (-1) or Forward (1), shown as the tool button's tip.
    void SetNavigationHint(std::function<QString(int offset)> hint);
    // The four file commands and the three moves as available now; the
    // bars' check marks as the bars are.
    void SetAvailability(const CommandAvailability& files, bool back, bool forward, bool up);
    // Large or small images on the tool bar, with or without captions.
    void SetToolBarLook(bool largeIcons, bool captions);
    // The pop-up menu at a global position.
    void PopupAt(const QPoint& globalPosition);
    // The command that selects every item of the file list (its shortcut
    // belongs to the list).
    QAction& SelectAll() const { return *actSelectAll; }

signals:
    void backRequested();
    void forwardRequested();
    void upRequested();
    void secureRequested();
    void restoreRequested();
    void openRequested(bool edit); // edit or view the selection
    void optionsRequested();
    void selectAllRequested();
    void networkSettingsRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateActions();
    void CreateBars();

    QMainWindow& window_;
    QToolBar& addressBar_;
    std::function<QString(int)> hint_;

    QToolBar* tbMainMenu = nullptr;
    QToolBar* tbToolbar = nullptr;
    QMenu* PopupMenu = nullptr;

    QAction* actNavBack = nullptr;
    QAction* actNavForward = nullptr;
    QAction* actNavUp = nullptr;
    QAction* actProcessFile = nullptr;
    QAction* actEditHTML = nullptr;
    QAction* actViewWebPage = nullptr;
    QAction* actRevert = nullptr;
    QAction* actViewAppOptions = nullptr;
    QAction* actFileExit = nullptr;
    QAction* actViewToolbar = nullptr;
    QAction* actViewAddressBar = nullptr;
    QAction* actViewStatusBar = nullptr;
    QAction* actSelectAll = nullptr;
    QAction* actHelpAbout = nullptr;
    QAction* miInternetOptions = nullptr;
    QAction* miMarquellSoftware = nullptr;
    QAction* miMarquellServices = nullptr;
};

} // namespace kestrix
