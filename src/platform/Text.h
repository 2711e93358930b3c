// Byte-level text helpers shared by the engine, the settings text and the
// language file: ASCII-only letter case and the two kinds of blank.
#pragma once

#include <string>
#include <string_view>

namespace kestrix {

// HTML's white space: blank, tab, line feed, carriage return, form feed.
constexpr bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// A control character or a blank (bytes 0 to 32), as INI-style lines trim.
constexpr bool IsBlank(char c)
{
    return static_cast<unsigned char>(c) <= 32;
}

// The text without leading and trailing blanks (IsBlank).
constexpr std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// ASCII letters to lower case; every other byte unchanged.
constexpr char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}
inline std::string Lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = Lower(c);
    return out;
}

} // namespace kestrix
