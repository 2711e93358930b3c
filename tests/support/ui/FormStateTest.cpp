// Persistence of dialog controls and window placement in the settings store.
#include "support/ui/FormState.h"
#include "platform/SettingsBackend.h"
#include "support/SettingsStore.h"
#include "support/Translation.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace kestrix;
using namespace Qt::Literals::StringLiterals;

namespace {

// The product's INI store goes to a folder of this test run.
struct ConfigHome
{
    ConfigHome() { qputenv("XDG_CONFIG_HOME", QDir::toNativeSeparators(dir.path()).toLocal8Bit()); }
    QTemporaryDir dir;
};
const ConfigHome configHome;

const QString section = QStringLiteral("FormSampleOptions");

// A dialog as the options dialogs are built: named controls, some inside a
// group box, and parts that are not persisted.
struct SampleForm
{
    SampleForm()
    {
        form.setObjectName(section);
        filter = Add<QLineEdit>(&form, "EditFileFilter");
        filter->setText(QStringLiteral("*.htm;*.html"));
        auto* group = Add<QGroupBox>(&form, "GroupBoxView");
        captions = Add<QCheckBox>(group, "cbShowCaptions");
        captions->setChecked(true);
        hidden = Add<QCheckBox>(group, "cbShowHiddenItems");
        level = Add<QComboBox>(&form, "ComboBoxDepthLevel");
        level->addItems({QStringLiteral("None"), QStringLiteral("Low"), QStringLiteral("Medium"),
                         QStringLiteral("High")});
        level->setCurrentIndex(2);
        address = Add<QComboBox>(&form, "ComboBoxAddress");
        address->setEditable(true);
        address->addItem(QStringLiteral("http://a.example/"));
        Add<QSpinBox>(&form, "SpinBoxCount");
        unnamed = new QLineEdit(&form);
    }
    template <class W> W* Add(QWidget* parent, const char* name)
    {
        auto* w = new W(parent);
        w->setObjectName(QString::fromLatin1(name));
        return w;
    }
    QDialog form;
    QLineEdit* filter;
    QCheckBox* captions;
    QCheckBox* hidden;
    QComboBox* level;
    QComboBox* address;
    QLineEdit* unnamed;
};

QStringList SortedNames(const SettingsStore& store)
{
    QStringList names = const_cast<SettingsStore&>(store).Backend().Names(section);
    names.sort();
    return names;
}

} // namespace

TEST(FormState, SaveWritesNamedControlsOnly)
{
    SampleForm f;
    SettingsStore store = SettingsStore::InMemory();
    EXPECT_TRUE(SaveFormState(f.form, store));
    EXPECT_EQ(SortedNames(store),
              QStringList({u"ComboBoxAddress.ItemIndex"_s, u"ComboBoxAddress.Text"_s,
                           u"ComboBoxDepthLevel.ItemIndex"_s, u"ComboBoxDepthLevel.Text"_s,
                           u"EditFileFilter.Text"_s, u"cbShowCaptions.Checked"_s,
                           u"cbShowHiddenItems.Checked"_s}));
    EXPECT_EQ(store.ReadString(section, u"cbShowCaptions.Checked"_s, {}), QStringLiteral("1"));
    EXPECT_EQ(store.ReadString(section, u"cbShowHiddenItems.Checked"_s, {}), QStringLiteral("0"));
    EXPECT_EQ(store.ReadInteger(section, u"ComboBoxDepthLevel.ItemIndex"_s, -5), 2);
    EXPECT_EQ(store.ReadString(section, u"ComboBoxDepthLevel.Text"_s, {}),
              QStringLiteral("Medium"));
}

TEST(FormState, RoundTripThroughTheProductStore)
{
    {
        SampleForm f;
        f.filter->setText(QStringLiteral("*.php"));
        f.captions->setChecked(false);
        f.hidden->setChecked(true);
        f.level->setCurrentIndex(3);
        f.address->setEditText(QStringLiteral("http://typed.example/"));
        SettingsStore store = SettingsStore::OpenProductKey();
        ASSERT_TRUE(SaveFormState(f.form, store));
        ASSERT_TRUE(store.Flush());
    }
    SampleForm g;
    SettingsStore store = SettingsStore::OpenProductKey();
    LoadFormState(g.form, store);
    EXPECT_EQ(g.filter->text(), QStringLiteral("*.php"));
    EXPECT_FALSE(g.captions->isChecked());
    EXPECT_TRUE(g.hidden->isChecked());
    EXPECT_EQ(g.level->currentIndex(), 3);
    EXPECT_EQ(g.address->currentText(), QStringLiteral("http://typed.example/"));
    store.DeleteSection(section);
    store.Flush();
}

TEST(FormState, ReadingRulesForHandEditedValues)
{
    SampleForm f;
    SettingsStore store = SettingsStore::InMemory();
    store.WriteString(section, u"cbShowHiddenItems.Checked"_s, QStringLiteral("2"));
    store.WriteString(section, u"cbShowCaptions.Checked"_s, QStringLiteral("yes"));
    store.WriteString(section, u"ComboBoxDepthLevel.ItemIndex"_s, QStringLiteral("1"));
    LoadFormState(f.form, store);
    EXPECT_TRUE(f.hidden->isChecked());   // any non-zero number is ticked
    EXPECT_TRUE(f.captions->isChecked()); // not a number: the current state
    EXPECT_EQ(f.level->currentIndex(), 1);
    EXPECT_EQ(f.filter->text(), QStringLiteral("*.htm;*.html")); // missing: kept

    // Written back: booleans as "1"/"0", an index that was text stays text.
    ASSERT_TRUE(SaveFormState(f.form, store));
    EXPECT_EQ(store.ReadString(section, u"cbShowHiddenItems.Checked"_s, {}), QStringLiteral("1"));
    const auto index = store.Backend().Read(section, u"ComboBoxDepthLevel.ItemIndex"_s);
    ASSERT_TRUE(index.has_value());
    EXPECT_EQ(index->typeId(), QMetaType::QString);
    EXPECT_EQ(index->toString(), QStringLiteral("1"));

    // Text "300" as an integer; text that is no number gives the default.
    store.WriteString(section, u"Width"_s, QStringLiteral("300"));
    EXPECT_EQ(store.ReadInteger(section, u"Width"_s, 7), 300);
    store.WriteString(section, u"Width"_s, QString());
    EXPECT_EQ(store.ReadInteger(section, u"Width"_s, 7), 7);
}

TEST(FormState, ComboTextThenIndex)
{
    SampleForm f;
    SettingsStore store = SettingsStore::InMemory();
    // The text selects its item; an index beyond the list keeps that item.
    store.WriteString(section, u"ComboBoxDepthLevel.Text"_s, QStringLiteral("low"));
    store.WriteInteger(section, u"ComboBoxDepthLevel.ItemIndex"_s, 99);
    LoadFormState(f.form, store);
    EXPECT_EQ(f.level->currentIndex(), 1);
    // A valid index wins over the text.
    store.WriteInteger(section, u"ComboBoxDepthLevel.ItemIndex"_s, 3);
    LoadFormState(f.form, store);
    EXPECT_EQ(f.level->currentIndex(), 3);
    // -1 selects nothing.
    store.WriteInteger(section, u"ComboBoxDepthLevel.ItemIndex"_s, -1);
    LoadFormState(f.form, store);
    EXPECT_EQ(f.level->currentIndex(), -1);
}

TEST(FormState, DefaultsSnapshot)
{
    SampleForm f;
    const SettingsStore defaults = SnapshotFormState(f.form);
    SettingsStore product = SettingsStore::InMemory();
    f.filter->setText(QStringLiteral("*.txt"));
    f.captions->setChecked(false);
    f.level->setCurrentIndex(0);
    LoadFormState(f.form, defaults);
    EXPECT_EQ(f.filter->text(), QStringLiteral("*.htm;*.html"));
    EXPECT_TRUE(f.captions->isChecked());
    EXPECT_EQ(f.level->currentIndex(), 2);
    EXPECT_TRUE(SortedNames(product).isEmpty());
}

TEST(WindowPlacement, RoundTripAndState)
{
    QMainWindow window;
    window.setObjectName(QStringLiteral("FormKestrix"));
    window.move(40, 30);
    window.resize(500, 400);
    SettingsStore store = SettingsStore::InMemory();
    ASSERT_TRUE(SaveWindowPlacement(window, store));
    const QString s = QStringLiteral("FormKestrix");
    EXPECT_EQ(store.ReadInteger(s, u"Left"_s, -1), 40);
    EXPECT_EQ(store.ReadInteger(s, u"Top"_s, -1), 30);
    EXPECT_EQ(store.ReadInteger(s, u"Width"_s, -1), 500);
    EXPECT_EQ(store.ReadInteger(s, u"Height"_s, -1), 400);
    EXPECT_EQ(store.ReadInteger(s, u"WindowState"_s, -1), 0);

    QMainWindow other;
    other.setObjectName(s);
    other.resize(660, 554);
    LoadWindowPlacement(other, store);
    EXPECT_EQ(other.pos(), QPoint(40, 30));
    EXPECT_EQ(other.size(), QSize(500, 400));
    EXPECT_EQ(other.windowState(), Qt::WindowNoState);
}

TEST(WindowPlacement, MaximisedWindowKeepsItsBounds)
{
    SettingsStore store = SettingsStore::InMemory();
    const QString s = QStringLiteral("FormKestrix");
    store.WriteInteger(s, u"Left"_s, 10);
    store.WriteInteger(s, u"Top"_s, 20);
    store.WriteInteger(s, u"Width"_s, 300);
    store.WriteInteger(s, u"Height"_s, 200);
    store.WriteInteger(s, u"WindowState"_s, 2);
    QMainWindow window;
    window.setObjectName(s);
    window.move(100, 90);
    window.resize(660, 554);
    LoadWindowPlacement(window, store);
    EXPECT_TRUE(window.windowState() & Qt::WindowMaximized);
    EXPECT_NE(window.normalGeometry().size(), QSize(300, 200));

    // Saving while maximised writes state 2.
    SettingsStore out = SettingsStore::InMemory();
    SaveWindowPlacement(window, out);
    EXPECT_EQ(out.ReadInteger(s, u"WindowState"_s, -1), 2);
}

TEST(WindowPlacement, EveryStateSavesTheSameRectangle)
{
    // A window saved while normal and while minimised comes back at the
    // same place: both saves write the client area of the normal window.
    const QString s = QStringLiteral("FormKestrix");
    QMainWindow window;
    window.setObjectName(s);
    window.setGeometry(60, 70, 480, 360);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QRect normal = window.geometry();
    SettingsStore whileNormal = SettingsStore::InMemory();
    ASSERT_TRUE(SaveWindowPlacement(window, whileNormal));
    window.setWindowState(Qt::WindowMinimized);
    QApplication::processEvents();
    SettingsStore whileMinimised = SettingsStore::InMemory();
    ASSERT_TRUE(SaveWindowPlacement(window, whileMinimised));
    EXPECT_EQ(whileMinimised.ReadInteger(s, u"WindowState"_s, -1), 1);
    for (const char* name : {"Left", "Top", "Width", "Height"})
        EXPECT_EQ(whileMinimised.ReadInteger(s, QString::fromLatin1(name), -1),
                  whileNormal.ReadInteger(s, QString::fromLatin1(name), -2))
            << name;

    whileMinimised.WriteInteger(s, u"WindowState"_s, 0);
    QMainWindow restored;
    restored.setObjectName(s);
    LoadWindowPlacement(restored, whileMinimised);
    EXPECT_EQ(restored.geometry(), normal);
}

TEST(WindowPlacement, NoStoredStateLeavesAMaximisedWindowMaximised)
{
    const QString s = QStringLiteral("FormKestrix");
    SettingsStore store = SettingsStore::InMemory();
    store.WriteInteger(s, u"Left"_s, 10);
    store.WriteInteger(s, u"Top"_s, 20);
    QMainWindow window;
    window.setObjectName(s);
    window.setWindowState(Qt::WindowMaximized);
    LoadWindowPlacement(window, store);
    EXPECT_TRUE(window.windowState() & Qt::WindowMaximized);
}

TEST(WindowPlacement, UnusableBoundsAreNotApplied)
{
    SettingsStore store = SettingsStore::InMemory();
    const QString s = QStringLiteral("FormKestrix");
    store.WriteInteger(s, u"Left"_s, 50000);
    store.WriteInteger(s, u"Top"_s, 50000);
    store.WriteInteger(s, u"Width"_s, 0);
    store.WriteString(s, u"Height"_s, QStringLiteral("300"));
    QMainWindow window;
    window.setObjectName(s);
    window.move(15, 25);
    window.resize(660, 554);
    LoadWindowPlacement(window, store);
    EXPECT_EQ(window.pos(), QPoint(15, 25));
    EXPECT_EQ(window.size(), QSize(660, 554));
}

TEST(FormState, ComponentNameFromClassName)
{
    QDialog named;
    named.setObjectName(QStringLiteral("FormKestrixOptions"));
    EXPECT_EQ(ComponentName(named), QStringLiteral("FormKestrixOptions"));
    QDialog unnamed;
    EXPECT_EQ(ComponentName(unnamed), QStringLiteral("QDialog"));
}

TEST(UserDataFile, FolderNamedAfterTheApplicationTitleShown)
{
    QTemporaryDir data;
    ASSERT_TRUE(data.isValid());
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QDir::toNativeSeparators(data.path()).toLocal8Bit());
    const QString english = ApplicationTitle();
    EXPECT_EQ(UserDataFile(u"preview.html"_s),
              data.filePath(u"Marquell/Marquell Kestrix v2.0/preview.html"_s));
    // A translated title names the folder the user sees.
    SetApplicationTitle(u"Marquell Kestrix v2.0 (Deutsch)"_s);
    const QString translated = UserDataFile(u"preview.html"_s);
    SetApplicationTitle(english);
    EXPECT_EQ(translated,
              data.filePath(u"Marquell/Marquell Kestrix v2.0 (Deutsch)/preview.html"_s));
    EXPECT_TRUE(QFileInfo(translated).dir().exists());
    if (oldData.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", oldData);
}
