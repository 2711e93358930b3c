#include "protection/Scramble.h"

#include "protection/PageCharset.h"

#include <type_traits>

namespace kestrix {

namespace {

constexpr char hexDigits[] = "0123456789ABCDEF";

// Which scrambled values below 256 must be written as \xHH.
struct EscapeTable
{
    bool escape[256];
    constexpr EscapeTable() : escape()
    {
        for (int c = 0; c < 256; ++c)
            escape[c] = c < 32 || c > 127 || c == '"' || c == '<' || c == '>' || c == '\\';
    }
};
constexpr EscapeTable escapeTable;

// Writes one scrambled code unit below 256 as ScrambleText writes it.
inline char* PutByte(char* out, unsigned c)
{
    if (escapeTable.escape[c]) {
        out[0] = '\\';
        out[1] = 'x';
        out[2] = hexDigits[c >> 4];
        out[3] = hexDigits[c & 15];
        return out + 4;
    }
    *out = static_cast<char>(c);
    return out + 1;
}

// The key's XOR values, one per key position.
std::string KeyValues(std::string_view key)
{
    std::string values(key);
    for (char& c : values)
        c = static_cast<char>(static_cast<unsigned char>(c) & 31u);
    return values;
}

} // namespace

namespace {

// Appends the scrambled form of a text of bytes (char) or UTF-16 code units
// (char16_t) to `out`, sized exactly first so it is written once.
template <typename Unit>
void AppendScrambled(std::string& out, std::basic_string_view<Unit> text, const std::string& values)
{
    const size_t keyLength = values.size();
    auto code = [&](Unit unit, size_t k) {
        return unsigned(std::make_unsigned_t<Unit>(unit)) ^ static_cast<unsigned char>(values[k]);
    };
    size_t size = 0, k = 0;
    for (Unit unit : text) {
        const unsigned c = code(unit, k);
        size += c >= 256 ? 6 : escapeTable.escape[c] ? 4 : 1;
        if (++k == keyLength)
            k = 0;
    }
    const size_t old = out.size();
    out.resize(old + size);
    char* o = out.data() + old;
    k = 0;
    for (Unit unit : text) {
        const unsigned c = code(unit, k);
        if (c < 256) {
            o = PutByte(o, c);
        } else {
            o[0] = '\\';
            o[1] = 'u';
            o[2] = hexDigits[c >> 12];
            o[3] = hexDigits[(c >> 8) & 15];
            o[4] = hexDigits[(c >> 4) & 15];
            o[5] = hexDigits[c & 15];
            o += 6;
        }
        if (++k == keyLength)
            k = 0;
    }
}

std::string NonEmptyKeyValues(std::string_view key)
{
    return key.empty() ? std::string(1, '\0') : KeyValues(key);
}

} // namespace

std::string ScrambleText(std::string_view text, std::string_view key)
{
    std::string out;
    AppendScrambled(out, text, NonEmptyKeyValues(key));
    return out;
}

std::string ScrambleUnits(const std::u16string& units, std::string_view key)
{
    std::string out;
    AppendScrambled(out, std::u16string_view(units), NonEmptyKeyValues(key));
    return out;
}

std::string PercentEscape(std::string_view text)
{
    std::string out;
    out.resize(text.size() * 3);
    char* p = out.data();
    for (unsigned char byte : text) {
        *p++ = '%';
        *p++ = hexDigits[byte >> 4];
        *p++ = hexDigits[byte & 15];
    }
    return out;
}

std::string LoaderSource(std::string_view key)
{
    std::string loader;
    loader.reserve(165 + key.size());
    loader += "for(t=\"\",ob55VIQ=0,k=\"";
    loader += key;
    loader += "\";ob55VIQ<p8Rfhjqh.length;ob55VIQ++)";
    loader += "t+=String.fromCharCode(p8Rfhjqh.charCodeAt(ob55VIQ)^(k.charCodeAt(ob55VIQ%k.length)&"
              "31));";
    loader += "document.write(t);";
    return loader;
}

namespace {

constexpr std::string_view layerStart = "<SCRIPT>p8Rfhjqh=\"";
constexpr std::string_view layerMiddle = "\";eval(unescape(\"";
constexpr std::string_view layerEnd = "\"));</SCRIPT>";

// One layer around a scrambled string that `appendScrambled` writes.
template <typename F> std::string Layer(std::string_view key, size_t sizeHint, F appendScrambled)
{
    const std::string loader = PercentEscape(LoaderSource(key));
    std::string layer;
    layer.reserve(48 + sizeHint + loader.size());
    layer += layerStart;
    appendScrambled(layer);
    layer += layerMiddle;
    layer += loader;
    layer += layerEnd;
    return layer;
}

} // namespace

std::string WrapInLoader(std::string_view text, std::string_view key)
{
    const std::string values = NonEmptyKeyValues(key);
    return Layer(key, text.size() + text.size() / 8,
                 [&](std::string& out) { AppendScrambled(out, text, values); });
}

std::string ScrambleContent(std::string_view text, int level)
{
    std::string result(text);
    for (int i = 1; i <= level; ++i)
        result = WrapInLoader(result, contentKey);
    return result;
}

std::string ScramblePageContent(std::string_view content, std::string_view page, int level)
{
    if (level <= 0)
        return std::string(content);
    // The innermost layer works on characters; every outer layer scrambles
    // the ASCII text of the layer inside it.
    const std::u16string units = DecodeToUtf16(content, DetectPageCharset(page));
    const std::string values = KeyValues(contentKey);
    std::string result = Layer(contentKey, units.size() + units.size() / 8, [&](std::string& out) {
        AppendScrambled(out, std::u16string_view(units), values);
    });
    for (int i = 2; i <= level; ++i)
        result = WrapInLoader(result, contentKey);
    return result;
}

} // namespace kestrix
