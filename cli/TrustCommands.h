// kestrix-cli recover, verify and audit: reading secured pages back, to
// check a build against its sources, to get an original back from the
// secured page alone, and to find clear text left beside secured pages.
#pragma once

#include <QStringList>

namespace kestrix {

// "recover [--output FILE] PAGE", the arguments starting with the command's
// name. Returns 0 when the page was written, 1 when it cannot be recovered
// (the reason printed). Throws UsageError for wrong usage and Failure when
// the page cannot be read or the result written.
int RecoverCommand(const QStringList& arguments);

// "verify [--source SRC] [--filter MASKS] [--report FILE] PATH...": 0 when
// every secured page matched its backup (or source), 1 otherwise.
int VerifyCommand(const QStringList& arguments);

// "audit [--min-chars N] DIR...": 0 when no file holds a secured page's
// clear text, 1 otherwise.
int AuditCommand(const QStringList& arguments);

} // namespace kestrix
