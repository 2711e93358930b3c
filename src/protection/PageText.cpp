#include "protection/PageText.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

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

#if defined(__x86_64__) && defined(__GNUC__)
// The candidates of FindNoCase 32 at a time, on processors that can: the
// first match from `pos` on before `stop`, or npos; `pos` is left where the
// steps of 32 ended.
template <typename Matches>
[[gnu::target("avx2")]] size_t FindWide(const unsigned char* base, size_t& pos, size_t stop,
                                        size_t n, const unsigned char first[2],
                                        const unsigned char last[2], const Matches& matchesAt)
{
    const __m256i first0 = _mm256_set1_epi8(static_cast<char>(first[0]));
    const __m256i first1 = _mm256_set1_epi8(static_cast<char>(first[1]));
    const __m256i last0 = _mm256_set1_epi8(static_cast<char>(last[0]));
    const __m256i last1 = _mm256_set1_epi8(static_cast<char>(last[1]));
    for (; stop - pos >= 32; pos += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + pos));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + pos + n - 1));
        const __m256i hit = _mm256_and_si256(
            _mm256_or_si256(_mm256_cmpeq_epi8(a, first0), _mm256_cmpeq_epi8(a, first1)),
            _mm256_or_si256(_mm256_cmpeq_epi8(b, last0), _mm256_cmpeq_epi8(b, last1)));
        unsigned mask = unsigned(_mm256_movemask_epi8(hit));
        while (mask != 0) {
            const size_t at = pos + size_t(__builtin_ctz(mask));
            if (matchesAt(at))
                return at;
            mask &= mask - 1;
        }
    }
    return std::string_view::npos;
}

bool HasWideVectors()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

} // namespace

size_t FindNoCase(std::string_view text, std::string_view upperNeedle, size_t from)
{
    const size_t n = upperNeedle.size();
    if (n == 0)
        return from <= text.size() ? from : std::string_view::npos;
    if (from >= text.size() || text.size() - from < n)
        return std::string_view::npos;
    const auto* base = reinterpret_cast<const unsigned char*>(text.data());
    const auto* needle = reinterpret_cast<const unsigned char*>(upperNeedle.data());
    // A candidate is a byte equal to the needle's first byte or to the one
    // other byte that upper-cases to it, where the rest of the needle then
    // matches upper-cased. Two bytes at most pass each test.
    unsigned char first[2] = {needle[0], needle[0]};
    unsigned char last[2] = {needle[n - 1], needle[n - 1]};
    bool lastMatchesItself = false;
    for (int c = 0; c < 256; ++c) {
        if (c != needle[0] && upperTable.map[c] == needle[0])
            first[1] = static_cast<unsigned char>(c);
        if (upperTable.map[c] == needle[n - 1]) {
            if (c == needle[n - 1])
                lastMatchesItself = true;
            else
                last[1] = static_cast<unsigned char>(c);
        }
    }
    if (!lastMatchesItself)
        last[0] = last[1];
    auto matchesAt = [&](size_t pos) {
        size_t i = 1;
        while (i < n && upperTable.map[base[pos + i]] == needle[i])
            ++i;
        return i == n;
    };
    size_t pos = from;
    const size_t stop = text.size() - n + 1; // candidates lie before this
#if defined(__x86_64__) && defined(__GNUC__)
    if (n >= 2 && HasWideVectors()) {
        const size_t found = FindWide(base, pos, stop, n, first, last, matchesAt);
        if (found != std::string_view::npos)
            return found;
    }
#endif
#if defined(__SSE2__)
    // Sixteen candidates at a time: the first byte and the last byte of the
    // needle must both fit, which real text seldom does by chance.
    if (n >= 2) {
        const __m128i first0 = _mm_set1_epi8(static_cast<char>(first[0]));
        const __m128i first1 = _mm_set1_epi8(static_cast<char>(first[1]));
        const __m128i last0 = _mm_set1_epi8(static_cast<char>(last[0]));
        const __m128i last1 = _mm_set1_epi8(static_cast<char>(last[1]));
        for (; stop - pos >= 16; pos += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + pos));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + pos + n - 1));
            const __m128i hit =
                _mm_and_si128(_mm_or_si128(_mm_cmpeq_epi8(a, first0), _mm_cmpeq_epi8(a, first1)),
                              _mm_or_si128(_mm_cmpeq_epi8(b, last0), _mm_cmpeq_epi8(b, last1)));
            unsigned mask = unsigned(_mm_movemask_epi8(hit));
            while (mask != 0) {
                const size_t at = pos + size_t(__builtin_ctz(mask));
                if (matchesAt(at))
                    return at;
                mask &= mask - 1;
            }
        }
    }
#endif
    for (; pos < stop; ++pos)
        if ((base[pos] == first[0] || base[pos] == first[1]) && matchesAt(pos))
            return pos;
    return std::string_view::npos;
}

std::string UpperCaseAnsi(std::string_view text)
{
    std::string out(text.size(), '\0');
    for (size_t i = 0; i < text.size(); ++i)
        out[i] = static_cast<char>(upperTable.map[static_cast<unsigned char>(text[i])]);
    return out;
}

TextViews SplitAtElementViews(std::string_view text, std::string_view name, bool* found)
{
    const size_t start = FindNoCase(text, Mark("<", name));
    const size_t close = start == std::string::npos ? start : text.find('>', start);
    const size_t end = FindNoCase(text, Mark("</", name));
    const bool ok = start != std::string::npos && close != std::string::npos &&
                    end != std::string::npos && end > close;
    if (found)
        *found = ok;
    if (!ok)
        return {text, {}, {}};
    return {text.substr(0, close + 1), text.substr(close + 1, end - close - 1), text.substr(end)};
}

TextViews ExtractElementViews(std::string_view text, std::string_view name, bool* found)
{
    const size_t start = FindNoCase(text, Mark("<", name));
    const size_t end =
        start == std::string::npos ? start : FindNoCase(text, Mark("</", name), start);
    const size_t close = end == std::string::npos ? end : text.find('>', end);
    const bool ok = close != std::string::npos;
    if (found)
        *found = ok;
    if (!ok)
        return {text, {}, {}};
    return {text.substr(0, start), text.substr(start, close + 1 - start), text.substr(close + 1)};
}

TextViews UnwrapElementViews(std::string_view text, std::string_view name)
{
    const size_t start = FindNoCase(text, Mark("<", name));
    if (start == std::string::npos)
        return {text, {}, {}};
    const size_t startClose = text.find('>', start);
    if (startClose == std::string::npos)
        return {text, {}, {}};
    const size_t end = FindNoCase(text, Mark("</", name), startClose + 1);
    const size_t endClose = end == std::string::npos ? end : text.find('>', end);
    if (endClose == std::string::npos)
        return {text, {}, {}};
    return {text.substr(0, start), text.substr(startClose + 1, end - startClose - 1),
            text.substr(endClose + 1)};
}

namespace {

TextPieces Copied(const TextViews& views)
{
    return {std::string(views.before), std::string(views.middle), std::string(views.after)};
}

} // namespace

TextPieces SplitAtElement(std::string_view text, std::string_view name, bool* found)
{
    return Copied(SplitAtElementViews(text, name, found));
}

TextPieces ExtractElement(std::string_view text, std::string_view name, bool* found)
{
    return Copied(ExtractElementViews(text, name, found));
}

std::string UnwrapElement(std::string_view text, std::string_view name)
{
    const TextViews views = UnwrapElementViews(text, name);
    std::string out;
    out.reserve(views.before.size() + views.middle.size() + views.after.size());
    out += views.before;
    out += views.middle;
    out += views.after;
    return out;
}

} // namespace kestrix
