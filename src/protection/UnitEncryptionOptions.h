// The protection options dialog: the strength, the access switches and the
// optimisation switches of the next securing run, with "Defaults" and a
// preview of the page secured with them. In command-line runs it is the
// program's only window and carries a menu bar of its own.
#pragma once

#include "protection/ProtectionSettings.h"
#include "shell/SettingsStore.h"

#include <QDialog>

#include <string>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QTabWidget;

namespace kestrix {

class TFormEncryptionOptions : public QDialog
{
    Q_OBJECT
public:
    explicit TFormEncryptionOptions(QWidget* parent = nullptr);

    // Keeps the page for the preview (empty: there is none), shows the
    // dialog modally and returns true when it was closed with OK.
    bool EditProtectionOptions(const std::string& pageText);
    // The protections of the next run; they choose the visible pages.
    void SetProtectionParts(ProtectionParts bits);
    // Command-line runs: the menu bar shows, and the Optimization page
    // applies its switches on its own.
    void SetStandaloneMode(bool on);
    bool StandaloneMode() const { return standalone_; }

    // The settings as the controls show them, and the reverse.
    ProtectionSettings Settings() const;
    void SetSettings(const ProtectionSettings& settings);

    // The seven optimisation boxes that "Optimize Code" governs.
    QList<QCheckBox*> OptimizeSubBoxes() const;

    // Secures a copy of the kept page with the current values into the
    // preview file and opens it. False, after telling the user, when the
    // file cannot be written.
    bool ButtonPreviewClick();
    void ButtonRestoreDefaultsClick();

    QMenuBar* MainMenu;
    QMenu* miFile;
    QAction* miExit;
    QMenu* miEdit;
    QAction* miInternetProperties;
    QMenu* miHelp;
    QAction* miAbout;
    QAction* miMarquellSoftware;
    QAction* miMarquellServices;

    QTabWidget* PageControl;
    QWidget* TabSheetEncryption;
    QWidget* TabSheetUserAccess;
    QWidget* TabSheetOptimization;
    QLabel* PanelEncryption;
    QLabel* PanelUserAccess;
    QLabel* PanelOptimization;

    QGroupBox* GroupBoxStrength;
    QComboBox* ComboBoxDepthLevel;
    QLabel* LabelWarning;

    QGroupBox* GroupBoxProtection;
    QCheckBox* CheckBoxRightClicking;
    QCheckBox* CheckBoxSelection;
    QCheckBox* CheckBoxDragAndDrop;
    QCheckBox* CheckBoxStatusBar;
    QCheckBox* CheckBoxScriptErrors;
    QCheckBox* CheckBoxBreakOutOfFrames;
    QCheckBox* CheckBoxPrinting;
    QCheckBox* CheckBoxOffline;

    QGroupBox* GroupBoxOptimize;
    QCheckBox* CheckBoxTBODY;
    QCheckBox* CheckBoxComments;
    QCheckBox* CheckBoxSimpleTags;
    QCheckBox* CheckBoxEndP;
    QCheckBox* CheckBoxEndTR;
    QCheckBox* CheckBoxEndTD;
    QCheckBox* CheckBoxGroupComments;
    QCheckBox* CBMergeWhitespace;
    QCheckBox* CheckBoxOptimize;

    QPushButton* ButtonRestoreDefaults;
    QPushButton* ButtonPreview;
    QPushButton* ButtonOK;
    QPushButton* ButtonCancel;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void CheckBoxOptimizeClick();
    void TabSheetOptimizationShow();
    void ShowVisibleTabs();
    void SyncEngine();
    void miInternetPropertiesClick();

    SettingsStore defaults_;
    std::string pageText_;
    bool standalone_ = false;
    QString rememberedCaption_;
    int lastLevel_ = 2;
};

// The program's one options dialog, created on first use (start-up creates
// it with the other windows).
TFormEncryptionOptions& FormEncryptionOptions();

// The same operations on that dialog.
bool EditProtectionOptions(const std::string& pageText);
void SetStandaloneMode(bool on);

// Loads the dialog's controls from the store (section FormEncryptionOptions)
// before a showing, and saves them after OK. False when a value could not
// be written.
void LoadProtectionOptions(const SettingsStore& store);
bool SaveProtectionOptions(SettingsStore& store);

} // namespace kestrix
