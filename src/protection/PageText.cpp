#include "protection/PageText.h"

#include <cstring>

namespace kestrix {

namespace {

// The ANSI (windows-1252) upper-case table: a-z, and the accented letters
// 0xE0-0xFE other than the division sign 0xF7.
struct UpperTable
{
    unsigned char map[256];
    constexpr UpperTable() : map()
    {
        for (int i = 0; i < 256; ++i) {
            int u = i;
            if (i >= 'a' && i <= 'z')
                u = i - 32;
            else if (i >= 0xE0 && i <= 0xFE && i != 0xF7)
                u = i - 32;
            else if (i == 0x9A || i == 0x9C || i == 0x9E)
                u = i - 16; // š œ ž
            else if (i == 0xFF)
                u = 0x9F; // ÿ
            map[i] = static_cast<unsigned char>(u);
        }
    }
};
constexpr UpperTable upperTable;

std::string Mark(std::string_view prefix, std::string_view name)
{
    return std::string(prefix) + UpperCaseAnsi(name);
}

inline unsigned char Up(char c)
{
    return upperTable.map[static_cast<unsigned char>(c)];
}

} // namespace

size_t FindNoCase(std::string_view text, std::string_view upperNeedle, size_t from)
{
    const size_t n = upperNeedle.size();
    if (n == 0)
        return from <= text.size() ? from : std::string_view::npos;
    if (from >= text.size() || text.size() - from < n)
        return std::string_view::npos;
    const unsigned char first = static_cast<unsigned char>(upperNeedle[0]);
    // The bytes whose upper case is the needle's first byte: itself and at
    // most one lower-case form.
    int other = -1;
    for (int c = 0; c < 256; ++c)
        if (c != first && upperTable.map[c] == first)
            other = c;
    const char* base = text.data();
    const char* end = base + text.size() - n + 1;
    const char* p = base + from;
    while (p < end) {
        const char* hit = static_cast<const char*>(std::memchr(p, first, size_t(end - p)));
        if (other >= 0) {
            const char* alt = static_cast<const char*>(std::memchr(p, other, size_t(end - p)));
            if (!hit || (alt && alt < hit))
                hit = alt;
        }
        if (!hit)
            return std::string_view::npos;
        size_t i = 1;
        while (i < n && Up(hit[i]) == static_cast<unsigned char>(upperNeedle[i]))
            ++i;
        if (i == n)
            return size_t(hit - base);
        p = hit + 1;
    }
    return std::string_view::npos;
}

std::string UpperCaseAnsi(std::string_view text)
{
    std::string out(text.size(), '\0');
    for (size_t i = 0; i < text.size(); ++i)
        out[i] = static_cast<char>(upperTable.map[static_cast<unsigned char>(text[i])]);
    return out;
}

TextPieces SplitAtElement(std::string_view text, std::string_view name, bool* found)
{
    const size_t start = FindNoCase(text, Mark("<", name));
    const size_t close = start == std::string::npos ? start : text.find('>', start);
    const size_t end = FindNoCase(text, Mark("</", name));
    const bool ok = start != std::string::npos && close != std::string::npos &&
                    end != std::string::npos && end > close;
    if (found)
        *found = ok;
    if (!ok)
        return {std::string(text), {}, {}};
    return {std::string(text.substr(0, close + 1)),
            std::string(text.substr(close + 1, end - close - 1)), std::string(text.substr(end))};
}

TextPieces ExtractElement(std::string_view text, std::string_view name, bool* found)
{
    const size_t start = FindNoCase(text, Mark("<", name));
    const size_t end =
        start == std::string::npos ? start : FindNoCase(text, Mark("</", name), start);
    const size_t close = end == std::string::npos ? end : text.find('>', end);
    const bool ok = close != std::string::npos;
    if (found)
        *found = ok;
    if (!ok)
        return {std::string(text), {}, {}};
    return {std::string(text.substr(0, start)), std::string(text.substr(start, close + 1 - start)),
            std::string(text.substr(close + 1))};
}

std::string UnwrapElement(std::string_view text, std::string_view name)
{
    const size_t start = FindNoCase(text, Mark("<", name));
    if (start == std::string::npos)
        return std::string(text);
    const size_t startClose = text.find('>', start);
    if (startClose == std::string::npos)
        return std::string(text);
    const size_t end = FindNoCase(text, Mark("</", name), startClose + 1);
    const size_t endClose = end == std::string::npos ? end : text.find('>', end);
    if (endClose == std::string::npos)
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    out.append(text.substr(0, start));
    out.append(text.substr(startClose + 1, end - startClose - 1));
    out.append(text.substr(endClose + 1));
    return out;
}

} // namespace kestrix
