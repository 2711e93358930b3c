// Securing and restoring whole sites without questions, for the command
// line: the work list of the paths given, then the files in parallel jobs
// sharing one engine, reported in work-list order exactly as a run of one
// job would report them.
#pragma once

#include "processing/FileOperations.h"
#include "processing/FileProgress.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

namespace kestrix {

struct DecodedPage;
struct ProtectionEngine;

struct SiteRunOptions
{
    // Secure pages that already carry the content marker again, instead of
    // passing over them with a note.
    bool again = false;
    // Check and secure in memory, write nothing.
    bool dryRun = false;
    // Files worked on at the same time (at least 1).
    int jobs = 1;
    // Read each secured text back in memory and compare it with the page
    // it was made from before anything is written; a page that does not
    // match is left as it is and counts as failed.
    bool verify = false;
    // Called with each secured text before that check, so that tests can
    // make the check fail; not set in use.
    std::function<void(std::string& secured)> alterSecuredText;
};

// What happened to one file of the work list.
struct SiteFileResult
{
    QString path;
    // The path's bytes as the system has them, when they are not valid text
    // (the path then holds replacement characters); empty otherwise.
    QByteArray nativePath;
    FileOutcome outcome = FileOutcome::PassedOver;
    std::vector<ProgressMessage> messages;
    // For a report, -1 where not known: the file's size before and after
    // (secured, restored, or in a dry run would be), and the strength level
    // and the parts (ProtectionParts) it was secured with.
    qint64 bytesBefore = -1;
    qint64 bytesAfter = -1;
    int level = -1;
    int parts = -1;
};

struct SiteRunTotals
{
    int done = 0; // secured or restored (or, in a dry run, would be)
    int passedOver = 0;
    int failed = 0;
};

// Receives the results in work-list order, on the thread that started the
// run, as soon as each one and all before it are done.
class SiteRunReport
{
public:
    virtual ~SiteRunReport() = default;
    virtual void FileDone(int index, int count, const SiteFileResult& result) = 0;
};

// The work list of a site run: the files, and for each the folder the user
// named that holds it (a named file's own folder), below which no link is
// followed.
struct SiteWorkList
{
    QStringList files;
    QStringList roots;
    SiteWorkList() = default;
    // Files whose folders are taken as named.
    SiteWorkList(const QStringList& list);
};

// The work list of the paths given: a file as it is, a folder replaced by
// its files that fit the filter (backup folders below it are not searched;
// a folder that cannot be listed, a name that is not valid text or a path
// too long is an entry the run lists as failed). A file named twice by the
// same folder and name (also through two paths that overlap, or a link to
// a folder) is kept once, where it first appears; two names of one file
// (hard links) are two files. A path that does not exist is kept; the run
// reports it.
SiteWorkList GatherSitePaths(const QStringList& paths, const QString& filter);

// Secures every file of the list with the engine (which is only read).
// Problems are listed and the run goes on; an already secured page is passed
// over with a note unless `again`. Each folder's pages are checked and
// backed up under the folder's lock; the backups and their folders are
// pushed to disk; then, under the lock again, each page that is still the
// file that was read is replaced.
SiteRunTotals SecureSite(const SiteWorkList& work, const ProtectionEngine& engine,
                         const SiteRunOptions& options, SiteRunReport& report);

// The check of `verify` for a prepared file (Ready): its secured text read
// back in memory (`decoded` lends its buffers) and compared with its
// original as the verify command compares a page with its backup. On a
// mismatch lists the reason, marks the file Failed and drops its secured
// text, so that nothing of it is written.
void CheckSecuredText(SecuringFile& file, DecodedPage& decoded, MessageList& messages);

// Restores every file of the list from its backup, each folder's files
// under the folder's lock.
SiteRunTotals RestoreSite(const SiteWorkList& work, const SiteRunOptions& options,
                          SiteRunReport& report);

} // namespace kestrix
