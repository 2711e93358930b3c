#include "protection/PageText.h"

#include <algorithm>
#include <cstdint>
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

// A needle (upper case) of the searches: a candidate position holds its
// first byte or the one other byte that upper-cases to it, and at the
// needle's last position a byte that upper-cases to its last byte; the rest
// is then compared upper-cased. Two bytes at most pass each test.
struct Needle
{
    explicit Needle(std::string_view upper)
        : bytes(reinterpret_cast<const unsigned char*>(upper.data())), n(upper.size())
    {
        first[0] = first[1] = bytes[0];
        last[0] = last[1] = bytes[n - 1];
        bool lastMatchesItself = false;
        for (int c = 0; c < 256; ++c) {
            if (c != bytes[0] && upperTable.map[c] == bytes[0])
                first[1] = static_cast<unsigned char>(c);
            if (upperTable.map[c] == bytes[n - 1]) {
                if (c == bytes[n - 1])
                    lastMatchesItself = true;
                else
                    last[1] = static_cast<unsigned char>(c);
            }
        }
        if (!lastMatchesItself)
            last[0] = last[1];
    }

    // True when the needle stands at `pos` (which holds a candidate first
    // byte) of a text of `size` bytes.
    bool RestMatches(const unsigned char* base, size_t size, size_t pos) const
    {
        if (size - pos < n)
            return false;
        size_t i = 1;
        while (i < n && upperTable.map[base[pos + i]] == bytes[i])
            ++i;
        return i == n;
    }

    const unsigned char* bytes;
    size_t n;
    unsigned char first[2];
    unsigned char last[2];
};

// The first position from `pos` on where one of the needles (all of two
// bytes or more) stands, and which one; npos when none does before `stop`.
// The steps of the vector loops are taken while every needle fits in the
// text behind them; `pos` is left where they ended.
template <size_t count> struct Found
{
    size_t pos = std::string_view::npos;
    size_t which = 0;
};

template <size_t count>
bool CheckCandidates(unsigned mask, size_t pos, const unsigned char* base, size_t size,
                     const Needle (&needles)[count], Found<count>& found)
{
    for (; mask != 0; mask &= mask - 1) {
        const size_t at = pos + size_t(__builtin_ctz(mask));
        for (size_t k = 0; k < count; ++k)
            if ((base[at] == needles[k].first[0] || base[at] == needles[k].first[1]) &&
                needles[k].RestMatches(base, size, at)) {
                found = {at, k};
                return true;
            }
    }
    return false;
}

#if defined(__x86_64__) && defined(__GNUC__)
template <size_t count>
[[gnu::target("avx2")]] bool FindWide(const unsigned char* base, size_t size, size_t& pos,
                                      size_t stop, const Needle (&needles)[count],
                                      Found<count>& found)
{
    for (; stop - pos >= 32; pos += 32) {
        __builtin_prefetch(base + pos + textPrefetchDistance);
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + pos));
        __m256i hit = _mm256_setzero_si256();
        for (const Needle& needle : needles) {
            const __m256i b =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + pos + needle.n - 1));
            const __m256i first = _mm256_or_si256(
                _mm256_cmpeq_epi8(a, _mm256_set1_epi8(static_cast<char>(needle.first[0]))),
                _mm256_cmpeq_epi8(a, _mm256_set1_epi8(static_cast<char>(needle.first[1]))));
            const __m256i last = _mm256_or_si256(
                _mm256_cmpeq_epi8(b, _mm256_set1_epi8(static_cast<char>(needle.last[0]))),
                _mm256_cmpeq_epi8(b, _mm256_set1_epi8(static_cast<char>(needle.last[1]))));
            hit = _mm256_or_si256(hit, _mm256_and_si256(first, last));
        }
        const unsigned mask = unsigned(_mm256_movemask_epi8(hit));
        if (mask != 0 && CheckCandidates(mask, pos, base, size, needles, found))
            return true;
    }
    return false;
}

bool HasWideVectors()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

template <size_t count>
Found<count> FindFirstOf(std::string_view text, const Needle (&needles)[count], size_t from)
{
    Found<count> found;
    size_t longest = 0, shortest = SIZE_MAX;
    for (const Needle& needle : needles) {
        longest = std::max(longest, needle.n);
        shortest = std::min(shortest, needle.n);
    }
    if (from >= text.size() || text.size() - from < shortest)
        return found;
    const auto* base = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    size_t pos = from;
    // The vector steps stop where the longest needle would run past the end.
    const size_t stop = size - std::min(size, longest - 1);
#if defined(__x86_64__) && defined(__GNUC__)
    if (HasWideVectors() && stop > pos && FindWide(base, size, pos, stop, needles, found))
        return found;
#endif
#if defined(__SSE2__)
    // Sixteen candidates at a time: the first byte and the last byte of a
    // needle must both fit, which real text seldom does by chance.
    auto set = [](unsigned char c) { return _mm_set1_epi8(static_cast<char>(c)); };
    for (; stop > pos && stop - pos >= 16; pos += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + pos));
        __m128i hit = _mm_setzero_si128();
        for (const Needle& needle : needles) {
            const __m128i b =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + pos + needle.n - 1));
            hit = _mm_or_si128(hit,
                               _mm_and_si128(_mm_or_si128(_mm_cmpeq_epi8(a, set(needle.first[0])),
                                                          _mm_cmpeq_epi8(a, set(needle.first[1]))),
                                             _mm_or_si128(_mm_cmpeq_epi8(b, set(needle.last[0])),
                                                          _mm_cmpeq_epi8(b, set(needle.last[1])))));
        }
        const unsigned mask = unsigned(_mm_movemask_epi8(hit));
        if (mask != 0 && CheckCandidates(mask, pos, base, size, needles, found))
            return found;
    }
#endif
    for (; pos < size; ++pos)
        if (CheckCandidates(1u, pos, base, size, needles, found))
            return found;
    return found;
}

} // namespace

size_t FindNoCase(std::string_view text, std::string_view upperNeedle, size_t from)
{
    const size_t n = upperNeedle.size();
    if (n == 0)
        return from <= text.size() ? from : std::string_view::npos;
    if (from >= text.size() || text.size() - from < n)
        return std::string_view::npos;
    if (n == 1) {
        // One byte: itself or the other byte that upper-cases to it.
        const Needle needle(upperNeedle);
        for (size_t pos = from; pos < text.size(); ++pos) {
            const auto c = static_cast<unsigned char>(text[pos]);
            if (c == needle.first[0] || c == needle.first[1])
                return pos;
        }
        return std::string_view::npos;
    }
    const Needle needles[1] = {Needle(upperNeedle)};
    return FindFirstOf(text, needles, from).pos;
}

size_t FindEitherNoCase(std::string_view text, std::string_view first, std::string_view second,
                        size_t from, bool* isSecond)
{
    const Needle needles[2] = {Needle(first), Needle(second)};
    const Found<2> found = FindFirstOf(text, needles, from);
    if (isSecond)
        *isSecond = found.which == 1;
    return found.pos;
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
