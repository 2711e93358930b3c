#include "protection/ClearText.h"

#include "protection/PageCharset.h"
#include "protection/PageText.h"

#include <QChar>

#include <algorithm>
#include <limits>
#include <thread>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrix {

namespace {

// Named character references that pages and feeds commonly use; others
// stay as they are written (the same on both sides of a comparison).
struct NamedEntity
{
    std::string_view name;
    char32_t character;
};
constexpr NamedEntity namedEntities[] = {
    {"amp", U'&'},     {"lt", U'<'},      {"gt", U'>'},      {"quot", U'"'},     {"apos", U'\''},
    {"nbsp", 0xA0},    {"copy", 0xA9},    {"reg", 0xAE},     {"trade", 0x2122},  {"hellip", 0x2026},
    {"mdash", 0x2014}, {"ndash", 0x2013}, {"lsquo", 0x2018}, {"rsquo", 0x2019},  {"ldquo", 0x201C},
    {"rdquo", 0x201D}, {"laquo", 0xAB},   {"raquo", 0xBB},   {"middot", 0xB7},   {"bull", 0x2022},
    {"euro", 0x20AC},  {"pound", 0xA3},   {"sect", 0xA7},    {"deg", 0xB0},      {"times", 0xD7},
    {"divide", 0xF7},  {"shy", 0xAD},     {"eacute", 0xE9},  {"egrave", 0xE8},   {"agrave", 0xE0},
    {"aacute", 0xE1},  {"ccedil", 0xE7},  {"uuml", 0xFC},    {"ouml", 0xF6},     {"auml", 0xE4},
    {"szlig", 0xDF},   {"Uuml", 0xDC},    {"Ouml", 0xD6},    {"Auml", 0xC4},     {"Eacute", 0xC9},
    {"iacute", 0xED},  {"oacute", 0xF3},  {"uacute", 0xFA},  {"ntilde", 0xF1},   {"ecirc", 0xEA},
    {"ocirc", 0xF4},   {"acirc", 0xE2},   {"icirc", 0xEE},   {"thinsp", 0x2009}, {"ensp", 0x2002},
    {"emsp", 0x2003},  {"zwj", 0x200D},   {"zwnj", 0x200C},
};

bool IsAsciiLetter(char32_t c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsAsciiDigit(char32_t c)
{
    return c >= '0' && c <= '9';
}

int HexValue(char32_t c)
{
    if (c >= '0' && c <= '9')
        return int(c - '0');
    if (c >= 'a' && c <= 'f')
        return int(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return int(c - 'A' + 10);
    return -1;
}

bool IsSpace(char32_t c)
{
    if (c < 0x80)
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
    return QChar::isSpace(c);
}

char32_t Fold(char32_t c)
{
    if (c < 0x80)
        return c >= 'A' && c <= 'Z' ? c + 32 : c;
    return QChar::toCaseFolded(c);
}

// What an ASCII character is on the way through a text: most stand for
// themselves (folded), white space collapses, and "<", "&" and "\" may
// start markup or an escape.
enum AsciiKind : uint8_t { plainCharacter, spaceCharacter, specialCharacter };
struct AsciiTable
{
    AsciiKind kind[128] = {};
    char32_t folded[128] = {};
    constexpr AsciiTable()
    {
        for (char32_t c = 0; c < 128; ++c) {
            folded[c] = c >= 'A' && c <= 'Z' ? c + 32 : c;
            kind[c] = c == ' ' || (c >= '\t' && c <= '\r') ? spaceCharacter
                      : c == '<' || c == '&' || c == '\\'  ? specialCharacter
                                                           : plainCharacter;
        }
    }
};
constexpr AsciiTable ascii;

// The first unit from `from` on that is `a`, `b` or `c` (ASCII), or `end`.
template <typename Unit>
size_t FindUnit(const Unit* u, size_t from, size_t end, unsigned a, unsigned b, unsigned c)
{
    size_t i = from;
#if defined(__SSE2__)
    if constexpr (sizeof(Unit) == 1) {
        const __m128i va = _mm_set1_epi8(char(a)), vb = _mm_set1_epi8(char(b)),
                      vc = _mm_set1_epi8(char(c));
        for (; end - i >= 16; i += 16) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u + i));
            const __m128i hit = _mm_or_si128(
                _mm_or_si128(_mm_cmpeq_epi8(x, va), _mm_cmpeq_epi8(x, vb)), _mm_cmpeq_epi8(x, vc));
            if (const unsigned mask = unsigned(_mm_movemask_epi8(hit)))
                return i + unsigned(__builtin_ctz(mask));
        }
    } else if constexpr (sizeof(Unit) == 2) {
        const __m128i va = _mm_set1_epi16(short(a)), vb = _mm_set1_epi16(short(b)),
                      vc = _mm_set1_epi16(short(c));
        for (; end - i >= 8; i += 8) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u + i));
            const __m128i hit =
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(x, va), _mm_cmpeq_epi16(x, vb)),
                             _mm_cmpeq_epi16(x, vc));
            if (const unsigned mask = unsigned(_mm_movemask_epi8(hit)))
                return i + unsigned(__builtin_ctz(mask)) / 2;
        }
    }
#endif
    for (; i < end; ++i) {
        const unsigned unit = u[i];
        if (unit == a || unit == b || unit == c)
            return i;
    }
    return end;
}

// Texts as code units with the code point each position starts. ASCII is
// one unit in each of them and no unit of another character is ASCII, so
// markup and escapes are found by looking at units alone.

// UTF-16: a surrogate pair is one code point; any other unit (a lone
// surrogate too) stands for itself.
struct Utf16Units
{
    using Unit = char16_t;
    const char16_t* units;
    char32_t Wide(size_t i, size_t end, size_t& next) const
    {
        const char32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < end && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            next = i + 2;
            return 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
        }
        next = i + 1;
        return c;
    }
};

// UTF-8: a byte that does not start a valid sequence is U+FFFD.
struct Utf8Bytes
{
    using Unit = unsigned char;
    const unsigned char* units;
    char32_t Wide(size_t i, size_t end, size_t& next) const
    {
        const unsigned char* p = units + i;
        const unsigned b = *p;
        const size_t n = b >= 0xC2 && b <= 0xDF   ? 2
                         : b >= 0xE0 && b <= 0xEF ? 3
                         : b >= 0xF0 && b <= 0xF4 ? 4
                                                  : 0;
        next = i + 1;
        if (n == 0 || end - i < n)
            return 0xFFFD;
        char32_t c = n == 2 ? b & 0x1F : n == 3 ? b & 0x0F : b & 0x07;
        for (size_t k = 1; k < n; ++k) {
            if ((p[k] & 0xC0) != 0x80)
                return 0xFFFD;
            c = (c << 6) | (p[k] & 0x3F);
        }
        const char32_t least = n == 2 ? 0x80 : n == 3 ? 0x800 : 0x10000;
        if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return 0xFFFD;
        next = i + n;
        return c;
    }
};

// windows-1252: one byte, one character.
struct Windows1252Bytes
{
    using Unit = unsigned char;
    const unsigned char* units;
    char32_t Wide(size_t i, size_t, size_t& next) const
    {
        next = i + 1;
        return Windows1252Unit(units[i]);
    }
};

// The normalisation of one text, in one pass over its units: escapes are
// decoded where they stand (markup is looked for in the decoded text), and
// the text is read from left to right, markup skipped, white space
// collapsed and letters folded, straight into the result.
template <typename Source> class Normaliser
{
public:
    Normaliser(Source source, size_t end) : source_(source), u_(source.units), end_(end) {}

    void Run(size_t begin, ClearTextBuffer& out)
    {
        ResizeForWriting(out, end_ - begin);
        char32_t* const start = out.data();
        char32_t* o = start;
        bool blank = true; // no blank at the start
        size_t r = begin;
        while (r < end_) {
            const unsigned u = u_[r];
            if (u < 0x80) {
                const AsciiKind kind = ascii.kind[u];
                if (kind == plainCharacter) {
                    *o++ = ascii.folded[u];
                    blank = false;
                    ++r;
                    continue;
                }
                if (kind == spaceCharacter) {
                    if (!blank)
                        *o++ = ' ';
                    blank = true;
                    ++r;
                    continue;
                }
            }
            size_t next;
            const char32_t c = Decode(r, next);
            // Markup leaves a blank, as white space does.
            const bool markup = c == '<' && next < end_ && SkipMarkup(next, r);
            if (markup || IsSpace(c)) {
                if (!blank)
                    *o++ = ' ';
                blank = true;
                if (!markup)
                    r = next;
                continue;
            }
            *o++ = Fold(c);
            blank = false;
            r = next;
        }
        if (o > start && o[-1] == ' ')
            --o;
        out.resize(size_t(o - start));
    }

private:
    // The character of the decoded text that starts at unit `i` (where an
    // escape or a character starts), and where the next one starts.
    char32_t Decode(size_t i, size_t& next) const
    {
        const unsigned u = u_[i];
        char32_t value;
        if ((u == '&' && Entity(i, value, next)) || (u == '\\' && JsonEscape(i, value, next)))
            return value;
        if (u < 0x80) {
            next = i + 1;
            return u;
        }
        return source_.Wide(i, end_, next);
    }

    // &#123; &#x1F; &name; (a name of the table).
    bool Entity(size_t i, char32_t& value, size_t& next) const
    {
        if (i + 2 >= end_)
            return false;
        size_t q = i + 1;
        value = 0;
        bool ok = false;
        if (u_[q] == '#') {
            ++q;
            const bool hex = q < end_ && (u_[q] == 'x' || u_[q] == 'X');
            if (hex)
                ++q;
            const size_t digits = q;
            while (q < end_ && q - digits < 8 &&
                   (hex ? HexValue(u_[q]) >= 0 : IsAsciiDigit(u_[q]))) {
                value = value * (hex ? 16 : 10) + char32_t(HexValue(u_[q]));
                ++q;
            }
            ok = q > digits && q < end_ && u_[q] == ';' && value > 0 && value <= 0x10FFFF;
        } else {
            const size_t name = q;
            while (q < end_ && q - name < 8 && (IsAsciiLetter(u_[q]) || IsAsciiDigit(u_[q])))
                ++q;
            if (q < end_ && u_[q] == ';') {
                char letters[8];
                for (size_t k = name; k < q; ++k)
                    letters[k - name] = char(u_[k]);
                const std::string_view written(letters, q - name);
                for (const NamedEntity& entity : namedEntities) {
                    if (entity.name == written) {
                        value = entity.character;
                        ok = true;
                        break;
                    }
                }
            }
        }
        if (ok)
            next = q + 1;
        return ok;
    }

    int Hex4(size_t at) const
    {
        int v = 0;
        for (size_t k = at; k < at + 4; ++k) {
            const int h = HexValue(u_[k]);
            if (h < 0)
                return -1;
            v = v * 16 + h;
        }
        return v;
    }

    // \n \r \t \f \b (a blank), \" \\ \/, \uHHHH and a surrogate pair written
    // as two of them. \u0000 is not decoded.
    bool JsonEscape(size_t i, char32_t& value, size_t& next) const
    {
        if (i + 1 >= end_)
            return false;
        value = 0;
        size_t length = 2;
        switch (u_[i + 1]) {
        case 'n':
        case 'r':
        case 't':
        case 'f':
        case 'b':
            value = ' ';
            break;
        case '"':
        case '\\':
        case '/':
            value = u_[i + 1];
            break;
        case 'u':
            if (i + 5 < end_) {
                const int v = Hex4(i + 2);
                if (v >= 0) {
                    value = char32_t(v);
                    length = 6;
                    if (v >= 0xD800 && v <= 0xDBFF && i + 11 < end_ && u_[i + 6] == '\\' &&
                        u_[i + 7] == 'u') {
                        const int low = Hex4(i + 8);
                        if (low >= 0xDC00 && low <= 0xDFFF) {
                            value =
                                0x10000 + ((char32_t(v) - 0xD800) << 10) + (char32_t(low) - 0xDC00);
                            length = 12;
                        }
                    }
                }
            }
            break;
        default:
            break;
        }
        next = i + length;
        return value != 0;
    }

    // Past the first decoded `target` (ASCII) from `from` on.
    bool FindDecoded(size_t from, char32_t target, size_t& after) const
    {
        for (size_t i = from;;) {
            i = FindUnit(u_, i, end_, target, '&', '\\');
            if (i == end_)
                return false;
            size_t next;
            if (Decode(i, next) == target) {
                after = next;
                return true;
            }
            i = next;
        }
    }

    // Whether the decoded text from `from` on starts with `lowerName` in
    // any case of ASCII letters; `after` is where it ends.
    bool MatchesName(size_t from, std::string_view lowerName, size_t& after) const
    {
        size_t i = from;
        for (const char letter : lowerName) {
            if (i >= end_)
                return false;
            char32_t c = Decode(i, i);
            if (c >= 'A' && c <= 'Z')
                c += 32;
            if (c != char32_t(letter))
                return false;
        }
        after = i;
        return true;
    }

    // Past the first "-->" of the decoded text from `from` on, or the end.
    size_t PastComment(size_t from) const
    {
        int dashes = 0;
        for (size_t i = from;;) {
            if (dashes == 0)
                i = FindUnit(u_, i, end_, '-', '&', '\\');
            if (i >= end_)
                return end_;
            size_t next;
            const char32_t c = Decode(i, next);
            if (c == '>' && dashes >= 2)
                return next;
            dashes = c == '-' ? dashes + 1 : 0;
            i = next;
        }
    }

    // Past the end tag "</name" (and its ">") of the decoded text from
    // `from` on, or the end.
    size_t PastEndTag(size_t from, std::string_view lowerName) const
    {
        for (size_t i = from;;) {
            i = FindUnit(u_, i, end_, '<', '&', '\\');
            if (i == end_)
                return end_;
            size_t next;
            if (Decode(i, next) == '<' && next < end_) {
                size_t name, after;
                if (Decode(next, name) == '/' && MatchesName(name, lowerName, after))
                    return FindDecoded(after, '>', after) ? after : end_;
            }
            i = next;
        }
    }

    // At a decoded "<" followed by another character at `after`: when a
    // comment, a tag, a script or a style sheet starts there, `r` is moved
    // past it.
    bool SkipMarkup(size_t after, size_t& r)
    {
        size_t second;
        const char32_t n = Decode(after, second);
        if (n == '!' && second < end_) {
            size_t third, fourth;
            if (Decode(second, third) == '-' && third < end_ && Decode(third, fourth) == '-') {
                r = PastComment(fourth);
                return true;
            }
        }
        if (!IsAsciiLetter(n) && n != '/' && n != '!' && n != '?')
            return false;
        // Once no ">" follows, none follows a later "<" either.
        size_t close;
        if (noClose_ || !FindDecoded(after, '>', close)) {
            noClose_ = true;
            return false;
        }
        size_t end;
        if (MatchesName(after, "script", end))
            r = PastEndTag(close, "script");
        else if (MatchesName(after, "style", end))
            r = PastEndTag(close, "style");
        else
            r = close;
        return true;
    }

    Source source_;
    const typename Source::Unit* u_;
    size_t end_;
    bool noClose_ = false;
};

// Normalises bytes read in a charset; UTF-8 and windows-1252 (nearly every
// page and every other file) without a detour through UTF-16.
void NormaliseBytes(std::string_view bytes, const std::string& charset, ClearTextBuffer& out)
{
    const auto* units = reinterpret_cast<const unsigned char*>(bytes.data());
    if (charset == "UTF-8") {
        const bool bom = bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
        Normaliser<Utf8Bytes>({units}, bytes.size()).Run(bom ? 3 : 0, out);
    } else if (charset == "windows-1252" || charset.empty()) {
        Normaliser<Windows1252Bytes>({units}, bytes.size()).Run(0, out);
    } else {
        NormaliseClearText(DecodeToUtf16(bytes, charset), out);
    }
}

std::u32string Copy(const ClearTextBuffer& text)
{
    return std::u32string(text.data(), text.size());
}

constexpr uint64_t hashBase = 0x100000001B3ull;
constexpr int filterBits = 24;
// Windows are kept in groups by the top bits of their key.
constexpr int groupBits = 16;
constexpr size_t groupCount = size_t(1) << groupBits;

// The 32 bits of a window's hash that the windows are ordered by; the
// filter's bucket and the group are their top bits.
uint32_t Key(uint64_t hash)
{
    return uint32_t((hash * 0x9E3779B97F4A7C15ull) >> 32);
}

size_t Bucket(uint32_t key)
{
    return key >> (32 - filterBits);
}

size_t Group(uint32_t key)
{
    return key >> (32 - groupBits);
}

uint64_t WindowHash(const char32_t* p, size_t length)
{
    uint64_t h = 0;
    for (size_t i = 0; i < length; ++i)
        h = h * hashBase + p[i];
    return h;
}

// Stored texts are UTF-8, as written for every value a character may have
// here: a lone surrogate takes three bytes like its neighbours, and a value
// beyond U+1FFFFF (never a character) a lead byte and six more, so that
// every value reads back and the start of a character is always found by
// stepping back over continuation bytes.
unsigned char* PutUtf8(unsigned char* o, char32_t c)
{
    if (c < 0x80) {
        *o++ = static_cast<unsigned char>(c);
    } else if (c < 0x800) {
        *o++ = static_cast<unsigned char>(0xC0 | (c >> 6));
        *o++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *o++ = static_cast<unsigned char>(0xE0 | (c >> 12));
        *o++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        *o++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else if (c < 0x200000) {
        *o++ = static_cast<unsigned char>(0xF0 | (c >> 18));
        *o++ = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
        *o++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        *o++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else {
        *o++ = 0xF8;
        for (int shift = 30; shift >= 0; shift -= 6)
            *o++ = static_cast<unsigned char>(0x80 | ((c >> shift) & 0x3F));
    }
    return o;
}
constexpr size_t longestUtf8 = 7;

// A run of characters in UTF-8; runs of ASCII eight at a time.
unsigned char* PutUtf8(unsigned char* o, const char32_t* from, const char32_t* to)
{
    while (from < to) {
#if defined(__SSE2__)
        while (to - from >= 8) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 4));
            const __m128i high = _mm_and_si128(_mm_or_si128(a, b), _mm_set1_epi32(~0x7F));
            if (_mm_movemask_epi8(_mm_cmpeq_epi32(high, _mm_setzero_si128())) != 0xFFFF)
                break;
            const __m128i words = _mm_packs_epi32(a, b);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_packus_epi16(words, words));
            o += 8;
            from += 8;
        }
        if (from == to)
            break;
#endif
        const char32_t c = *from++;
        if (c < 0x80)
            *o++ = static_cast<unsigned char>(c);
        else
            o = PutUtf8(o, c);
    }
    return o;
}

// The hash of a window of a fixed length, as WindowHash gives it, in four
// chains that the processor can work on at once.
class WindowHasher
{
public:
    explicit WindowHasher(size_t length)
        : length_(length), quarter_(length / 4), power1_(Power(length - quarter_)),
          power2_(Power(length - 2 * quarter_)), power3_(Power(length - 3 * quarter_))
    {
    }
    uint64_t operator()(const char32_t* p) const
    {
        const size_t q = quarter_;
        uint64_t h0 = 0, h1 = 0, h2 = 0, h3 = 0;
        for (size_t i = 0; i < q; ++i) {
            h0 = h0 * hashBase + p[i];
            h1 = h1 * hashBase + p[q + i];
            h2 = h2 * hashBase + p[2 * q + i];
            h3 = h3 * hashBase + p[3 * q + i];
        }
        for (size_t i = 4 * q; i < length_; ++i)
            h3 = h3 * hashBase + p[i];
        return h0 * power1_ + h1 * power2_ + h2 * power3_ + h3;
    }

private:
    static uint64_t Power(size_t n)
    {
        uint64_t result = 1, square = hashBase;
        for (; n > 0; n >>= 1, square *= square) {
            if (n & 1)
                result *= square;
        }
        return result;
    }

    size_t length_, quarter_;
    // hashBase to the power of length - quarter, length - 2 quarter and
    // length - 3 quarter: what each chain's hash is worth in the whole.
    uint64_t power1_, power2_, power3_;
};

// The character stored at `p`; `p` moves past it.
char32_t NextUtf8(const unsigned char*& p)
{
    const unsigned lead = *p++;
    if (lead < 0x80)
        return lead;
    const int more = lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : lead < 0xF8 ? 3 : 6;
    char32_t c = more == 6 ? 0 : lead & (0x3F >> more);
    for (int k = 0; k < more; ++k)
        c = (c << 6) | (*p++ & 0x3Fu);
    return c;
}

// Runs `work(t)` for t from 0 to count - 1, each on its own thread (the
// first on this one).
template <typename Work> void OnThreads(size_t count, const Work& work)
{
    std::vector<std::thread> threads;
    for (size_t t = 1; t < count; ++t)
        threads.emplace_back([&work, t] { work(t); });
    work(0);
    for (std::thread& thread : threads)
        thread.join();
}

// Room for page texts is taken in blocks of this size (or one page's
// size), windows in blocks of a large page (2 MB).
constexpr size_t blockBytes = size_t(4) << 20;
template <typename T> constexpr size_t perBlock = (size_t(2) << 20) / sizeof(T);

} // namespace

void NormaliseClearText(std::u16string_view text, ClearTextBuffer& out)
{
    Normaliser<Utf16Units>({text.data()}, text.size()).Run(0, out);
}

std::u32string NormaliseClearText(std::u16string_view text)
{
    ClearTextBuffer out;
    NormaliseClearText(text, out);
    return Copy(out);
}

void VisibleBodyText(std::string_view page, ClearTextBuffer& out)
{
    std::string_view body = page;
    const size_t start = FindNoCase(page, "<BODY");
    const size_t close = start == std::string_view::npos ? start : page.find('>', start);
    if (close != std::string_view::npos) {
        const size_t end = FindNoCase(page, "</BODY", close + 1);
        body = page.substr(close + 1, end == std::string_view::npos ? end : end - close - 1);
    }
    NormaliseBytes(body, DetectPageCharset(page), out);
}

std::u32string VisibleBodyText(std::string_view page)
{
    ClearTextBuffer out;
    VisibleBodyText(page, out);
    return Copy(out);
}

void NormalisedFileText(std::string_view bytes, ClearTextBuffer& out)
{
    NormaliseBytes(bytes, DetectPageCharset(bytes), out);
}

std::u32string NormalisedFileText(std::string_view bytes)
{
    ClearTextBuffer out;
    NormalisedFileText(bytes, out);
    return Copy(out);
}

// A window of a page's text: its key, and where it starts (in bytes of
// the stored text). Ordered by key, then by page and place, so that pages
// met at the same place are found in the order of their ids.
struct ClearTextIndex::Entry
{
    uint32_t key;
    uint32_t id;
    uint32_t at;
    bool operator<(const Entry& other) const
    {
        if (key != other.key)
            return key < other.key;
        return id != other.id ? id < other.id : at < other.at;
    }
};

// A page's text, in UTF-8.
struct ClearTextIndex::StoredPage
{
    const unsigned char* chars;
    size_t size;
    uint32_t id;
};

ClearTextIndex::Part::Part(size_t minChars)
    : minChars_(std::max<size_t>(minChars, 1)), window_(std::max<size_t>(minChars_ / 2, 1)),
      stride_(minChars_ + 1 - window_)
{
    // Any run of minChars characters holds a whole indexed window: windows
    // start every stride_ characters, and stride_ + window_ <= minChars + 1.
}

ClearTextIndex::Part::~Part() = default;
ClearTextIndex::Part::Part(Part&&) noexcept = default;
ClearTextIndex::Part& ClearTextIndex::Part::operator=(Part&&) noexcept = default;

unsigned char* ClearTextIndex::Part::Room(size_t bytes)
{
    if (freeBytes_ < bytes) {
        const size_t size = std::max(bytes, blockBytes);
        blocks_.emplace_back();
        blocks_.back().reserve(size);
        free_ = blocks_.back().data();
        freeBytes_ = size;
    }
    return free_;
}

ClearTextIndex::Entry* ClearTextIndex::Part::NextEntry()
{
    const size_t slot = entries_++ % perBlock<Entry>;
    if (slot == 0) {
        entryBlocks_.emplace_back();
        entryBlocks_.back().reserve(perBlock<Entry>);
    }
    return entryBlocks_.back().data() + slot;
}

void ClearTextIndex::Part::AddPage(int id, std::u32string_view text)
{
    if (text.size() < minChars_ || id < 0)
        return;
    if (groupSizes_.empty())
        groupSizes_.assign(groupCount, 0);
    // The text in UTF-8, and the windows with where each starts in it.
    // Places are kept in 32 bits: no window is indexed past four thousand
    // million bytes of one page.
    unsigned char* const start = Room(text.size() * longestUtf8);
    unsigned char* o = start;
    const char32_t* const chars = text.data();
    const WindowHasher hasher(window_);
    size_t done = 0;
    for (size_t at = 0; at + window_ <= text.size(); at += stride_) {
        o = PutUtf8(o, chars + done, chars + at);
        done = at;
        if (size_t(o - start) > std::numeric_limits<uint32_t>::max())
            break;
        const uint32_t key = Key(hasher(chars + at));
        *NextEntry() = {key, uint32_t(id), uint32_t(o - start)};
        ++groupSizes_[Group(key)];
    }
    o = PutUtf8(o, chars + done, chars + text.size());
    const auto used = size_t(o - start);
    pages_.push_back({start, used, uint32_t(id)});
    free_ += used;
    freeBytes_ -= used;
}

ClearTextIndex::ClearTextIndex(size_t minChars)
    : minChars_(std::max<size_t>(minChars, 1)), window_(std::max<size_t>(minChars_ / 2, 1)),
      stride_(minChars_ + 1 - window_), groupStarts_(groupCount + 1, 0),
      filter_((size_t(1) << filterBits) / 64)
{
    for (size_t i = 1; i < window_; ++i)
        topPower_ *= hashBase;
}

ClearTextIndex::~ClearTextIndex() = default;
ClearTextIndex::ClearTextIndex(ClearTextIndex&&) noexcept = default;
ClearTextIndex& ClearTextIndex::operator=(ClearTextIndex&&) noexcept = default;

ClearTextIndex::Part ClearTextIndex::NewPart() const
{
    return Part(minChars_);
}

void ClearTextIndex::AddPage(int id, std::u32string_view text)
{
    if (!own_)
        own_ = std::make_unique<Part>(NewPart());
    own_->AddPage(id, text);
}

void ClearTextIndex::Finish()
{
    std::vector<Part> parts;
    if (own_)
        parts.push_back(std::move(*own_));
    own_.reset();
    Finish(parts);
}

void ClearTextIndex::Finish(std::vector<Part>& parts)
{
    // The pages, by id.
    for (Part& part : parts) {
        pages_.insert(pages_.end(), part.pages_.begin(), part.pages_.end());
        for (auto& block : part.blocks_)
            blocks_.push_back(std::move(block));
    }
    std::sort(pages_.begin(), pages_.end(),
              [](const StoredPage& a, const StoredPage& b) { return a.id < b.id; });
    pageOfId_.assign(pages_.empty() ? 0 : size_t(pages_.back().id) + 1,
                     std::numeric_limits<uint32_t>::max());
    for (size_t i = 0; i < pages_.size(); ++i)
        pageOfId_[pages_[i].id] = uint32_t(i);

    // Where each group starts, and within it where each part's windows go
    // (each part's count per group becomes its next place in the group).
    uint32_t place = 0;
    for (size_t g = 0; g < groupCount; ++g) {
        groupStarts_[g] = place;
        for (Part& part : parts) {
            if (part.groupSizes_.empty())
                continue;
            const uint32_t size = part.groupSizes_[g];
            part.groupSizes_[g] = place;
            place += size;
        }
    }
    groupStarts_[groupCount] = place;
    entries_.clear();
    ResizeForWriting(entries_, place);

    // Each part's windows into their groups, then each group put in order
    // and its buckets marked in the filter (the groups' buckets do not
    // share words of the filter), a share of the groups per thread.
    const size_t threads = std::max<size_t>(parts.size(), 1);
    OnThreads(parts.size(), [&](size_t p) {
        Part& part = parts[p];
        for (size_t e = 0; e < part.entries_; ++e) {
            const Entry& entry = part.entryBlocks_[e / perBlock<Entry>].data()[e % perBlock<Entry>];
            entries_[part.groupSizes_[Group(entry.key)]++] = entry;
        }
        part.entryBlocks_.clear();
    });
    OnThreads(threads, [&](size_t t) {
        for (size_t g = groupCount * t / threads; g < groupCount * (t + 1) / threads; ++g) {
            Entry* const first = entries_.data() + groupStarts_[g];
            Entry* const last = entries_.data() + groupStarts_[g + 1];
            std::sort(first, last);
            for (const Entry* e = first; e != last; ++e) {
                const size_t bucket = Bucket(e->key);
                filter_[bucket / 64] |= uint64_t(1) << (bucket % 64);
            }
        }
    });
    for (Part& part : parts)
        part = NewPart();
}

// The length of the run of `text` around the window at `i` that stands in
// the page around the window at byte `at`, or 0 when the window itself
// differs.
size_t ClearTextIndex::RunAround(const StoredPage& page, size_t at, std::u32string_view text,
                                 size_t i) const
{
    const unsigned char* const begin = page.chars;
    const unsigned char* const end = begin + page.size;
    const unsigned char* p = begin + at;
    for (size_t k = 0; k < window_; ++k) {
        if (p == end || NextUtf8(p) != text[i + k])
            return 0;
    }
    size_t after = 0;
    while (i + window_ + after < text.size() && p != end &&
           NextUtf8(p) == text[i + window_ + after])
        ++after;
    size_t before = 0;
    for (const unsigned char* q = begin + at; before < i && q != begin; ++before) {
        do
            --q;
        while ((*q & 0xC0) == 0x80);
        const unsigned char* c = q;
        if (NextUtf8(c) != text[i - before - 1])
            break;
    }
    return before + window_ + after;
}

std::vector<int> ClearTextIndex::FindLeaks(std::u32string_view text) const
{
    std::vector<int> found;
    if (text.size() < minChars_ || entries_.empty())
        return found;
    // The pages found so far: few, so a list is quicker than a table that
    // would have to be cleared for every text.
    std::vector<uint32_t> seen;
    uint64_t hash = WindowHash(text.data(), window_);
    for (size_t i = 0;; ++i) {
        const uint32_t key = Key(hash);
        const size_t bucket = Bucket(key);
        if (filter_[bucket / 64] & (uint64_t(1) << (bucket % 64))) {
            const size_t group = Group(key);
            const Entry* const first = entries_.data() + groupStarts_[group];
            const Entry* const last = entries_.data() + groupStarts_[group + 1];
            const Entry* e = std::lower_bound(first, last, Entry{key, 0, 0});
            for (; e != last && e->key == key; ++e) {
                if (std::find(seen.begin(), seen.end(), e->id) != seen.end())
                    continue;
                if (RunAround(pages_[pageOfId_[e->id]], e->at, text, i) >= minChars_) {
                    seen.push_back(e->id);
                    found.push_back(int(e->id));
                }
            }
        }
        if (i + window_ >= text.size())
            break;
        hash = (hash - text[i] * topPower_) * hashBase + text[i + window_];
    }
    return found;
}

} // namespace kestrix
