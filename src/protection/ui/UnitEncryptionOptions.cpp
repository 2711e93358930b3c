#include "protection/ui/UnitEncryptionOptions.h"

#include "platform/AtomicFile.h"
#include "platform/MessageFormat.h"
#include "platform/desktop/DesktopOpen.h"
#include "protection/SecurePage.h"
#include "support/Translation.h"
#include "support/VersionInfo.h"
#include "support/WebHelpers.h"
#include "support/ui/DialogParts.h"
#include "support/ui/FormState.h"
#include "support/ui/ModalDialog.h"
#include "support/ui/TranslateComponent.h"
#include "support/ui/UnitAboutBox.h"
#include "support/ui/WebDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include <tuple>

namespace kestrix {

namespace {

QString L(const char* text)
{
    return QString::fromUtf8(text);
}

// An information panel: bold text on the tooltip colours.
QLabel* MakeInfoPanel(const char* name, const char* text, QWidget* parent)
{
    auto* panel = new QLabel(L(text), parent);
    panel->setObjectName(L(name));
    panel->setTextFormat(Qt::PlainText);
    panel->setAutoFillBackground(true);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setMargin(6);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::ToolTipBase));
    palette.setColor(QPalette::WindowText, palette.color(QPalette::ToolTipText));
    panel->setPalette(palette);
    QFont font = panel->font();
    font.setBold(true);
    panel->setFont(font);
    return panel;
}

// One page of the dialog: a tab sheet holding an information panel above
// the page's group box, the rest of the height left empty.
std::pair<QWidget*, QLabel*> AddOptionsPage(QTabWidget* tabs, const char* sheetName,
                                            const char* caption, const char* panelName,
                                            const char* panelText, QGroupBox* group)
{
    auto* sheet = new QWidget;
    sheet->setObjectName(L(sheetName));
    tabs->addTab(sheet, L(caption));
    auto* layout = new QVBoxLayout(sheet);
    QLabel* panel = MakeInfoPanel(panelName, panelText, sheet);
    layout->addWidget(panel);
    group->setParent(sheet);
    layout->addWidget(group);
    layout->addStretch(1);
    return {sheet, panel};
}

} // namespace

TFormEncryptionOptions::TFormEncryptionOptions(QWidget* parent)
    : QDialog(parent), defaults_(SettingsStore::InMemory())
{
    QVBoxLayout* outer = SetUpFixedDialog(*this, "FormEncryptionOptions", "Marquell Kestrix");

    // The menu bar of command-line runs.
    MainMenu = new QMenuBar(this);
    MainMenu->setObjectName(L("MainMenu"));
    miFile = MainMenu->addMenu(L("&File"));
    miFile->setObjectName(L("miFile"));
    miExit = MakeNamed<QAction>("miExit", "E&xit", this);
    miFile->addAction(miExit);
    miEdit = MainMenu->addMenu(L("Edit"));
    miEdit->setObjectName(L("miEdit"));
    miInternetProperties =
        MakeNamed<QAction>("miInternetProperties", "Internet Properties...", this);
    miEdit->addAction(miInternetProperties);
    miHelp = MainMenu->addMenu(L("&Help"));
    miHelp->setObjectName(L("miHelp"));
    miAbout = MakeNamed<QAction>("miAbout", "About...", this);
    miMarquellSoftware =
        MakeNamed<QAction>("miMarquellSoftware", "&Marquell Software (Online)...", this);
    miMarquellServices =
        MakeNamed<QAction>("miMarquellServices", "Marquell &Services (Online)...", this);
    miHelp->addAction(miAbout);
    miHelp->addSeparator();
    miHelp->addAction(miMarquellSoftware);
    miHelp->addAction(miMarquellServices);
    outer->setMenuBar(MainMenu);
    connect(miExit, &QAction::triggered, this, &QDialog::reject);
    connect(miInternetProperties, &QAction::triggered, this,
            &TFormEncryptionOptions::miInternetPropertiesClick);
    connect(miAbout, &QAction::triggered, this, [this] { ShowAboutBox(this); });
    connect(miMarquellSoftware, &QAction::triggered, this, [] { OpenWebPage(HomePageUrl()); });
    connect(miMarquellServices, &QAction::triggered, this, [] { OpenWebPage(ServicesPageUrl()); });

    PageControl = new QTabWidget(this);
    PageControl->setObjectName(L("PageControl"));
    outer->addWidget(PageControl);

    // The controls are created in the order of the settings record, which
    // is the order in which they are stored; the layouts place them in the
    // order the user sees.

    // "Encryption".
    GroupBoxStrength = new QGroupBox(L("Encryption Strength"));
    GroupBoxStrength->setObjectName(L("GroupBoxStrength"));
    auto* strength = new QVBoxLayout(GroupBoxStrength);
    ComboBoxDepthLevel = new QComboBox(GroupBoxStrength);
    ComboBoxDepthLevel->setObjectName(L(strengthControlName));
    ComboBoxDepthLevel->setEditable(false);
    for (const char* name : strengthLevelNames)
        ComboBoxDepthLevel->addItem(L(name));
    ComboBoxDepthLevel->setCurrentIndex(defaultStrengthLevel);
    LabelWarning =
        new QLabel(L("Warning: High encryption can slow down browser loading"), GroupBoxStrength);
    LabelWarning->setObjectName(L("LabelWarning"));
    strength->addWidget(ComboBoxDepthLevel);
    strength->addWidget(LabelWarning);
    std::tie(TabSheetEncryption, PanelEncryption) = AddOptionsPage(
        PageControl, "TabSheetEncryption", "Encryption", "PanelEncryption",
        "Encrypted web pages require a JavaScript enabled browser \r\nfor decryption.",
        GroupBoxStrength);

    // "User Access".
    GroupBoxProtection = new QGroupBox(L("JavaScript Protection"));
    GroupBoxProtection->setObjectName(L("GroupBoxProtection"));
    QWidget* g = GroupBoxProtection;
    CheckBoxRightClicking =
        MakeNamed<QCheckBox>("CheckBoxRightClicking", "Disable Right Clicking", g);
    CheckBoxSelection = MakeNamed<QCheckBox>("CheckBoxSelection", "Disable Selection", g);
    CheckBoxDragAndDrop = MakeNamed<QCheckBox>("CheckBoxDragAndDrop", "Disable Drag && Drop", g);
    CheckBoxStatusBar = MakeNamed<QCheckBox>("CheckBoxStatusBar", "Disable Statusbar", g);
    CheckBoxScriptErrors = MakeNamed<QCheckBox>("CheckBoxScriptErrors", "Hide Script Errors", g);
    CheckBoxBreakOutOfFrames =
        MakeNamed<QCheckBox>("CheckBoxBreakOutOfFrames", "Break out of Frames", g);
    CheckBoxPrinting = MakeNamed<QCheckBox>("CheckBoxPrinting", "Disable Printing (IE5+)", g);
    CheckBoxOffline = MakeNamed<QCheckBox>("CheckBoxOffline", "Disable Offline Viewing", g);
    const QList<QCheckBox*> accessOrder = {
        CheckBoxRightClicking, CheckBoxSelection, CheckBoxDragAndDrop, CheckBoxBreakOutOfFrames,
        CheckBoxScriptErrors,  CheckBoxStatusBar, CheckBoxPrinting,    CheckBoxOffline};
    auto* accessBoxes = new QVBoxLayout(GroupBoxProtection);
    for (QCheckBox* box : accessOrder)
        accessBoxes->addWidget(box);
    std::tie(TabSheetUserAccess, PanelUserAccess) = AddOptionsPage(
        PageControl, "TabSheetUserAccess", "User Access", "PanelUserAccess",
        "JavaScript content protection is only avalable on JavaScript \r\nenabled browsers",
        GroupBoxProtection);

    // "Optimization".
    GroupBoxOptimize = new QGroupBox;
    GroupBoxOptimize->setObjectName(L("GroupBoxOptimize"));
    g = GroupBoxOptimize;
    CheckBoxTBODY = MakeNamed<QCheckBox>("CheckBoxTBODY", "Remove <TBODY> Tags", g);
    CheckBoxComments = MakeNamed<QCheckBox>("CheckBoxComments", "Remove Comment Tags", g);
    CheckBoxSimpleTags = MakeNamed<QCheckBox>("CheckBoxSimpleTags", "Replace Simple Tags", g);
    CheckBoxEndP = MakeNamed<QCheckBox>("CheckBoxEndP", "Remove </P> Tags", g);
    CheckBoxEndTR = MakeNamed<QCheckBox>("CheckBoxEndTR", "Remove </TR> Tags", g);
    CheckBoxEndTD = MakeNamed<QCheckBox>("CheckBoxEndTD", "Remove </TD> Tags", g);
    CheckBoxGroupComments = MakeNamed<QCheckBox>("CheckBoxGroupComments", "Remove <!--> Tags", g);
    CBMergeWhitespace = MakeNamed<QCheckBox>("CBMergeWhitespace", "Merge Whitespace", g);
    CBMergeWhitespace->setToolTip(
        L("Combines redundant whitespace into a single space character."));
    // The group's title: a check box lying over the top edge of the frame.
    CheckBoxOptimize = MakeNamed<QCheckBox>("CheckBoxOptimize", "Optimize Code", g);
    CheckBoxOptimize->setAutoFillBackground(true);
    const QList<QCheckBox*> optimizeOrder = {
        CheckBoxTBODY, CheckBoxComments, CheckBoxGroupComments, CheckBoxSimpleTags,
        CheckBoxEndP,  CheckBoxEndTR,    CheckBoxEndTD,         CBMergeWhitespace};
    auto* optimizeBoxes = new QVBoxLayout(GroupBoxOptimize);
    const int titleHeight = CheckBoxOptimize->sizeHint().height();
    optimizeBoxes->setContentsMargins(12, titleHeight + 2, 12, 8);
    for (QCheckBox* box : optimizeOrder) {
        optimizeBoxes->addWidget(box);
        box->setEnabled(false);
    }
    std::tie(TabSheetOptimization, PanelOptimization) = AddOptionsPage(
        PageControl, "TabSheetOptimization", "Optimization", "PanelOptimization",
        "Some optimizations can effect how web pages will render.", GroupBoxOptimize);

    // The buttons: "Defaults" at the left, the others at the right.
    auto* buttons = new QHBoxLayout;
    ButtonRestoreDefaults = new QPushButton(L("Defaults"), this);
    ButtonRestoreDefaults->setObjectName(L("ButtonRestoreDefaults"));
    ButtonPreview = new QPushButton(L("Preview"), this);
    ButtonPreview->setObjectName(L("ButtonPreview"));
    ButtonOK = new QPushButton(L("OK"), this);
    ButtonOK->setObjectName(L("ButtonOK"));
    ButtonOK->setDefault(true);
    ButtonOK->setProperty("modalResult", int(QDialog::Accepted));
    ButtonCancel = new QPushButton(L("Cancel"), this);
    ButtonCancel->setObjectName(L("ButtonCancel"));
    ButtonCancel->setProperty("modalResult", int(QDialog::Rejected));
    for (QPushButton* button : {ButtonRestoreDefaults, ButtonPreview, ButtonCancel})
        button->setAutoDefault(false);
    buttons->addWidget(ButtonRestoreDefaults);
    buttons->addStretch(1);
    buttons->addWidget(ButtonPreview);
    buttons->addWidget(ButtonOK);
    buttons->addWidget(ButtonCancel);
    outer->addLayout(buttons);

    // The tab order follows what the user sees.
    QWidget* previous = ComboBoxDepthLevel;
    for (QCheckBox* box : accessOrder) {
        setTabOrder(previous, box);
        previous = box;
    }
    setTabOrder(previous, CheckBoxOptimize);
    previous = CheckBoxOptimize;
    for (QCheckBox* box : optimizeOrder) {
        setTabOrder(previous, box);
        previous = box;
    }
    for (QWidget* button :
         {static_cast<QWidget*>(ButtonRestoreDefaults), static_cast<QWidget*>(ButtonPreview),
          static_cast<QWidget*>(ButtonOK), static_cast<QWidget*>(ButtonCancel)}) {
        setTabOrder(previous, button);
        previous = button;
    }

    connect(ButtonOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ButtonRestoreDefaults, &QPushButton::clicked, this,
            &TFormEncryptionOptions::ButtonRestoreDefaultsClick);
    connect(ButtonPreview, &QPushButton::clicked, this, [this] { ButtonPreviewClick(); });
    connect(CheckBoxOptimize, &QCheckBox::toggled, this,
            &TFormEncryptionOptions::CheckBoxOptimizeClick);
    connect(PageControl, &QTabWidget::currentChanged, this, [this](int index) {
        if (isVisible() && PageControl->widget(index) == TabSheetOptimization)
            TabSheetOptimizationShow();
    });
    connect(ComboBoxDepthLevel, &QComboBox::currentIndexChanged, this, [this](int index) {
        // No entry selected (an index the store gave as -1): the level stays.
        if (index < 0) {
            ComboBoxDepthLevel->setCurrentIndex(lastLevel_);
            return;
        }
        lastLevel_ = index;
    });

    // On creation: the first page, not stand-alone, and the design values
    // kept for "Defaults".
    PageControl->setCurrentWidget(TabSheetEncryption);
    SetStandaloneMode(false);
    defaults_ = SnapshotFormState(*this);
}

QList<QCheckBox*> TFormEncryptionOptions::OptimizeSubBoxes() const
{
    return {CheckBoxTBODY, CheckBoxComments, CheckBoxGroupComments, CheckBoxSimpleTags,
            CheckBoxEndP,  CheckBoxEndTR,    CheckBoxEndTD};
}

ProtectionSettings TFormEncryptionOptions::Settings() const
{
    ProtectionSettings settings;
    const int level = ComboBoxDepthLevel->currentIndex();
    settings.StrengthLevel = level >= 0 && level <= 4 ? level : lastLevel_;
    settings.StrengthText = ComboBoxDepthLevel->itemText(settings.StrengthLevel).toStdString();
    for (const auto& entry : settingsCheckBoxes)
        if (const auto* box = findChild<QCheckBox*>(L(entry.controlName)))
            settings.*entry.field = box->isChecked();
    return settings;
}

void TFormEncryptionOptions::SetSettings(const ProtectionSettings& settings)
{
    if (settings.StrengthLevel >= 0 && settings.StrengthLevel <= 4)
        ComboBoxDepthLevel->setCurrentIndex(settings.StrengthLevel);
    for (const auto& entry : settingsCheckBoxes)
        if (auto* box = findChild<QCheckBox*>(L(entry.controlName)))
            box->setChecked(settings.*entry.field);
}

ProtectionEngine TFormEncryptionOptions::EditedEngine() const
{
    ProtectionEngine engine;
    engine.settings = Settings();
    engine.SetProtectionParts(parts_);
    engine.OptimiseActive = optimiseActive_;
    return engine;
}

void TFormEncryptionOptions::SetProtectionParts(ProtectionParts bits)
{
    parts_ = bits & allProtectionParts;
}

void TFormEncryptionOptions::SetStandaloneMode(bool on)
{
    standalone_ = on;
    MainMenu->setVisible(on);
}

bool TFormEncryptionOptions::EditProtectionOptions(const std::string& pageText)
{
    pageText_ = pageText;
    return ExecModal(*this) == QDialog::Accepted;
}

void TFormEncryptionOptions::showEvent(QShowEvent* event)
{
    ButtonPreview->setVisible(!pageText_.empty());
    rememberedCaption_ = windowTitle();
    // The title check box exactly as wide as its caption and check mark,
    // plus 6 pixels. The check mark here is the style's mark with the space
    // the style keeps between mark and caption.
    const int indicator =
        style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, CheckBoxOptimize) +
        style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, CheckBoxOptimize);
    CheckBoxOptimize->resize(
        CheckBoxOptimize->fontMetrics().horizontalAdvance(CheckBoxOptimize->text()) + indicator + 6,
        CheckBoxOptimize->sizeHint().height());
    CheckBoxOptimize->move(8, 0);
    CheckBoxOptimize->raise();
    ShowVisibleTabs();
    QDialog::showEvent(event);
    if (PageControl->currentWidget() == TabSheetOptimization)
        TabSheetOptimizationShow();
}

void TFormEncryptionOptions::hideEvent(QHideEvent* event)
{
    setWindowTitle(rememberedCaption_);
    QDialog::hideEvent(event);
}

void TFormEncryptionOptions::ShowVisibleTabs()
{
    const ProtectionParts parts = parts_;
    const std::pair<QWidget*, ProtectionPart> pages[] = {{TabSheetEncryption, partEncrypt},
                                                         {TabSheetUserAccess, partLimitAccess},
                                                         {TabSheetOptimization, partOptimise}};
    int visible = 0;
    int only = -1;
    for (const auto& [page, bit] : pages) {
        const int index = PageControl->indexOf(page);
        const bool show = parts.testFlag(bit);
        PageControl->setTabVisible(index, show);
        if (show) {
            ++visible;
            only = index;
        }
    }
    // A hidden current page gives way to the first visible one.
    if (!PageControl->isTabVisible(PageControl->currentIndex()))
        for (int i = 0; i < PageControl->count(); ++i)
            if (PageControl->isTabVisible(i)) {
                PageControl->setCurrentIndex(i);
                break;
            }
    if (visible == 1)
        setWindowTitle(rememberedCaption_ + L(" - ") + PageControl->tabText(only));
}

void TFormEncryptionOptions::CheckBoxOptimizeClick()
{
    // In stand-alone mode, once the page has shown, the box is hidden and
    // the group applies its switches on its own: nothing to follow.
    if (standalone_ && CheckBoxOptimize->isHidden())
        return;
    const bool on = CheckBoxOptimize->isChecked();
    for (QCheckBox* box : OptimizeSubBoxes())
        box->setEnabled(on);
    optimiseActive_ = on;
}

void TFormEncryptionOptions::TabSheetOptimizationShow()
{
    // Room above the boxes for the title check box, or the usual margin
    // below the group's own title.
    QLayout* boxes = GroupBoxOptimize->layout();
    QMargins margins = boxes->contentsMargins();
    margins.setTop(standalone_ ? margins.bottom() : CheckBoxOptimize->sizeHint().height() + 2);
    boxes->setContentsMargins(margins);
    if (standalone_) {
        CheckBoxOptimize->hide();
        GroupBoxOptimize->setTitle(CheckBoxOptimize->text());
        for (QCheckBox* box : OptimizeSubBoxes())
            box->setEnabled(true);
        optimiseActive_ = true;
    } else {
        CheckBoxOptimize->show();
        GroupBoxOptimize->setTitle(QString());
        CheckBoxOptimizeClick();
    }
}

void TFormEncryptionOptions::ButtonRestoreDefaultsClick()
{
    LoadFormState(*this, defaults_);
}

bool TFormEncryptionOptions::ButtonPreviewClick()
{
    // The kept page is secured as a copy, with the values now shown.
    std::string page = pageText_;
    const ProtectionEngine engine = EditedEngine();
    const QString path = UserDataFile(L("preview.html"));
    try {
        engine.SecurePage(page);
        WriteFileAtomically(path, page);
    } catch (const Failure& failure) {
        QMessageBox box(QMessageBox::Critical, ApplicationTitle(),
                        QString::fromStdString(failure.what()), QMessageBox::Ok, this);
        ExecModal(box);
        return false;
    } catch (const Cancelled&) {
        return false;
    }
    // The maker's editor does not exist on this platform: the desktop's
    // handler for the file's type shows it, and when the desktop has none the
    // user chooses the program to open it with. Only a chosen program that
    // will not start is reported.
    QString chosen;
    if (!OpenFileOrChooseProgram(
            path, [this] { return ChoosePreviewProgram(); },
            OpenPreviewWithDesktop ? OpenPreviewWithDesktop : OpenFileWithDesktop, &chosen) &&
        !chosen.isEmpty()) {
        QMessageBox box(QMessageBox::Critical, ApplicationTitle(),
                        FormatMessage(Tr("Unable to start %s"), {chosen}), QMessageBox::Ok, this);
        ExecModal(box);
    }
    return true;
}

QString TFormEncryptionOptions::ChoosePreviewProgram()
{
    QFileDialog dialog(this, L("Open With"));
    dialog.setObjectName(L("OpenWithDialog"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setLabelText(QFileDialog::Accept, L("Open"));
    dialog.setDirectory(L("/usr/bin"));
    TranslateComponent(&dialog);
    if (ExecModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().front();
}

void TFormEncryptionOptions::miInternetPropertiesClick()
{
    QMessageBox box(QMessageBox::Information, ApplicationTitle(), ProxySettingsText(),
                    QMessageBox::Ok, this);
    ExecModal(box);
}

bool EditProtectionOptions(TFormEncryptionOptions& form, ProtectionEngine& engine,
                           const std::string& pageText)
{
    form.SetProtectionParts(engine.parts);
    if (!form.EditProtectionOptions(pageText))
        return false;
    engine = form.EditedEngine();
    return true;
}

void LoadProtectionOptions(TFormEncryptionOptions& form, const SettingsStore& store)
{
    LoadFormState(form, store);
}

bool SaveProtectionOptions(const TFormEncryptionOptions& form, SettingsStore& store)
{
    return SaveFormState(form, store) && store.Flush();
}

} // namespace kestrix
