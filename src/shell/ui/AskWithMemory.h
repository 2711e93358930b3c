// The standard message dialog and questions with a "Don't ask again" check
// box whose answer is remembered (see shell/RememberedAnswers.h).
#pragma once

#include "shell/RememberedAnswers.h"

#include <QDialog>
#include <QString>

#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;

namespace kestrix {

// The standard message dialog: icon, message and a centred row of buttons,
// laid out at fixed positions. Each button carries its result in the
// property "modalResult". Esc gives the Cancel button's result, else No's,
// else OK's; the close box gives 2.
class TFormAskWithMemory : public QDialog
{
    Q_OBJECT
public:
    TFormAskWithMemory(const QString& message, DialogType type, DialogButtons buttons,
                       QWidget* parent = nullptr);

    // Adds the unticked "Don't ask again" check box (150 x 17) below the
    // message, 6 pixels under it at its left edge, and moves the buttons
    // down so that they start 6 pixels below the check box, growing the
    // dialog by as much.
    void AddDontAskAgain();
    // Widens buttons whose (translated) caption no longer fits and centres
    // the row again; nothing moves vertically.
    void FitButtonsToCaptions();

    QLabel* MessageLabel() const { return message_; }
    QCheckBox* DontAskAgain() const { return dontAskAgain_; }
    const std::vector<QPushButton*>& Buttons() const { return buttons_; }

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void PlaceButtons(int top);

    QLabel* icon_ = nullptr;
    QLabel* message_ = nullptr;
    QCheckBox* dontAskAgain_ = nullptr;
    std::vector<QPushButton*> buttons_;
    int escapeResult_ = resultCancel;
};

// Returns the remembered answer of the question, or shows it with a
// "Don't ask again" check box and returns the result of the button pressed;
// the answer is remembered when the box is ticked. When it cannot be
// stored, it counts for this time only.
int AskWithMemory(const QString& question, DialogType type, DialogButtons buttons);

// The folder question with Yes and No, translated; true exactly when the
// answer is Yes.
bool ConfirmFolderProcessing();

} // namespace kestrix
