#include "platform/desktop/DesktopOpen.h"

#include <QDesktopServices>
#include <QUrl>

namespace kestrix {

bool OpenUrlWithDesktop(const QString& url)
{
    const QUrl address(url, QUrl::TolerantMode);
    if (!address.isValid() || address.isEmpty())
        return false;
    return QDesktopServices::openUrl(address);
}

bool OpenFileWithDesktop(const QString& path)
{
    if (path.isEmpty())
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

} // namespace kestrix
