// The protection options dialog's pages as the user sees them; with
// KESTRIX_SCREENSHOT_DIR set, their pictures are saved there.
#include "Screenshot.h"
#include "protection/SecurePage.h"
#include "protection/ui/UnitEncryptionOptions.h"
#include "support/ui/ModalDialog.h"

#include <QCheckBox>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <gtest/gtest.h>

using namespace kestrix;
using kestrix::testing::InspectWindow;

TEST(Screenshots, OptionsDialogPages)
{
    TFormEncryptionOptions form;
    form.SetProtectionParts(allProtectionParts);
    form.CheckBoxRightClicking->setChecked(true);
    form.CheckBoxSelection->setChecked(true);
    form.CheckBoxOptimize->setChecked(true);
    form.CheckBoxComments->setChecked(true);
    const std::pair<QWidget*, const char*> pages[] = {
        {form.TabSheetEncryption, "options-encryption"},
        {form.TabSheetUserAccess, "options-user-access"},
        {form.TabSheetOptimization, "options-optimization"}};
    for (const auto& [page, name] : pages) {
        form.PageControl->setCurrentWidget(page);
        QueueModalAnswer({ModalAnswer::Kind::Button, QDialog::Rejected, false,
                          [name = name](QDialog& dialog) { InspectWindow(dialog, name); }});
        form.EditProtectionOptions("<html><body></body></html>");
    }

    // Stand-alone, with its menu bar, the optimisation group titled alone.
    form.SetStandaloneMode(true);
    form.SetProtectionParts(partEncrypt | partOptimise);
    form.PageControl->setCurrentWidget(form.TabSheetOptimization);
    QueueModalAnswer({ModalAnswer::Kind::Button, QDialog::Rejected, false, [&](QDialog& dialog) {
                          EXPECT_TRUE(form.MainMenu->isVisible());
                          InspectWindow(dialog, "options-standalone");
                      }});
    form.EditProtectionOptions("");
}
