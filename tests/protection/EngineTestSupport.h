// Helpers shared by the engine tests: decoding scrambled strings as the
// visitor's browser does, and building pages.
#pragma once

#include <cstdlib>
#include <string>
#include <string_view>

namespace enginetest {

// Reads the body of a JavaScript double-quoted string as the scrambler
// writes it (plain characters, \xHH, \uHHHH) and XORs each code unit with
// the key, as the loader does. Returns UTF-16 code units.
inline std::u16string DecodeScrambled(std::string_view s, std::string_view key)
{
    std::u16string units;
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned c = static_cast<unsigned char>(s[i]);
        if (c == '\\' && i + 1 < s.size() && s[i + 1] == 'x') {
            c = unsigned(std::strtoul(std::string(s.substr(i + 2, 2)).c_str(), nullptr, 16));
            i += 3;
        } else if (c == '\\' && i + 1 < s.size() && s[i + 1] == 'u') {
            c = unsigned(std::strtoul(std::string(s.substr(i + 2, 4)).c_str(), nullptr, 16));
            i += 5;
        }
        const size_t p = units.size();
        units += char16_t(c ^ (static_cast<unsigned char>(key[p % key.size()]) & 31u));
    }
    return units;
}

inline std::string UnitsToBytes(const std::u16string& units)
{
    std::string out;
    for (char16_t u : units)
        out += char(u & 0xFF);
    return out;
}

// The scrambled string of one layer (between p8Rfhjqh=" and the next ").
inline std::string LayerString(std::string_view layer)
{
    const std::string_view open = "<SCRIPT>p8Rfhjqh=\"";
    if (layer.substr(0, open.size()) != open)
        return "<not a layer>";
    const size_t end = layer.find('"', open.size());
    return std::string(layer.substr(open.size(), end - open.size()));
}

inline size_t Count(std::string_view text, std::string_view what)
{
    size_t n = 0;
    for (size_t pos = text.find(what); pos != std::string_view::npos;
         pos = text.find(what, pos + 1))
        ++n;
    return n;
}

} // namespace enginetest
