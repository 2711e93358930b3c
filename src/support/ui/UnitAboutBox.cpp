#include "support/ui/UnitAboutBox.h"

#include "support/Translation.h"
#include "support/WebHelpers.h"
#include "support/ui/DialogParts.h"
#include "support/ui/ModalDialog.h"
#include "support/ui/TranslateComponent.h"
#include "support/ui/WebDialogs.h"

#include <QApplication>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

namespace kestrix {

void StyleAsLink(QLabel* label)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
    label->setPalette(palette);
    QFont font = label->font();
    font.setBold(true);
    font.setUnderline(true);
    label->setFont(font);
    label->setCursor(Qt::PointingHandCursor);
    label->setToolTip(QLatin1Char('[') + label->text() + QLatin1Char(']'));
}

QString FormatKilobytes(quint64 bytes, const QLocale& locale)
{
    const quint64 kilobytes = bytes / 1024u + (bytes % 1024u ? 1u : 0u);
    QLocale shown = locale;
    // The "C" locale leaves out group separators unless told otherwise.
    shown.setNumberOptions(shown.numberOptions() & ~QLocale::OmitGroupSeparator);
    // "KB" is shown as built in.
    return shown.toString(qulonglong(kilobytes)) + QStringLiteral("KB");
}

QString MemoryLoadText(int load)
{
    return QString::number(load) + Tr("% Used");
}

TPaintBoxIcon::TPaintBoxIcon(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("PaintBoxIcon"));
    setFixedSize(33, 33);
}

void TPaintBoxIcon::paintEvent(QPaintEvent*)
{
    QIcon icon = QApplication::windowIcon();
    if (icon.isNull())
        icon = style()->standardIcon(QStyle::SP_ComputerIcon);
    QPainter painter(this);
    icon.paint(&painter, QRect(0, 0, 32, 32), Qt::AlignLeft | Qt::AlignTop);
}

TFormAboutBox::TFormAboutBox(QWidget* parent) : QDialog(parent)
{
    QVBoxLayout* outer = SetUpFixedDialog(*this, "FormAboutBox", "About");

    PageControl = new QTabWidget(this);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    TabSheetAbout = new QWidget;
    TabSheetAbout->setObjectName(QStringLiteral("TabSheetAbout"));
    PageControl->addTab(TabSheetAbout, QStringLiteral("About"));
    outer->addWidget(PageControl);

    auto* page = new QGridLayout(TabSheetAbout);
    page->setContentsMargins(10, 10, 10, 10);
    page->setHorizontalSpacing(10);
    page->setVerticalSpacing(8);

    PaintBoxIcon = new TPaintBoxIcon(TabSheetAbout);
    page->addWidget(PaintBoxIcon, 0, 0, Qt::AlignLeft | Qt::AlignTop);

    PanelTitle = new QLabel(QStringLiteral("#"), TabSheetAbout);
    PanelTitle->setObjectName(QStringLiteral("PanelTitle"));
    PanelTitle->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    PanelTitle->setTextFormat(Qt::PlainText);
    page->addWidget(PanelTitle, 0, 1);

    PanelDetails = new QFrame(TabSheetAbout);
    PanelDetails->setObjectName(QStringLiteral("PanelDetails"));
    // A lowered outer and a raised inner edge: an etched frame.
    PanelDetails->setFrameStyle(QFrame::Box | QFrame::Sunken);
    auto* details = new QVBoxLayout(PanelDetails);
    details->setContentsMargins(10, 8, 10, 8);
    details->setSpacing(4);
    auto makeLabel = [](const char* name, const QString& text, QWidget* owner) {
        auto* label = new QLabel(text, owner);
        label->setObjectName(QString::fromLatin1(name));
        label->setTextFormat(Qt::PlainText);
        return label;
    };
    LabelComments = makeLabel("LabelComments", QStringLiteral("#"), PanelDetails);
    LabelCopyright = makeLabel("LabelCopyright", QStringLiteral("#"), PanelDetails);
    LabelHomePage = makeLabel("LabelHomePage", QStringLiteral("#"), PanelDetails);
    LabelHomePage->setCursor(Qt::PointingHandCursor);
    LabelHomePage->setToolTip(QStringLiteral("Marquell Home Page"));
    LabelHomePage->installEventFilter(this);
    details->addWidget(LabelComments);
    details->addWidget(LabelCopyright);
    details->addWidget(LabelHomePage);
    page->addWidget(PanelDetails, 1, 0, 1, 2);

    Bevel = new QFrame(TabSheetAbout);
    Bevel->setObjectName(QStringLiteral("Bevel"));
    Bevel->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    page->addWidget(Bevel, 2, 0, 1, 2);

    auto* memory = new QGridLayout;
    memory->setHorizontalSpacing(12);
    Label6 =
        makeLabel("Label6", QStringLiteral("Physical memory available to Windows:"), TabSheetAbout);
    LabelTotalPhys = makeLabel("LabelTotalPhys", QStringLiteral("#"), TabSheetAbout);
    Label7 = makeLabel("Label7", QStringLiteral("Memory usage:"), TabSheetAbout);
    LabelMemoryLoad = makeLabel("LabelMemoryLoad", QStringLiteral("#"), TabSheetAbout);
    memory->addWidget(Label6, 0, 0);
    memory->addWidget(LabelTotalPhys, 0, 1);
    memory->addWidget(Label7, 1, 0);
    memory->addWidget(LabelMemoryLoad, 1, 1);
    memory->setColumnStretch(1, 1);
    page->addLayout(memory, 3, 0, 1, 2);
    page->setColumnStretch(1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    ButtonOK = new QPushButton(QStringLiteral("OK"), this);
    ButtonOK->setObjectName(QStringLiteral("ButtonOK"));
    ButtonOK->setDefault(true);
    ButtonOK->setProperty("modalResult", int(QDialog::Accepted));
    connect(ButtonOK, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(ButtonOK);
    outer->addLayout(buttons);

    // Its own texts in the user's language, as every window's.
    TranslateComponent(this);
}

void TFormAboutBox::Fill(const VersionInfo& version, const MemoryStatus& memory)
{
    QFont bold = PanelTitle->font();
    bold.setBold(true);
    PanelTitle->setFont(bold);
    // Version values and the address are shown as they are.
    QString title = ApplicationTitle() + QLatin1Char(' ') + version.FileVersion;
    PanelTitle->setText(title);
    LabelComments->setText(version.Comments);
    LabelCopyright->setText(version.LegalCopyright);
    LabelHomePage->setText(HomePageUrl());
    StyleAsLink(LabelHomePage);
    LabelTotalPhys->setText(FormatKilobytes(memory.totalPhysical));
    LabelMemoryLoad->setText(MemoryLoadText(memory.memoryLoad));
    setWindowTitle(Tr("About") + QLatin1Char(' ') + PanelTitle->text());
}

bool TFormAboutBox::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == LabelHomePage && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
        LabelHomePage->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
        LabelHomePageClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TFormAboutBox::LabelHomePageClick()
{
    OpenWebPage(LabelHomePage->text());
}

bool ShowAboutBox(QWidget* owner)
{
    TFormAboutBox box(owner);
    box.Fill(ProgramVersionInfo(), QueryMemoryStatus());
    return ExecModal(box) == QDialog::Accepted;
}

} // namespace kestrix
