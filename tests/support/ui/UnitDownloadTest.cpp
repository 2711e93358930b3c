// Downloads against a server on 127.0.0.1 run by the test itself: the
// transfer on its own, then through the download dialog.
#include "LocalHttpServer.h"

#include "support/WebDownload.h"
#include "support/ui/UnitDownload.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

using namespace kestrix;

namespace {

QString S(const char* text)
{
    return QString::fromUtf8(text);
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Every test gets its own cache folder, so that files left behind show.
class DownloadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(cache_.isValid());
        qputenv("XDG_CACHE_HOME", cache_.path().toLocal8Bit());
        ASSERT_TRUE(server_.Listening());
    }

    QStringList CachedFiles() const
    {
        return QDir(DownloadCacheFolder()).entryList(QDir::Files | QDir::Hidden);
    }

    QTemporaryDir cache_;
    LocalHttpServer server_;
};

// Notes the byte count and the bar as the dialog comes up.
struct ShowWatcher : QObject
{
    explicit ShowWatcher(TFormDownload& form) : form(form) { form.installEventFilter(this); }
    ~ShowWatcher() override { form.removeEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Show)
            shownWith = form.LabelProgress->text() + QStringLiteral("|") +
                        QString::number(form.ProgressBar->value());
        return false;
    }
    TFormDownload& form;
    QString shownWith;
};

using WebDownloadTest = DownloadTest;
using FormDownloadTest = DownloadTest;

} // namespace

TEST_F(WebDownloadTest, PageArrivesInATemporaryFileOfTheCacheFolder)
{
    QString local;
    QList<std::pair<qint64, qint64>> reports;
    const auto status =
        DownloadToFile(server_.Url("/page.html"), local, [&](qint64 got, qint64 total) {
            reports << std::pair{got, total};
        });
    ASSERT_EQ(status, DownloadStatus::Succeeded);
    EXPECT_TRUE(local.startsWith(cache_.path()));
    EXPECT_TRUE(local.endsWith(S(".html")));
    EXPECT_EQ(ReadAll(local), LocalHttpServer::Body());
    ASSERT_FALSE(reports.isEmpty());
    EXPECT_EQ(reports.last().first, LocalHttpServer::Body().size());
    EXPECT_EQ(reports.last().second, LocalHttpServer::Body().size());
    QFile::remove(local);

    // A redirect is followed to the page.
    local.clear();
    ASSERT_EQ(DownloadToFile(server_.Url("/redirect"), local), DownloadStatus::Succeeded);
    EXPECT_EQ(ReadAll(local), LocalHttpServer::Body());
    QFile::remove(local);
    EXPECT_TRUE(CachedFiles().isEmpty());
}

TEST_F(WebDownloadTest, FailuresLeaveNoFileAndTheLocationAlone)
{
    // A closed port: the connection is refused.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const QString refused =
        S("http://127.0.0.1:") + QString::number(closed.serverPort()) + S("/page.html");
    closed.close();

    for (const QString& location :
         {server_.Url("/missing"), refused, S("nothing-like-an-address"), S("unknown://x/y")}) {
        SCOPED_TRACE(location.toStdString());
        QString local = S("unchanged");
        EXPECT_EQ(DownloadToFile(location, local), DownloadStatus::Failed);
        EXPECT_EQ(local, S("unchanged"));
        EXPECT_TRUE(CachedFiles().isEmpty());
    }
}

TEST_F(WebDownloadTest, LimitsStopTheTransfer)
{
    QString local;
    // Announced above 64 MB: stopped as soon as the size is known.
    EXPECT_EQ(DownloadToFile(server_.Url("/huge"), local), DownloadStatus::TooLarge);
    // No size announced: stopped once the body outgrows the limit.
    DownloadLimits small;
    small.maximumBytes = 1000;
    EXPECT_EQ(DownloadToFile(server_.Url("/stream"), local, {}, {}, small),
              DownloadStatus::TooLarge);
    // Without the limit the same body arrives whole.
    ASSERT_EQ(DownloadToFile(server_.Url("/stream"), local), DownloadStatus::Succeeded);
    EXPECT_EQ(ReadAll(local), LocalHttpServer::BigBody());
    QFile::remove(local);
    local.clear();

    // A server that says nothing.
    DownloadLimits impatient;
    impatient.silenceMilliseconds = 300;
    EXPECT_EQ(DownloadToFile(server_.Url("/silent"), local, {}, {}, impatient),
              DownloadStatus::TimedOut);
    // One that stops in the middle of the body.
    EXPECT_EQ(DownloadToFile(server_.Url("/slow"), local, {}, {}, impatient),
              DownloadStatus::TimedOut);
    EXPECT_TRUE(local.isEmpty());
    EXPECT_TRUE(CachedFiles().isEmpty());
}

TEST_F(WebDownloadTest, CancelledMidwayRemovesThePartialFile)
{
    QString local;
    qint64 received = 0;
    const auto status = DownloadToFile(
        server_.Url("/slow"), local, [&](qint64 got, qint64) { received = got; },
        [&] { return received > 0; });
    EXPECT_EQ(status, DownloadStatus::Cancelled);
    EXPECT_EQ(received, 1000);
    EXPECT_TRUE(local.isEmpty());
    EXPECT_TRUE(CachedFiles().isEmpty());
}

TEST(FormDownloadStatus, StatusLineNamesFileAndHost)
{
    EXPECT_EQ(TFormDownload::StatusText(S("http://h/index.html")), S("index.html from (h)"));
    EXPECT_EQ(TFormDownload::StatusText(S("http://www.example.com/")),
              S("Downloading from (www.example.com)"));
    EXPECT_EQ(TFormDownload::StatusText(S("not an address")), S("Downloading from ()"));
}

TEST_F(FormDownloadTest, ExistingLocalFileReturnsAtOnce)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(S("page.html"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    TFormDownload form;
    bool shown = false;
    QTimer::singleShot(0, [&] {
        shown = form.isVisible();
        form.reject();
    });
    QString location = path;
    EXPECT_TRUE(form.DownloadUrl(S("Downloading Page..."), location));
    EXPECT_EQ(location, path);
    QApplication::processEvents();
    EXPECT_FALSE(shown);
}

TEST_F(FormDownloadTest, PageIsFetchedWhileTheDialogShows)
{
    TFormDownload form;
    QString location = server_.Url("/page.html");
    EXPECT_TRUE(form.DownloadUrl(S("Downloading Page..."), location));
    EXPECT_EQ(form.ModalResult(), QDialog::Accepted);
    EXPECT_EQ(form.windowTitle(), S("Downloading Page..."));
    EXPECT_EQ(form.LabelStatus->text(), S("page.html from (127.0.0.1)"));
    const QString size = QString::number(LocalHttpServer::Body().size());
    EXPECT_EQ(form.LabelProgress->text(), size + S(" of ") + size + S(" bytes completed."));
    EXPECT_EQ(form.ProgressBar->value(), form.ProgressBar->maximum());
    EXPECT_FALSE(form.Animate->Active());
    EXPECT_NE(location, server_.Url("/page.html"));
    EXPECT_EQ(ReadAll(location), LocalHttpServer::Body());
    QFile::remove(location);

    // A failure: false, the location as it was, and the result "OK".
    location = server_.Url("/missing");
    EXPECT_FALSE(form.DownloadUrl(S("Downloading Page..."), location));
    EXPECT_EQ(form.ModalResult(), QDialog::Accepted);
    EXPECT_EQ(form.LastStatus(), DownloadStatus::Failed);
    EXPECT_EQ(location, server_.Url("/missing"));
    EXPECT_TRUE(CachedFiles().isEmpty());
}

TEST_F(FormDownloadTest, CancelEscapeAndCloseGiveCancel)
{
    TFormDownload form;
    enum class How { Button, Escape, Close };
    for (How how : {How::Button, How::Escape, How::Close}) {
        SCOPED_TRACE(int(how));
        // Once data has arrived, the user stops the transfer.
        ShowWatcher watcher(form);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (!form.LabelProgress->text().startsWith(S("1000 of 100000")))
                return;
            poll.stop();
            if (how == How::Button)
                form.ButtonCancel->click();
            else if (how == How::Escape)
                QTest::keyClick(&form, Qt::Key_Escape);
            else
                form.close();
        });
        poll.start(5);
        QString location = server_.Url("/slow");
        EXPECT_FALSE(form.DownloadUrl(S("Downloading Page..."), location));
        EXPECT_EQ(form.ModalResult(), QDialog::Rejected);
        EXPECT_EQ(form.LastStatus(), DownloadStatus::Cancelled);
        EXPECT_EQ(location, server_.Url("/slow"));
        // Each use starts again from the beginning.
        EXPECT_EQ(watcher.shownWith, S("Initializing Download.|0"));
        EXPECT_TRUE(CachedFiles().isEmpty());
    }
}

TEST_F(WebDownloadTest, EveryStageOfTheTransferIsReported)
{
    using Reports = QList<std::pair<qint64, qint64>>;
    auto fetch = [&](const char* path, Reports& reports) {
        QString local;
        QElapsedTimer clock;
        clock.start();
        const auto status = DownloadToFile(
            server_.Url(path), local,
            [&](qint64 got, qint64 total) {
                reports << std::pair{got, total};
            },
            [&] { return clock.elapsed() > 500; });
        QFile::remove(local);
        return status;
    };
    const qint64 size = LocalHttpServer::Body().size();
    Reports page;
    ASSERT_EQ(fetch("/page.html", page), DownloadStatus::Succeeded);
    // Connecting and sending come first, then the headers with the size,
    // then the body.
    ASSERT_GE(page.size(), 3);
    EXPECT_EQ(page.first(), (std::pair<qint64, qint64>{0, -1}));
    EXPECT_TRUE(page.contains(std::pair<qint64, qint64>{0, size}));
    EXPECT_EQ(page.last(), (std::pair<qint64, qint64>{size, size}));

    Reports redirected;
    ASSERT_EQ(fetch("/redirect", redirected), DownloadStatus::Succeeded);
    EXPECT_GT(redirected.count({0, -1}) + redirected.count({0, 0}), page.count({0, -1}))
        << "the redirect is a report of its own";

    // A server that never answers: the dialog has had reports all the same.
    Reports silent;
    EXPECT_EQ(fetch("/silent", silent), DownloadStatus::Cancelled);
    EXPECT_FALSE(silent.isEmpty());
}

TEST_F(FormDownloadTest, TheDialogReactsBeforeTheFirstByteArrives)
{
    TFormDownload form;
    bool reacted = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (form.LabelProgress->text() != S("0 of 0 bytes completed.") || !form.Animate->Active())
            return;
        reacted = true;
        poll.stop();
        form.ButtonCancel->click();
    });
    poll.start(5);
    QTimer::singleShot(3000, &form, [&] { form.ButtonCancel->click(); });
    QString location = server_.Url("/silent");
    EXPECT_FALSE(form.DownloadUrl(S("Downloading Page..."), location));
    EXPECT_TRUE(reacted) << "still " << form.LabelProgress->text().toStdString();
    EXPECT_EQ(form.LastStatus(), DownloadStatus::Cancelled);
}

TEST_F(FormDownloadTest, ClosedBeforeTheFirstPaintNeverStarts)
{
    TFormDownload form;
    // Rejected before the event loop paints: the transfer never starts.
    QMetaObject::invokeMethod(
        &form, [&] { form.reject(); }, Qt::QueuedConnection);
    QString location = server_.Url("/page.html");
    EXPECT_FALSE(form.DownloadUrl(S("Downloading Page..."), location));
    EXPECT_EQ(form.ModalResult(), QDialog::Rejected);
    QTest::qWait(50);
    EXPECT_EQ(server_.Requests(), 0);
}
