#include "platform/MessageFormat.h"

namespace kestrix {

QString FormatMessage(const QString& format, const QStringList& arguments)
{
    QString out;
    out.reserve(format.size() + 64);
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == QLatin1Char('%') && i + 1 < format.size()) {
            const QChar k = format[i + 1];
            if (k == QLatin1Char('%')) {
                out += QLatin1Char('%');
                ++i;
                continue;
            }
            if ((k == QLatin1Char('s') || k == QLatin1Char('d') || k == QLatin1Char('u')) &&
                next < arguments.size()) {
                out += arguments[next++];
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

} // namespace kestrix
