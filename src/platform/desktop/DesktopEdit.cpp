#include "platform/desktop/DesktopEdit.h"

#include "platform/desktop/DesktopOpen.h"

#include <QProcess>
#include <QStandardPaths>

namespace kestrix {

namespace {

// The output of a short command, or empty when it cannot run.
QString Query(const QString& program, const QStringList& arguments)
{
    const QString path = QStandardPaths::findExecutable(program);
    if (path.isEmpty())
        return QString();
    QProcess process;
    process.start(path, arguments);
    if (!process.waitForFinished(3000))
        return QString();
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

} // namespace

bool EditFileWithDesktop(const QString& path)
{
    const QString visual = qEnvironmentVariable("VISUAL");
    if (!visual.isEmpty()) {
        const QString program = QStandardPaths::findExecutable(visual);
        if (!program.isEmpty() && QProcess::startDetached(program, {path}))
            return true;
    }
    // The desktop's default application for plain text, started by its
    // desktop entry.
    QString entry =
        Query(QStringLiteral("xdg-mime"),
              {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/plain")});
    if (!entry.isEmpty()) {
        if (entry.endsWith(QLatin1String(".desktop")))
            entry.chop(8);
        const QString launcher = QStandardPaths::findExecutable(QStringLiteral("gtk-launch"));
        if (!launcher.isEmpty() && QProcess::startDetached(launcher, {entry, path}))
            return true;
    }
    return OpenFileWithDesktop(path);
}

bool OpenNetworkSettings()
{
    // Known settings programs, the first one installed wins.
    const std::pair<const char*, QStringList> programs[] = {
        {"gnome-control-center", {QStringLiteral("network")}},
        {"systemsettings", {QStringLiteral("kcm_networkmanagement")}},
        {"nm-connection-editor", {}},
        {"xfce4-settings-manager", {}},
    };
    for (const auto& [name, arguments] : programs) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!path.isEmpty())
            return QProcess::startDetached(path, arguments);
    }
    return false;
}

} // namespace kestrix
