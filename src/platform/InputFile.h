// Reading a page whole, once, into the memory the engine reads it from.
#pragma once

#include "platform/LargeBuffer.h"

#include <QString>

namespace kestrix {

// Reads the file at `path` whole, or standard input for "-". The file is
// opened once and read through its descriptor (a regular file up to the size
// it has when opened, and on if it grows meanwhile; a pipe or device to its
// end); it is never mapped, so another program shortening it meanwhile
// cannot bring this one down. Throws Failure in the program's words: "File
// %s does not exist" (also for a folder), "Unable to read %s: " and the
// system's reason.
LargeBuffer ReadInputFile(const QString& path);

} // namespace kestrix
