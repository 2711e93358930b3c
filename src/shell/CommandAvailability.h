// Which of the main window's file commands a selection allows, worked out
// from the selected paths alone, so that it is the same whatever shows them.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace kestrix {

struct CommandAvailability
{
    bool secure = false;  // "Encrypt...": a folder, or an existing writable file
    bool edit = false;    // "Edit Files": an existing file (folders do not count)
    bool view = false;    // "View Files": as edit
    bool restore = false; // "Restore File(s)": a folder, or a file with a backup
    bool operator==(const CommandAvailability&) const = default;
};

// What the selection is made of, asked of the file system (or of a test).
struct PathFacts
{
    std::function<bool(const QString&)> isFolder;
    std::function<bool(const QString&)> isFile; // exists and is no folder
    std::function<bool(const QString&)> readOnly;
    std::function<bool(const QString&)> backupExists;
    // A backup folder or an item inside one: never secured itself
    // (optional; unset means none is).
    std::function<bool(const QString&)> backupItem = {};
};

// The commands the selected paths allow. A missing path counts as
// read-only and has no backup; a backup folder and what it holds can be
// restored from but not secured.
CommandAvailability AvailabilityOf(const QStringList& selection, const PathFacts& facts);

} // namespace kestrix
