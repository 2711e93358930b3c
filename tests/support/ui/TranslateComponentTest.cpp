// Translating windows and their components by section.
#include "support/ui/TranslateComponent.h"
#include "support/Translation.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>
#include <gtest/gtest.h>

using namespace kestrix;

// A small test window with a class name of its own, as the program's forms.
class TFormSample : public QDialog
{
    Q_OBJECT
public:
    TFormSample()
    {
        setObjectName(QStringLiteral("FormSample"));
        setWindowTitle(QStringLiteral("Options"));
        auto* layout = new QVBoxLayout(this);
        label = new QLabel(QStringLiteral("File filter:"), this);
        label->setToolTip(QStringLiteral("Short|Long hint"));
        check = new QCheckBox(QStringLiteral("Show captions"), this);
        group = new QGroupBox(QStringLiteral("Appearance"), this);
        edit = new QLineEdit(QStringLiteral("*.htm"), this);
        combo = new QComboBox(this);
        combo->addItems({QStringLiteral("None"), QStringLiteral("Low"), QStringLiteral("High")});
        combo->setCurrentIndex(2);
        tabs = new QTabWidget(this);
        page = new QWidget;
        pageLabel = new QLabel(QStringLiteral("Content"), page);
        tabs->addTab(page, QStringLiteral("Content"));
        memo = new QPlainTextEdit(QStringLiteral("line one\nline two"), this);
        tree = new QTreeView(this);
        model = new QStandardItemModel(0, 2, this);
        model->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Size")});
        tree->setModel(model);
        ok = new QPushButton(QStringLiteral("OK"), this);
        for (QWidget* w : std::initializer_list<QWidget*>{label, check, group, edit, combo, tabs,
                                                          memo, tree, ok})
            layout->addWidget(w);
    }
    QLabel* label;
    QCheckBox* check;
    QGroupBox* group;
    QLineEdit* edit;
    QComboBox* combo;
    QTabWidget* tabs;
    QWidget* page;
    QLabel* pageLabel;
    QPlainTextEdit* memo;
    QTreeView* tree;
    QStandardItemModel* model;
    QPushButton* ok;
};

class TFormMain : public QMainWindow
{
    Q_OBJECT
public:
    TFormMain()
    {
        setWindowTitle(QStringLiteral("Main"));
        open = new QAction(QStringLiteral("&Open"), this);
        exit = new QAction(QStringLiteral("E&xit"), this);
        exit->setToolTip(QStringLiteral("Leave"));
        exit->setStatusTip(QStringLiteral("Ends the program"));
        fileMenu = menuBar()->addMenu(QStringLiteral("&File"));
        fileMenu->addAction(open);
        fileMenu->addAction(exit);
        toolBar = addToolBar(QStringLiteral("Toolbar"));
        toolBar->addAction(open);
    }
    QAction* open;
    QAction* exit;
    QMenu* fileMenu;
    QToolBar* toolBar;
};

namespace {

struct ScopedTable
{
    explicit ScopedTable(std::string_view text) { ApplicationTranslationTable().Load(text); }
    ~ScopedTable() { ApplicationTranslationTable().Clear(); }
};

} // namespace

TEST(TranslateComponent, FormTextsBySection)
{
    ScopedTable table("<//TFormSample-\n"
                      "E=Options\nT=Optionen\n"
                      "E=File filter:\nT=Dateifilter:\n"
                      "E=Short|Long hint\nT=Kurz|Lang\n"
                      "E=Show captions\nT=Beschriftungen\n"
                      "E=Appearance\nT=Aussehen\n"
                      "E=*.htm\nT=*.html\n"
                      "E=Content\nT=Inhalt\n"
                      "E=line one\\r\\nline two\nT=Zeile eins\\r\\nZeile zwei\n"
                      "E=Name\nT=Dateiname\n"
                      "E=OK\nT=Gut\n"
                      "<//TFormOther-\nE=Size\nT=Wrong section\n"
                      "<//STRING_TABLE-\nE=Size\nT=Wrong section\n");
    TFormSample form;
    TranslateComponent(&form);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Optionen"));
    EXPECT_EQ(form.label->text(), QStringLiteral("Dateifilter:"));
    EXPECT_EQ(form.label->toolTip(), QStringLiteral("Kurz|Lang"));
    EXPECT_EQ(form.check->text(), QStringLiteral("Beschriftungen"));
    EXPECT_EQ(form.group->title(), QStringLiteral("Aussehen"));
    EXPECT_EQ(form.edit->text(), QStringLiteral("*.html"));
    EXPECT_EQ(form.tabs->tabText(0), QStringLiteral("Inhalt"));
    EXPECT_EQ(form.pageLabel->text(), QStringLiteral("Inhalt"));
    EXPECT_EQ(form.memo->toPlainText(), QStringLiteral("Zeile eins\nZeile zwei"));
    EXPECT_EQ(form.model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Dateiname"));
    EXPECT_EQ(form.model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Size"));
    EXPECT_EQ(form.ok->text(), QStringLiteral("Gut"));
    // A child translated on its own uses its window's section too.
    EXPECT_EQ(TranslationSection(form.pageLabel), "TFormSample");
}

TEST(TranslateComponent, ComboBoxKeepsSelection)
{
    ScopedTable table("<//TFormSample-\nE=None\nT=Keine\nE=Low\nT=Niedrig\nE=High\nT=Hoch\n");
    TFormSample form;
    TranslateComponent(&form);
    EXPECT_EQ(form.combo->currentIndex(), 2);
    EXPECT_EQ(form.combo->currentText(), QStringLiteral("Hoch"));
    EXPECT_EQ(form.combo->itemText(0), QStringLiteral("Keine"));

    // An editable combo box keeps typed text that is no item.
    QComboBox editable(&form);
    editable.setEditable(true);
    editable.addItem(QStringLiteral("Low"));
    editable.setCurrentIndex(-1);
    editable.setEditText(QStringLiteral("High"));
    TranslateComponent(&editable);
    EXPECT_EQ(editable.currentIndex(), -1);
    EXPECT_EQ(editable.currentText(), QStringLiteral("Hoch"));
    EXPECT_EQ(editable.itemText(0), QStringLiteral("Niedrig"));
}

TEST(TranslateComponent, EachTextTranslatedOnce)
{
    // A chain a -> b -> c shows whether any text went through twice: menu
    // titles and their menu actions, actions and their tool buttons, tool
    // bars and their toggle actions, tab widgets and their tab bars.
    ScopedTable table("<//TFormMain-\n"
                      "E=&File\nT=&Open\nE=&Open\nT=&Offen\n"
                      "E=Toolbar\nT=&File\n"
                      "E=Leave\nT=Gehen\nE=Ends the program\nT=Beendet\nE=E&xit\nT=&Ende\n");
    TFormMain window;
    TranslateComponent(&window);
    EXPECT_EQ(window.fileMenu->title(), QStringLiteral("&Open"));
    EXPECT_EQ(window.fileMenu->menuAction()->text(), QStringLiteral("&Open"));
    EXPECT_EQ(window.open->text(), QStringLiteral("&Offen"));
    EXPECT_EQ(window.toolBar->windowTitle(), QStringLiteral("&File"));
    EXPECT_EQ(window.toolBar->toggleViewAction()->text(), QStringLiteral("&File"));
    EXPECT_EQ(window.exit->text(), QStringLiteral("&Ende"));
    EXPECT_EQ(window.exit->toolTip(), QStringLiteral("Gehen"));
    EXPECT_EQ(window.exit->statusTip(), QStringLiteral("Beendet"));
    // The derived tip follows the translated text.
    EXPECT_EQ(window.open->toolTip(), QStringLiteral("Offen"));
    EXPECT_EQ(TranslationSection(window.open), "TFormMain");
    EXPECT_EQ(TranslationSection(window.fileMenu), "TFormMain");
}

TEST(TranslateComponent, NestedDialogUsesItsOwnSection)
{
    ScopedTable table("<//TFormMain-\nE=OK\nT=main\n<//TFormSample-\nE=OK\nT=sample\n");
    TFormMain window;
    auto* dialog = new TFormSample;
    dialog->setParent(&window, Qt::Dialog);
    TranslateComponent(&window);
    EXPECT_EQ(dialog->ok->text(), QStringLiteral("sample"));
}

TEST(TranslateComponent, WithoutTableNothingChanges)
{
    TFormSample form;
    TranslateComponent(&form);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Options"));
    EXPECT_EQ(form.combo->currentText(), QStringLiteral("High"));
}

TEST(TranslateApplication, TitleAndWindowsOnce)
{
    ScopedTable table("<//Application-\nE=Marquell Kestrix v2.0\nT=Kestrix DE\n"
                      "E=Kestrix DE\nT=twice\n"
                      "<//TFormSample-\nE=Options\nT=Optionen\nE=Optionen\nT=twice\n");
    EXPECT_EQ(TranslationSection(qApp), "Application");
    TFormSample form;
    TranslateApplication();
    EXPECT_EQ(ApplicationTitle(), QStringLiteral("Kestrix DE"));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Optionen"));
    TranslateApplication();
    EXPECT_EQ(ApplicationTitle(), QStringLiteral("Kestrix DE"));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Optionen"));
    SetApplicationTitle(QStringLiteral("Marquell Kestrix v2.0"));
}

#include "TranslateComponentTest.moc"
