// The command-line batch: secures one page, a file or a web page, after the
// user confirmed the protection options, and writes it where the user says
// (or in place, keeping the input as input + ".kestrix").
#pragma once

#include "processing/CommandLine.h"
#include "processing/FileCommands.h"

#include <QString>

namespace kestrix {

// The batch's end, and the program's exit status for it.
enum class BatchResult {
    Written = 0,   // the secured page was written
    Failed = 1,    // an error, reported to the user
    Cancelled = 3, // the user cancelled the download, the options or the save prompt
};

// Makes the names of a command line absolute against the working folder,
// as a bare name on a command line means; web addresses stay as written.
void ResolveCommandLineNames(CommandLine& line, const QString& workingFolder);

// Runs the batch of a parsed command line. Nothing is written unless the
// page was secured; the output is written atomically, so a failed run leaves
// no half-written file and never deletes one it did not create; in the
// in-place mode an existing input + ".kestrix" is never overwritten, and on
// any failure after the input was renamed it gets its own name back.
// The questions and windows are those of the file commands: the download
// dialog ("Downloading Page..."), the protection options (loaded from and
// saved to the store), the save prompt and the error box.
BatchResult RunBatch(const CommandLine& line, FileCommandDialogs& dialogs);

} // namespace kestrix
