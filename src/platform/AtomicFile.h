// The one way the program replaces or creates a file: the bytes go to a
// temporary file in the target's folder, which is flushed and renamed over
// the target, so at no moment is the target missing or half-written.
#pragma once

#include <QString>

#include <string_view>

namespace kestrix {

// Writes `bytes` to `path` atomically. Throws Failure ("Unable to write %s"
// with the system's reason, translated) when the file cannot be written;
// the earlier file, if any, is then left exactly as it was and no temporary
// file remains.
void WriteFileAtomically(const QString& path, std::string_view bytes);

} // namespace kestrix
