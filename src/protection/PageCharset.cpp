#include "protection/PageCharset.h"
#include "platform/Text.h"

#include "protection/PageText.h"

#include <QStringDecoder>

#include <cerrno>
#include <iconv.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace kestrix {

namespace {

bool IconvKnows(const std::string& name)
{
    iconv_t cd = iconv_open("UTF-16LE", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    iconv_close(cd);
    return true;
}

// The value of a "charset=" in a Content-Type text, as browsers extract it.
std::string CharsetFromContentType(std::string_view content)
{
    const std::string lower = Lower(content);
    size_t pos = 0;
    while ((pos = lower.find("charset", pos)) != std::string::npos) {
        size_t i = pos + 7;
        while (i < lower.size() && IsSpace(lower[i]))
            ++i;
        if (i >= lower.size() || lower[i] != '=') {
            pos = i;
            continue;
        }
        ++i;
        while (i < lower.size() && IsSpace(lower[i]))
            ++i;
        if (i >= lower.size())
            return {};
        if (lower[i] == '"' || lower[i] == '\'') {
            const char quote = lower[i];
            size_t close = lower.find(quote, i + 1);
            if (close == std::string::npos)
                return {};
            return std::string(content.substr(i + 1, close - i - 1));
        }
        size_t stop = i;
        while (stop < lower.size() && !IsSpace(lower[stop]) && lower[stop] != ';')
            ++stop;
        return std::string(content.substr(i, stop - i));
    }
    return {};
}

// Reads the attributes of the tag starting at `pos` (just after the tag
// name) up to its ">"; calls `attribute(name, value)` for each.
template <typename F> size_t ReadAttributes(std::string_view text, size_t pos, F attribute)
{
    const size_t n = text.size();
    while (pos < n) {
        while (pos < n && (IsSpace(text[pos]) || text[pos] == '/'))
            ++pos;
        if (pos >= n || text[pos] == '>')
            return pos;
        size_t nameStart = pos;
        while (pos < n && !IsSpace(text[pos]) && text[pos] != '=' && text[pos] != '>' &&
               (text[pos] != '/' || pos == nameStart))
            ++pos;
        std::string name = Lower(text.substr(nameStart, pos - nameStart));
        while (pos < n && IsSpace(text[pos]))
            ++pos;
        std::string value;
        if (pos < n && text[pos] == '=') {
            ++pos;
            while (pos < n && IsSpace(text[pos]))
                ++pos;
            if (pos < n && (text[pos] == '"' || text[pos] == '\'')) {
                const char quote = text[pos++];
                size_t close = text.find(quote, pos);
                if (close == std::string_view::npos)
                    close = n;
                value = std::string(text.substr(pos, close - pos));
                pos = close + 1;
            } else {
                size_t start = pos;
                while (pos < n && !IsSpace(text[pos]) && text[pos] != '>')
                    ++pos;
                value = std::string(text.substr(start, pos - start));
            }
        }
        attribute(name, value);
    }
    return pos;
}

// The charset declared by a meta element before the body, or "".
std::string DeclaredCharset(std::string_view page)
{
    size_t limit = FindNoCase(page, "<BODY");
    if (limit == std::string_view::npos)
        limit = page.size();
    // Only the text before the body is looked at.
    const std::string_view headText = page.substr(0, limit);
    const std::string upper = UpperCaseAnsi(headText);
    size_t pos = 0;
    while (pos < limit) {
        size_t lt = upper.find('<', pos);
        if (lt == std::string::npos || lt >= limit)
            break;
        if (upper.compare(lt, 4, "<!--") == 0) {
            size_t close = upper.find("-->", lt + 4);
            if (close == std::string::npos)
                break;
            pos = close + 3;
            continue;
        }
        if (upper.compare(lt, 5, "<META") == 0 && lt + 5 < upper.size() &&
            (IsSpace(upper[lt + 5]) || upper[lt + 5] == '/')) {
            std::string charset, httpEquiv, content;
            pos = ReadAttributes(headText, lt + 5, [&](const std::string& n, const std::string& v) {
                if (n == "charset" && charset.empty())
                    charset = v;
                else if (n == "http-equiv")
                    httpEquiv = Lower(v);
                else if (n == "content")
                    content = v;
            });
            std::string label = charset;
            if (label.empty() && httpEquiv == "content-type")
                label = CharsetFromContentType(content);
            if (!label.empty()) {
                std::string normal = NormaliseCharsetLabel(label);
                // A meta that names UTF-16 means UTF-8, as browsers read it.
                if (normal == "UTF-16LE" || normal == "UTF-16BE")
                    normal = "UTF-8";
                if (!normal.empty())
                    return normal;
            }
            continue;
        }
        pos = lt + 1;
    }
    return {};
}

void AppendIconv(std::u16string& out, std::string_view bytes, const std::string& charset,
                 bool windows1252)
{
    iconv_t cd = iconv_open("UTF-16LE", charset.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        for (unsigned char b : bytes)
            out += static_cast<char16_t>(b);
        return;
    }
    std::string buffer(64 * 1024, '\0');
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        size_t outLeft = buffer.size();
        size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        const size_t produced = buffer.size() - outLeft;
        for (size_t i = 0; i + 1 < produced; i += 2)
            out += static_cast<char16_t>(static_cast<unsigned char>(buffer[i]) |
                                         (static_cast<unsigned char>(buffer[i + 1]) << 8));
        if (rc != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG)
            continue;
        // A byte the charset does not define: windows-1252 gives the control
        // character of the same value, as browsers do; others U+FFFD.
        out += windows1252 ? static_cast<char16_t>(static_cast<unsigned char>(*in)) : u'\uFFFD';
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
}

} // namespace

#if defined(__x86_64__) && defined(__GNUC__)
namespace {

// Past the run of ASCII at `p`, 32 bytes at a time, on processors that can.
[[gnu::target("avx2")]] const unsigned char* SkipAsciiWide(const unsigned char* p,
                                                           const unsigned char* end)
{
    while (end - p >= 32 &&
           _mm256_movemask_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))) == 0)
        p += 32;
    return p;
}

bool HasWideVectors()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

} // namespace
#endif

bool IsValidUtf8(std::string_view s)
{
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
#if defined(__x86_64__) && defined(__GNUC__)
    const bool wide = HasWideVectors();
#endif
    while (p < end) {
#if defined(__x86_64__) && defined(__GNUC__)
        if (wide)
            p = SkipAsciiWide(p, end);
#endif
#if defined(__SSE2__)
        // Runs of ASCII sixteen bytes at a time.
        while (end - p >= 16 &&
               _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))) == 0)
            p += 16;
        if (p == end)
            break;
#endif
        unsigned c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int extra;
        unsigned min;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            min = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            min = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            min = 0x10000;
        } else {
            return false;
        }
        if (end - p <= extra)
            return false;
        unsigned cp = c & (0x3F >> extra);
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        p += extra + 1;
    }
    return true;
}

char16_t Windows1252Unit(unsigned char byte)
{
    // Bytes 128 to 159; from 160 on the byte is the code point. The five
    // unassigned bytes stand for themselves.
    static constexpr char16_t low[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    return byte >= 0x80 && byte < 0xA0 ? low[byte - 0x80] : char16_t(byte);
}

std::string NormaliseCharsetLabel(std::string_view label)
{
    std::string l = Lower(label);
    while (!l.empty() && IsSpace(l.front()))
        l.erase(l.begin());
    while (!l.empty() && IsSpace(l.back()))
        l.pop_back();
    if (l.empty())
        return {};
    static const std::pair<const char*, const char*> aliases[] = {
        {"utf-8", "UTF-8"},
        {"utf8", "UTF-8"},
        {"unicode-1-1-utf-8", "UTF-8"},
        {"unicode11utf8", "UTF-8"},
        {"unicode20utf8", "UTF-8"},
        {"x-unicode20utf8", "UTF-8"},
        {"utf-16", "UTF-16LE"},
        {"utf-16le", "UTF-16LE"},
        {"unicode", "UTF-16LE"},
        {"ucs-2", "UTF-16LE"},
        {"utf-16be", "UTF-16BE"},
        {"unicodefffe", "UTF-16BE"},
        {"windows-1252", "windows-1252"},
        {"cp1252", "windows-1252"},
        {"x-cp1252", "windows-1252"},
        {"iso-8859-1", "windows-1252"},
        {"iso8859-1", "windows-1252"},
        {"iso88591", "windows-1252"},
        {"iso_8859-1", "windows-1252"},
        {"iso_8859-1:1987", "windows-1252"},
        {"iso-ir-100", "windows-1252"},
        {"latin1", "windows-1252"},
        {"l1", "windows-1252"},
        {"csisolatin1", "windows-1252"},
        {"cp819", "windows-1252"},
        {"ibm819", "windows-1252"},
        {"us-ascii", "windows-1252"},
        {"ascii", "windows-1252"},
        {"ansi_x3.4-1968", "windows-1252"},
        {"iso-8859-9", "windows-1254"},
        {"latin5", "windows-1254"},
        {"iso-8859-11", "windows-874"},
        {"tis-620", "windows-874"},
        {"gb2312", "GBK"},
        {"gbk", "GBK"},
        {"x-gbk", "GBK"},
        {"chinese", "GBK"},
        {"csgb2312", "GBK"},
        {"gb18030", "GB18030"},
        {"shift_jis", "CP932"},
        {"shift-jis", "CP932"},
        {"sjis", "CP932"},
        {"x-sjis", "CP932"},
        {"ms_kanji", "CP932"},
        {"windows-31j", "CP932"},
        {"csshiftjis", "CP932"},
        {"euc-kr", "CP949"},
        {"ks_c_5601-1987", "CP949"},
        {"windows-949", "CP949"},
        {"big5", "BIG5-HKSCS"},
        {"big5-hkscs", "BIG5-HKSCS"},
        {"x-x-big5", "BIG5-HKSCS"},
    };
    for (const auto& [name, charset] : aliases)
        if (l == name)
            return charset;
    std::string upper = UpperCaseAnsi(l);
    if (IconvKnows(upper))
        return upper;
    return {};
}

std::string DetectPageCharset(std::string_view page)
{
    if (page.size() >= 3 && page.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return "UTF-8";
    if (page.size() >= 2 && page.compare(0, 2, "\xFF\xFE") == 0)
        return "UTF-16LE";
    if (page.size() >= 2 && page.compare(0, 2, "\xFE\xFF") == 0)
        return "UTF-16BE";
    std::string declared = DeclaredCharset(page);
    if (!declared.empty())
        return declared;
    return IsValidUtf8(page) ? "UTF-8" : "windows-1252";
}

bool HasDeclaredCharset(std::string_view page)
{
    if (page.size() >= 3 && page.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return true;
    if (page.size() >= 2 &&
        (page.compare(0, 2, "\xFF\xFE") == 0 || page.compare(0, 2, "\xFE\xFF") == 0))
        return true;
    return !DeclaredCharset(page).empty();
}

std::u16string DecodeToUtf16(std::string_view bytes, const std::string& charset)
{
    std::u16string out;
    out.reserve(bytes.size());
    // Pure ASCII reads the same in every charset a page can declare here.
    bool ascii = true;
    for (unsigned char b : bytes)
        if (b >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii && charset != "UTF-16LE" && charset != "UTF-16BE") {
        out.assign(bytes.begin(), bytes.end());
        return out;
    }
    if (charset == "UTF-8" || charset == "UTF-16LE" || charset == "UTF-16BE") {
        QStringDecoder decoder(charset == "UTF-8"      ? QStringConverter::Utf8
                               : charset == "UTF-16LE" ? QStringConverter::Utf16LE
                                                       : QStringConverter::Utf16BE,
                               QStringConverter::Flag::Stateless |
                                   QStringConverter::Flag::ConvertInitialBom);
        const QString text = decoder.decode(QByteArrayView(bytes.data(), bytes.size()));
        return text.toStdU16String();
    }
    if (charset == "windows-1252" || charset.empty()) {
        AppendIconv(out, bytes, "CP1252", true);
        return out;
    }
    AppendIconv(out, bytes, charset, false);
    return out;
}

} // namespace kestrix
