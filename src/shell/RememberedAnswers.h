// Remembered answers to questions with a "Don't ask again" check box, and
// the values of the standard message dialogs (types, buttons, results).
//
// A remembered answer lives in the settings of the application title
// (QSettings "Marquell" / "Marquell Kestrix v2.0", or its translation), in
// the section "AskWithMemory/" followed by the CRC-32 of the question text as
// shown (eight upper-case hexadecimal digits), as the value "Default": the
// dialog result, 6 for Yes, 7 for No, 2 when the dialog was closed with its
// close box.
#pragma once

#include "support/SettingsStore.h"

#include <QFlags>
#include <QString>

#include <optional>

namespace kestrix {

enum class DialogType { Warning, Error, Information, Confirmation, Custom };

// The buttons of a message dialog, in the order they are shown.
enum DialogButton : unsigned {
    buttonYes = 1u << 0,
    buttonNo = 1u << 1,
    buttonOk = 1u << 2,
    buttonCancel = 1u << 3,
    buttonAbort = 1u << 4,
    buttonRetry = 1u << 5,
    buttonIgnore = 1u << 6,
    buttonAll = 1u << 7,
    buttonNoToAll = 1u << 8,
    buttonYesToAll = 1u << 9,
};
Q_DECLARE_FLAGS(DialogButtons, DialogButton)
Q_DECLARE_OPERATORS_FOR_FLAGS(DialogButtons)

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

// The section of a question's remembered answer: "AskWithMemory/" and the
// CRC-32 of the question's bytes (the locale's encoding) as eight upper-case
// hexadecimal digits.
QString RememberedAnswerSection(const QString& question);

// The remembered answer of the question; none when there is none or the
// stored value is no number.
std::optional<int> RememberedAnswer(const QString& question);
// True when the question's section exists, whatever it holds.
bool IsAnswerRemembered(const QString& question);
// Stores a result as the question's remembered answer; false when the store
// refused it.
bool RememberAnswer(const QString& question, int result);
// Removes the question's remembered answer.
void ForgetAnswer(const QString& question);

// The folder question as asked (translated): "You have selected a folder.
// ..." The options dialog looks up and edits its remembered answer with it.
QString FolderProcessingQuestion();

// The store of remembered answers: QSettings "Marquell" / the application
// title current now.
SettingsStore OpenRememberedAnswers();
// Tests keep remembered answers in a store of their own; nullptr restores
// the real one.
void SetRememberedAnswerStoreForTesting(SettingsStore* store);

} // namespace kestrix
