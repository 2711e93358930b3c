// Whether a text is a web address, on its own: a program that only asks
// this (kestrix-cli, which loads the download on demand) does not link the
// network code of WebHelpers.cpp.
#include "support/WebHelpers.h"

namespace kestrix {

bool IsWebAddress(const QString& text)
{
    return text.contains(QLatin1String("http://"), Qt::CaseSensitive) ||
           text.contains(QLatin1String("https://"), Qt::CaseSensitive);
}

} // namespace kestrix
