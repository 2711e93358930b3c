// Writes the application icon, as the desktop program draws it, to PNG
// files for the desktop's icon theme: DIR/NxN/apps/kestrix.png for every
// size the program draws. Run at build time on the offscreen platform, so
// the installed icon is the one the running program shows.
#include "shell/ui/Images.h"

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fputs("usage: kestrix-render-icon DIR\n", stderr);
        return 2;
    }
    const QIcon icon = kestrix::ApplicationIcon();
    const QList<QSize> sizes = icon.availableSizes();
    if (sizes.isEmpty()) {
        std::fputs("kestrix-render-icon: the icon has no image\n", stderr);
        return 1;
    }
    for (const QSize& size : sizes) {
        const QString folder =
            QStringLiteral("%1/%2x%3/apps").arg(args[1]).arg(size.width()).arg(size.height());
        const QString file = folder + QStringLiteral("/kestrix.png");
        const QPixmap pixmap = icon.pixmap(size);
        if (!QDir().mkpath(folder) || pixmap.size() != size || !pixmap.save(file, "PNG")) {
            std::fprintf(stderr, "kestrix-render-icon: cannot write %s\n",
                         file.toLocal8Bit().constData());
            return 1;
        }
    }
    return 0;
}
