#include "support/ui/ModalDialog.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <deque>

namespace kestrix {

namespace {

std::deque<ModalAnswer>& Queue()
{
    static std::deque<ModalAnswer> queue;
    return queue;
}

QAbstractButton* FindButton(QDialog& dialog, int result)
{
    const QList<QAbstractButton*> buttons = dialog.findChildren<QAbstractButton*>();
    for (QAbstractButton* button : buttons) {
        const QVariant value = button->property("modalResult");
        if (value.isValid() && value.toInt() == result)
            return button;
    }
    if (auto* box = qobject_cast<QMessageBox*>(&dialog))
        return box->button(QMessageBox::StandardButton(result));
    return nullptr;
}

void Answer(QDialog& dialog, const ModalAnswer& answer)
{
    QPointer<QDialog> guard(&dialog);
    if (answer.inspect)
        answer.inspect(dialog);
    if (!guard || !dialog.isVisible())
        return;
    if (answer.tickCheckBox)
        if (auto* check = dialog.findChild<QCheckBox*>())
            check->setChecked(true);
    switch (answer.kind) {
    case ModalAnswer::Kind::Button:
        if (QAbstractButton* button = FindButton(dialog, answer.result)) {
            button->click();
        } else {
            qWarning("Queued answer %d names no button of the dialog", answer.result);
            dialog.reject();
        }
        break;
    case ModalAnswer::Kind::Escape: {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(&dialog, &press);
        break;
    }
    case ModalAnswer::Kind::CloseBox:
        dialog.close();
        break;
    }
}

} // namespace

void QueueModalAnswer(ModalAnswer answer)
{
    Queue().push_back(std::move(answer));
}

size_t QueuedModalAnswerCount()
{
    return Queue().size();
}

void ClearQueuedModalAnswers()
{
    Queue().clear();
}

int ExecModal(QDialog& dialog)
{
    if (!Queue().empty()) {
        ModalAnswer answer = std::move(Queue().front());
        Queue().pop_front();
        // Given from inside the dialog's own event loop, once it is shown.
        QTimer::singleShot(0, &dialog, [&dialog, answer] { Answer(dialog, answer); });
    }
    return dialog.exec();
}

} // namespace kestrix
