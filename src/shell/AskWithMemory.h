// Questions with a "Don't ask again" check box whose answer is remembered.
//
// A remembered answer lives in the settings of the application title
// (QSettings "Marquell" / "Marquell Kestrix v2.0", or its translation), in
// the section "AskWithMemory/" followed by the CRC-32 of the question text as
// shown (eight upper-case hexadecimal digits), as the value "Default": the
// dialog result, 6 for Yes, 7 for No, 2 when the dialog was closed with its
// close box.
#pragma once

#include "shell/SettingsStore.h"

#include <QDialog>
#include <QString>

#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;

namespace kestrix {

enum class DialogType { Warning, Error, Information, Confirmation, Custom };

// The buttons of a message dialog, in the order they are shown.
using DialogButtons = unsigned;
inline constexpr DialogButtons buttonYes = 1u << 0;
inline constexpr DialogButtons buttonNo = 1u << 1;
inline constexpr DialogButtons buttonOk = 1u << 2;
inline constexpr DialogButtons buttonCancel = 1u << 3;
inline constexpr DialogButtons buttonAbort = 1u << 4;
inline constexpr DialogButtons buttonRetry = 1u << 5;
inline constexpr DialogButtons buttonIgnore = 1u << 6;
inline constexpr DialogButtons buttonAll = 1u << 7;
inline constexpr DialogButtons buttonNoToAll = 1u << 8;
inline constexpr DialogButtons buttonYesToAll = 1u << 9;

// Dialog results.
inline constexpr int resultOk = 1;
inline constexpr int resultCancel = 2; // also the window's close box
inline constexpr int resultAbort = 3;
inline constexpr int resultRetry = 4;
inline constexpr int resultIgnore = 5;
inline constexpr int resultYes = 6;
inline constexpr int resultNo = 7;
inline constexpr int resultAll = 8;
inline constexpr int resultNoToAll = 9;
inline constexpr int resultYesToAll = 10;

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

// The section of a question's remembered answer: "AskWithMemory/" and the
// CRC-32 of the question's bytes (the locale's encoding) as eight upper-case
// hexadecimal digits.
QString RememberedAnswerSection(const QString& question);

// Returns the remembered answer of the question, or shows it with a
// "Don't ask again" check box and returns the result of the button pressed;
// the answer is remembered when the box is ticked. When it cannot be
// stored, it counts for this time only.
int AskWithMemory(const QString& question, DialogType type, DialogButtons buttons);
// True when the question's section exists, whatever it holds.
bool IsAnswerRemembered(const QString& question);
// Stores a result as the question's remembered answer; false when the store
// refused it.
bool RememberAnswer(const QString& question, int result);
// Removes the question's remembered answer.
void ForgetAnswer(const QString& question);

// The folder question: "You have selected a folder. ..." with Yes and No,
// translated; true exactly when the answer is Yes.
bool ConfirmFolderProcessing();
// The folder question as asked (translated): the options dialog looks up and
// edits its remembered answer with it.
QString FolderProcessingQuestion();

// The store of remembered answers: QSettings "Marquell" / the application
// title current now.
SettingsStore OpenRememberedAnswers();
// Tests keep remembered answers in a store of their own; nullptr restores
// the real one.
void SetRememberedAnswerStoreForTesting(SettingsStore* store);

} // namespace kestrix
