// Translation of user-visible texts from the language file "lang.txt".
#pragma once

#include <QString>

#include <string>
#include <string_view>

class QObject;

namespace kestrix {

// The section of every run-time message.
inline constexpr std::string_view stringTableSection = "STRING_TABLE";

// Loads "lang.txt" from the folder of the running executable into the
// application's table, once, before any window exists. A missing file
// leaves the table empty and says nothing.
void LoadApplicationLanguageFile();

// The translation of an English text (bytes, the language file's 8-bit
// encoding) in a section; the text itself when there is none.
std::string TranslateString(std::string_view text, std::string_view section = stringTableSection);
// The same at the Qt boundary: the text is converted to and from the
// locale's 8-bit encoding (UTF-8 on Linux).
QString TranslateQString(const QString& text, std::string_view section = stringTableSection);
// Shorthand for a run-time message given as an ASCII literal.
inline QString Tr(const char* english)
{
    return TranslateQString(QString::fromLatin1(english), stringTableSection);
}

// Translates a window and every component it owns, in creation order, with
// the section named after the nearest window class.
void TranslateComponent(QObject* component);

} // namespace kestrix
