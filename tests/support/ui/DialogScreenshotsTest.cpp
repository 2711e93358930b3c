// The download and about windows as the user sees them; with
// KESTRIX_SCREENSHOT_DIR set, their pictures are saved there.
#include "LocalHttpServer.h"
#include "Screenshot.h"

#include "support/ui/ModalDialog.h"
#include "support/ui/UnitAboutBox.h"
#include "support/ui/UnitDownload.h"

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace kestrix;
using kestrix::testing::InspectWindow;

namespace {

QString S(const char* text)
{
    return QString::fromUtf8(text);
}

} // namespace

TEST(Screenshots, DownloadInProgress)
{
    QTemporaryDir cache;
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    LocalHttpServer server;
    TFormDownload form;
    QTimer poll;
    bool seen = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!form.LabelProgress->text().startsWith(S("1000 of")))
            return;
        poll.stop();
        // Let the animation move on a little first.
        QTimer::singleShot(300, [&] {
            InspectWindow(form, "download");
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
                      [](QDialog& box) { InspectWindow(box, "about"); }});
    EXPECT_TRUE(ShowAboutBox());
}
