#include "platform/desktop/DesktopOpen.h"

#include <QDesktopServices>
#include <QProcess>
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

bool OpenFileWithProgram(const QString& program, const QString& path)
{
    if (program.isEmpty() || path.isEmpty())
        return false;
    return QProcess::startDetached(program, {path});
}

bool OpenFileOrChooseProgram(const QString& path, const std::function<QString()>& chooseProgram,
                             const std::function<bool(const QString&)>& openWithDesktop,
                             QString* chosen)
{
    if (openWithDesktop(path))
        return true;
    const QString program = chooseProgram ? chooseProgram() : QString();
    if (chosen)
        *chosen = program;
    return OpenFileWithProgram(program, path);
}

} // namespace kestrix
