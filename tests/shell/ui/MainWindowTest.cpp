// The main window headless: command availability over selections, the
// reselection after a run, navigation and the address bar, the options
// command, and the state kept between two starts.
#include "shell/ui/UnitKestrix.h"

#include "QtPrinters.h"

#include "platform/Errors.h"
#include "shell/NavigationHistory.h"
#include "shell/RememberedAnswers.h"
#include "shell/ui/AddressBar.h"
#include "shell/ui/FileListModel.h"
#include "shell/ui/UnitKestrixOptions.h"
#include "support/Translation.h"
#include "support/ui/ModalDialog.h"
#include "support/ui/TranslateComponent.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <stdexcept>

using namespace kestrix;

namespace {

QString S(const char* text)
{
    return QString::fromUtf8(text);
}

// The window's parts, found by their object names as a user's tools find
// them: the window keeps its widgets to itself.
template <class Part> Part& Find(const QObject& form, const char* name)
{
    auto* part = form.findChild<Part*>(S(name));
    if (!part)
        throw std::logic_error(std::string("no part named ") + name);
    return *part;
}
QAction& Act(const QObject& form, const char* name)
{
    return Find<QAction>(form, name);
}
QListView& List(const QObject& form)
{
    return Find<QListView>(form, "ShellListView");
}
AddressBar& Address(const QObject& form)
{
    return Find<AddressBar>(form, "AddressPanel");
}

class MainWindow : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    SettingsStore answers = SettingsStore::InMemory();
    QStringList readOnly, secured; // file names the fake file system marks
    QStringList secureRuns, restoreRuns, webPages, viewed;
    int folderQuestions = 0;
    std::string gatherFailure;          // thrown by the gathering when set
    std::function<void()> duringSecure; // run while a securing command runs

    void SetUp() override
    {
        SetRememberedAnswerStoreForTesting(&answers);
        ClearQueuedModalAnswers();
        for (const char* name : {"a.html", "b.html", "c.html", "notes.txt"})
            Write(name, "<html><body>x</body></html>");
        QDir(dir.path()).mkdir(S("sub"));
        Write("sub/d.html", "<html><body>d</body></html>");
        readOnly = {S("b.html")};
        secured = {S("b.html"), S("c.html")};
    }
    void TearDown() override
    {
        SetRememberedAnswerStoreForTesting(nullptr);
        ClearQueuedModalAnswers();
    }

    void Write(const char* name, const QByteArray& data)
    {
        QFile file(dir.filePath(S(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
    }

    MainWindowServices Services()
    {
        MainWindowServices services;
        services.secureFiles = [this](const QStringList& list, ProtectionParts parts) {
            EXPECT_EQ(parts, allProtectionParts);
            secureRuns << list.join(u'|');
            if (duringSecure)
                duringSecure();
        };
        services.restoreFiles = [this](const QStringList& list) { restoreRuns << list.join(u'|'); };
        services.secureWebPage = [this](const QString& address) { webPages << address; };
        services.gather = [this](const QStringList& selection, const QString&) {
            if (!gatherFailure.empty())
                throw Failure(gatherFailure);
            QStringList work;
            for (const QString& path : selection) {
                if (QFileInfo(path).isDir()) {
                    ++folderQuestions;
                    work << path + S("/*");
                } else {
                    work << path;
                }
            }
            return work;
        };
        services.backupExists = [this](const QString& p) {
            return secured.contains(QFileInfo(p).fileName());
        };
        services.readOnly = [this](const QString& p) {
            return readOnly.contains(QFileInfo(p).fileName()) || !QFileInfo::exists(p);
        };
        services.view = [this](const QString& p) {
            viewed << p;
            return true;
        };
        services.edit = services.view;
        services.networkSettings = [] {};
        return services;
    }

    // Waits until the list shows the folder's entries.
    static void WaitForList(TFormKestrix& form, int atLeast)
    {
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return form.ListModel().rowCount(List(form).rootIndex()) >= atLeast; }, 5000));
        // The model sorts shortly after it has listed the folder.
        QTest::qWait(100);
    }

    static QModelIndex Item(TFormKestrix& form, const QString& name)
    {
        const QModelIndex root = List(form).rootIndex();
        for (int row = 0; row < form.ListModel().rowCount(root); ++row) {
            const QModelIndex index = form.ListModel().index(row, 0, root);
            if (QFileInfo(form.ListModel().FilePath(index)).fileName() == name)
                return index;
        }
        return {};
    }

    static void Select(TFormKestrix& form, const QStringList& names)
    {
        List(form).clearSelection();
        for (const QString& name : names) {
            const QModelIndex index = Item(form, name);
            ASSERT_TRUE(index.isValid()) << name.toStdString();
            List(form).selectionModel()->select(index, QItemSelectionModel::Select);
        }
        form.UpdateActions();
    }
};

TEST_F(MainWindow, AvailabilityFollowsTheSelection)
{
    TFormKestrixOptions options;
    TFormKestrix form(SettingsStore::InMemory(), options, Services());
    form.SetLocation(dir.path());
    WaitForList(form, 4);
    struct Case
    {
        QStringList names;
        bool encrypt, editView, restore;
    };
    const Case cases[] = {
        {{}, false, false, false},
        {{S("a.html")}, true, true, false},
        // Read-only: no securing, even with a backup; restoring it is allowed.
        {{S("b.html")}, false, true, true},
        {{S("c.html")}, true, true, true},
        // Folders only: secure and restore, but neither view nor edit.
        {{S("sub")}, true, false, true},
        {{S("b.html"), S("sub")}, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.names.join(u',').toStdString());
        Select(form, c.names);
        EXPECT_EQ(Act(form, "actProcessFile").isEnabled(), c.encrypt);
        EXPECT_EQ(Act(form, "actEditHTML").isEnabled(), c.editView);
        EXPECT_EQ(Act(form, "actViewWebPage").isEnabled(), c.editView);
        EXPECT_EQ(Act(form, "actRevert").isEnabled(), c.restore);
    }
    // A selected file deleted on disk: nothing to secure, view or edit.
    Select(form, {S("a.html")});
    ASSERT_TRUE(QFile::remove(dir.filePath(S("a.html"))));
    form.UpdateActions();
    EXPECT_FALSE(Act(form, "actProcessFile").isEnabled());
    EXPECT_FALSE(Act(form, "actEditHTML").isEnabled());

    // Marks: read-only wins over secured, and the tips say so.
    EXPECT_EQ(form.ListModel().Mark(Item(form, S("b.html"))), markReadOnly);
    EXPECT_EQ(form.ListModel().Mark(Item(form, S("c.html"))), markSecured);
    EXPECT_EQ(form.ListModel().data(Item(form, S("c.html")), Qt::ToolTipRole).toString(),
              S("c.html - This file has been secured and can be restored"));
    EXPECT_EQ(form.ListModel().data(Item(form, S("b.html")), Qt::ToolTipRole).toString(),
              S("b.html - This file is read only and cannot be secured"));
}

TEST_F(MainWindow, SelectionTrackingAndCommandsWithReselection)
{
    TFormKestrixOptions options;
    TFormKestrix form(SettingsStore::InMemory(), options, Services());
    form.SetLocation(dir.path());
    WaitForList(form, 4);
    // Three files one after another: only the first goes into the address
    // box; deselecting it leaves the box alone.
    for (const char* name : {"c.html", "a.html", "sub"})
        List(form).selectionModel()->select(Item(form, S(name)), QItemSelectionModel::Select);
    EXPECT_EQ(form.Selection(), QStringList({dir.filePath(S("c.html")), dir.filePath(S("a.html")),
                                             dir.filePath(S("sub"))}));
    EXPECT_EQ(Address(form).Text(), dir.filePath(S("c.html")));
    List(form).selectionModel()->select(Item(form, S("c.html")), QItemSelectionModel::Deselect);
    EXPECT_EQ(form.Selection().size(), 2);
    EXPECT_EQ(Address(form).Text(), dir.filePath(S("c.html")));

    // Encrypt: the snapshot in list order, folders expanded by the gathering,
    // the same items selected again afterwards.
    Select(form, {S("sub"), S("a.html")});
    form.SecureSelection();
    ASSERT_EQ(secureRuns.size(), 1);
    // In the list's order, whatever the list's sorting has made of it.
    QStringList inListOrder = {dir.filePath(S("a.html")), dir.filePath(S("sub"))};
    if (Item(form, S("sub")).row() < Item(form, S("a.html")).row())
        inListOrder.swapItemsAt(0, 1);
    QStringList expectedWork = inListOrder;
    expectedWork.replaceInStrings(QRegularExpression(S("/sub$")), S("/sub/*"));
    EXPECT_EQ(secureRuns[0], expectedWork.join(u'|'));
    EXPECT_FALSE(form.FileCommandBusy());
    EXPECT_EQ(form.CollectSelection(), inListOrder);

    // Restore asks first; No changes nothing, Yes restores.
    QueueModalAnswer(ModalAnswer::Press(QMessageBox::No));
    form.RestoreSelection();
    EXPECT_TRUE(restoreRuns.isEmpty());
    EXPECT_FALSE(form.FileCommandBusy());
    QueueModalAnswer(ModalAnswer::Press(QMessageBox::Yes));
    form.RestoreSelection();
    EXPECT_EQ(restoreRuns.size(), 1);
    EXPECT_FALSE(form.FileCommandBusy());

    // A step that fails (an invalid filter mask, say) still frees the file
    // commands, for restoring as for securing, and is reported.
    List(form).selectionModel()->select(Item(form, S("sub")), QItemSelectionModel::Select);
    gatherFailure = "'[' is an invalid mask at (1)";
    QueueModalAnswer(ModalAnswer::Press(QMessageBox::Yes));
    QString reported;
    QueueModalAnswer({ModalAnswer::Kind::Button, QMessageBox::Ok, false,
                      [&](QDialog& box) { reported = static_cast<QMessageBox&>(box).text(); }});
    form.RestoreSelection();
    EXPECT_FALSE(form.FileCommandBusy());
    EXPECT_EQ(reported, S("'[' is an invalid mask at (1)"));
    gatherFailure.clear();

    // Refused while another command runs (a second Encrypt... reaching the
    // window while the first one's dialogs are up).
    duringSecure = [&] { form.SecureSelection(); };
    form.SecureSelection();
    duringSecure = nullptr;
    EXPECT_EQ(secureRuns.size(), 2);

    // View and Edit hand each selected path to the desktop.
    form.UpdateActions();
    Act(form, "actViewWebPage").trigger();
    EXPECT_EQ(viewed.size(), 2);
}

TEST_F(MainWindow, TheSelectionIsWhatTheListShowsInItsFolder)
{
    TFormKestrixOptions options;
    TFormKestrix form(SettingsStore::InMemory(), options, Services());
    form.SetLocation(dir.path());
    WaitForList(form, 4);
    Select(form, {S("a.html")});
    // Another folder: nothing of the folder left behind stays selected, and
    // the commands follow.
    form.SetLocation(dir.filePath(S("sub")));
    WaitForList(form, 1);
    form.UpdateActions();
    EXPECT_TRUE(form.Selection().isEmpty());
    EXPECT_TRUE(form.CollectSelection().isEmpty());
    EXPECT_FALSE(Act(form, "actProcessFile").isEnabled());
    List(form).selectionModel()->select(Item(form, S("d.html")), QItemSelectionModel::Select);
    form.SecureSelection();
    ASSERT_EQ(secureRuns.size(), 1);
    EXPECT_EQ(secureRuns[0], dir.filePath(S("sub/d.html")));
    // Up: the folder came from is not selected behind the program's back.
    form.UpdateActions();
    Act(form, "actNavUp").trigger();
    WaitForList(form, 4);
    form.UpdateActions();
    EXPECT_TRUE(form.CollectSelection().isEmpty());
    EXPECT_FALSE(Act(form, "actProcessFile").isEnabled());
}

TEST_F(MainWindow, DeleteDoesNothing)
{
    TFormKestrixOptions options;
    TFormKestrix form(SettingsStore::InMemory(), options, Services());
    form.SetLocation(dir.path());
    WaitForList(form, 4);
    Select(form, {S("a.html")});
    for (QWidget* view : {static_cast<QWidget*>(&List(form)),
                          static_cast<QWidget*>(&Find<QTreeView>(form, "ShellTreeView"))})
        QTest::keyClick(view, Qt::Key_Delete);
    EXPECT_TRUE(QFile::exists(dir.filePath(S("a.html"))));
    EXPECT_EQ(form.Location(), QDir::cleanPath(dir.path()));
}

TEST_F(MainWindow, HistoryBackForwardUpAndHints)
{
    TFormKestrixOptions options;
    TFormKestrix form(SettingsStore::InMemory(), options, Services());
    const QString a = QDir::cleanPath(dir.path()), b = a + S("/sub");
    form.History().Clear();
    EXPECT_EQ(form.NavigationHint(-1), QString()); // no entry, no hint
    form.SetLocation(a);
    form.SetLocation(b);
    EXPECT_EQ(form.NavigationHint(-1), S("Back to ") + QFileInfo(a).fileName());
    EXPECT_EQ(form.NavigationHint(1), QString());
    // Back, Forward: no entry is added.
    form.UpdateActions();
    Act(form, "actNavBack").trigger();
    EXPECT_EQ(form.Location(), a);
    form.UpdateActions();
    Act(form, "actNavForward").trigger();
    EXPECT_EQ(form.Location(), b);
    EXPECT_EQ(form.History().Entries(), QStringList({a, b}));
    EXPECT_EQ(Address(form).Text(), b);
    EXPECT_EQ(Find<QLabel>(form, "StatusPanel1").text(), b);
    form.UpdateActions();
    Act(form, "actNavUp").trigger();
    EXPECT_EQ(form.Location(), a);

    // Up is unavailable at the root.
    form.SetLocation(S("/"));
    form.UpdateActions();
    EXPECT_FALSE(Act(form, "actNavUp").isEnabled());
    form.SetLocation(a);
    form.UpdateActions();
    EXPECT_TRUE(Act(form, "actNavUp").isEnabled());
}

// The tree keeps its folder in view while a large parent folder is still
// read and sorted above it, and leaves the view where the user scrolled it.
TEST_F(MainWindow, TreeKeepsItsFolderInViewUntilTheUserScrolls)
{
    const struct
    {
        const char* name;
        bool userScrolls;
    } cases[] = {{"left alone", false}, {"scrolled by the user", true}};
    QDir parent(dir.path());
    ASSERT_TRUE(parent.mkdir(S("many")) && parent.cd(S("many")));
    // Hundreds of folders sort before the one shown.
    for (int i = 0; i < 400; ++i)
        ASSERT_TRUE(parent.mkdir(QString::asprintf("a%03d", i)));
    ASSERT_TRUE(parent.mkpath(S("zz/site/one")));
    const QString shown = parent.filePath(S("zz/site/one"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TFormKestrixOptions options;
        TFormKestrix form(SettingsStore::InMemory(), options, Services());
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        auto& tree = Find<QTreeView>(form, "ShellTreeView");
        form.SetLocation(shown);
        if (c.userScrolls) {
            const QPoint at = tree.viewport()->rect().center();
            QWheelEvent wheel(at, tree.viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(tree.viewport(), &wheel);
        }
        const int scrolled = tree.verticalScrollBar()->value();
        const auto* model = qobject_cast<const QFileSystemModel*>(tree.model());
        ASSERT_NE(model, nullptr);
        // Read and sorted: the folder holding the one shown is the last row.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                const QModelIndex parentIndex = model->index(parent.path());
                return model->rowCount(parentIndex) == 401 &&
                       model->index(400, 0, parentIndex) == model->index(parent.filePath(S("zz")));
            },
            10000));
        QTest::qWait(200);
        EXPECT_EQ(model->filePath(tree.currentIndex()), shown);
        const bool inView = tree.viewport()->rect().contains(tree.visualRect(tree.currentIndex()));
        if (c.userScrolls) {
            EXPECT_FALSE(inView);
            EXPECT_EQ(tree.verticalScrollBar()->value(), scrolled);
        } else {
            EXPECT_TRUE(inView);
        }
    }
}

TEST_F(MainWindow, AddressBarGoesToFilesFoldersAndWebPages)
{
    TFormKestrixOptions options;
    TFormKestrix form(SettingsStore::InMemory(), options, Services());
    // An existing file: its folder, the file selected.
    Address(form).SetText(dir.filePath(S("c.html")));
    form.SpeedButtonGoClick();
    EXPECT_EQ(form.Location(), QDir::cleanPath(dir.path()));
    WaitForList(form, 4);
    EXPECT_EQ(form.CollectSelection(), QStringList({dir.filePath(S("c.html"))}));

    // Return and keypad Enter are Go, delivered as the platform delivers
    // them: to the window, which hands them to the focused address box.
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    auto* box = Address(form).findChild<QComboBox*>(S("IEAddress"));
    box->setFocus();
    Address(form).SetText(dir.filePath(S("sub")));
    QTest::keyClick(form.windowHandle(), Qt::Key_Return);
    EXPECT_EQ(form.Location(), QDir::cleanPath(dir.filePath(S("sub"))));
    Address(form).SetText(dir.path());
    QTest::keyClick(form.windowHandle(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(form.Location(), QDir::cleanPath(dir.path()));
    Address(form).SetText(dir.filePath(S("sub")));

    // A caption of a node the tree holds, in another letter case.
    Address(form).SetText(QFileInfo(dir.path()).fileName().toUpper());
    form.SpeedButtonGoClick();
    EXPECT_EQ(form.Location(), QDir::cleanPath(dir.path()));

    // A web address without its scheme names nothing: the root.
    Address(form).SetText(S("www.example.com/index.html"));
    form.SpeedButtonGoClick();
    EXPECT_EQ(form.Location(), S("/"));
    EXPECT_TRUE(webPages.isEmpty());
    // With its scheme, anywhere in the text, it is secured.
    Address(form).SetText(S("see https://example.com/"));
    form.SpeedButtonGoClick();
    EXPECT_EQ(webPages, QStringList({S("see https://example.com/")}));
}

TEST_F(MainWindow, OptionsCommandAndTheFolderQuestion)
{
    TFormKestrixOptions options;
    SettingsStore store = SettingsStore::InMemory();
    const QString question = FolderProcessingQuestion();
    const QString section = S("FormKestrixOptions");

    // Unticking "Ask before processing folders": Yes remembered; ticking
    // it again forgets the answer.
    QueueModalAnswer({ModalAnswer::Kind::Button, QDialog::Accepted, false,
                      [&](QDialog&) { options.CBFolders->setChecked(false); }});
    ASSERT_TRUE(EditApplicationOptions(options, store));
    EXPECT_EQ(RememberedAnswer(question), resultYes);
    EXPECT_EQ(store.ReadString(section, S("CBFolders.Checked"), {}), S("0"));
    QueueModalAnswer({ModalAnswer::Kind::Button, QDialog::Accepted, false, [&](QDialog&) {
                          EXPECT_FALSE(options.CBFolders->isChecked());
                          options.CBFolders->setChecked(true);
                      }});
    ASSERT_TRUE(EditApplicationOptions(options, store));
    EXPECT_FALSE(IsAnswerRemembered(question));

    // A remembered No shows unticked and stays No when only the filter
    // changes.
    RememberAnswer(question, resultNo);
    QueueModalAnswer({ModalAnswer::Kind::Button, QDialog::Accepted, false, [&](QDialog&) {
                          EXPECT_FALSE(options.CBFolders->isChecked());
                          options.EditFileFilter->setText(S("*.txt"));
                      }});
    ASSERT_TRUE(EditApplicationOptions(options, store));
    EXPECT_EQ(RememberedAnswer(question), resultNo);
    EXPECT_EQ(store.ReadString(section, S("EditFileFilter.Text"), {}), S("*.txt"));

    // Defaults then Cancel: the store and the controls as they were.
    QueueModalAnswer({ModalAnswer::Kind::Button, QDialog::Rejected, false, [&](QDialog&) {
                          options.ButtonRestoreDefaults->click();
                          EXPECT_EQ(options.FileFilter(), S("*.htm;*.html;*.asp;*.php"));
                          EXPECT_TRUE(options.CBFolders->isChecked());
                          EXPECT_FALSE(options.cbShowHiddenItems->isChecked());
                          EXPECT_TRUE(options.cbShowCaptions->isChecked());
                          EXPECT_TRUE(options.cbLargeIcons->isChecked());
                      }});
    EXPECT_FALSE(EditApplicationOptions(options, store));
    EXPECT_EQ(options.FileFilter(), S("*.txt"));
    EXPECT_EQ(store.ReadString(section, S("EditFileFilter.Text"), {}), S("*.txt"));
}

TEST_F(MainWindow, ApplyOptionsFiltersTheListAndKeepsTheSelection)
{
    TFormKestrixOptions options;
    TFormKestrix form(SettingsStore::InMemory(), options, Services());
    form.SetLocation(dir.path());
    WaitForList(form, 4);
    EXPECT_FALSE(Item(form, S("notes.txt")).isValid()); // filtered out, not shown
    Select(form, {S("a.html"), S("sub")});

    options.EditFileFilter->setText(S("*.txt"));
    options.cbShowCaptions->setChecked(false);
    options.cbLargeIcons->setChecked(false);
    form.ApplyOptions();
    EXPECT_TRUE(QTest::qWaitFor([&] { return Item(form, S("notes.txt")).isValid(); }, 5000));
    EXPECT_FALSE(Item(form, S("a.html")).isValid());
    // The folder is still listed and still selected.
    EXPECT_EQ(form.CollectSelection(), QStringList({dir.filePath(S("sub"))}));
    EXPECT_EQ(Find<QToolBar>(form, "tbToolbar").iconSize(), QSize(16, 16));
    EXPECT_EQ(Find<QToolBar>(form, "tbToolbar").toolButtonStyle(), Qt::ToolButtonIconOnly);
}

TEST_F(MainWindow, StateKeptBetweenTwoStarts)
{
    // The product's own store, in a folder of the test's.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    const QString folder = QDir::cleanPath(dir.filePath(S("sub")));
    {
        TFormKestrixOptions options;
        TFormKestrix form(SettingsStore::OpenProductKey(), options, Services());
        form.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return form.Started(); }, 5000));
        form.SetLocation(folder);
        form.setGeometry(30, 40, 700, 500);
        form.UpdateActions();
        Act(form, "actViewToolbar").trigger();
        EXPECT_FALSE(Act(form, "actViewToolbar").isChecked());
        options.EditFileFilter->setText(S("*.htm"));
        form.close(); // the options reach the store; the rest when destroyed
    }
    {
        TFormKestrixOptions options;
        TFormKestrix form(SettingsStore::OpenProductKey(), options, Services());
        form.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return form.Started(); }, 5000));
        EXPECT_EQ(form.Location(), folder);
        EXPECT_TRUE(Find<QToolBar>(form, "tbToolbar").isHidden());
        EXPECT_FALSE(Act(form, "actViewToolbar").isChecked());
        EXPECT_EQ(form.geometry(), QRect(30, 40, 700, 500));
        EXPECT_EQ(options.FileFilter(), S("*.htm"));
        // Restoring the folder is not recorded in the history.
        EXPECT_FALSE(form.History().Entries().contains(folder));
        form.showMaximized();
        form.close();
    }
    TFormKestrixOptions options;
    TFormKestrix form(SettingsStore::OpenProductKey(), options, Services());
    form.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Started(); }, 5000));
    EXPECT_TRUE(form.isMaximized());
    qunsetenv("XDG_CONFIG_HOME");
}

} // namespace

namespace {

// Empties the application's translation table however a test ends.
struct TranslationsCleared
{
    ~TranslationsCleared() { ApplicationTranslationTable().Clear(); }
};

} // namespace

TEST_F(MainWindow, EveryPartIsTranslatedInTheWindowsSection)
{
    TranslationsCleared cleared;
    TranslationTable& table = ApplicationTranslationTable();
    table.Clear();
    table.Load("<//TFormKestrix-\n"
               "E=Encrypt...\nT=Sichern...\n"        // the action
               "E=En&crypt...\nT=&Sichern...\n"      // its menu item
               "E=View File(s)\nT=Dateien ansehen\n" // a pop-up item
               "E=Encrypt\nT=Sichern\n"              // its tool bar caption
               "E=Forward\nT=Vor\n"                  // a navigation caption
               "E=Address\nT=Adresse\n"              // the address bar
               "E=Go\nT=Los\n"
               "<//STRING_TABLE-\n"
               "E=Back to %s\nT=Zur\xC3\xBC"
               "ck zu %s\n"); // the navigator's hint
    TFormKestrixOptions options;
    TFormKestrix form(SettingsStore::InMemory(), options, Services());
    TranslateComponent(&form);

    struct Case
    {
        QString shown, expected;
    };
    const Case cases[] = {
        {Act(form, "actProcessFile").text(), S("Sichern...")},
        {Act(form, "miEncrypt").text(), S("&Sichern...")},
        {Act(form, "miPopupViewFiles").text(), S("Dateien ansehen")},
        {Find<QToolButton>(form, "tbEncrypt").text(), S("Sichern")},
        {Find<QToolButton>(form, "tbForward").text(), S("Vor")},
        {Find<QLabel>(form, "LabelAddress").text(), S("Adresse")},
        {Find<QToolButton>(form, "SpeedButtonGo").text(), S("Los")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.shown, c.expected);
    // A changed availability leaves the tool bar's captions translated.
    form.UpdateActions();
    EXPECT_EQ(Find<QToolButton>(form, "tbEncrypt").text(), S("Sichern"));

    // Every part takes its texts from the window's section.
    for (const char* part : {"MainWindowActions", "FolderNavigator", "FileSelection",
                             "AddressPanel", "actProcessFile", "tbToolbar"})
        EXPECT_EQ(TranslationSection(&Find<QObject>(form, part)), "TFormKestrix") << part;

    // The navigator's hint is a run-time message.
    form.SetLocation(dir.path());
    form.SetLocation(dir.filePath(S("sub")));
    EXPECT_EQ(form.NavigationHint(-1), S("Zur\xC3\xBC"
                                         "ck zu ") +
                                           QFileInfo(dir.path()).fileName());
}
