#include "support/ui/UnitDownload.h"

#include "platform/MessageFormat.h"
#include "support/Translation.h"
#include "support/WebHelpers.h"
#include "support/ui/DialogParts.h"
#include "support/ui/ModalDialog.h"

#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <climits>
#include <cmath>

namespace kestrix {

namespace {

void DrawFolder(QPainter& painter, const QRectF& box)
{
    const QColor body(236, 196, 84);
    const QColor edge(150, 110, 30);
    QPainterPath tab;
    tab.addRoundedRect(QRectF(box.left(), box.top(), box.width() * 0.45, box.height() * 0.3), 2, 2);
    painter.setPen(QPen(edge, 1));
    painter.setBrush(body.darker(115));
    painter.drawPath(tab);
    painter.setBrush(body);
    painter.drawRoundedRect(
        QRectF(box.left(), box.top() + box.height() * 0.18, box.width(), box.height() * 0.82), 2,
        2);
}

void DrawSheet(QPainter& painter, const QPointF& centre)
{
    const QRectF sheet(centre.x() - 8, centre.y() - 10, 16, 20);
    painter.setPen(QPen(QColor(90, 90, 90), 1));
    painter.setBrush(Qt::white);
    painter.drawRect(sheet);
    painter.setPen(QPen(QColor(120, 120, 200), 1));
    for (int line = 0; line < 4; ++line) {
        const qreal y = sheet.top() + 5 + line * 3.5;
        painter.drawLine(QPointF(sheet.left() + 3, y), QPointF(sheet.right() - 3, y));
    }
}

} // namespace

TFileCopyAnimation::TFileCopyAnimation(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Animate"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setMinimumSize(sizeHint());
    timer_.setInterval(70);
    connect(&timer_, &QTimer::timeout, this, [this] {
        frame_ = frame_ >= stopFrame ? 0 : frame_ + 1;
        update();
    });
}

void TFileCopyAnimation::Play()
{
    if (!timer_.isActive())
        timer_.start();
}

void TFileCopyAnimation::Stop()
{
    timer_.stop();
    frame_ = 0;
    update();
}

void TFileCopyAnimation::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal h = height();
    const QRectF from(24, h / 2 - 14, 40, 30);
    const QRectF to(width() - 64, h / 2 - 14, 40, 30);
    DrawFolder(painter, from);
    DrawFolder(painter, to);
    if (!Active())
        return;
    // The sheet follows an arc from the first folder to the second.
    const qreal t = qreal(frame_) / stopFrame;
    const qreal x = from.center().x() + (to.center().x() - from.center().x()) * t;
    const qreal y = from.top() - 2 - std::sin(t * M_PI) * (h / 2 - 16);
    DrawSheet(painter, QPointF(x, y + 6));
}

TFormDownload::TFormDownload(QWidget* parent) : QDialog(parent)
{
    QVBoxLayout* outer = SetUpFixedDialog(*this, "FormDownload", "Downloading File");

    // One page whose tab is not shown.
    PageControl = new QTabWidget(this);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    PageControl->setTabBarAutoHide(true);
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheetDownload"));
    PageControl->addTab(page, QString());
    outer->addWidget(PageControl);

    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(8, 8, 8, 8);
    column->setSpacing(6);

    PanelAnimate = new QFrame(page);
    PanelAnimate->setObjectName(QStringLiteral("PanelAnimate"));
    PanelAnimate->setFrameStyle(QFrame::Box | QFrame::Plain);
    PanelAnimate->setAutoFillBackground(true);
    QPalette shadow = PanelAnimate->palette();
    shadow.setColor(QPalette::Window, shadow.color(QPalette::Dark));
    PanelAnimate->setPalette(shadow);
    auto* animateLayout = new QVBoxLayout(PanelAnimate);
    animateLayout->setContentsMargins(1, 1, 1, 1);
    Animate = new TFileCopyAnimation(PanelAnimate);
    animateLayout->addWidget(Animate);
    column->addWidget(PanelAnimate);

    LabelStatus = new QLabel(page);
    LabelStatus->setObjectName(QStringLiteral("LabelStatus"));
    LabelStatus->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    LabelStatus->setTextFormat(Qt::PlainText);
    column->addWidget(LabelStatus);

    ProgressBar = new QProgressBar(page);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setFixedHeight(10);
    ProgressBar->setTextVisible(false);
    ProgressBar->setRange(0, 100);
    column->addWidget(ProgressBar);

    LabelProgress = new QLabel(page);
    LabelProgress->setObjectName(QStringLiteral("LabelProgress"));
    LabelProgress->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    LabelProgress->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    LabelProgress->setTextFormat(Qt::PlainText);
    LabelProgress->setMargin(2);
    column->addWidget(LabelProgress);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    ButtonCancel = new QPushButton(QStringLiteral("Cancel"), page);
    ButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));
    ButtonCancel->setAutoDefault(false);
    ButtonCancel->setProperty("modalResult", int(QDialog::Rejected));
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(ButtonCancel);
    column->addLayout(buttons);
}

TFormDownload::~TFormDownload() = default;

QString TFormDownload::StatusText(const QString& location)
{
    // Shown as built in: these words have no translation.
    QString name = UrlFileName(location);
    if (name.isEmpty())
        name = QStringLiteral("Downloading");
    return name + QStringLiteral(" from (") + UrlHost(location) + QLatin1Char(')');
}

bool TFormDownload::DownloadUrl(const QString& caption, QString& location)
{
    if (QFileInfo(location).isFile())
        return true;

    setWindowTitle(caption);
    LabelStatus->setText(StatusText(location));
    LabelProgress->setText(QStringLiteral("Initializing Download."));
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    setResult(QDialog::Rejected);
    lastStatus_ = DownloadStatus::Running;

    location_ = location;
    download_ = std::make_unique<WebDownload>();
    download_->SetLimits(limits_);
    connect(download_.get(), &WebDownload::Progress, this, &TFormDownload::DownloadProgress);
    connect(download_.get(), &WebDownload::Finished, this, &TFormDownload::DownloadFinished);
    // The transfer starts once the dialog has been painted.
    paintArmed_ = true;

    ExecModal(*this);

    // The dialog closed by the user: stop the transfer, which removes what
    // it had received. One that never started has nothing to stop.
    paintArmed_ = false;
    disconnect(download_.get(), nullptr, this, nullptr);
    download_->Abort();
    lastStatus_ = download_->Status();
    if (lastStatus_ == DownloadStatus::Running)
        lastStatus_ = DownloadStatus::Cancelled;
    const bool succeeded = lastStatus_ == DownloadStatus::Succeeded;
    if (succeeded)
        location = download_->LocalFile();
    download_.reset();
    Animate->Stop();
    return succeeded;
}

void TFormDownload::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    if (paintArmed_)
        FormPaint();
}

void TFormDownload::FormPaint()
{
    paintArmed_ = false;
    // Started from the event loop rather than from inside painting.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (download_ && isVisible() && download_->Status() == DownloadStatus::Running &&
                !download_->IsRunning())
                download_->Start(location_);
        },
        Qt::QueuedConnection);
}

void TFormDownload::DownloadProgress(qint64 received, qint64 total)
{
    Animate->Play();
    // An unknown size counts as 0, which shows a busy bar.
    const qint64 maximum = total < 0 ? 0 : total;
    ProgressBar->setRange(0, int(std::min<qint64>(maximum, INT_MAX)));
    ProgressBar->setValue(int(std::min<qint64>(received, INT_MAX)));
    // Shown as built in: this text has no translation.
    LabelProgress->setText(FormatMessage(QStringLiteral("%d of %d bytes completed."),
                                         {QString::number(received), QString::number(maximum)}));
}

void TFormDownload::DownloadFinished()
{
    if (!download_)
        return;
    lastStatus_ = download_->Status();
    done(lastStatus_ == DownloadStatus::Cancelled ? QDialog::Rejected : QDialog::Accepted);
}

} // namespace kestrix
