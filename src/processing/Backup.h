// Where a secured file's earlier content is kept: a folder named
// "Kestrix Backup" (translated) beside the file, holding a copy under the
// file's own name. A file counts as secured exactly when that copy exists.
#pragma once

#include <QString>

namespace kestrix {

// The backup folder's name: "Kestrix Backup" passed through the translation.
QString BackupFolderName();

// The backup folder of a folder: the folder, a "/" unless it ends in one,
// the backup folder's name and a "/".
QString BackupFolderFor(const QString& folder);

// The backup copy of a file: the backup folder of the file's folder and the
// file's name.
QString BackupPathFor(const QString& file);

// True when the backup copy of the file exists (as a file).
bool BackupExists(const QString& file);

} // namespace kestrix
