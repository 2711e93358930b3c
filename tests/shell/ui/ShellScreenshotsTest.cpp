// The main window and the application options as the user sees them; with
// KESTRIX_SCREENSHOT_DIR set, their pictures are saved there.
#include "Screenshot.h"

#include "shell/ui/FileListModel.h"
#include "shell/ui/UnitKestrix.h"
#include "shell/ui/UnitKestrixOptions.h"
#include "support/ui/ModalDialog.h"

#include <QCheckBox>
#include <QFile>
#include <QListView>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace kestrix;
using kestrix::testing::InspectWindow;

namespace {

QString S(const char* text)
{
    return QString::fromUtf8(text);
}

TEST(Screenshots, MainWindowAndOptions)
{
    QTemporaryDir dir;
    for (const char* name : {"about.html", "contact.html", "index.html", "products.html"}) {
        QFile file(dir.filePath(S(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QDir(dir.path()).mkdir(S("images")));
    MainWindowServices services;
    services.gather = [](const QStringList& s, const QString&) { return s; };
    services.secureFiles = [](const QStringList&, ProtectionParts) {};
    services.restoreFiles = [](const QStringList&) {};
    services.backupExists = [](const QString& p) {
        return p.endsWith(S("about.html")) || p.endsWith(S("index.html"));
    };
    services.readOnly = [](const QString& p) { return p.endsWith(S("contact.html")); };
    TFormKestrixOptions options;
    TFormKestrix form(SettingsStore::InMemory(), options, services);
    form.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Started(); }, 5000));
    form.SetLocation(dir.path());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return form.ListModel().rowCount(
                       form.findChild<QListView*>(QStringLiteral("ShellListView"))->rootIndex()) ==
                   5;
        },
        5000));
    form.findChild<QListView*>(QStringLiteral("ShellListView"))
        ->setCurrentIndex(
            form.findChild<QListView*>(QStringLiteral("ShellListView"))
                ->model()
                ->index(1, 0,
                        form.findChild<QListView*>(QStringLiteral("ShellListView"))->rootIndex()));
    form.UpdateActions();
    InspectWindow(form, "main-window");

    QueueModalAnswer({ModalAnswer::Kind::Button, QDialog::Rejected, false,
                      [](QDialog& dialog) { InspectWindow(dialog, "application-options"); }});
    options.ShowOptions();

    options.cbShowCaptions->setChecked(false);
    options.cbLargeIcons->setChecked(false);
    form.ApplyOptions();
    form.UpdateActions();
    InspectWindow(form, "main-window-small-icons");
}

} // namespace
