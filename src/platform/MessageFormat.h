// Filling a translated message's placeholders ("%s", "%d") in order.
#pragma once

#include <QString>
#include <QStringList>

namespace kestrix {

// Replaces each "%s", "%d" or "%u" of `format` by the next argument, and
// "%%" by "%". Placeholders without an argument are left as they are.
QString FormatMessage(const QString& format, const QStringList& arguments);

} // namespace kestrix
