#include "processing/ui/UnitFileProgress.h"

#include "support/Translation.h"
#include "support/ui/ModalDialog.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace kestrix {

namespace {

QIcon RedCross()
{
    QPixmap image(16, 16);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(200, 0, 0), 3, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
    painter.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
    return QIcon(image);
}

} // namespace

// ---- the gradient label -----------------------------------------------------

TGradientLabel::TGradientLabel(QWidget* parent) : QWidget(parent)
{
    QFont bold = font();
    bold.setBold(true);
    setFont(bold);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TGradientLabel::setText(const QString& text)
{
    text_ = text;
    update();
}

QSize TGradientLabel::sizeHint() const
{
    return QSize(360, fontMetrics().height() + 10);
}

void TGradientLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QColor from = palette().color(QPalette::Dark);
    const QColor to = palette().color(QPalette::Button);
    const int w = width();
    for (int i = 0; i < steps; ++i) {
        const int left = w * i / steps;
        const int right = w * (i + 1) / steps;
        const auto mix = [&](int a, int b) { return a + (b - a) * i / (steps - 1); };
        painter.fillRect(QRect(left, 0, right - left, height()),
                         QColor(mix(from.red(), to.red()), mix(from.green(), to.green()),
                                mix(from.blue(), to.blue())));
    }
    painter.setPen(palette().color(QPalette::ButtonText));
    const QRect textArea = rect().adjusted(6, 0, -6, 0);
    painter.drawText(textArea, Qt::AlignVCenter | Qt::AlignLeft,
                     fontMetrics().elidedText(text_, Qt::ElideMiddle, textArea.width()));
}

// ---- the dialog -------------------------------------------------------------

TFormFileProgress::TFormFileProgress(QWidget* parent) : QDialog(parent), stateImage_(RedCross())
{
    setObjectName(QStringLiteral("FormFileProgress"));
    setWindowTitle(QStringLiteral("Tidying Files..."));
    setModal(true);

    actCancel = new QAction(QStringLiteral("Cancel"), this);
    actCancel->setObjectName(QStringLiteral("actCancel"));
    actViewMessages = new QAction(QStringLiteral("View Messages"), this);
    actViewMessages->setObjectName(QStringLiteral("actViewMessages"));
    actViewMessages->setCheckable(true);

    lblMessage = new TGradientLabel(this);
    lblMessage->setObjectName(QStringLiteral("lblMessage"));
    pbProgress = new QProgressBar(this);
    pbProgress->setObjectName(QStringLiteral("pbProgress"));
    pbProgress->setTextVisible(false);
    btCancel = new QPushButton(actCancel->text(), this);
    btCancel->setObjectName(QStringLiteral("btCancel"));
    btCancel->setAutoDefault(false);
    cbShowMessages = new QCheckBox(actViewMessages->text(), this);
    cbShowMessages->setObjectName(QStringLiteral("cbShowMessages"));
    cbShowMessages->setVisible(false);
    lvMessages = new QTreeWidget(this);
    lvMessages->setObjectName(QStringLiteral("lvMessages"));
    lvMessages->setColumnCount(1);
    lvMessages->setHeaderHidden(true);
    lvMessages->setRootIsDecorated(false);
    lvMessages->setMinimumHeight(120);

    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(lblMessage);
    layout->addWidget(pbProgress);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cbShowMessages);
    buttons->addStretch();
    buttons->addWidget(btCancel);
    layout->addLayout(buttons);
    layout->addWidget(lvMessages);

    connect(actCancel, &QAction::triggered, this, [this] { actCancelExecute(); });
    connect(btCancel, &QPushButton::clicked, actCancel, &QAction::trigger);
    connect(actViewMessages, &QAction::toggled, this, [this](bool on) { SetShowMessages(on); });
    connect(cbShowMessages, &QCheckBox::toggled, actViewMessages, &QAction::setChecked);

    // The list starts as the check box does: unchecked, hidden.
    SetShowMessages(cbShowMessages->isChecked());
    Reset();
}

void TFormFileProgress::SetCaption(const QString& caption)
{
    setWindowTitle(caption);
}

bool TFormFileProgress::Execute(const QStringList& list)
{
    BeginRun(list);
    pbProgress->setValue(0);
    pbProgress->setRange(0, std::max(0, int(list.size()) - 1));
    lblMessage->setText(QString());
    startArmed_ = true;
    // Not through ExecModal: answers queued for the handlers' questions are
    // theirs, not this dialog's.
    exec();
    startArmed_ = false;
    return EndRun();
}

void TFormFileProgress::Reset()
{
    FileProgress::Reset();
    lvMessages->clear();
    pbProgress->setRange(0, 0);
    pbProgress->setValue(0);
}

bool TFormFileProgress::ShowMessages() const
{
    return !lvMessages->isHidden();
}

void TFormFileProgress::SetShowMessages(bool on)
{
    lvMessages->setVisible(on);
    actViewMessages->setChecked(on);
    cbShowMessages->setChecked(on);
}

void TFormFileProgress::reject()
{
    if (State() == fpsRunning)
        actCancel->trigger();
    else
        QDialog::reject();
}

void TFormFileProgress::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    if (startArmed_)
        FormPaint();
}

void TFormFileProgress::FormPaint()
{
    startArmed_ = false;
    // The run starts from the event loop right after the first painting, so
    // that the dialog is on screen before the first item is worked on.
    QTimer::singleShot(0, this, [this] { RunLoop(); });
}

void TFormFileProgress::closeEvent(QCloseEvent* event)
{
    // The run goes on until it ends or is cancelled; the window stays.
    if (!CloseAllowed()) {
        event->ignore();
        return;
    }
    if (State() == fpsCancelled && isVisible()) {
        event->accept();
        done(QDialog::Rejected);
        return;
    }
    QDialog::closeEvent(event);
}

void TFormFileProgress::actCancelExecute()
{
    if (State() == fpsRunning)
        Cancel();
}

void TFormFileProgress::ShowItem(int index, const QString& text)
{
    pbProgress->setValue(std::min(index, pbProgress->maximum()));
    lblMessage->setText(text);
    // Shown at once: the item is worked on before the event loop runs again.
    repaint();
}

void TFormFileProgress::ProcessPendingEvents()
{
    QCoreApplication::processEvents();
}

void TFormFileProgress::MessageAdded(const ProgressMessage& message)
{
    auto* row = new QTreeWidgetItem(lvMessages, {message.text});
    if (message.kind == ProgressMessage::Error)
        row->setIcon(0, stateImage_);
}

void TFormFileProgress::RunFinished()
{
    done(ResultOk() ? QDialog::Accepted : QDialog::Rejected);
}

void TFormFileProgress::ShowProblems(const std::vector<ProgressMessage>& messages)
{
    // One warning after the run, the messages in the order they were added.
    // A long list shows its first lines; the box's details hold them all.
    constexpr size_t shownLines = 20;
    QStringList lines, all;
    for (const ProgressMessage& message : messages) {
        all << message.text;
        if (size_t(lines.size()) < shownLines)
            lines << message.text;
    }
    if (messages.size() > shownLines)
        lines << QStringLiteral("...");
    QMessageBox box(QMessageBox::Warning, ApplicationTitle(),
                    Tr("Some files could not be processed:") + QStringLiteral("\n\n") +
                        lines.join(u'\n'),
                    QMessageBox::Ok, owner_);
    box.setObjectName(QStringLiteral("ProblemsBox"));
    // The messages can be selected and copied, to look into them later.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    if (messages.size() > shownLines)
        box.setDetailedText(all.join(u'\n'));
    ExecModal(box);
}

} // namespace kestrix
