// Reading the files of a tree that is not ours: never through a link,
// never anything but a regular file (a pipe or a device would block or
// never end).
#pragma once

#include "protection/UninitialisedBuffer.h"

#include <QString>

#include <string>

namespace kestrix {

// Reads a regular file whole, not through a link in its last component.
// Returns 0, or the error number: ELOOP for a link, EINVAL for anything that
// is not a regular file.
int ReadRegularFile(const QString& path, std::string& out);
// The same for a path as the file system names it, into room that is used
// again from file to file and never cleared.
int ReadRegularFile(const char* path, UninitialisedBuffer<char>& out);

// The message for an error of ReadRegularFile, translated.
QString ReadFailure(const QString& path, int error);

} // namespace kestrix
