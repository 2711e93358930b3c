#include "protection/ClearText.h"

#include "protection/PageCharset.h"
#include "protection/PageText.h"

#include <QChar>

#include <algorithm>

namespace kestrix {

namespace {

// Named character references that pages and feeds commonly use; others
// stay as they are written (the same on both sides of a comparison).
struct NamedEntity
{
    std::u32string_view name;
    char32_t character;
};
constexpr NamedEntity namedEntities[] = {
    {U"amp", U'&'},      {U"lt", U'<'},       {U"gt", U'>'},      {U"quot", U'"'},
    {U"apos", U'\''},    {U"nbsp", 0xA0},     {U"copy", 0xA9},    {U"reg", 0xAE},
    {U"trade", 0x2122},  {U"hellip", 0x2026}, {U"mdash", 0x2014}, {U"ndash", 0x2013},
    {U"lsquo", 0x2018},  {U"rsquo", 0x2019},  {U"ldquo", 0x201C}, {U"rdquo", 0x201D},
    {U"laquo", 0xAB},    {U"raquo", 0xBB},    {U"middot", 0xB7},  {U"bull", 0x2022},
    {U"euro", 0x20AC},   {U"pound", 0xA3},    {U"sect", 0xA7},    {U"deg", 0xB0},
    {U"times", 0xD7},    {U"divide", 0xF7},   {U"shy", 0xAD},     {U"eacute", 0xE9},
    {U"egrave", 0xE8},   {U"agrave", 0xE0},   {U"aacute", 0xE1},  {U"ccedil", 0xE7},
    {U"uuml", 0xFC},     {U"ouml", 0xF6},     {U"auml", 0xE4},    {U"szlig", 0xDF},
    {U"Uuml", 0xDC},     {U"Ouml", 0xD6},     {U"Auml", 0xC4},    {U"Eacute", 0xC9},
    {U"iacute", 0xED},   {U"oacute", 0xF3},   {U"uacute", 0xFA},  {U"ntilde", 0xF1},
    {U"ecirc", 0xEA},    {U"ocirc", 0xF4},    {U"acirc", 0xE2},   {U"icirc", 0xEE},
    {U"thinsp", 0x2009}, {U"ensp", 0x2002},   {U"emsp", 0x2003},  {U"zwj", 0x200D},
    {U"zwnj", 0x200C},
};

std::u32string_view View(const ClearTextBuffer& text)
{
    return {text.data(), text.size()};
}

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

void AppendUnits(ClearTextBuffer& out, std::u16string_view units)
{
    const size_t start = out.size();
    out.resize(start + units.size());
    char32_t* o = out.data() + start;
    for (size_t i = 0; i < units.size(); ++i) {
        const char32_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            *o++ = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
            ++i;
        } else {
            *o++ = u;
        }
    }
    out.resize(size_t(o - out.data()));
}

// The code points of bytes in a charset; UTF-8 and windows-1252 (nearly
// every page and every other file) without a detour through UTF-16.
void CodePoints(std::string_view bytes, const std::string& charset, ClearTextBuffer& out)
{
    out.clear();
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    if (charset == "UTF-8") {
        out.resize(bytes.size());
        char32_t* o = out.data();
        if (bytes.size() >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF)
            p += 3;
        while (p < end) {
            const unsigned b = *p;
            if (b < 0x80) {
                *o++ = b;
                ++p;
                continue;
            }
            const int n = b >= 0xC2 && b <= 0xDF   ? 2
                          : b >= 0xE0 && b <= 0xEF ? 3
                          : b >= 0xF0 && b <= 0xF4 ? 4
                                                   : 0;
            if (n == 0 || end - p < n ||
                !IsValidUtf8(std::string_view(reinterpret_cast<const char*>(p), size_t(n)))) {
                *o++ = 0xFFFD;
                ++p;
                continue;
            }
            char32_t c = n == 2 ? b & 0x1F : n == 3 ? b & 0x0F : b & 0x07;
            for (int i = 1; i < n; ++i)
                c = (c << 6) | (p[i] & 0x3F);
            *o++ = c;
            p += n;
        }
        out.resize(size_t(o - out.data()));
        return;
    }
    if (charset == "windows-1252" || charset.empty()) {
        out.resize(bytes.size());
        for (size_t i = 0; i < bytes.size(); ++i)
            out[i] = Windows1252Unit(p[i]);
        return;
    }
    AppendUnits(out, DecodeToUtf16(bytes, charset));
}

// Decodes HTML character references and JSON string escapes in place (what
// they stand for is never longer than they are).
void DecodeEscapes(ClearTextBuffer& text)
{
    const size_t size = text.size();
    size_t w = 0;
    for (size_t r = 0; r < size;) {
        const char32_t c = text[r];
        if (c == '&' && r + 2 < size) {
            // &#123; &#x1F; &name;
            size_t q = r + 1;
            char32_t value = 0;
            bool ok = false;
            if (text[q] == '#') {
                ++q;
                const bool hex = q < size && (text[q] == 'x' || text[q] == 'X');
                if (hex)
                    ++q;
                const size_t digits = q;
                while (q < size && q - digits < 8 &&
                       (hex ? HexValue(text[q]) >= 0 : IsAsciiDigit(text[q]))) {
                    value = value * (hex ? 16 : 10) + char32_t(HexValue(text[q]));
                    ++q;
                }
                ok = q > digits && q < size && text[q] == ';' && value > 0 && value <= 0x10FFFF;
            } else {
                const size_t name = q;
                while (q < size && q - name < 8 &&
                       (IsAsciiLetter(text[q]) || IsAsciiDigit(text[q])))
                    ++q;
                if (q < size && text[q] == ';') {
                    const std::u32string_view n(text.data() + name, q - name);
                    for (const NamedEntity& entity : namedEntities) {
                        if (entity.name == n) {
                            value = entity.character;
                            ok = true;
                            break;
                        }
                    }
                }
            }
            if (ok) {
                text[w++] = value;
                r = q + 1;
                continue;
            }
        } else if (c == '\\' && r + 1 < size) {
            const char32_t e = text[r + 1];
            char32_t value = 0;
            size_t length = 2;
            switch (e) {
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
                value = e;
                break;
            case 'u':
                if (r + 5 < size) {
                    int v = 0;
                    for (size_t i = r + 2; i < r + 6 && v >= 0; ++i) {
                        const int h = HexValue(text[i]);
                        v = h < 0 ? -1 : v * 16 + h;
                    }
                    if (v >= 0) {
                        value = char32_t(v);
                        length = 6;
                        // A surrogate pair written as two escapes.
                        if (v >= 0xD800 && v <= 0xDBFF && r + 11 < size && text[r + 6] == '\\' &&
                            text[r + 7] == 'u') {
                            int low = 0;
                            for (size_t i = r + 8; i < r + 12 && low >= 0; ++i) {
                                const int h = HexValue(text[i]);
                                low = h < 0 ? -1 : low * 16 + h;
                            }
                            if (low >= 0xDC00 && low <= 0xDFFF) {
                                value = 0x10000 + ((char32_t(v) - 0xD800) << 10) +
                                        (char32_t(low) - 0xDC00);
                                length = 12;
                            }
                        }
                    }
                }
                break;
            default:
                break;
            }
            if (value != 0) {
                text[w++] = value;
                r += length;
                continue;
            }
        }
        text[w++] = c;
        ++r;
    }
    text.resize(w);
}

bool MatchesNameNoCase(const ClearTextBuffer& text, size_t at, std::u32string_view lowerName)
{
    if (text.size() - at < lowerName.size())
        return false;
    for (size_t i = 0; i < lowerName.size(); ++i) {
        char32_t c = text[at + i];
        if (c >= 'A' && c <= 'Z')
            c += 32;
        if (c != lowerName[i])
            return false;
    }
    return true;
}

// Where the element's text ends: past the ">" of "</name" from `from` on,
// or the end of the text.
size_t PastEndTag(const ClearTextBuffer& text, size_t from, std::u32string_view lowerName)
{
    for (size_t i = from; i + 1 < text.size(); ++i) {
        if (text[i] == '<' && text[i + 1] == '/' && MatchesNameNoCase(text, i + 2, lowerName)) {
            const size_t close = View(text).find(U'>', i);
            return close == std::u32string_view::npos ? text.size() : close + 1;
        }
    }
    return text.size();
}

// Takes out tags, comments, scripts and style sheets, collapses white
// space and folds case, in place.
void StripAndFold(ClearTextBuffer& text)
{
    const size_t size = text.size();
    size_t w = 0;
    bool blank = true; // no blank at the start
    auto emitBlank = [&] {
        if (!blank) {
            text[w++] = ' ';
            blank = true;
        }
    };
    for (size_t r = 0; r < size;) {
        const char32_t c = text[r];
        if (c == '<' && r + 1 < size) {
            const char32_t n = text[r + 1];
            if (n == '!' && r + 3 < size && text[r + 2] == '-' && text[r + 3] == '-') {
                const size_t end = View(text).find(U"-->", r + 4);
                r = end == std::u32string_view::npos ? size : end + 3;
                emitBlank();
                continue;
            }
            if (IsAsciiLetter(n) || n == '/' || n == '!' || n == '?') {
                const size_t close = View(text).find(U'>', r + 1);
                if (close != std::u32string_view::npos) {
                    const bool script = MatchesNameNoCase(text, r + 1, U"script");
                    const bool style = MatchesNameNoCase(text, r + 1, U"style");
                    r = close + 1;
                    if (script)
                        r = PastEndTag(text, r, U"script");
                    else if (style)
                        r = PastEndTag(text, r, U"style");
                    emitBlank();
                    continue;
                }
            }
        }
        if (IsSpace(c)) {
            emitBlank();
            ++r;
            continue;
        }
        text[w++] = Fold(c);
        blank = false;
        ++r;
    }
    if (w > 0 && text[w - 1] == ' ')
        --w;
    text.resize(w);
}

constexpr uint64_t hashBase = 0x100000001B3ull;
constexpr int filterBits = 24;

size_t Bucket(uint64_t hash)
{
    return size_t((hash * 0x9E3779B97F4A7C15ull) >> (64 - filterBits));
}

uint64_t WindowHash(const char32_t* p, size_t length)
{
    uint64_t h = 0;
    for (size_t i = 0; i < length; ++i)
        h = h * hashBase + p[i];
    return h;
}

} // namespace

void NormaliseClearText(std::u16string_view text, ClearTextBuffer& out)
{
    out.clear();
    AppendUnits(out, text);
    DecodeEscapes(out);
    StripAndFold(out);
}

std::u32string NormaliseClearText(std::u16string_view text)
{
    ClearTextBuffer out;
    NormaliseClearText(text, out);
    return std::u32string(View(out));
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
    CodePoints(body, DetectPageCharset(page), out);
    DecodeEscapes(out);
    StripAndFold(out);
}

std::u32string VisibleBodyText(std::string_view page)
{
    ClearTextBuffer out;
    VisibleBodyText(page, out);
    return std::u32string(View(out));
}

void NormalisedFileText(std::string_view bytes, ClearTextBuffer& out)
{
    CodePoints(bytes, DetectPageCharset(bytes), out);
    DecodeEscapes(out);
    StripAndFold(out);
}

std::u32string NormalisedFileText(std::string_view bytes)
{
    ClearTextBuffer out;
    NormalisedFileText(bytes, out);
    return std::u32string(View(out));
}

ClearTextIndex::ClearTextIndex(size_t minChars)
    : minChars_(std::max<size_t>(minChars, 1)), window_(std::max<size_t>(minChars_ / 2, 1)),
      stride_(minChars_ + 1 - window_), filter_((size_t(1) << filterBits) / 64)
{
    // Any run of minChars characters holds a whole indexed window: windows
    // start every stride_ characters, and stride_ + window_ <= minChars + 1.
    for (size_t i = 1; i < window_; ++i)
        topPower_ *= hashBase;
}

void ClearTextIndex::AddPage(int id, std::u32string text)
{
    if (text.size() < minChars_)
        return;
    const auto page = uint32_t(pages_.size());
    for (size_t at = 0; at + window_ <= text.size(); at += stride_) {
        const uint64_t hash = WindowHash(text.data() + at, window_);
        entries_.push_back({hash, page, uint32_t(at)});
        const size_t bucket = Bucket(hash);
        filter_[bucket / 64] |= uint64_t(1) << (bucket % 64);
    }
    pages_.push_back({id, std::move(text)});
}

void ClearTextIndex::Finish()
{
    std::sort(entries_.begin(), entries_.end());
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
        const size_t bucket = Bucket(hash);
        if (filter_[bucket / 64] & (uint64_t(1) << (bucket % 64))) {
            auto [first, last] =
                std::equal_range(entries_.begin(), entries_.end(), Entry{hash, 0, 0});
            for (auto e = first; e != last; ++e) {
                if (std::find(seen.begin(), seen.end(), e->page) != seen.end())
                    continue;
                const std::u32string& page = pages_[e->page].text;
                if (std::u32string_view(page).substr(e->at, window_) != text.substr(i, window_))
                    continue;
                // The whole run around the window.
                size_t before = 0;
                while (before < i && before < e->at &&
                       text[i - before - 1] == page[e->at - before - 1])
                    ++before;
                size_t after = 0;
                while (i + window_ + after < text.size() && e->at + window_ + after < page.size() &&
                       text[i + window_ + after] == page[e->at + window_ + after])
                    ++after;
                if (before + window_ + after >= minChars_) {
                    seen.push_back(e->page);
                    found.push_back(pages_[e->page].id);
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
