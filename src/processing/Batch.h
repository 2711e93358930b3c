// The command-line batch: secures one page, a file or a web page, after the
// user confirmed the protection options, and writes it where the user says
// (or in place, keeping the input as input + ".kestrix").
#pragma once

#include "processing/CommandLine.h"
#include "protection/SecurePage.h"
#include "support/WebDownload.h"

#include <QString>

#include <optional>
#include <string>

namespace kestrix {

// The batch's end, and the program's exit status for it.
enum class BatchResult {
    Written = 0,   // the secured page was written
    Failed = 1,    // an error, reported to the user
    Cancelled = 3, // the user cancelled the download, the options or the save prompt
};

// What the batch asks of the user and the network; the program's windows in
// the desktop program, answers given in advance in tests.
class BatchHooks
{
public:
    virtual ~BatchHooks() = default;
    // Downloads the address; on success `localFile` names the local copy,
    // which the batch reads and deletes.
    virtual DownloadStatus Download(const QString& address, QString& localFile) = 0;
    // Shows the protection options for the page (its preview) with the
    // engine's parts, after loading them from the settings store. True on
    // OK, with the engine holding the values shown, which are also stored.
    virtual bool EditProtectionOptions(ProtectionEngine& engine, const std::string& page) = 0;
    // Asks where to save the secured page; none when the user cancelled.
    virtual std::optional<QString> PromptSaveFile() = 0;
    // Reports an error of the batch (a message box without owner).
    virtual void ShowError(const QString& message) = 0;
};

// Makes the names of a command line absolute against the working folder,
// as a bare name on a command line means; web addresses stay as written.
void ResolveCommandLineNames(CommandLine& line, const QString& workingFolder);

// Runs the batch of a parsed command line. Nothing is written unless the
// page was secured; the output is written atomically, so a failed run leaves
// no half-written file and never deletes one it did not create; in the
// in-place mode an existing input + ".kestrix" is never overwritten, and on
// any failure after the input was renamed it gets its own name back.
BatchResult RunBatch(const CommandLine& line, BatchHooks& hooks);

} // namespace kestrix
