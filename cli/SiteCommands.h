// kestrix-cli secure and restore: whole sites, in place, with the same
// backups and messages as the desktop program's commands, and no questions.
#pragma once

#include <QStringList>

namespace kestrix {

// "secure [-e] [-a] [-o] [--level N] [--settings FILE] [--filter MASKS]
// [--again] [--jobs N] [--dry-run] PATH...", the arguments starting with the
// command's name. Returns the exit status: 0 done, 1 when a file failed.
// Throws UsageError for wrong usage and Failure when the run cannot start,
// for the caller to report as it does for every command.
int SecureCommand(const QStringList& arguments);

// "restore [--filter MASKS] [--dry-run] PATH...", likewise.
int RestoreCommand(const QStringList& arguments);

} // namespace kestrix
