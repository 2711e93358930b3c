// Every window of the download, the about box and the options dialog as the
// user sees it: no control is cut off by its window or by its own size. With
// KESTRIX_SCREENSHOT_DIR set, the pictures are saved there.
#include "LocalHttpServer.h"

#include "protection/SecurePage.h"
#include "protection/UnitEncryptionOptions.h"
#include "support/ModalDialog.h"
#include "support/UnitAboutBox.h"
#include "support/UnitDownload.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace kestrix;

namespace {

QString S(const char* text)
{
    return QString::fromUtf8(text);
}

// Checks the window's visible controls, then saves its picture when asked.
void Inspect(QWidget& window, const char* name)
{
    SCOPED_TRACE(name);
    QApplication::processEvents();
    const QList<QWidget*> children = window.findChildren<QWidget*>();
    for (QWidget* w : children) {
        if (!w->isVisible() || w->isWindow() || w->objectName().isEmpty() ||
            w->objectName().startsWith(S("qt_")))
            continue;
        SCOPED_TRACE(w->objectName().toStdString());
        const QRect inWindow(w->mapTo(&window, QPoint(0, 0)), w->size());
        EXPECT_TRUE(window.rect().contains(inWindow));
        const QRect inParent = w->geometry();
        EXPECT_TRUE(w->parentWidget()->rect().contains(inParent));
        if (qobject_cast<QAbstractButton*>(w) ||
            (qobject_cast<QLabel*>(w) && !static_cast<QLabel*>(w)->wordWrap())) {
            EXPECT_GE(w->width(), w->sizeHint().width());
        }
    }
    const QImage picture = window.grab().toImage();
    EXPECT_FALSE(picture.isNull());
    const QString folder = qEnvironmentVariable("KESTRIX_SCREENSHOT_DIR");
    if (!folder.isEmpty()) {
        QDir().mkpath(folder);
        EXPECT_TRUE(picture.save(folder + QLatin1Char('/') + S(name) + S(".png")));
    }
}

} // namespace

TEST(Screenshots, DownloadInProgress)
{
    QTemporaryDir cache;
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    LocalHttpServer server;
    TFormDownload& form = FormDownload();
    QTimer poll;
    bool seen = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!form.LabelProgress->text().startsWith(S("1000 of")))
            return;
        poll.stop();
        // Let the animation move on a little first.
        QTimer::singleShot(300, [&] {
            Inspect(form, "download");
            seen = true;
            form.ButtonCancel->click();
        });
    });
    poll.start(10);
    QString location = server.Url("/slow");
    EXPECT_FALSE(form.DownloadUrl(S("Downloading Page..."), location));
    EXPECT_TRUE(seen);
}

TEST(Screenshots, AboutBox)
{
    QueueModalAnswer({ModalAnswer::Kind::Button, QDialog::Accepted, false,
                      [](QDialog& box) { Inspect(box, "about"); }});
    EXPECT_TRUE(ShowAboutBox());
}

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
                          [name = name](QDialog& dialog) { Inspect(dialog, name); }});
        form.EditProtectionOptions("<html><body></body></html>");
    }

    // Stand-alone, with its menu bar, the optimisation group titled alone.
    form.SetStandaloneMode(true);
    form.SetProtectionParts(partEncrypt | partOptimise);
    form.PageControl->setCurrentWidget(form.TabSheetOptimization);
    QueueModalAnswer({ModalAnswer::Kind::Button, QDialog::Rejected, false, [&](QDialog& dialog) {
                          EXPECT_TRUE(form.MainMenu->isVisible());
                          Inspect(dialog, "options-standalone");
                      }});
    form.EditProtectionOptions("");
}
