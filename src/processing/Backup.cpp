#include "processing/Backup.h"

#include "platform/FileAttributes.h"
#include "support/Translation.h"

namespace kestrix {

QString BackupFolderName()
{
    return Tr("Kestrix Backup");
}

QString BackupFolderFor(const QString& folder)
{
    QString result = folder;
    if (!result.endsWith(QLatin1Char('/')))
        result += QLatin1Char('/');
    return result + BackupFolderName() + QLatin1Char('/');
}

QString BackupPathFor(const QString& file)
{
    const qsizetype slash = file.lastIndexOf(QLatin1Char('/'));
    // A bare name lies in the current folder.
    const QString folder = slash >= 0 ? file.left(slash + 1) : QStringLiteral("./");
    return BackupFolderFor(folder) + file.mid(slash + 1);
}

bool BackupExists(const QString& file)
{
    return IsExistingFile(BackupPathFor(file));
}

} // namespace kestrix
