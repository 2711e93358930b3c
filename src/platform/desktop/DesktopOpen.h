// Handing web pages and files to the desktop: the user's browser and the
// program the desktop associates with a file's type.
#pragma once

#include <QString>

#include <functional>

namespace kestrix {

// Opens a web address in the desktop's browser. False when the desktop could
// not start a handler for it.
bool OpenUrlWithDesktop(const QString& url);

// Opens a local file with the desktop's handler for its type. False when the
// desktop could not start one.
bool OpenFileWithDesktop(const QString& path);

// Starts a program with the file as its one argument, on its own (the
// program outlives this one). False when it could not be started.
bool OpenFileWithProgram(const QString& program, const QString& path);

// Opens a file with the desktop's handler (`openWithDesktop`); when that
// fails, asks `chooseProgram` for a program to open it with (empty: the user
// chose none) and starts it with the file. False when nothing was started;
// `chosen` then names the program that could not be started, if any.
bool OpenFileOrChooseProgram(
    const QString& path, const std::function<QString()>& chooseProgram,
    const std::function<bool(const QString&)>& openWithDesktop = OpenFileWithDesktop,
    QString* chosen = nullptr);

} // namespace kestrix
