#include "support/WebDownload.h"

#include "platform/MessageFormat.h"
#include "support/Translation.h"
#include "support/WebHelpers.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QUrl>

namespace kestrix {

namespace {

// The extension of the address's file name, kept on the temporary file so
// that a handler for its type still recognises it; empty when there is none
// or it looks like no extension.
QString TemporarySuffix(const QString& location)
{
    const QString name = UrlFileName(location);
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 0)
        return QString();
    const QString suffix = name.mid(dot + 1);
    if (suffix.isEmpty() || suffix.size() > 8)
        return QString();
    for (const QChar c : suffix)
        if (!(c.isLetterOrNumber() && c.unicode() < 128))
            return QString();
    return QLatin1Char('.') + suffix;
}

bool IsHttpScheme(const QUrl& url)
{
    return url.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0 ||
           url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

} // namespace

QString DownloadCacheFolder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (!base.isEmpty()) {
        const QString folder = base + QStringLiteral("/Marquell/Marquell Kestrix v2.0");
        if (QDir().mkpath(folder) && QFileInfo(folder).isDir())
            return folder;
    }
    return QDir::tempPath();
}

WebDownload::WebDownload(QObject* parent)
    : QObject(parent), manager_(std::make_unique<QNetworkAccessManager>())
{
    // Proxies as the system has them configured (environment or desktop).
    static const bool systemProxies = [] {
        QNetworkProxyFactory::setUseSystemConfiguration(true);
        return true;
    }();
    (void)systemProxies;
    silence_.setSingleShot(true);
    connect(&silence_, &QTimer::timeout, this, [this] { Finish(DownloadStatus::TimedOut); });
}

WebDownload::~WebDownload()
{
    silence_.stop();
    if (reply_) {
        disconnect(reply_, nullptr, this, nullptr);
        reply_->abort();
        delete reply_;
    }
    // An unfinished temporary file is removed with its object.
    file_.reset();
}

void WebDownload::Start(const QString& location)
{
    started_ = true;
    status_ = DownloadStatus::Running;
    localFile_.clear();
    errorDetail_.clear();
    total_ = -1;
    received_ = 0;
    redirected_ = false;
    if (!IsOfflineUrl(location) && !IsInternetConnected()) {
        FinishLater(DownloadStatus::NotConnected, QString());
        return;
    }
    const QUrl url(location, QUrl::TolerantMode);
    if (!url.isValid() || url.scheme().isEmpty()) {
        FinishLater(DownloadStatus::Failed, url.errorString());
        return;
    }
    file_ = std::make_unique<QTemporaryFile>(
        DownloadCacheFolder() + QStringLiteral("/download-XXXXXX") + TemporarySuffix(location));
    if (!file_->open()) {
        const QString detail = file_->errorString();
        file_.reset();
        FinishLater(DownloadStatus::Failed, detail);
        return;
    }
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    reply_ = manager_->get(request);
    // The network holds at most this much unread; the rest waits in the
    // connection until it is read, so memory stays bounded whatever the
    // server sends.
    reply_->setReadBufferSize(limits_.readBufferBytes);
    connect(reply_, &QNetworkReply::readyRead, this, &WebDownload::OnReadyRead);
    connect(reply_, &QNetworkReply::finished, this, &WebDownload::OnFinished);
    // Every stage of the transfer is a progress report, as the dialog shows
    // from the first one on: connecting, the request sent, a redirect
    // followed, the headers arrived, then the body's bytes.
    connect(reply_, &QNetworkReply::socketStartedConnecting, this, [this] { ReportStage(); });
    connect(reply_, &QNetworkReply::requestSent, this, [this] { ReportStage(); });
    connect(reply_, &QNetworkReply::redirected, this, [this](const QUrl&) {
        redirected_ = true;
        silence_.start(limits_.silenceMilliseconds);
        total_ = -1;
        ReportStage();
    });
    connect(reply_, &QNetworkReply::metaDataChanged, this, [this] {
        silence_.start(limits_.silenceMilliseconds);
        const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
        total_ = length.isValid() ? length.toLongLong() : -1;
        if (total_ > limits_.maximumBytes) {
            Finish(DownloadStatus::TooLarge);
            return;
        }
        ReportStage();
    });
    silence_.start(limits_.silenceMilliseconds);
}

void WebDownload::Abort()
{
    if (status_ == DownloadStatus::Running)
        Finish(DownloadStatus::Cancelled);
}

void WebDownload::OnReadyRead()
{
    if (status_ != DownloadStatus::Running || !reply_ || !file_)
        return;
    silence_.start(limits_.silenceMilliseconds);
    const QByteArray data = reply_->readAll();
    // Every body counts against the limit, so that an endless one ends.
    received_ += data.size();
    if (received_ > limits_.maximumBytes) {
        Finish(DownloadStatus::TooLarge);
        return;
    }
    // The body of an error answer (a "not found" page) is not the page: it
    // is not kept.
    const QVariant code = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (IsHttpScheme(reply_->url()) && code.isValid() && (code.toInt() < 200 || code.toInt() > 299))
        return;
    if (file_->write(data) != data.size()) {
        Finish(DownloadStatus::Failed, file_->errorString());
        return;
    }
    // Reported from here rather than from the reply's own progress signal,
    // which leaves out reports that follow each other closely.
    if (!data.isEmpty())
        emit Progress(file_->size(), total_);
}

void WebDownload::ReportStage()
{
    if (status_ == DownloadStatus::Running && file_)
        emit Progress(file_->size(), total_);
}

void WebDownload::OnFinished()
{
    if (status_ != DownloadStatus::Running || !reply_)
        return;
    if (reply_->error() != QNetworkReply::NoError) {
        // A redirect that cannot be followed is named as such: one to an
        // address that is not a web address ends with an unknown protocol,
        // the redirect's answer still at hand.
        const QByteArray location = reply_->rawHeader(QByteArrayLiteral("Location"));
        const bool movedAway =
            redirected_ || (!location.isEmpty() &&
                            !IsHttpScheme(reply_->url().resolved(QUrl::fromEncoded(location))));
        if (reply_->error() == QNetworkReply::TooManyRedirectsError)
            Finish(DownloadStatus::RedirectLoop, reply_->errorString());
        else if (reply_->error() == QNetworkReply::InsecureRedirectError ||
                 (reply_->error() == QNetworkReply::ProtocolUnknownError && movedAway))
            Finish(DownloadStatus::RedirectElsewhere, reply_->errorString());
        else
            Finish(DownloadStatus::Failed, reply_->errorString());
        return;
    }
    const QVariant code = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (IsHttpScheme(reply_->url()) && code.isValid() &&
        (code.toInt() < 200 || code.toInt() > 299)) {
        Finish(DownloadStatus::Failed,
               QStringLiteral("HTTP ") + QString::number(code.toInt()) + QLatin1Char(' ') +
                   reply_->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString());
        return;
    }
    OnReadyRead();
    if (status_ != DownloadStatus::Running)
        return;
    if (!file_->flush()) {
        Finish(DownloadStatus::Failed, file_->errorString());
        return;
    }
    file_->close();
    file_->setAutoRemove(false);
    localFile_ = file_->fileName();
    file_.reset();
    Finish(DownloadStatus::Succeeded);
}

void WebDownload::Finish(DownloadStatus status, const QString& detail)
{
    if (status_ != DownloadStatus::Running)
        return;
    status_ = status;
    errorDetail_ = detail;
    silence_.stop();
    if (reply_) {
        QNetworkReply* reply = reply_;
        reply_ = nullptr;
        disconnect(reply, nullptr, this, nullptr);
        if (reply->isRunning())
            reply->abort();
        reply->deleteLater();
    }
    // Anything but success leaves no file behind.
    if (status != DownloadStatus::Succeeded)
        file_.reset();
    emit Finished();
}

void WebDownload::FinishLater(DownloadStatus status, const QString& detail)
{
    QMetaObject::invokeMethod(
        this, [this, status, detail] { Finish(status, detail); }, Qt::QueuedConnection);
}

DownloadStatus DownloadToFile(const QString& location, QString& localFile,
                              const std::function<void(qint64, qint64)>& progress,
                              const std::function<bool()>& cancelRequested,
                              const DownloadLimits& limits)
{
    WebDownload download;
    download.SetLimits(limits);
    QEventLoop loop;
    QObject::connect(&download, &WebDownload::Finished, &loop, &QEventLoop::quit);
    if (progress)
        QObject::connect(&download, &WebDownload::Progress, &loop, progress);
    QTimer poll;
    if (cancelRequested) {
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (cancelRequested())
                download.Abort();
        });
        poll.start(100);
    }
    download.Start(location);
    if (download.Status() == DownloadStatus::Running)
        loop.exec();
    if (download.Status() == DownloadStatus::Succeeded)
        localFile = download.LocalFile();
    return download.Status();
}

QString DownloadFailureMessage(const QString& location, DownloadStatus status,
                               const DownloadLimits& limits)
{
    QString format;
    QStringList arguments{location};
    switch (status) {
    case DownloadStatus::Failed:
    case DownloadStatus::NotConnected:
        format = Tr("Unable to download %s\r\n\r\nThe Web Page may not exist.");
        break;
    case DownloadStatus::TooLarge:
        format = Tr("Unable to download %s\r\n\r\nThe Web Page is larger than %d MB.");
        arguments << QString::number(limits.maximumBytes / (1024 * 1024));
        break;
    case DownloadStatus::TimedOut:
        format = Tr("Unable to download %s\r\n\r\nThe server did not answer for %d seconds.");
        arguments << QString::number(limits.silenceMilliseconds / 1000);
        break;
    case DownloadStatus::RedirectLoop:
        format = Tr("Unable to download %s\r\n\r\nThe Web Page may not exist.") +
                 QStringLiteral("\r\n\r\n") + Tr("The server redirects it round in a loop.");
        break;
    case DownloadStatus::RedirectElsewhere:
        format = Tr("Unable to download %s\r\n\r\nThe Web Page may not exist.") +
                 QStringLiteral("\r\n\r\n") +
                 Tr("The server redirects it to another kind of address (from https to http, "
                    "or to one that is not a web address).");
        break;
    case DownloadStatus::Running:
    case DownloadStatus::Succeeded:
    case DownloadStatus::Cancelled:
        return QString();
    }
    return FormatMessage(format, arguments).replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

} // namespace kestrix
