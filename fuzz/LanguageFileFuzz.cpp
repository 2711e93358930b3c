// Reads arbitrary bytes as a language file, then looks up texts taken from
// the same bytes in the sections it names; also checks that every text
// survives escaping and decoding unchanged.
#include "platform/Errors.h"
#include "support/Translation.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    kestrix::TranslationTable table;
    table.Load(input);

    // Every line of the input, as text and as section, through the lookup.
    size_t pos = 0;
    int lookups = 0;
    while (pos <= input.size() && lookups < 64) {
        size_t end = input.find('\n', pos);
        if (end == std::string_view::npos)
            end = input.size();
        const std::string_view line = input.substr(pos, end - pos);
        const std::string_view text = line.size() > 2 ? line.substr(2) : line;
        for (std::string_view section : {std::string_view("STRING_TABLE"), line}) {
            try {
                table.Translate(text, section);
            } catch (const kestrix::Failure&) {
            }
        }
        ++lookups;
        pos = end + 1;
    }

    try {
        kestrix::UnescapeText(input);
    } catch (const kestrix::Failure&) {
    }
    if (kestrix::UnescapeText(kestrix::EscapeText(input)) != input)
        std::abort();
    return 0;
}
