#include "processing/ui/UnitFileList.h"

#include "platform/FileAttributes.h"
#include "shell/ui/AskWithMemory.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <cmath>

namespace kestrix {

namespace {

// Pending events are handled at most this often during a search: often
// enough for Cancel and the labels, rarely enough not to slow the search.
constexpr int eventIntervalMs = 15;

QLabel* MakePanel(const char* name, QWidget* parent)
{
    auto* panel = new QLabel(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setTextFormat(Qt::PlainText);
    // A fixed width: the texts change with every folder and find, the dialog
    // keeps its size.
    panel->setFixedWidth(420);
    return panel;
}

} // namespace

// ---- the animation ----------------------------------------------------------

TFindFolderAnimation::TFindFolderAnimation(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Animate"));
    setFixedSize(sizeHint());
    timer_.setInterval(80);
    connect(&timer_, &QTimer::timeout, this, [this] {
        frame_ = (frame_ + 1) % 24;
        update();
    });
}

void TFindFolderAnimation::Play()
{
    if (!timer_.isActive())
        timer_.start();
}

void TFindFolderAnimation::Stop()
{
    timer_.stop();
    frame_ = 0;
    update();
}

void TFindFolderAnimation::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF folder(16, 18, 48, 34);
    painter.setPen(QPen(QColor(150, 110, 30), 1));
    painter.setBrush(QColor(236, 196, 84).darker(115));
    painter.drawRoundedRect(QRectF(folder.left(), folder.top() - 6, 20, 10), 2, 2);
    painter.setBrush(QColor(236, 196, 84));
    painter.drawRoundedRect(folder, 2, 2);
    // The glass goes round above the folder.
    const double angle = frame_ * 2 * M_PI / 24;
    const QPointF centre(40 + 12 * std::cos(angle), 30 + 8 * std::sin(angle));
    painter.setPen(QPen(QColor(60, 60, 60), 3, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(centre + QPointF(6, 6), centre + QPointF(13, 13));
    painter.setPen(QPen(QColor(60, 60, 60), 2));
    painter.setBrush(QColor(200, 230, 255, 180));
    painter.drawEllipse(centre, 8, 8);
}

// ---- the dialog -------------------------------------------------------------

TFormFileList::TFormFileList(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FormFileList"));
    setWindowTitle(QStringLiteral("Scanning for Files"));
    setModal(true);
    LabelFilePath = MakePanel("LabelFilePath", this);
    LabelCount = MakePanel("LabelCount", this);
    Animate = new TFindFolderAnimation(this);
    ButtonCancel = new QPushButton(QStringLiteral("Cancel"), this);
    ButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));
    ButtonCancel->setAutoDefault(false);

    auto* layout = new QHBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(Animate, 0, Qt::AlignTop);
    auto* right = new QVBoxLayout;
    right->addWidget(LabelFilePath);
    right->addWidget(LabelCount);
    right->addWidget(ButtonCancel, 0, Qt::AlignRight);
    layout->addLayout(right);

    connect(ButtonCancel, &QPushButton::clicked, this, &TFormFileList::reject);
}

bool TFormFileList::ScanForFiles(const QString& startFolder, const QString& filter,
                                 QStringList& workList)
{
    if (!IsFolder(startFolder))
        return false;
    startFolder_ = startFolder;
    filter_ = filter;
    workList_ = &workList;
    cancelled_ = false;
    error_ = nullptr;
    LabelFilePath->clear();
    LabelCount->clear();
    startArmed_ = true;
    const int result = exec();
    startArmed_ = false;
    workList_ = nullptr;
    if (error_) {
        std::exception_ptr error = error_;
        error_ = nullptr;
        std::rethrow_exception(error);
    }
    return result == QDialog::Accepted;
}

void TFormFileList::reject()
{
    // During a search the click is noticed by the search at its next entry.
    cancelled_ = true;
    if (!workList_)
        QDialog::reject();
}

void TFormFileList::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    if (startArmed_)
        FormPaint();
}

void TFormFileList::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TFormFileList::FormPaint()
{
    startArmed_ = false;
    QTimer::singleShot(0, this, [this] {
        Animate->Play();
        sinceEvents_.start();
        bool finished = false;
        try {
            FolderScanner scanner(filter_, *workList_, *this);
            finished = scanner.ScanFolder(startFolder_);
        } catch (...) {
            error_ = std::current_exception();
        }
        Animate->Stop();
        done(finished && !cancelled_ && !error_ ? QDialog::Accepted : QDialog::Rejected);
    });
}

void TFormFileList::ShowFolder(const QString& folder)
{
    LabelFilePath->setText(folder);
}

void TFormFileList::ShowCount(const QString& text)
{
    LabelCount->setText(text);
}

bool TFormFileList::KeepGoing()
{
    if (sinceEvents_.elapsed() >= eventIntervalMs) {
        QCoreApplication::processEvents();
        sinceEvents_.restart();
    }
    return !cancelled_;
}

// ---- gathering --------------------------------------------------------------

bool WindowGathering::ConfirmFolderProcessing()
{
    return kestrix::ConfirmFolderProcessing();
}

bool WindowGathering::ScanForFiles(const QString& folder, const QString& filter,
                                   QStringList& workList)
{
    return fileList_.ScanForFiles(folder, filter, workList);
}

} // namespace kestrix
