// Handing a file to the user's editor, the desktop's "edit" verb.
#pragma once

#include <QString>

namespace kestrix {

// Opens a local file in the user's editor: the program named by VISUAL
// when one is set and found, else the desktop's default application for
// plain text, else the desktop's handler for the file's type. False when no
// program could be started.
bool EditFileWithDesktop(const QString& path);

// Opens the desktop's network settings where a known settings program is
// installed. False when there is none.
bool OpenNetworkSettings();

} // namespace kestrix
