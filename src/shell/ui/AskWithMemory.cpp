#include "shell/ui/AskWithMemory.h"

#include "support/Translation.h"
#include "support/ui/ModalDialog.h"
#include "support/ui/TranslateComponent.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include <algorithm>

namespace kestrix {

namespace {

// Layout of the standard message dialog, in pixels.
constexpr int margin = 10;
constexpr int iconSize = 32;
constexpr int iconGap = 10;
constexpr int buttonHeight = 25;
constexpr int buttonMinWidth = 75;
constexpr int buttonGap = 8;
constexpr int buttonsBelowText = 12;
constexpr int checkBoxWidth = 150;
constexpr int checkBoxHeight = 17;
constexpr int checkBoxGap = 6;

struct ButtonKind
{
    DialogButtons flag;
    const char* caption;
    const char* name;
    int result;
};

const ButtonKind buttonKinds[] = {
    {buttonYes, "&Yes", "ButtonYes", resultYes},
    {buttonNo, "&No", "ButtonNo", resultNo},
    {buttonOk, "OK", "ButtonOK", resultOk},
    {buttonCancel, "Cancel", "ButtonCancel", resultCancel},
    {buttonAbort, "&Abort", "ButtonAbort", resultAbort},
    {buttonRetry, "&Retry", "ButtonRetry", resultRetry},
    {buttonIgnore, "&Ignore", "ButtonIgnore", resultIgnore},
    {buttonAll, "&All", "ButtonAll", resultAll},
    {buttonNoToAll, "N&o to All", "ButtonNoToAll", resultNoToAll},
    {buttonYesToAll, "Yes to &All", "ButtonYesToAll", resultYesToAll},
};

QString Caption(DialogType type)
{
    switch (type) {
    case DialogType::Warning:
        return QStringLiteral("Warning");
    case DialogType::Error:
        return QStringLiteral("Error");
    case DialogType::Information:
        return QStringLiteral("Information");
    case DialogType::Confirmation:
        return QStringLiteral("Confirm");
    case DialogType::Custom:
        break;
    }
    return ApplicationTitle();
}

int IconKind(DialogType type)
{
    switch (type) {
    case DialogType::Warning:
        return QStyle::SP_MessageBoxWarning;
    case DialogType::Error:
        return QStyle::SP_MessageBoxCritical;
    case DialogType::Information:
        return QStyle::SP_MessageBoxInformation;
    case DialogType::Confirmation:
        return QStyle::SP_MessageBoxQuestion;
    case DialogType::Custom:
        break;
    }
    return -1;
}

int ButtonWidth(const QPushButton& button)
{
    QString text = button.text();
    text.remove(QLatin1Char('&'));
    return std::max(buttonMinWidth, button.fontMetrics().horizontalAdvance(text) + 2 * margin);
}

} // namespace

// ---- the dialog -------------------------------------------------------------

TFormAskWithMemory::TFormAskWithMemory(const QString& message, DialogType type,
                                       DialogButtons buttons, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("FormAskWithMemory"));
    setWindowTitle(Caption(type));
    setModal(true);

    int textLeft = margin;
    int contentBottom = margin;
    const int iconKind = IconKind(type);
    if (iconKind >= 0) {
        icon_ = new QLabel(this);
        icon_->setObjectName(QStringLiteral("Image"));
        icon_->setPixmap(
            style()->standardIcon(QStyle::StandardPixmap(iconKind)).pixmap(iconSize, iconSize));
        icon_->setGeometry(margin, margin, iconSize, iconSize);
        textLeft = margin + iconSize + iconGap;
        contentBottom = icon_->geometry().bottom() + 1;
    }

    // The message keeps its CR LF line breaks (they show as one break each),
    // so that translating the dialog looks it up exactly as it was asked.
    const QString& shown = message;
    message_ = new QLabel(shown, this);
    message_->setObjectName(QStringLiteral("Message"));
    message_->setTextFormat(Qt::PlainText);
    message_->setWordWrap(true);
    int maxTextWidth = 400;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        maxTextWidth = std::clamp(screen->availableGeometry().width() / 2, 240, 480);
    const QRect textRect = message_->fontMetrics().boundingRect(
        QRect(0, 0, maxTextWidth, 100000), Qt::TextWordWrap | Qt::AlignLeft, shown);
    message_->setGeometry(textLeft, margin, textRect.width() + 2, textRect.height());
    contentBottom = std::max(contentBottom, margin + textRect.height());

    for (const ButtonKind& kind : buttonKinds) {
        if (!(buttons & kind.flag))
            continue;
        auto* button = new QPushButton(QString::fromLatin1(kind.caption), this);
        button->setObjectName(QString::fromLatin1(kind.name));
        button->setProperty("modalResult", kind.result);
        button->setAutoDefault(false);
        const int result = kind.result;
        connect(button, &QPushButton::clicked, this, [this, result] { done(result); });
        buttons_.push_back(button);
    }
    if (buttons_.empty()) {
        // A dialog always has a way out.
        auto* button = new QPushButton(QStringLiteral("OK"), this);
        button->setObjectName(QStringLiteral("ButtonOK"));
        button->setProperty("modalResult", resultOk);
        connect(button, &QPushButton::clicked, this, [this] { done(resultOk); });
        buttons_.push_back(button);
        buttons = buttonOk;
    }
    escapeResult_ = (buttons & buttonCancel) ? resultCancel
                    : (buttons & buttonNo)   ? resultNo
                    : (buttons & buttonOk)   ? resultOk
                                             : resultCancel;
    QPushButton* defaultButton = buttons_.front();
    for (QPushButton* b : buttons_) {
        const int r = b->property("modalResult").toInt();
        if (r == resultOk || (r == resultYes && !(buttons & buttonOk))) {
            defaultButton = b;
            break;
        }
    }
    defaultButton->setDefault(true);
    defaultButton->setFocus();

    int rowWidth = 0;
    for (QPushButton* b : buttons_)
        rowWidth += ButtonWidth(*b) + buttonGap;
    rowWidth -= buttonGap;
    const int clientWidth =
        std::max(message_->geometry().right() + 1 + margin, rowWidth + 2 * margin);
    const int buttonTop = contentBottom + buttonsBelowText;
    setFixedSize(clientWidth, buttonTop + buttonHeight + margin);
    PlaceButtons(buttonTop);
}

void TFormAskWithMemory::PlaceButtons(int top)
{
    int rowWidth = 0;
    for (QPushButton* b : buttons_)
        rowWidth += ButtonWidth(*b) + buttonGap;
    rowWidth -= buttonGap;
    if (rowWidth + 2 * margin > width())
        setFixedWidth(rowWidth + 2 * margin);
    int left = (width() - rowWidth) / 2;
    for (QPushButton* b : buttons_) {
        const int w = ButtonWidth(*b);
        b->setGeometry(left, top, w, buttonHeight);
        left += w + buttonGap;
    }
}

void TFormAskWithMemory::AddDontAskAgain()
{
    if (dontAskAgain_)
        return;
    dontAskAgain_ = new QCheckBox(QStringLiteral("Don't ask again"), this);
    dontAskAgain_->setObjectName(QStringLiteral("CheckBoxDontAskAgain"));
    const QRect text = message_->geometry();
    dontAskAgain_->setGeometry(text.left(), text.top() + text.height() + checkBoxGap, checkBoxWidth,
                               checkBoxHeight);
    const int checkBoxBottom = dontAskAgain_->y() + checkBoxHeight;
    const int grow = checkBoxBottom - buttons_.front()->y() + checkBoxGap;
    setFixedHeight(height() + grow);
    for (QPushButton* b : buttons_)
        b->move(b->x(), b->y() + grow);
}

void TFormAskWithMemory::FitButtonsToCaptions()
{
    PlaceButtons(buttons_.front()->y());
}

void TFormAskWithMemory::reject()
{
    done(escapeResult_);
}

void TFormAskWithMemory::closeEvent(QCloseEvent* event)
{
    if (isVisible())
        done(resultCancel);
    event->accept();
}

// ---- remembered answers -----------------------------------------------------
int AskWithMemory(const QString& question, DialogType type, DialogButtons buttons)
{
    if (const std::optional<int> remembered = RememberedAnswer(question))
        return *remembered;

    TFormAskWithMemory dialog(question, type, buttons, QApplication::activeWindow());
    dialog.AddDontAskAgain();
    TranslateComponent(&dialog);
    dialog.FitButtonsToCaptions();
    const int result = ExecModal(dialog);
    if (dialog.DontAskAgain()->isChecked())
        RememberAnswer(question, result); // when it cannot be stored, it counts once
    return result;
}

bool ConfirmFolderProcessing()
{
    return AskWithMemory(FolderProcessingQuestion(), DialogType::Confirmation,
                         buttonYes | buttonNo) == resultYes;
}

} // namespace kestrix
