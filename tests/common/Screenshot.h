// Checks a window as the user sees it -- no visible control cut off by its
// window or by its own size -- and saves its picture into
// KESTRIX_SCREENSHOT_DIR when that is set.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <gtest/gtest.h>

namespace kestrix::testing {

inline void InspectWindow(QWidget& window, const char* name)
{
    SCOPED_TRACE(name);
    QApplication::processEvents();
    const QList<QWidget*> children = window.findChildren<QWidget*>();
    for (QWidget* w : children) {
        if (!w->isVisible() || w->isWindow() || w->objectName().isEmpty() ||
            w->objectName().startsWith(QStringLiteral("qt_")))
            continue;
        SCOPED_TRACE(w->objectName().toStdString());
        const QRect inWindow(w->mapTo(&window, QPoint(0, 0)), w->size());
        EXPECT_TRUE(window.rect().contains(inWindow));
        const QRect inParent = w->geometry();
        EXPECT_TRUE(w->parentWidget()->rect().contains(inParent));
        if (qobject_cast<QAbstractButton*>(w) ||
            (qobject_cast<QLabel*>(w) && !static_cast<QLabel*>(w)->wordWrap())) {
            EXPECT_GE(w->width(), w->sizeHint().width());
        }
    }
    const QImage picture = window.grab().toImage();
    EXPECT_FALSE(picture.isNull());
    const QString folder = qEnvironmentVariable("KESTRIX_SCREENSHOT_DIR");
    if (!folder.isEmpty()) {
        QDir().mkpath(folder);
        EXPECT_TRUE(picture.save(folder + QLatin1Char('/') + QString::fromUtf8(name) +
                                 QStringLiteral(".png")));
    }
}

} // namespace kestrix::testing
