// The desktop program's start: the command line, the windows created once
// in their order and translated, then the main window or the batch.
#pragma once

#include <QStringList>

namespace kestrix {

// Exit statuses beyond the batch's own (0 written, 1 failed, 3 cancelled).
inline constexpr int usageExitStatus = 2; // the command line cannot be run

// Runs the program for a command line (the program's path first) in an
// existing QApplication: window mode returns when the main window closes,
// the batch with its exit status.
int RunProgram(const QStringList& arguments);

} // namespace kestrix
