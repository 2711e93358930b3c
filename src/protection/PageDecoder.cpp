#include "protection/PageDecoder.h"

#include "platform/Errors.h"
#include "protection/AccessScript.h"
#include "protection/Optimise.h"
#include "protection/PageCharset.h"
#include "protection/PageText.h"
#include "protection/Scramble.h"
#include "protection/SecurePage.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrix {

namespace {

constexpr std::string_view layerStart = "<SCRIPT>p8Rfhjqh=\"";
constexpr std::u16string_view layerStartUnits = u"<SCRIPT>p8Rfhjqh=\"";
constexpr std::string_view scriptStart = "<kestrix-script>";
constexpr std::string_view scriptEnd = "</kestrix-script>";
constexpr std::string_view contentStart = "<kestrix-content settings=\"";
constexpr std::string_view contentEnd = "</kestrix-content>";

// What follows the scrambled string in every content layer: the loader,
// percent-escaped, and the end of the script element.
const std::string& LayerEnd()
{
    static const std::string end =
        "\";eval(unescape(\"" + PercentEscape(LoaderSource(contentKey)) + "\"));</SCRIPT>";
    return end;
}

// How each character may stand in a scrambled string as securing writes it:
// 1 as itself (32 to 127 except " < > \), 0 not at all (only escaped).
struct RawTable
{
    bool raw[256] = {};
    constexpr RawTable()
    {
        for (int c = 32; c < 128; ++c)
            raw[c] = c != '"' && c != '<' && c != '>' && c != '\\';
    }
};
constexpr RawTable rawCharacters;

int HexDigit(char c)
{
    // Securing writes upper-case digits only.
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The key's XOR values, repeated once so that a phase can run past the end.
// The key's XOR values, repeated so that the 16 values from any phase on can
// be read at once.
struct KeyTable
{
    explicit KeyTable(std::string_view key) : length(key.size())
    {
        for (size_t i = 0; i < values.size(); ++i)
            values[i] = static_cast<uint8_t>(static_cast<uint8_t>(key[i % length]) & 31u);
    }
    std::array<uint8_t, 64> values{};
    size_t length;
};

#if defined(__SSE2__)
// Bit i set when byte i could not stand as itself in a scrambled string (a
// control character, a byte above 127, " < > or \\).
inline unsigned NotRawMask(__m128i x)
{
    const __m128i control = _mm_cmplt_epi8(x, _mm_set1_epi8(32));
    const __m128i quote = _mm_cmpeq_epi8(x, _mm_set1_epi8('"'));
    const __m128i backslash = _mm_cmpeq_epi8(x, _mm_set1_epi8('\\'));
    const __m128i angle = _mm_cmpeq_epi8(_mm_or_si128(x, _mm_set1_epi8(2)), _mm_set1_epi8('>'));
    return unsigned(_mm_movemask_epi8(
        _mm_or_si128(_mm_or_si128(control, quote), _mm_or_si128(backslash, angle))));
}

// Stores 16 unscrambled units.
inline void Store16(char* out, __m128i x)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), x);
}
inline void Store16(char16_t* out, __m128i x)
{
    const __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(x, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(x, zero));
}
#endif

// Undoes the scrambling of a string body as securing writes it: a raw
// character or a \xHH escape (only for the values that must be escaped) per
// code unit below 256, \uHHHH (only from 256 up) where `wide` allows. Each
// unit is XORed with its key value and stored at `out` (room for s.size()
// units). Returns false when the string is not one that securing writes;
// else `written` is the number of units stored.
template <typename Unit>
bool Unscramble(std::string_view s, const KeyTable& key, bool wide, Unit* out, size_t& written)
{
    Unit* const start = out;
    const auto* in = reinterpret_cast<const uint8_t*>(s.data());
    const auto* end = in + s.size();
    size_t k = 0;
    while (in < end) {
#if defined(__SSE2__)
        // Sixteen characters at a time: all sixteen are unscrambled and
        // stored, and as many are kept as are raw before the first escape
        // (the output never runs ahead of the input, so the store has room).
        while (end - in >= 16) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
            const __m128i keys =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(key.values.data() + k));
            Store16(out, _mm_xor_si128(x, keys));
            const unsigned mask = NotRawMask(x);
            const unsigned raw = mask == 0 ? 16 : unsigned(__builtin_ctz(mask));
            out += raw;
            in += raw;
            k += raw;
            if (k >= key.length)
                k -= key.length;
            if (raw < 16)
                break;
        }
#endif
        // A run of raw characters one by one.
        while (in < end && rawCharacters.raw[*in]) {
            *out++ = static_cast<Unit>(*in++ ^ key.values[k]);
            if (++k == key.length)
                k = 0;
        }
        if (in == end)
            break;
        if (*in != '\\' || end - in < 4)
            return false;
        unsigned value = 0;
        if (in[1] == 'x') {
            const int high = HexDigit(char(in[2])), low = HexDigit(char(in[3]));
            if (high < 0 || low < 0)
                return false;
            value = unsigned(high * 16 + low);
            if (value < 128 && rawCharacters.raw[value])
                return false;
            in += 4;
        } else if (in[1] == 'u' && wide && end - in >= 6) {
            for (int i = 2; i < 6; ++i) {
                const int digit = HexDigit(char(in[i]));
                if (digit < 0)
                    return false;
                value = value * 16 + unsigned(digit);
            }
            if (value < 256)
                return false;
            in += 6;
        } else {
            return false;
        }
        *out++ = static_cast<Unit>(value ^ key.values[k]);
        if (++k == key.length)
            k = 0;
    }
    written = size_t(out - start);
    return true;
}

// The scrambled string of a text that is exactly one content layer, or
// nothing. (A quote inside the string, which securing never writes, is
// refused when the string is unscrambled.)
std::optional<std::string_view> LayerString(std::string_view text)
{
    const std::string& end = LayerEnd();
    if (text.size() < layerStart.size() + end.size() || !text.starts_with(layerStart) ||
        !text.ends_with(end))
        return std::nullopt;
    return text.substr(layerStart.size(), text.size() - layerStart.size() - end.size());
}

bool StartsWithNoCase(std::string_view text, size_t at, std::string_view upperNeedle)
{
    return text.size() - at >= upperNeedle.size() &&
           FindNoCase(text.substr(at, upperNeedle.size()), upperNeedle) == 0;
}

// The HTML escapes of the settings attribute undone (HtmlEscapeText: the
// four entities, "&nbsp;" for a blank, "<BR>" for a line break).
std::string UnescapeAttribute(std::string_view attribute)
{
    static constexpr std::pair<std::string_view, std::string_view> entities[] = {
        {"&amp;", "&"},   {"&lt;", "<"},   {"&gt;", ">"},
        {"&quot;", "\""}, {"&nbsp;", " "}, {"<BR>", "\r\n"}};
    std::string out;
    out.reserve(attribute.size());
    for (size_t i = 0; i < attribute.size();) {
        bool replaced = false;
        if (attribute[i] == '&' || attribute[i] == '<') {
            for (const auto& [entity, text] : entities) {
                if (attribute.compare(i, entity.size(), entity) == 0) {
                    out += text;
                    i += entity.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced)
            out += attribute[i++];
    }
    return out;
}

// The value of a line "name=value" of the settings text.
std::optional<std::string_view> LineValue(std::string_view line, std::string_view name)
{
    if (line.size() <= name.size() || line.compare(0, name.size(), name) != 0 ||
        line[name.size()] != '=')
        return std::nullopt;
    return line.substr(name.size() + 1);
}

// Encodes with iconv from UTF-16LE; false when a character cannot be
// written in the charset.
bool EncodeWithIconv(std::u16string_view units, const std::string& charset, std::string& out)
{
    iconv_t cd = iconv_open(charset.c_str(), "UTF-16LE");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    std::string input(units.size() * 2, '\0');
    for (size_t i = 0; i < units.size(); ++i) {
        input[2 * i] = char(units[i] & 0xFF);
        input[2 * i + 1] = char(units[i] >> 8);
    }
    char* in = input.data();
    size_t inLeft = input.size();
    std::string buffer(64 * 1024, '\0');
    bool ok = true;
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        size_t outLeft = buffer.size();
        const size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer.data(), buffer.size() - outLeft);
        if (rc != static_cast<size_t>(-1))
            break;
        if (errno != E2BIG) {
            ok = false;
            break;
        }
    }
    if (ok) {
        char* outPtr = buffer.data();
        size_t outLeft = buffer.size();
        iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
        out.append(buffer.data(), buffer.size() - outLeft);
    }
    iconv_close(cd);
    return ok;
}

bool AllAscii(std::u16string_view units)
{
    for (char16_t u : units)
        if (u >= 0x80)
            return false;
    return true;
}

} // namespace

const char* DecodeProblemText(DecodeProblem problem)
{
    switch (problem) {
    case DecodeProblem::None:
        return "";
    case DecodeProblem::NotSecured:
        return "The page holds no scrambled content: it was not secured with encryption.";
    case DecodeProblem::NoBody:
        return "The page has no body start tag.";
    case DecodeProblem::MarkersMoved:
        return "The marker elements are not where securing puts them: the page was changed "
               "after it was secured.";
    case DecodeProblem::SettingsAltered:
        return "The settings attribute cannot be read back: it was changed after the page was "
               "secured.";
    case DecodeProblem::LoaderAltered:
        return "The loader scripts are not those that securing writes: they were changed after "
               "the page was secured.";
    }
    return "";
}

const char* RecoverProblemText(RecoverProblem problem)
{
    switch (problem) {
    case RecoverProblem::None:
        return "";
    case RecoverProblem::ScriptMoved:
        return "The page held a script marker element of its own, which securing moved: where "
               "it stood is not known.";
    case RecoverProblem::CharsetUndeclared:
        return "The page declares no character set and its body was not ASCII: the bytes it had "
               "cannot be told from the characters alone.";
    case RecoverProblem::NotEncodable:
        return "The content holds characters that the page's character set cannot write.";
    }
    return "";
}

const char* VerifyProblemText(VerifyProblem problem)
{
    switch (problem) {
    case VerifyProblem::None:
        return "";
    case VerifyProblem::NotAPage:
        return "The original has no body that securing could have split.";
    case VerifyProblem::HeadDiffers:
        return "The head differs from the original's.";
    case VerifyProblem::TailDiffers:
        return "The text after the body differs from the original's.";
    case VerifyProblem::ScriptDiffers:
        return "The access script is not the one its settings give.";
    case VerifyProblem::BodyDiffers:
        return "The scrambled content does not decode to the original's body.";
    }
    return "";
}

bool DecodeSettingsAttribute(std::string_view attribute, ProtectionSettings& settings)
{
    // Undo the HTML escapes and the scrambling with the settings key.
    const std::string scrambled = UnescapeAttribute(attribute);
    std::string text(scrambled.size(), '\0');
    static const KeyTable key(settingsKey);
    size_t written = 0;
    if (!Unscramble(scrambled, key, false, text.data(), written))
        return false;
    text.resize(written);

    // The settings text: the section line, the level's index and text, the
    // seventeen check boxes, an empty line; every line ending in CR LF.
    ProtectionSettings read;
    size_t pos = 0;
    auto nextLine = [&](std::string_view& line) {
        const size_t eol = text.find("\r\n", pos);
        if (eol == std::string::npos)
            return false;
        line = std::string_view(text).substr(pos, eol - pos);
        pos = eol + 2;
        return true;
    };
    std::string_view line;
    if (!nextLine(line) || line != "[" + std::string(settingsSection) + "]")
        return false;
    const std::string control = strengthControlName;
    if (!nextLine(line))
        return false;
    const auto index = LineValue(line, control + ".ItemIndex");
    if (!index || index->size() != 1 || (*index)[0] < '1' || (*index)[0] > '4')
        return false;
    read.StrengthLevel = (*index)[0] - '0';
    if (!nextLine(line))
        return false;
    const auto shown = LineValue(line, control + ".Text");
    if (!shown)
        return false;
    read.StrengthText = std::string(*shown);
    for (const SettingsCheckBox& box : settingsCheckBoxes) {
        if (!nextLine(line))
            return false;
        const auto value = LineValue(line, std::string(box.controlName) + ".Checked");
        if (!value || (*value != "0" && *value != "1"))
            return false;
        read.*box.field = *value == "1";
    }
    // The attribute must be exactly what securing writes for these
    // settings: nothing added, nothing changed.
    if (SettingsAttribute(read) != attribute)
        return false;
    settings = read;
    return true;
}

bool AnyOptimisationSwitch(const ProtectionSettings& s)
{
    return s.RemoveTbody || s.RemoveComments || s.ReplaceSimpleTags || s.RemoveEndP ||
           s.RemoveEndTR || s.RemoveEndTD || s.RemoveGroupComments || s.MergeWhitespace ||
           s.OptimizeCode;
}

DecodeProblem ReadSecuredLayout(std::string_view page, DecodedPage& decoded)
{
    // Everything but the room of the content and the scratch buffers, which
    // a caller that reads many pages with one DecodedPage uses again.
    decoded.head = decoded.scriptElement = decoded.accessScript = {};
    decoded.settingsAttribute = decoded.loaders = decoded.tail = {};
    decoded.settings = ProtectionSettings{};
    decoded.units.clear();
    decoded.earlierLayers = 0;
    if (!IsSecuredPage(page))
        return DecodeProblem::NotSecured;
    // The body start tag as securing finds it: the first start mark and the
    // first ">" after it. (The marker name may also stand before it, in a
    // style sheet of the head, say.)
    const size_t bodyStart = FindNoCase(page, "<BODY");
    const size_t close =
        bodyStart == std::string_view::npos ? bodyStart : page.find('>', bodyStart);
    if (close == std::string_view::npos)
        return DecodeProblem::NoBody;
    size_t pos = close + 1;
    decoded.head = page.substr(0, pos);

    // The script element, when there is one, then the content element.
    if (page.compare(pos, scriptStart.size(), scriptStart) == 0) {
        const size_t end = page.find(scriptEnd, pos);
        if (end == std::string_view::npos)
            return DecodeProblem::MarkersMoved;
        decoded.scriptElement = page.substr(pos, end + scriptEnd.size() - pos);
        decoded.accessScript =
            page.substr(pos + scriptStart.size(), end - pos - scriptStart.size());
        pos = end + scriptEnd.size();
    }
    if (page.compare(pos, contentStart.size(), contentStart) != 0)
        return DecodeProblem::MarkersMoved;
    pos += contentStart.size();
    const size_t quote = page.find('"', pos);
    if (quote == std::string_view::npos || quote + 1 >= page.size() || page[quote + 1] != '>')
        return DecodeProblem::MarkersMoved;
    decoded.settingsAttribute = page.substr(pos, quote - pos);
    const size_t loaders = quote + 2;
    const size_t end = page.find(contentEnd, loaders);
    if (end == std::string_view::npos)
        return DecodeProblem::MarkersMoved;
    const size_t tail = end + contentEnd.size();
    if (!StartsWithNoCase(page, tail, "</BODY"))
        return DecodeProblem::MarkersMoved;
    decoded.tail = page.substr(tail);
    decoded.loaders = page.substr(loaders, end - loaders);
    if (!decoded.lastAttribute.empty() && decoded.settingsAttribute == decoded.lastAttribute) {
        decoded.settings = decoded.lastSettings;
        return DecodeProblem::None;
    }
    if (!DecodeSettingsAttribute(decoded.settingsAttribute, decoded.settings))
        return DecodeProblem::SettingsAltered;
    decoded.lastAttribute = decoded.settingsAttribute;
    decoded.lastSettings = decoded.settings;
    return DecodeProblem::None;
}

DecodeProblem DecodeSecuredPage(std::string_view page, DecodedPage& decoded, bool peelEarlier)
{
    if (const DecodeProblem problem = ReadSecuredLayout(page, decoded);
        problem != DecodeProblem::None)
        return problem;

    // The layers from the outermost in: each scrambled string gives the text
    // of the next layer, the innermost gives the content's characters.
    static const KeyTable key(contentKey);
    std::string_view text = decoded.loaders;
    UninitialisedBuffer<char>* buffers = decoded.scratch;
    for (int layer = decoded.settings.StrengthLevel; layer > 1; --layer) {
        const auto scrambled = LayerString(text);
        if (!scrambled)
            return DecodeProblem::LoaderAltered;
        UninitialisedBuffer<char>& next = buffers[layer & 1];
        ResizeForWriting(next, scrambled->size());
        size_t written = 0;
        if (!Unscramble(*scrambled, key, false, next.data(), written))
            return DecodeProblem::LoaderAltered;
        next.resize(written);
        text = std::string_view(next.data(), next.size());
    }
    const auto scrambled = LayerString(text);
    if (!scrambled)
        return DecodeProblem::LoaderAltered;
    ResizeForWriting(decoded.units, scrambled->size());
    size_t written = 0;
    if (!Unscramble(*scrambled, key, true, decoded.units.data(), written))
        return DecodeProblem::LoaderAltered;
    decoded.units.resize(written);

    // A content that is itself exactly a loader came from an earlier
    // securing: undone as well when asked.
    while (peelEarlier && decoded.Content().starts_with(layerStartUnits) &&
           AllAscii(decoded.Content())) {
        const std::string inner(decoded.units.begin(), decoded.units.end());
        const auto earlier = LayerString(inner);
        if (!earlier)
            break;
        UninitialisedBuffer<char16_t>& units = decoded.scratchUnits;
        units.resize(earlier->size());
        size_t count = 0;
        if (!Unscramble(*earlier, key, true, units.data(), count))
            break;
        units.resize(count);
        decoded.units.swap(units);
        ++decoded.earlierLayers;
    }
    return DecodeProblem::None;
}

bool EncodeFromUtf16(std::u16string_view units, const std::string& charset, std::string& out)
{
    out.clear();
    if (AllAscii(units) && charset != "UTF-16LE" && charset != "UTF-16BE") {
        out.assign(units.begin(), units.end());
        return true;
    }
    if (charset == "UTF-8") {
        out.reserve(units.size() * 3 / 2);
        for (size_t i = 0; i < units.size(); ++i) {
            uint32_t c = units[i];
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
                units[i + 1] <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00u);
            } else if (c >= 0xD800 && c <= 0xDFFF) {
                return false; // a lone surrogate has no UTF-8 form
            }
            if (c < 0x80) {
                out += char(c);
            } else if (c < 0x800) {
                out += char(0xC0 | (c >> 6));
                out += char(0x80 | (c & 0x3F));
            } else if (c < 0x10000) {
                out += char(0xE0 | (c >> 12));
                out += char(0x80 | ((c >> 6) & 0x3F));
                out += char(0x80 | (c & 0x3F));
            } else {
                out += char(0xF0 | (c >> 18));
                out += char(0x80 | ((c >> 12) & 0x3F));
                out += char(0x80 | ((c >> 6) & 0x3F));
                out += char(0x80 | (c & 0x3F));
            }
        }
        return true;
    }
    if (charset == "UTF-16LE" || charset == "UTF-16BE") {
        const bool little = charset == "UTF-16LE";
        out.reserve(units.size() * 2);
        for (char16_t u : units) {
            out += char(little ? u & 0xFF : u >> 8);
            out += char(little ? u >> 8 : u & 0xFF);
        }
        return true;
    }
    if (charset == "windows-1252" || charset.empty()) {
        // The inverse of Windows1252Unit, which is one to one.
        static const auto table = [] {
            std::array<std::pair<char16_t, unsigned char>, 32> high{};
            for (int b = 0x80; b < 0xA0; ++b)
                high[size_t(b - 0x80)] = {Windows1252Unit(static_cast<unsigned char>(b)),
                                          static_cast<unsigned char>(b)};
            return high;
        }();
        out.reserve(units.size());
        for (char16_t u : units) {
            if (u < 0x80 || (u >= 0xA0 && u < 0x100)) {
                out += char(u);
                continue;
            }
            bool found = false;
            for (const auto& [unit, byte] : table) {
                if (unit == u) {
                    out += char(byte);
                    found = true;
                    break;
                }
            }
            if (!found)
                return false;
        }
        return true;
    }
    // Other charsets through iconv; what does not decode back to the same
    // characters is not written exactly.
    return EncodeWithIconv(units, charset, out) && DecodeToUtf16(out, charset) == units;
}

RecoverProblem RecoverOriginal(std::string_view page, const DecodedPage& decoded,
                               std::string& original)
{
    // A script element is taken out only when it is the access script that
    // the settings give; any other was the page's own, lifted out of its
    // place in the body.
    if (!decoded.scriptElement.empty() &&
        decoded.accessScript != BuildAccessScript(decoded.settings))
        return RecoverProblem::ScriptMoved;
    auto join = [&](std::string_view body) {
        original.clear();
        original.reserve(decoded.head.size() + body.size() + decoded.tail.size());
        original += decoded.head;
        original += body;
        original += decoded.tail;
    };
    std::string body;
    if (HasDeclaredCharset(page)) {
        if (!EncodeFromUtf16(decoded.Content(), DetectPageCharset(page), body))
            return RecoverProblem::NotEncodable;
        join(body);
        return RecoverProblem::None;
    }
    if (AllAscii(decoded.Content())) {
        join(std::string(decoded.Content().begin(), decoded.Content().end()));
        return RecoverProblem::None;
    }
    // Undeclared: securing read the page as UTF-8 when all of it was valid
    // UTF-8, else as windows-1252. A reading that gives back a page read the
    // same way is possible; when exactly one is, the bytes are known.
    std::optional<std::string> found;
    for (const char* charset : {"UTF-8", "windows-1252"}) {
        if (!EncodeFromUtf16(decoded.Content(), charset, body))
            continue;
        join(body);
        if (DetectPageCharset(original) != charset)
            continue;
        if (found)
            return RecoverProblem::CharsetUndeclared;
        found = original;
    }
    if (!found)
        return RecoverProblem::CharsetUndeclared;
    original.swap(*found);
    return RecoverProblem::None;
}

VerifyProblem VerifyAgainstOriginal(const DecodedPage& decoded, std::string_view original)
{
    // The original as it was, and as the optimisation read back would make it.
    std::string optimised;
    bool haveOptimised = false;
    if (AnyOptimisationSwitch(decoded.settings)) {
        optimised = std::string(original);
        try {
            OptimisePage(optimised, decoded.settings);
            haveOptimised = optimised != original;
        } catch (const Failure&) {
            // The original is beyond the optimisation's limits: securing
            // kept the page's text as the replacements left it, or failed.
        }
    }
    VerifyProblem best = VerifyProblem::NotAPage;
    auto check = [&](std::string_view text) {
        // The original's body in characters, read once while the pieces view
        // the same part of the text (a body joined from pieces is read anew).
        std::u16string units;
        std::string_view unitsOf;
        auto viewsText = [&](std::string_view body) {
            return body.data() >= text.data() &&
                   body.data() + body.size() <= text.data() + text.size();
        };
        for (ProtectionParts parts :
             {ProtectionParts(partEncrypt | partLimitAccess), ProtectionParts(partEncrypt)}) {
            SecuringPieces pieces;
            if (!SplitForSecuring(text, parts, decoded.settings, pieces) || !pieces.scrambled)
                return;
            VerifyProblem problem = VerifyProblem::None;
            if (pieces.head != decoded.head) {
                problem = VerifyProblem::HeadDiffers;
            } else if (pieces.tail != decoded.tail) {
                problem = VerifyProblem::TailDiffers;
            } else if (pieces.scriptElement != decoded.scriptElement) {
                problem = VerifyProblem::ScriptDiffers;
            } else {
                if (!viewsText(pieces.body) || unitsOf.data() != pieces.body.data() ||
                    unitsOf.size() != pieces.body.size()) {
                    units = DecodeToUtf16(pieces.body, DetectPageCharset(text));
                    unitsOf = viewsText(pieces.body) ? pieces.body : std::string_view();
                }
                if (units != decoded.Content())
                    problem = VerifyProblem::BodyDiffers;
            }
            if (int(problem) > int(best) || problem == VerifyProblem::None)
                best = problem;
            if (best == VerifyProblem::None)
                return;
        }
    };
    check(original);
    if (best != VerifyProblem::None && haveOptimised)
        check(optimised);
    return best;
}

} // namespace kestrix
