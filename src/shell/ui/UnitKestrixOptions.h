// The application options: which files the file list shows, hidden items,
// the folder question, and how the tool bar looks. Stored by control name
// in section "FormKestrixOptions"; "Defaults" loads the design values.
#pragma once

#include "support/SettingsStore.h"

#include <QDialog>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace kestrix {

class TFormKestrixOptions : public QDialog
{
    Q_OBJECT
public:
    explicit TFormKestrixOptions(QWidget* parent = nullptr);

    // Shows the dialog modally, centred on its owner (the main window);
    // true when closed with OK.
    bool ShowOptions();
    void SetOwner(const QWidget* owner) { owner_ = owner; }

    bool AskBeforeFolders() const;
    void SetAskBeforeFolders(bool on);
    QString FileFilter() const;
    bool ShowHiddenItems() const;
    bool ShowCaptions() const;
    bool LargeIcons() const;

    void ButtonRestoreDefaultsClick();

    QTabWidget* PageControl;
    QWidget* TabSheetSettings;
    QGroupBox* GroupBoxFilter;
    QLineEdit* EditFileFilter;
    QGroupBox* GroupBoxFolders;
    QCheckBox* CBFolders;
    QCheckBox* cbShowHiddenItems;
    QGroupBox* GroupBoxToolbars;
    QCheckBox* cbShowCaptions;
    QCheckBox* cbLargeIcons;
    QPushButton* ButtonRestoreDefaults;
    QPushButton* ButtonOK;
    QPushButton* ButtonCancel;

private:
    SettingsStore defaults_;
    const QWidget* owner_ = nullptr;
};

// The options command of the main window, apart from applying the result:
// loads the dialog from the store, ticks "Ask before processing folders"
// exactly when no answer to the folder question is remembered, and shows
// it. Cancel loads the store again and returns false. OK forgets the
// remembered answer when the box is ticked; unticked, it keeps a remembered
// answer as it is and remembers Yes only when none is remembered; then the
// controls are saved and the result is true.
bool EditApplicationOptions(TFormKestrixOptions& form, SettingsStore& store);

} // namespace kestrix
