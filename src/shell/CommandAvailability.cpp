#include "shell/CommandAvailability.h"

namespace kestrix {

CommandAvailability AvailabilityOf(const QStringList& selection, const PathFacts& facts)
{
    CommandAvailability result;
    for (const QString& path : selection) {
        const bool backup = facts.backupItem && facts.backupItem(path);
        if (facts.isFolder(path)) {
            result.secure = result.secure || !backup;
            result.restore = true;
            continue;
        }
        if (!facts.isFile(path))
            continue;
        result.edit = result.view = true;
        if (!backup && !facts.readOnly(path))
            result.secure = true;
        if (facts.backupExists(path))
            result.restore = true;
    }
    return result;
}

} // namespace kestrix
