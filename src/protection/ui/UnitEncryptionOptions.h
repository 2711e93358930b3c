// The protection options dialog: the strength, the access switches and the
// optimisation switches of the next securing run, with "Defaults" and a
// preview of the page secured with them. In command-line runs it is the
// program's only window and carries a menu bar of its own.
#pragma once

#include "protection/ProtectionSettings.h"
#include "protection/SecurePage.h"
#include "support/SettingsStore.h"

#include <QDialog>

#include <functional>
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
    ProtectionParts Parts() const { return parts_; }
    // Whether the optimisation runs: "Optimize Code" as last shown, or
    // always once the stand-alone Optimization page has shown.
    bool OptimiseActive() const { return optimiseActive_; }
    // An engine with the values now shown, the parts and OptimiseActive.
    ProtectionEngine EditedEngine() const;
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
    // The "Open With" dialog: the program to open the preview file with, or
    // empty when the user chose none.
    QString ChoosePreviewProgram();
    // How the preview reaches the desktop's handler; tests put their own
    // here (unset: OpenFileWithDesktop).
    std::function<bool(const QString&)> OpenPreviewWithDesktop;
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
    void miInternetPropertiesClick();

    SettingsStore defaults_;
    std::string pageText_;
    bool standalone_ = false;
    QString rememberedCaption_;
    int lastLevel_ = defaultStrengthLevel;
    ProtectionParts parts_ = allProtectionParts;
    bool optimiseActive_ = false;
};

// Shows the dialog with the pages of the engine's parts and the page for
// the preview (empty: none). On OK the engine takes the values shown and
// whether the optimisation runs, and the result is true; on Cancel the
// engine is left as it was.
bool EditProtectionOptions(TFormEncryptionOptions& form, ProtectionEngine& engine,
                           const std::string& pageText);

// Loads the dialog's controls from the store (section FormEncryptionOptions)
// before a showing, and saves them after OK. False when a value could not
// be written.
void LoadProtectionOptions(TFormEncryptionOptions& form, const SettingsStore& store);
bool SaveProtectionOptions(const TFormEncryptionOptions& form, SettingsStore& store);

} // namespace kestrix
