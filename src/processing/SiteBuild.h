// Building a secured copy of a site in an output folder: the pages that fit
// the filter secured under the same relative paths, every other file copied
// (or hard-linked) as it is, links copied as links, and nothing of the
// source changed. A build state kept in the output folder lets a rebuild
// leave alone every file whose source and settings are unchanged, and remove
// only the files an earlier build put there.
#pragma once

#include "processing/SiteRun.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <string>

namespace kestrix {

struct ProtectionEngine;

// The build state's name in the output folder. A file of this name in the
// source is never copied.
inline constexpr char buildStateName[] = ".kestrix-build";

struct SiteBuildOptions
{
    // Secure pages of the source that are already secured once more,
    // instead of copying them as they are with a note.
    bool again = false;
    // List what would be done; write nothing.
    bool dryRun = false;
    // Hard-link the files that are not pages instead of copying them
    // (copied where the output lies on another file system).
    bool link = false;
    // Files worked on at the same time (at least 1).
    int jobs = 1;
    // The file filter that tells the pages.
    QString filter;
    // Read each secured text back in memory and compare it with the page it
    // was made from before it is written; a page that does not match is not
    // written and counts as failed.
    bool verify = false;
    // Called with each secured text before that check, so that tests can
    // make the check fail; not set in use.
    std::function<void(std::string& secured)> alterSecuredText;
};

struct SiteBuildTotals
{
    // Pages secured (or, in a dry run, that would be); passed over: pages
    // left as they were, pages already secured (copied as they are) and
    // special files; failed: every file that failed, page or not.
    SiteRunTotals pages;
    // Other files copied, linked or re-linked (or that would be).
    int copied = 0;
    // Other files left as they were.
    int unchanged = 0;
    // Files and folders of an earlier build removed (or that would be).
    int removed = 0;
};

// What a page's secured text depends on besides its bytes, as a short hash:
// the program's version, the parts, the settings, the language file and
// whether already secured pages are secured again.
QByteArray BuildConfiguration(const ProtectionEngine& engine, bool again);

// Why the output folder cannot take a build of the source folder (it is
// the source or lies in it, or the source lies in it, as the folders are on
// disk); empty when it can.
QString OutputFolderProblem(const QString& source, const QString& output);

// Builds the secured copy of `source` in `output` (made when missing), with
// the output folder locked for the whole build. Each file is reported in
// the order of the source tree (folders depth first, names sorted);
// removals of an earlier build's files are reported before. Throws Failure
// when the build cannot start (the folders named cannot be read or made, or
// one lies in the other) or its state cannot be written.
SiteBuildTotals BuildSite(const QString& source, const QString& output,
                          const ProtectionEngine& engine, const SiteBuildOptions& options,
                          SiteRunReport& report);

} // namespace kestrix
