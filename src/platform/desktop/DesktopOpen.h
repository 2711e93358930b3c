// Handing web pages and files to the desktop: the user's browser and the
// program the desktop associates with a file's type.
#pragma once

#include <QString>

namespace kestrix {

// Opens a web address in the desktop's browser. False when the desktop could
// not start a handler for it.
bool OpenUrlWithDesktop(const QString& url);

// Opens a local file with the desktop's handler for its type. False when the
// desktop could not start one.
bool OpenFileWithDesktop(const QString& path);

} // namespace kestrix
