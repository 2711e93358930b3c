// Pass-through translation until the language file reader lands.
#include "support/Translation.h"

namespace kestrix {

void LoadApplicationLanguageFile()
{
}

std::string TranslateString(std::string_view text, std::string_view)
{
    return std::string(text);
}

QString TranslateQString(const QString& text, std::string_view)
{
    return text;
}

void TranslateComponent(QObject*)
{
}

} // namespace kestrix
