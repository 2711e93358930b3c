// Securing and restoring whole sites without questions, for the command
// line: the work list of the paths given, then the files in parallel jobs
// sharing one engine, reported in work-list order exactly as a run of one
// job would report them.
#pragma once

#include "processing/FileOperations.h"
#include "processing/FileProgress.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace kestrix {

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
};

// What happened to one file of the work list.
struct SiteFileResult
{
    QString path;
    FileOutcome outcome = FileOutcome::PassedOver;
    std::vector<ProgressMessage> messages;
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

// The work list of the paths given: a file as it is, a folder replaced by
// its files that fit the filter (backup folders below it are not searched).
// A file named twice (also through two paths that overlap, or a link) is
// kept once, where it first appears. A path that does not exist is kept; the
// run reports it.
QStringList GatherSitePaths(const QStringList& paths, const QString& filter);

// Secures every file of the list with the engine (which is only read).
// Problems are listed and the run goes on; an already secured page is passed
// over with a note unless `again`. Backups are written before their files,
// and pushed to disk before the files are replaced.
SiteRunTotals SecureSite(const QStringList& files, const ProtectionEngine& engine,
                         const SiteRunOptions& options, SiteRunReport& report);

// Restores every file of the list from its backup.
SiteRunTotals RestoreSite(const QStringList& files, const SiteRunOptions& options,
                          SiteRunReport& report);

} // namespace kestrix
