#include "protection/Scramble.h"

#include "protection/PageCharset.h"

namespace kestrix {

namespace {

constexpr char hexDigits[] = "0123456789ABCDEF";

// Appends one scrambled code unit below 256 as ScrambleText writes it.
inline void AppendByte(std::string& out, unsigned c)
{
    if (c < 32 || c > 127 || c == '"' || c == '<' || c == '>' || c == '\\') {
        const char escape[4] = {'\\', 'x', hexDigits[c >> 4], hexDigits[c & 15]};
        out.append(escape, 4);
    } else {
        out += static_cast<char>(c);
    }
}

} // namespace

std::string ScrambleText(std::string_view text, std::string_view key)
{
    std::string out;
    if (key.empty())
        return std::string(text);
    out.reserve(text.size() + text.size() / 4 + 16);
    const size_t keyLength = key.size();
    size_t k = 0;
    for (unsigned char byte : text) {
        AppendByte(out, byte ^ (static_cast<unsigned char>(key[k]) & 31u));
        if (++k == keyLength)
            k = 0;
    }
    return out;
}

std::string ScrambleUnits(const std::u16string& units, std::string_view key)
{
    std::string out;
    out.reserve(units.size() + units.size() / 4 + 16);
    const size_t keyLength = key.size();
    size_t k = 0;
    for (char16_t unit : units) {
        const unsigned c = unit ^ (keyLength ? static_cast<unsigned char>(key[k]) & 31u : 0u);
        if (c < 256) {
            AppendByte(out, c);
        } else {
            const char escape[6] = {'\\',
                                    'u',
                                    hexDigits[c >> 12],
                                    hexDigits[(c >> 8) & 15],
                                    hexDigits[(c >> 4) & 15],
                                    hexDigits[c & 15]};
            out.append(escape, 6);
        }
        if (keyLength && ++k == keyLength)
            k = 0;
    }
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

std::string Layer(const std::string& scrambled, std::string_view key)
{
    const std::string loader = PercentEscape(LoaderSource(key));
    std::string layer;
    layer.reserve(48 + scrambled.size() + loader.size());
    layer += "<SCRIPT>p8Rfhjqh=\"";
    layer += scrambled;
    layer += "\";eval(unescape(\"";
    layer += loader;
    layer += "\"));</SCRIPT>";
    return layer;
}

} // namespace

std::string WrapInLoader(std::string_view text, std::string_view key)
{
    return Layer(ScrambleText(text, key), key);
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
    std::string result = Layer(ScrambleUnits(units, contentKey), contentKey);
    for (int i = 2; i <= level; ++i)
        result = WrapInLoader(result, contentKey);
    return result;
}

} // namespace kestrix
