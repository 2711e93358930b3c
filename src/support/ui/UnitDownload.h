// The download dialog: fetches a web page while showing an animation, a
// status line, a progress bar and a byte count, with Cancel.
#pragma once

#include "support/WebDownload.h"

#include <QDialog>
#include <QTimer>

#include <memory>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QTabWidget;

namespace kestrix {

// A file-copy animation: a sheet flying from one folder to another, frames 0
// to 20 in a loop while it plays.
class TFileCopyAnimation : public QWidget
{
    Q_OBJECT
public:
    explicit TFileCopyAnimation(QWidget* parent = nullptr);
    static constexpr int stopFrame = 20;

    void Play();
    void Stop();
    bool Active() const { return timer_.isActive(); }
    int Frame() const { return frame_; }
    QSize sizeHint() const override { return QSize(272, 60); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer timer_;
    int frame_ = 0;
};

class TFormDownload : public QDialog
{
    Q_OBJECT
public:
    explicit TFormDownload(QWidget* parent = nullptr);
    ~TFormDownload() override;

    // Fetches `location` and returns true with `location` naming the local
    // copy, which the caller deletes. A location that names an existing file
    // returns true at once, unchanged and without the dialog. On false,
    // ModalResult() tells a cancellation (Rejected) from a failure
    // (Accepted), and LastStatus() says why.
    bool DownloadUrl(const QString& caption, QString& location);

    QDialog::DialogCode ModalResult() const { return QDialog::DialogCode(result()); }
    DownloadStatus LastStatus() const { return lastStatus_; }
    void SetLimits(const DownloadLimits& limits) { limits_ = limits; }
    const DownloadLimits& Limits() const { return limits_; }

    // The status line for a location: "index.html from (host)", with
    // "Downloading" when it has no file name.
    static QString StatusText(const QString& location);

    TFileCopyAnimation* Animate;
    QFrame* PanelAnimate;
    QLabel* LabelStatus;
    QProgressBar* ProgressBar;
    QLabel* LabelProgress;
    QPushButton* ButtonCancel;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void FormPaint();
    void DownloadProgress(qint64 received, qint64 total);
    void DownloadFinished();

    QTabWidget* PageControl;
    std::unique_ptr<WebDownload> download_;
    QString location_;
    bool paintArmed_ = false;
    DownloadLimits limits_;
    DownloadStatus lastStatus_ = DownloadStatus::Running;
};

} // namespace kestrix
