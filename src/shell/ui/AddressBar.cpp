#include "shell/ui/AddressBar.h"

#include "shell/ui/Images.h"
#include "support/WebHelpers.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QCompleter>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace kestrix {

AddressBar::AddressBar(const QFileIconProvider& icons, QWidget* parent)
    : QWidget(parent), icons_(icons)
{
    setObjectName(QStringLiteral("AddressPanel"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    label_ = new QLabel(QStringLiteral("Address"), this);
    label_->setObjectName(QStringLiteral("LabelAddress"));
    box_ = new QComboBox(this);
    box_->setObjectName(QStringLiteral("IEAddress"));
    box_->setEditable(true);
    box_->setInsertPolicy(QComboBox::NoInsert); // what is typed is not kept
    box_->setDuplicatesEnabled(false);
    // No type-ahead of the box's own list; completion from the file system.
    auto* completer = new QCompleter(box_);
    auto* completionModel = new QFileSystemModel(completer);
    completionModel->setRootPath(QString());
    completionModel->setFilter(QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot | QDir::Drives);
    completer->setModel(completionModel);
    completer->setCaseSensitivity(Qt::CaseSensitive);
    box_->setCompleter(completer);
    icon_ = box_->lineEdit()->addAction(QIcon(), QLineEdit::LeadingPosition);
    icon_->setObjectName(QStringLiteral("IEAddressIcon"));
    // Key presses reach the box (its line edit's focus proxy), or the
    // completion list while it is open; the completer watches its list
    // first, so this filter goes on after it was made.
    box_->installEventFilter(this);
    completer->popup()->installEventFilter(this);
    connect(box_, &QComboBox::currentTextChanged, this, &AddressBar::ShowIconOf);

    go_ = new QToolButton(this);
    go_->setObjectName(QStringLiteral("SpeedButtonGo"));
    go_->setText(QStringLiteral("Go"));
    go_->setIcon(StripIcon(imgForward));
    go_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    go_->setAutoRaise(true);
    connect(go_, &QToolButton::clicked, this, &AddressBar::Go);
    setFixedHeight(box_->sizeHint().height());
    setMinimumWidth(200);
}

QString AddressBar::Text() const
{
    return box_->currentText();
}

void AddressBar::SetText(const QString& text)
{
    box_->setEditText(text);
}

void AddressBar::SetRecentFolders(const QStringList& folders)
{
    const QString typed = box_->currentText();
    box_->blockSignals(true);
    box_->clear();
    box_->addItems(folders);
    box_->setEditText(typed);
    box_->blockSignals(false);
}

void AddressBar::ShowIconOf(const QString& text)
{
    // A web address has no item on disk; anything else shows its file's or
    // folder's icon, or none while it names nothing.
    const QFileInfo info(text);
    if (text.isEmpty() || IsWebAddress(text) || !info.exists())
        icon_->setIcon(QIcon());
    else
        icon_->setIcon(icons_.icon(info));
}

void AddressBar::Go()
{
    emit goRequested(Text());
}

void AddressBar::resizeEvent(QResizeEvent* event)
{
    // Go at the right edge, the box stretched to meet it.
    QWidget::resizeEvent(event);
    const QRect area = rect();
    const int labelWidth = label_->sizeHint().width();
    const int goWidth = go_->sizeHint().width();
    label_->setGeometry(0, 0, labelWidth, area.height());
    go_->setGeometry(area.width() - goWidth, 0, goWidth, area.height());
    const int boxLeft = labelWidth + 4;
    box_->setGeometry(boxLeft, 0, std::max(0, area.width() - goWidth - boxLeft), area.height());
}

bool AddressBar::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return QWidget::eventFilter(watched, event);
    QAbstractItemView* list = box_->completer()->popup();
    if (watched == list) {
        // Return in the completion list takes the completion the user
        // chose (if any) and goes there.
        const QModelIndex chosen = list->currentIndex();
        if (chosen.isValid())
            box_->setEditText(box_->completer()->pathFromIndex(chosen));
        list->hide();
        Go();
        return true;
    }
    if (watched == box_) {
        Go();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace kestrix
