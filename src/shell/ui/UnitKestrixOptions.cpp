#include "shell/ui/UnitKestrixOptions.h"

#include "shell/RememberedAnswers.h"
#include "support/ui/DialogParts.h"
#include "support/ui/FormState.h"
#include "support/ui/ModalDialog.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace kestrix {

namespace {

QString L(const char* text)
{
    return QString::fromUtf8(text);
}

QCheckBox* MakeCheckBox(const char* name, const char* caption, bool checked, QWidget* parent)
{
    auto* box = MakeNamed<QCheckBox>(name, caption, parent);
    box->setChecked(checked);
    return box;
}

} // namespace

TFormKestrixOptions::TFormKestrixOptions(QWidget* parent)
    : QDialog(parent), defaults_(SettingsStore::InMemory())
{
    QVBoxLayout* outer = SetUpFixedDialog(*this, "FormKestrixOptions", "Kestrix Options");

    PageControl = new QTabWidget(this);
    PageControl->setObjectName(L("PageControl"));
    TabSheetSettings = new QWidget;
    TabSheetSettings->setObjectName(L("TabSheetSettings"));
    PageControl->addTab(TabSheetSettings, L("Settings"));
    auto* page = new QVBoxLayout(TabSheetSettings);

    GroupBoxFilter = MakeNamed<QGroupBox>("GroupBoxFilter", "File Type Filter", TabSheetSettings);
    EditFileFilter = new QLineEdit(L(defaultFileFilter), GroupBoxFilter);
    EditFileFilter->setObjectName(L("EditFileFilter"));
    EditFileFilter->setMinimumWidth(260);
    (new QVBoxLayout(GroupBoxFilter))->addWidget(EditFileFilter);
    page->addWidget(GroupBoxFilter);

    // "&&" shows as one "&".
    GroupBoxFolders = MakeNamed<QGroupBox>("GroupBoxFolders", "Files && Folders", TabSheetSettings);
    CBFolders = MakeCheckBox("CBFolders", "Ask before processing folders", true, GroupBoxFolders);
    cbShowHiddenItems =
        MakeCheckBox("cbShowHiddenItems", "Show Hidden Files and Folders", false, GroupBoxFolders);
    auto* folders = new QVBoxLayout(GroupBoxFolders);
    folders->addWidget(CBFolders);
    folders->addWidget(cbShowHiddenItems);
    page->addWidget(GroupBoxFolders);

    GroupBoxToolbars = MakeNamed<QGroupBox>("GroupBoxToolbars", "Toolbars", TabSheetSettings);
    cbShowCaptions = MakeCheckBox("cbShowCaptions", "Show Captions", true, GroupBoxToolbars);
    cbLargeIcons = MakeCheckBox("cbLargeIcons", "Large Icons", true, GroupBoxToolbars);
    auto* toolbars = new QVBoxLayout(GroupBoxToolbars);
    toolbars->addWidget(cbShowCaptions);
    toolbars->addWidget(cbLargeIcons);
    page->addWidget(GroupBoxToolbars);
    page->addStretch(1);
    outer->addWidget(PageControl);

    auto* buttons = new QHBoxLayout;
    ButtonRestoreDefaults = new QPushButton(L("Defaults"), this);
    ButtonRestoreDefaults->setObjectName(L("ButtonRestoreDefaults"));
    ButtonRestoreDefaults->setAutoDefault(false);
    ButtonOK = new QPushButton(L("OK"), this);
    ButtonOK->setObjectName(L("ButtonOK"));
    ButtonOK->setDefault(true);
    ButtonOK->setProperty("modalResult", int(QDialog::Accepted));
    ButtonCancel = new QPushButton(L("Cancel"), this);
    ButtonCancel->setObjectName(L("ButtonCancel"));
    ButtonCancel->setAutoDefault(false);
    ButtonCancel->setProperty("modalResult", int(QDialog::Rejected));
    buttons->addWidget(ButtonRestoreDefaults);
    buttons->addStretch(1);
    buttons->addWidget(ButtonOK);
    buttons->addWidget(ButtonCancel);
    outer->addLayout(buttons);

    connect(ButtonOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ButtonRestoreDefaults, &QPushButton::clicked, this,
            &TFormKestrixOptions::ButtonRestoreDefaultsClick);

    // The design values, which "Defaults" loads back.
    defaults_ = SnapshotFormState(*this);
}

bool TFormKestrixOptions::ShowOptions()
{
    // Centred on the main window: the dialog has no parent (it outlives no
    // window and is owned by start-up), so its owner is named.
    const QWidget* owner = owner_ ? owner_ : parentWidget();
    if (owner) {
        adjustSize();
        move(owner->frameGeometry().center() - rect().center());
    }
    return ExecModal(*this) == QDialog::Accepted;
}

bool TFormKestrixOptions::AskBeforeFolders() const
{
    return CBFolders->isChecked();
}

void TFormKestrixOptions::SetAskBeforeFolders(bool on)
{
    CBFolders->setChecked(on);
}

QString TFormKestrixOptions::FileFilter() const
{
    return EditFileFilter->text();
}

bool TFormKestrixOptions::ShowHiddenItems() const
{
    return cbShowHiddenItems->isChecked();
}

bool TFormKestrixOptions::ShowCaptions() const
{
    return cbShowCaptions->isChecked();
}

bool TFormKestrixOptions::LargeIcons() const
{
    return cbLargeIcons->isChecked();
}

void TFormKestrixOptions::ButtonRestoreDefaultsClick()
{
    LoadFormState(*this, defaults_);
}

bool EditApplicationOptions(TFormKestrixOptions& form, SettingsStore& store)
{
    LoadFormState(form, store);
    const QString question = FolderProcessingQuestion();
    form.SetAskBeforeFolders(!IsAnswerRemembered(question));
    if (!form.ShowOptions()) {
        LoadFormState(form, store);
        return false;
    }
    if (form.AskBeforeFolders())
        ForgetAnswer(question);
    else if (!IsAnswerRemembered(question))
        // A remembered "No" stays "No": only a question never answered for
        // good becomes "always Yes".
        RememberAnswer(question, resultYes);
    SaveFormState(form, store);
    store.Flush();
    return true;
}

} // namespace kestrix
