// The protection options dialog, headless: visible pages and caption,
// stand-alone mode, "Defaults", persistence by control name, the preview.
#include "protection/ui/UnitEncryptionOptions.h"
#include "protection/SecurePage.h"
#include "shell/ProtectionSettingsStore.h"
#include "support/ui/FormState.h"
#include "support/ui/ModalDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <gtest/gtest.h>

using namespace kestrix;

namespace {

QString S(const char* text)
{
    return QString::fromUtf8(text);
}

const QString section = S("FormEncryptionOptions");

// What the dialog looked like while it was shown.
struct Seen
{
    QStringList tabs;
    QString caption;
    QString current;
    bool preview = false;
};

Seen ShowAndCancel(TFormEncryptionOptions& form, const std::string& page = {},
                   const std::function<void(TFormEncryptionOptions&)>& also = {})
{
    Seen seen;
    QueueModalAnswer({ModalAnswer::Kind::Button, QDialog::Rejected, false, [&](QDialog&) {
                          for (int i = 0; i < form.PageControl->count(); ++i)
                              if (form.PageControl->isTabVisible(i))
                                  seen.tabs << form.PageControl->tabText(i);
                          seen.caption = form.windowTitle();
                          seen.current =
                              form.PageControl->tabText(form.PageControl->currentIndex());
                          seen.preview = form.ButtonPreview->isVisible();
                          if (also)
                              also(form);
                      }});
    EXPECT_FALSE(form.EditProtectionOptions(page));
    EXPECT_EQ(QueuedModalAnswerCount(), 0u);
    return seen;
}

class EncryptionOptionsTest : public ::testing::Test
{
protected:
    void SetUp() override { ClearQueuedModalAnswers(); }
    void TearDown() override { ClearQueuedModalAnswers(); }
};

// Takes file addresses the desktop would open.
class FileCatcher : public QObject
{
    Q_OBJECT
public:
    FileCatcher() { QDesktopServices::setUrlHandler(S("file"), this, "Open"); }
    ~FileCatcher() override { QDesktopServices::unsetUrlHandler(S("file")); }
    QList<QUrl> opened;
public slots:
    void Open(const QUrl& url) { opened << url; }
};

} // namespace

TEST_F(EncryptionOptionsTest, DesignMatchesTheSettingsRecord)
{
    TFormEncryptionOptions form;
    EXPECT_EQ(form.PageControl->currentWidget(), form.TabSheetEncryption);
    EXPECT_FALSE(form.StandaloneMode());
    EXPECT_TRUE(form.MainMenu->isHidden());
    EXPECT_EQ(form.Settings(), ProtectionSettings{});
    // Every field of the record has its control, by the stored name.
    for (const auto& entry : settingsCheckBoxes)
        EXPECT_NE(form.findChild<QCheckBox*>(S(entry.controlName)), nullptr) << entry.controlName;
    for (QCheckBox* box : form.OptimizeSubBoxes())
        EXPECT_FALSE(box->isEnabled());
    EXPECT_FALSE(form.CBMergeWhitespace->isEnabled());

    // The user sees the access boxes in this order, and tabs through them so.
    const QStringList expected = {S("CheckBoxRightClicking"), S("CheckBoxSelection"),
                                  S("CheckBoxDragAndDrop"),   S("CheckBoxBreakOutOfFrames"),
                                  S("CheckBoxScriptErrors"),  S("CheckBoxStatusBar"),
                                  S("CheckBoxPrinting"),      S("CheckBoxOffline")};
    QStringList byPosition, byTab;
    QLayout* column = form.GroupBoxProtection->layout();
    for (int i = 0; i < column->count(); ++i)
        byPosition << column->itemAt(i)->widget()->objectName();
    QWidget* w = form.CheckBoxRightClicking;
    for (int i = 0; i < 8; ++i, w = w->nextInFocusChain())
        byTab << w->objectName();
    EXPECT_EQ(byPosition.join(u' ').toStdString(), expected.join(u' ').toStdString());
    EXPECT_EQ(byTab.join(u' ').toStdString(), expected.join(u' ').toStdString());
}

TEST_F(EncryptionOptionsTest, ProtectionPartsChooseTabsAndCaption)
{
    TFormEncryptionOptions form;
    struct Case
    {
        ProtectionParts parts;
        QStringList tabs;
        const char* caption;
    };
    const Case cases[] = {
        {partEncrypt, {S("Encryption")}, "Marquell Kestrix - Encryption"},
        {partLimitAccess, {S("User Access")}, "Marquell Kestrix - User Access"},
        {partOptimise, {S("Optimization")}, "Marquell Kestrix - Optimization"},
        {allProtectionParts,
         {S("Encryption"), S("User Access"), S("Optimization")},
         "Marquell Kestrix"},
        {partEncrypt | partLimitAccess, {S("Encryption"), S("User Access")}, "Marquell Kestrix"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.parts.toInt());
        form.SetProtectionParts(c.parts);
        const Seen seen = ShowAndCancel(form);
        EXPECT_EQ(seen.tabs, c.tabs);
        EXPECT_EQ(seen.caption, S(c.caption));
        EXPECT_TRUE(seen.tabs.contains(seen.current));
        // Hidden again, the caption is the designed one.
    }
}

TEST_F(EncryptionOptionsTest, PreviewShowsOnlyForAPage)
{
    TFormEncryptionOptions form;
    EXPECT_FALSE(ShowAndCancel(form).preview);
    EXPECT_TRUE(ShowAndCancel(form, "<html><body>x</body></html>").preview);
    EXPECT_FALSE(ShowAndCancel(form, "").preview);
}

TEST_F(EncryptionOptionsTest, OptimizeCodeGovernsSevenBoxesAndTheEngineFlag)
{
    TFormEncryptionOptions form;
    form.CheckBoxEndTR->setChecked(true);
    form.CheckBoxOptimize->setChecked(true);
    for (QCheckBox* box : form.OptimizeSubBoxes())
        EXPECT_TRUE(box->isEnabled()) << box->objectName().toStdString();
    EXPECT_FALSE(form.CBMergeWhitespace->isEnabled());
    EXPECT_TRUE(form.OptimiseActive());

    form.CheckBoxOptimize->setChecked(false);
    for (QCheckBox* box : form.OptimizeSubBoxes())
        EXPECT_FALSE(box->isEnabled());
    // Disabled, but not cleared.
    EXPECT_TRUE(form.CheckBoxEndTR->isChecked());
    EXPECT_FALSE(form.OptimiseActive());
    form.CheckBoxOptimize->setChecked(true);
    EXPECT_TRUE(form.CheckBoxEndTR->isEnabled());
    EXPECT_TRUE(form.CheckBoxEndTR->isChecked());

    // The page shown outside stand-alone mode: the box is the group's title.
    form.SetProtectionParts(partOptimise);
    form.CheckBoxOptimize->setChecked(false);
    ShowAndCancel(form, {}, [](TFormEncryptionOptions& f) {
        EXPECT_TRUE(f.CheckBoxOptimize->isVisible());
        EXPECT_EQ(f.GroupBoxOptimize->title(), QString());
        // Exactly as wide as its caption and check mark, plus 6.
        const int indicator =
            f.style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, f.CheckBoxOptimize) +
            f.style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, f.CheckBoxOptimize);
        EXPECT_EQ(f.CheckBoxOptimize->width(),
                  f.CheckBoxOptimize->fontMetrics().horizontalAdvance(S("Optimize Code")) +
                      indicator + 6);
        EXPECT_GE(f.CheckBoxOptimize->width(), f.CheckBoxOptimize->sizeHint().width());
    });
    EXPECT_FALSE(form.OptimiseActive());
}

TEST_F(EncryptionOptionsTest, StandaloneModeAppliesTheOptimizationPageOnItsOwn)
{
    TFormEncryptionOptions form;
    form.SetStandaloneMode(true);
    EXPECT_FALSE(form.MainMenu->isHidden());
    form.SetProtectionParts(partOptimise);
    ASSERT_FALSE(form.CheckBoxOptimize->isChecked());
    ShowAndCancel(form, {}, [](TFormEncryptionOptions& f) {
        EXPECT_TRUE(f.MainMenu->isVisible());
        EXPECT_FALSE(f.CheckBoxOptimize->isVisible());
        EXPECT_EQ(f.GroupBoxOptimize->title(), S("Optimize Code"));
        for (QCheckBox* box : f.OptimizeSubBoxes())
            EXPECT_TRUE(box->isEnabled());
        EXPECT_FALSE(f.CBMergeWhitespace->isEnabled());
        // "Defaults" there leaves the switches usable.
        f.CheckBoxOptimize->setChecked(true);
        f.ButtonRestoreDefaults->click();
        EXPECT_TRUE(f.CheckBoxTBODY->isEnabled());
    });
    EXPECT_TRUE(form.OptimiseActive());

    // Back in window mode, the box is the title again and rules.
    form.SetStandaloneMode(false);
    EXPECT_TRUE(form.MainMenu->isHidden());
    ShowAndCancel(form, {}, [](TFormEncryptionOptions& f) {
        EXPECT_TRUE(f.CheckBoxOptimize->isVisible());
        EXPECT_EQ(f.GroupBoxOptimize->title(), QString());
        EXPECT_FALSE(f.CheckBoxTBODY->isEnabled());
        EXPECT_FALSE(f.MainMenu->isVisible());
    });
    EXPECT_FALSE(form.OptimiseActive());

    // In stand-alone mode with the page not shown, the stored switch rules.
    form.SetStandaloneMode(true);
    form.SetProtectionParts(allProtectionParts);
    form.PageControl->setCurrentWidget(form.TabSheetEncryption);
    ShowAndCancel(form);
    EXPECT_FALSE(form.OptimiseActive());
}

TEST_F(EncryptionOptionsTest, StoredValuesAreReadAndWrittenByControlName)
{
    TFormEncryptionOptions form;
    SettingsStore store = SettingsStore::InMemory();
    // The index wins over a text naming another entry.
    store.WriteString(section, S("ComboBoxDepthLevel.Text"), S("Low (Single level of encryption)"));
    store.WriteInteger(section, S("ComboBoxDepthLevel.ItemIndex"), 4);
    store.WriteString(section, S("CheckBoxPrinting.Checked"), S("2"));
    store.WriteString(section, S("CheckBoxOffline.Checked"), S("0"));
    store.WriteString(section, S("CheckBoxSelection.Checked"), S("1"));
    store.WriteString(section, S("CheckBoxComments.Checked"), S("yes"));
    store.WriteString(section, S("CheckBoxOptimize.Checked"), S("1"));
    LoadFormState(form, store);
    EXPECT_EQ(form.ComboBoxDepthLevel->currentIndex(), 4);
    EXPECT_TRUE(form.CheckBoxPrinting->isChecked());
    EXPECT_FALSE(form.CheckBoxOffline->isChecked());
    EXPECT_TRUE(form.CheckBoxSelection->isChecked());
    EXPECT_FALSE(form.CheckBoxComments->isChecked());
    // Loading "Optimize Code" enables its boxes and lets the optimisation run.
    EXPECT_TRUE(form.CheckBoxTBODY->isEnabled());
    EXPECT_TRUE(form.OptimiseActive());
    // The engine sees the loaded values.
    EXPECT_EQ(form.EditedEngine().settings.StrengthLevel, 4);
    EXPECT_EQ(form.EditedEngine().settings.StrengthText, "Very High");
    EXPECT_TRUE(form.EditedEngine().settings.DisablePrinting);

    ASSERT_TRUE(SaveFormState(form, store));
    EXPECT_EQ(store.ReadString(section, S("CheckBoxPrinting.Checked"), {}), S("1"));
    EXPECT_EQ(store.ReadString(section, S("ComboBoxDepthLevel.Text"), {}), S("Very High"));
    EXPECT_EQ(store.ReadInteger(section, S("ComboBoxDepthLevel.ItemIndex"), -9), 4);

    // The command line's reading of the same store agrees with the dialog.
    ProtectionSettings read;
    LoadProtectionSettings(store, read);
    EXPECT_EQ(read, form.Settings());
    // And the dialog reads what the command line writes.
    ProtectionSettings written;
    written.StrengthLevel = 0;
    written.StrengthText = "None";
    written.HideScriptErrors = true;
    written.MergeWhitespace = true;
    SettingsStore other = SettingsStore::InMemory();
    ASSERT_TRUE(SaveProtectionSettings(other, written));
    LoadFormState(form, other);
    EXPECT_EQ(form.Settings(), written);
}

TEST_F(EncryptionOptionsTest, StoredIndexOfNoEntryKeepsTheLevel)
{
    TFormEncryptionOptions form;
    SettingsStore store = SettingsStore::InMemory();
    store.WriteInteger(section, S("ComboBoxDepthLevel.ItemIndex"), -1);
    store.WriteString(section, S("ComboBoxDepthLevel.Text"), S("High"));
    LoadFormState(form, store);
    EXPECT_EQ(form.ComboBoxDepthLevel->currentIndex(), 3);
    EXPECT_EQ(form.EditedEngine().settings.StrengthLevel, 3);
}

TEST_F(EncryptionOptionsTest, StoredTextInOtherLetterCaseSelectsTheSameLevel)
{
    // Without an index the text alone chooses the level, letter case aside,
    // for the dialog and for the command line alike.
    SettingsStore store = SettingsStore::InMemory();
    store.WriteString(section, S("ComboBoxDepthLevel.Text"), S("very HIGH"));
    TFormEncryptionOptions form;
    LoadFormState(form, store);
    EXPECT_EQ(form.ComboBoxDepthLevel->currentIndex(), 4);
    ProtectionSettings read;
    LoadProtectionSettings(store, read);
    EXPECT_EQ(read.StrengthLevel, 4);
    EXPECT_EQ(read.StrengthText, "Very High");
    EXPECT_EQ(read, form.Settings());
}

TEST_F(EncryptionOptionsTest, DefaultsThenCancelLeavesTheStoreAlone)
{
    SettingsStore store = SettingsStore::InMemory();
    store.WriteInteger(section, S("ComboBoxDepthLevel.ItemIndex"), 0);
    store.WriteString(section, S("ComboBoxDepthLevel.Text"), S("None"));
    store.WriteString(section, S("CheckBoxRightClicking.Checked"), S("1"));
    store.WriteString(section, S("CheckBoxOptimize.Checked"), S("1"));
    store.WriteString(section, S("CheckBoxEndP.Checked"), S("1"));
    const ProtectionSettings before = [&] {
        ProtectionSettings s;
        LoadProtectionSettings(store, s);
        return s;
    }();

    // The dialog as the callers use it.
    TFormEncryptionOptions form;
    LoadProtectionOptions(form, store);
    EXPECT_EQ(form.Settings(), before);
    QueueModalAnswer({ModalAnswer::Kind::Button, QDialog::Rejected, false, [&](QDialog&) {
                          form.ButtonRestoreDefaults->click();
                          EXPECT_EQ(form.Settings(), ProtectionSettings{});
                          EXPECT_FALSE(form.CheckBoxEndP->isEnabled());
                      }});
    ProtectionEngine engine;
    engine.SetProtectionParts(partEncrypt);
    engine.settings.StrengthLevel = 1;
    const ProtectionEngine untouched = engine;
    EXPECT_FALSE(EditProtectionOptions(form, engine, ""));
    // Cancel: the caller's engine is left as it was.
    EXPECT_EQ(engine.settings, untouched.settings);
    EXPECT_EQ(engine.parts, untouched.parts);
    ProtectionSettings after;
    LoadProtectionSettings(store, after);
    EXPECT_EQ(after, before);
    // The next showing starts again from the store.
    LoadProtectionOptions(form, store);
    EXPECT_EQ(form.Settings(), before);

    // OK and save: the values shown are stored.
    QueueModalAnswer({ModalAnswer::Kind::Button, QDialog::Accepted, false,
                      [&](QDialog&) { form.CheckBoxStatusBar->setChecked(true); }});
    EXPECT_TRUE(EditProtectionOptions(form, engine, ""));
    // OK: the engine takes the values shown and keeps its parts.
    EXPECT_EQ(engine.settings, form.Settings());
    EXPECT_TRUE(engine.settings.DisableStatusBar);
    EXPECT_EQ(engine.parts, ProtectionParts(partEncrypt));
    ASSERT_TRUE(SaveProtectionOptions(form, store));
    EXPECT_EQ(store.ReadString(section, S("CheckBoxStatusBar.Checked"), {}), S("1"));
}

TEST_F(EncryptionOptionsTest, PreviewSecuresACopyIntoThePreviewFile)
{
    QTemporaryDir data;
    ASSERT_TRUE(data.isValid());
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    TFormEncryptionOptions form;
    form.SetProtectionParts(partEncrypt);
    form.ComboBoxDepthLevel->setCurrentIndex(1);
    const std::string page = "<html><head></head><body><p>Preview me</p></body></html>";
    const QString preview = UserDataFile(S("preview.html"));
    FileCatcher catcher;

    QueueModalAnswer({ModalAnswer::Kind::Button, QDialog::Accepted, false,
                      [&](QDialog&) { EXPECT_TRUE(form.ButtonPreviewClick()); }});
    EXPECT_TRUE(form.EditProtectionOptions(page));
    QFile file(preview);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    EXPECT_TRUE(written.contains("kestrix-content"));
    EXPECT_FALSE(written.contains("Preview me"));
    ASSERT_EQ(catcher.opened.size(), 1);
    EXPECT_EQ(catcher.opened.first(), QUrl::fromLocalFile(preview));
    file.close();

    // A preview file that cannot be written: an error, the dialog stays.
    ASSERT_TRUE(QFile::remove(preview));
    ASSERT_TRUE(QDir().mkpath(preview + S("/blocked")));
    QString error;
    bool stillOpen = false;
    QueueModalAnswer({ModalAnswer::Kind::Button, QDialog::Rejected, false, [&](QDialog&) {
                          QueueModalAnswer({ModalAnswer::Kind::Button, QMessageBox::Ok, false,
                                            [&](QDialog& box) {
                                                error = static_cast<QMessageBox&>(box).text();
                                            }});
                          EXPECT_FALSE(form.ButtonPreviewClick());
                          stillOpen = form.isVisible();
                      }});
    EXPECT_FALSE(form.EditProtectionOptions(page));
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(error.startsWith(S("Unable to write ") + preview)) << error.toStdString();
    EXPECT_EQ(catcher.opened.size(), 1);
}

TEST_F(EncryptionOptionsTest, PreviewWithoutADesktopHandlerOffersAProgramToOpenItWith)
{
    QTemporaryDir data;
    ASSERT_TRUE(data.isValid());
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    TFormEncryptionOptions form;
    int desktopAsked = 0;
    form.OpenPreviewWithDesktop = [&](const QString&) {
        ++desktopAsked;
        return false;
    };
    const std::string page = "<html><head></head><body><p>Preview me</p></body></html>";
    const QString preview = UserDataFile(S("preview.html"));
    // The program the user picks: it writes down the file it was given.
    const QString program = data.filePath(S("viewer"));
    const QString seen = data.filePath(S("seen"));
    {
        QFile script(program);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nprintf '%s' \"$1\" > \"$0.tmp\" && mv \"$0.tmp\" " +
                     QFile::encodeName(seen) + "\n");
        script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    }
    struct Case
    {
        QString pick; // empty: the user closes the chooser
        bool started;
        bool error;
    } cases[] = {{program, true, false},
                 {QString(), false, false},
                 {data.filePath(S("seen-not-a-program")), false, true}};
    QFile(data.filePath(S("seen-not-a-program"))).open(QIODevice::WriteOnly);
    for (const Case& c : cases) {
        QFile::remove(seen);
        QString title, error;
        form.SetProtectionParts(partEncrypt);
        // In order: the options dialog, the chooser it opens, the error box.
        QueueModalAnswer({ModalAnswer::Kind::Button, QDialog::Rejected, false,
                          [&](QDialog&) { EXPECT_TRUE(form.ButtonPreviewClick()); }});
        QueueModalAnswer({ModalAnswer::Kind::Button, QDialog::Accepted, false, [&](QDialog& d) {
                              title = d.windowTitle();
                              if (c.pick.isEmpty()) {
                                  d.reject();
                                  return;
                              }
                              static_cast<QFileDialog&>(d).selectFile(c.pick);
                              d.accept();
                          }});
        if (c.error)
            QueueModalAnswer({ModalAnswer::Kind::Button, QMessageBox::Ok, false, [&](QDialog& box) {
                                  error = static_cast<QMessageBox&>(box).text();
                              }});
        EXPECT_FALSE(form.EditProtectionOptions(page));
        EXPECT_EQ(title, S("Open With"));
        EXPECT_EQ(error.isEmpty(), !c.error) << error.toStdString();
        if (c.started) {
            QFile result(seen);
            for (int i = 0; i < 100 && !result.exists(); ++i)
                QThread::msleep(50);
            ASSERT_TRUE(result.open(QIODevice::ReadOnly));
            EXPECT_EQ(QString::fromLocal8Bit(result.readAll()), preview);
        }
    }
    EXPECT_EQ(desktopAsked, 3);
    EXPECT_EQ(QueuedModalAnswerCount(), 0u);
}

TEST_F(EncryptionOptionsTest, ExitClosesAsCancel)
{
    TFormEncryptionOptions form;
    form.SetStandaloneMode(true);
    QueueModalAnswer({ModalAnswer::Kind::Button, QDialog::Accepted, false,
                      [&](QDialog&) { form.miExit->trigger(); }});
    EXPECT_FALSE(form.EditProtectionOptions(""));
}

#include "UnitEncryptionOptionsTest.moc"
