// Fetching one web page into a temporary file, without any window: the
// transfer behind the download dialog and the command line.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QTemporaryFile;

namespace kestrix {

enum class DownloadStatus {
    Running,           // not finished yet (or never started)
    Succeeded,         // the body is in LocalFile()
    Failed,            // the server or the network failed, or the page is missing
    NotConnected,      // an online address while the machine has no connection
    TooLarge,          // the body went over the size limit
    TimedOut,          // the server stayed silent for too long
    Cancelled,         // stopped by the user
    RedirectLoop,      // the server redirected in a loop (or too many times)
    RedirectElsewhere, // redirected to another kind of address (https to http, ftp)
};

struct DownloadLimits
{
    // Every body received counts against it, an error page's too.
    qint64 maximumBytes = 64 * 1024 * 1024;
    // What the network may hold unread at a time.
    qint64 readBufferBytes = 1024 * 1024;
    int silenceMilliseconds = 30 * 1000;
};

// The folder that receives downloads: the user's cache folder, "Marquell",
// the application title; the system's temporary folder when that cannot be
// created.
QString DownloadCacheFolder();

// One transfer. Progress and the end arrive as signals on the thread that
// owns the object. The body is written to a temporary file as it arrives;
// on success the file is kept and belongs to the caller, otherwise it is
// removed. Redirects are followed (never from https to http) and the
// system's proxy settings apply.
class WebDownload : public QObject
{
    Q_OBJECT
public:
    explicit WebDownload(QObject* parent = nullptr);
    ~WebDownload() override;

    void SetLimits(const DownloadLimits& limits) { limits_ = limits; }
    // Starts fetching. An online address without a connection, or a
    // temporary file that cannot be created, ends at once (Finished is
    // emitted from the event loop, never from inside Start).
    void Start(const QString& location);
    // Stops the transfer as the user's cancellation and removes the
    // temporary file. Does nothing when the transfer has ended.
    void Abort();

    bool IsRunning() const { return status_ == DownloadStatus::Running && started_; }
    DownloadStatus Status() const { return status_; }
    QString LocalFile() const { return localFile_; }
    // The network's own description of a failure, for diagnostics.
    QString ErrorDetail() const { return errorDetail_; }

signals:
    // Bytes received so far and the size announced by the server (-1 when
    // it gave none): at every stage of the transfer (connecting, request
    // sent, redirect, headers) and as the body arrives.
    void Progress(qint64 received, qint64 total);
    void Finished();

private:
    void OnReadyRead();
    // A progress report for a stage without new bytes.
    void ReportStage();
    void OnFinished();
    void Finish(DownloadStatus status, const QString& detail = QString());
    void FinishLater(DownloadStatus status, const QString& detail);

    DownloadLimits limits_;
    std::unique_ptr<QNetworkAccessManager> manager_;
    QPointer<QNetworkReply> reply_;
    std::unique_ptr<QTemporaryFile> file_;
    QTimer silence_;
    DownloadStatus status_ = DownloadStatus::Running;
    bool started_ = false;
    qint64 total_ = -1;
    qint64 received_ = 0; // every body's bytes, kept or not
    bool redirected_ = false;
    QString localFile_;
    QString errorDetail_;
};

// Runs one transfer to its end in a local event loop, for callers without a
// window. `progress` is called with each report; `cancelRequested` is asked
// every tenth of a second and stops the transfer when it answers true. On
// success `localFile` names the temporary file, which the caller deletes.
DownloadStatus DownloadToFile(const QString& location, QString& localFile,
                              const std::function<void(qint64, qint64)>& progress = {},
                              const std::function<bool()>& cancelRequested = {},
                              const DownloadLimits& limits = {});

// The message for a failed download of `location` (translated, placeholders
// filled, line breaks as "\n"); empty for success and cancellation.
QString DownloadFailureMessage(const QString& location, DownloadStatus status,
                               const DownloadLimits& limits = {});

} // namespace kestrix
