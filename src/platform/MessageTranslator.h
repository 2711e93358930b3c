// Lets code that cannot reach the language file (the engine, which links no
// Qt Widgets) still show its messages translated: the translation service
// registers itself here when it loads the language file.
#pragma once

#include <string>
#include <string_view>

namespace kestrix {

using MessageTranslator = std::string (*)(std::string_view english);

// Registers the lookup of run-time messages; nullptr goes back to English.
void SetMessageTranslator(MessageTranslator translator);

// The translation of a run-time message, or the English text itself.
std::string TranslateMessage(std::string_view english);

} // namespace kestrix
