// Running dialogs modally, with answers that tests queue in place of a user.
//
// Every modal dialog of the program runs through ExecModal. Normally that is
// QDialog::exec(). When an answer is queued, the dialog still runs modally,
// and once it is on screen the answer is given the way a user gives it: a
// check box ticked, a button clicked, Esc pressed or the window closed.
#pragma once

#include <cstddef>
#include <functional>

class QDialog;

namespace kestrix {

struct ModalAnswer
{
    enum class Kind { Button, Escape, CloseBox };
    Kind kind = Kind::Button;
    // For Kind::Button: the result of the button to click, that is the value
    // of its "modalResult" property, or for a QMessageBox its standard button.
    int result = 0;
    // Tick the dialog's first check box before answering.
    bool tickCheckBox = false;
    // Sees the dialog as it is shown, before the answer is given.
    std::function<void(QDialog&)> inspect;

    static ModalAnswer Press(int result, bool tickCheckBox = false)
    {
        return {Kind::Button, result, tickCheckBox, {}};
    }
    static ModalAnswer Escape(bool tickCheckBox = false)
    {
        return {Kind::Escape, 0, tickCheckBox, {}};
    }
    static ModalAnswer CloseBox(bool tickCheckBox = false)
    {
        return {Kind::CloseBox, 0, tickCheckBox, {}};
    }
};

// Queues an answer for the next modal dialog; answers are used in order.
void QueueModalAnswer(ModalAnswer answer);
size_t QueuedModalAnswerCount();
void ClearQueuedModalAnswers();

// Shows the dialog modally and returns its result.
int ExecModal(QDialog& dialog);

} // namespace kestrix
