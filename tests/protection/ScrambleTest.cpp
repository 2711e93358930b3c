// Scrambling text into loader layers and back.
#include "EngineTestSupport.h"

#include "protection/PageCharset.h"
#include "protection/Scramble.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <vector>

using namespace kestrix;
using enginetest::DecodeScrambled;
using enginetest::UnitsToBytes;

namespace {

TEST(ScrambleText, EscapesExactlyTheUnsafeResults)
{
    // Key "@" has the value 0 (64 & 31), so bytes pass through unchanged and
    // the escaping rule shows alone.
    EXPECT_EQ(ScrambleText("abc", "@"), "abc");
    EXPECT_EQ(ScrambleText("\"<>\\", "@"), "\\x22\\x3C\\x3E\\x5C");
    EXPECT_EQ(ScrambleText(std::string("\x00\x1F\x20\x7E\x7F\x80\xFF", 7), "@"),
              "\\x00\\x1F ~\x7F\\x80\\xFF");
    EXPECT_EQ(ScrambleText("'&%", "@"), "'&%");
    // Key "A" XORs with 1: "a" becomes "`", "#" becomes '"', which is escaped.
    EXPECT_EQ(ScrambleText("a#", "A"), "`\\x22");
    // The key repeats: value of 'P' is 16, 'l' is 12.
    const std::string expected = {char('A' ^ 16), char('A' ^ 12), char('A' ^ 16)};
    EXPECT_EQ(ScrambleText("AAA", "Pl"), expected);
    EXPECT_EQ(ScrambleText("", contentKey), "");
}

TEST(ScrambleText, LineBreaksOnlyGiveEscapesOnly)
{
    const std::string s = ScrambleText("\r\n\r\n\r\n", contentKey);
    EXPECT_EQ(s.size(), 6u * 4u);
    for (size_t i = 0; i < s.size(); i += 4)
        EXPECT_EQ(s.substr(i, 2), "\\x");
}

TEST(ScrambleText, OutputIsSafeAndDecodesForEveryByte)
{
    std::mt19937 random(7);
    std::string text;
    for (int i = 0; i < 4096; ++i)
        text += char(random() & 0xFF);
    for (int b = 0; b < 256; ++b)
        text += char(b);
    for (std::string_view key : {contentKey, settingsKey, std::string_view("x")}) {
        const std::string s = ScrambleText(text, key);
        for (size_t i = 0; i < s.size(); ++i) {
            const unsigned char c = s[i];
            ASSERT_GE(c, 32u);
            ASSERT_LT(c, 128u);
            ASSERT_NE(c, '"');
            ASSERT_NE(c, '<');
            ASSERT_NE(c, '>');
            if (c == '\\') {
                ASSERT_EQ(s[i + 1], 'x');
                i += 3;
            }
        }
        const std::u16string units = DecodeScrambled(s, key);
        EXPECT_EQ(units.size(), text.size());
        EXPECT_EQ(UnitsToBytes(units), text);
        for (char16_t u : units)
            EXPECT_LT(u, 256);
    }
}

TEST(ScrambleUnits, WritesWideUnitsAsUnicodeEscapes)
{
    // Units below 256 as bytes are; from 256 up as \u and four upper-case digits.
    const std::u16string units = {u'a', u'\u00E9', u'\u20AC', u'\uFFFF', u'\u0100'};
    EXPECT_EQ(ScrambleUnits(units, "@"), "a\\xE9\\u20AC\\uFFFF\\u0100");
    // With a key, the XOR changes only the low five bits.
    EXPECT_EQ(ScrambleUnits(u"\u20AC", "A"), "\\u20AD");
    const std::u16string text = u"Gr\u00FC\u00DFe \u4E16\u754C \U0001F600 <tag> \"q\"";
    EXPECT_EQ(DecodeScrambled(ScrambleUnits(text, contentKey), contentKey), text);
    // ASCII units give exactly what the byte scrambler gives.
    EXPECT_EQ(ScrambleUnits(u"Hello <b>world</b>\r\n", contentKey),
              ScrambleText("Hello <b>world</b>\r\n", contentKey));
}

TEST(PercentEscape, EveryByteAsUpperCaseHex)
{
    EXPECT_EQ(PercentEscape("abc"), "%61%62%63");
    EXPECT_EQ(PercentEscape(std::string("\x00\xFF\n", 3)), "%00%FF%0A");
    EXPECT_EQ(PercentEscape(""), "");
}

TEST(WrapInLoader, LayerLayoutAndLength)
{
    const std::string loader = LoaderSource(contentKey);
    EXPECT_EQ(loader.size(), 165u + contentKey.size());
    EXPECT_EQ(loader, "for(t=\"\",ob55VIQ=0,k=\"PlumTreeQuietHarbors\";ob55VIQ<p8Rfhjqh.length;"
                      "ob55VIQ++)t+=String.fromCharCode(p8Rfhjqh.charCodeAt(ob55VIQ)^"
                      "(k.charCodeAt(ob55VIQ%k.length)&31));document.write(t);");
    EXPECT_EQ(LoaderSource("ab").size(), 167u);

    const std::string text = "<p>Hello</p>";
    const std::string layer = WrapInLoader(text, contentKey);
    const std::string expected = "<SCRIPT>p8Rfhjqh=\"" + ScrambleText(text, contentKey) +
                                 "\";eval(unescape(\"" + PercentEscape(loader) + "\"));</SCRIPT>";
    EXPECT_EQ(layer, expected);
    EXPECT_EQ(layer.size(),
              48 + 3 * (165 + contentKey.size()) + ScrambleText(text, contentKey).size());
    EXPECT_EQ(layer.find('\n'), std::string::npos);
}

TEST(ScrambleContent, LevelsNestLayers)
{
    const std::string text = "<h1>Title</h1>\r\n<p>Body &amp; more</p>";
    EXPECT_EQ(ScrambleContent(text, 0), text);
    EXPECT_EQ(ScrambleContent(text, 1), WrapInLoader(text, contentKey));
    for (int level = 1; level <= 4; ++level) {
        std::string layer = ScrambleContent(text, level);
        // Only the outermost script element is visible in the text.
        EXPECT_EQ(enginetest::Count(layer, "<SCRIPT>"), 1u);
        // Peel the layers as the browser would.
        for (int i = 0; i < level; ++i)
            layer = UnitsToBytes(DecodeScrambled(enginetest::LayerString(layer), contentKey));
        EXPECT_EQ(layer, text) << "level " << level;
    }
    // An empty content gives a layer whose string is empty.
    EXPECT_EQ(enginetest::LayerString(ScrambleContent("", 1)), "");
}

TEST(ScramblePageContent, MatchesTheByteFormForAsciiAndLatin1Pages)
{
    const std::string ascii = "<p>plain text</p>";
    for (int level = 0; level <= 4; ++level)
        EXPECT_EQ(ScramblePageContent(ascii, "<html><body>" + ascii + "</body></html>", level),
                  ScrambleContent(ascii, level));
    const std::string latin1 = "<p>Caf\xE9 \xA0\xFF</p>";
    const std::string page =
        "<html><head><meta charset=\"iso-8859-1\"></head><body>" + latin1 + "</body></html>";
    EXPECT_EQ(ScramblePageContent(latin1, page, 2), ScrambleContent(latin1, 2));
}

TEST(ScramblePageContent, Utf8ContentComesBackAsCharacters)
{
    const std::string utf8 = "<p>Caf\xC3\xA9 \xE2\x82\xAC \xE4\xB8\x96</p>";
    const std::string page =
        "<html><head><meta charset=\"utf-8\"></head><body>" + utf8 + "</body></html>";
    const std::string layer = ScramblePageContent(utf8, page, 1);
    EXPECT_EQ(DecodeScrambled(enginetest::LayerString(layer), contentKey),
              u"<p>Caf\u00E9 \u20AC \u4E16</p>");
    // Outer layers stay ASCII.
    const std::string nested = ScramblePageContent(utf8, page, 3);
    for (unsigned char c : nested)
        ASSERT_LT(c, 128u);
}

} // namespace

namespace {

// The scrambling as the description words it, one code unit at a time: the
// oracle for the vectorised writers.
std::string ReferenceScramble(const std::u16string& units, std::string_view key)
{
    std::string out;
    char buffer[8];
    for (size_t p = 0; p < units.size(); ++p) {
        const unsigned c = units[p] ^ (static_cast<unsigned char>(key[p % key.size()]) & 31u);
        if (c >= 256)
            std::snprintf(buffer, sizeof buffer, "\\u%04X", c);
        else if (c < 32 || c > 127 || c == '"' || c == '<' || c == '>' || c == '\\')
            std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
        else
            std::snprintf(buffer, sizeof buffer, "%c", char(c));
        out += buffer;
    }
    return out;
}

std::u16string BytesAsUnits(std::string_view bytes)
{
    std::u16string units;
    for (unsigned char b : bytes)
        units += char16_t(b);
    return units;
}

std::string ReferenceLayer(const std::u16string& units)
{
    return "<SCRIPT>p8Rfhjqh=\"" + ReferenceScramble(units, contentKey) + "\";eval(unescape(\"" +
           PercentEscape(LoaderSource(contentKey)) + "\"));</SCRIPT>";
}

// What securing must give: the content decoded as before, one layer around
// its characters, the others around the bytes of the layer inside.
std::string ReferencePageContent(std::string_view content, std::string_view page, int level)
{
    if (level == 0)
        return std::string(content);
    std::string layers = ReferenceLayer(DecodeToUtf16(content, DetectPageCharset(page)));
    for (int i = 2; i <= level; ++i)
        layers = ReferenceLayer(BytesAsUnits(layers));
    return layers;
}

// Random text of `size` bytes from the given alphabet of pieces.
std::string RandomText(std::mt19937& random, size_t size, const std::vector<std::string>& pieces)
{
    std::string text;
    while (text.size() < size)
        text += pieces[random() % pieces.size()];
    return text;
}

} // namespace

TEST(ScrambleText, MatchesTheReferenceForEveryDensityOfEscapes)
{
    std::mt19937 random(11);
    // From no escapes at all to nothing but escapes, at every length around
    // the sixteen-byte steps, with keys shorter and longer than a step.
    const std::vector<std::vector<std::string>> alphabets = {
        {"a", "b", "c", "d"},
        {"abcdefgh", "ijklmnop", "\n"},
        {"<p>", "x", "\"", "\r\n", " "},
        {"\\", "<", ">", "\""},
        {std::string(1, '\0'), "\x7F", "\x80", "\xFF", "~"},
    };
    const std::string_view keys[] = {contentKey, settingsKey, "x", "Pl",
                                     "a key longer than thirty-three bytes, for the steps"};
    for (const auto& alphabet : alphabets)
        for (std::string_view key : keys)
            for (size_t size : {0, 1, 15, 16, 17, 32, 33, 34, 49, 64, 100, 1000}) {
                const std::string text = RandomText(random, size, alphabet);
                ASSERT_EQ(ScrambleText(text, key), ReferenceScramble(BytesAsUnits(text), key))
                    << "size " << size << " key " << key;
            }
    // Every byte value at every key phase.
    std::string all;
    for (int i = 0; i < 20 * 256; ++i)
        all += char(i / 20);
    EXPECT_EQ(ScrambleText(all, contentKey), ReferenceScramble(BytesAsUnits(all), contentKey));
}

TEST(ScramblePageContent, MatchesTheReferenceForEveryCharsetAndLevel)
{
    std::mt19937 random(5);
    const std::vector<std::string> utf8 = {"a",
                                           "Hello ",
                                           "\r\n",
                                           "<b>",
                                           "\"q\"",
                                           "\xC3\xA9",
                                           "\xC2\x80",
                                           "\xDF\xBF",
                                           "\xE2\x82\xAC",
                                           "\xEF\xBB\xBF",
                                           "\xEF\xBF\xBE",
                                           "\xEF\xBF\xBF",
                                           "\xEF\xB7\x90",
                                           "\xED\x9F\xBF",
                                           "\xEE\x80\x80",
                                           "\xF0\x9F\x98\x80",
                                           "\xF4\x8F\xBF\xBF",
                                           "\xF0\x90\x80\x80"};
    std::vector<std::string> broken = utf8;
    for (const char* bad : {"\xFF", "\xC0\xAF", "\xED\xA0\x80", "\xC3", "\xE2\x82", "\x80",
                            "\xF5\x80\x80\x80", "\xF0\x9F\x98"})
        broken.push_back(bad);
    std::vector<std::string> bytes = {"plain text ", "\r\n", "<i>"};
    for (int b = 0x80; b < 0x100; b += 7)
        bytes.push_back(std::string(1, char(b)));
    const std::vector<std::string> ascii = {"text ", "<p>", "\r\n", "\t", "&amp;"};

    using namespace std::string_literals;
    const struct
    {
        std::string head;
        const std::vector<std::string>& alphabet;
    } pages[] = {
        {"<html><head><meta charset=\"utf-8\"></head><body>", utf8},
        {"<html><head><meta charset=\"utf-8\"></head><body>", broken},
        {"<html><head></head><body>", utf8},
        {"<html><head></head><body>", bytes},
        {"<html><head><meta charset=windows-1252></head><body>", bytes},
        {"<html><head><meta charset=koi8-r></head><body>", bytes},
        {"<html><head><meta charset=koi8-r></head><body>", ascii},
        {"<html><head><meta charset=shift_jis></head><body>", bytes},
        {"\xFF\xFE<\0b\0o\0d\0y\0>\0"s, bytes},
    };
    for (const auto& p : pages) {
        // Small contents, and contents of several pieces of the pipeline with
        // characters across the cuts.
        for (size_t size : {0, 1, 40, 100, 40000}) {
            const std::string content = RandomText(random, size, p.alphabet);
            const std::string page = p.head + content + "</body></html>";
            for (int level = 0; level <= 4; ++level) {
                if (size == 40000 && level > 2)
                    continue;
                const std::string reference = ReferencePageContent(content, page, level);
                ASSERT_EQ(ScramblePageContent(content, page, level), reference)
                    << p.head << " size " << size << " level " << level;
                // Streamed without being measured first, as a file is
                // written: broken UTF-8 must still be read decoded from
                // the first byte on. Measured afterwards, the size agrees.
                const PageContentLayers streamed(content, page, level);
                std::string pieces;
                streamed.AppendTo(pieces);
                ASSERT_EQ(pieces, reference) << p.head << " size " << size << " level " << level;
                ASSERT_EQ(streamed.Size(), reference.size());
            }
        }
    }
}

TEST(ScramblePageContent, LongTextKeepsCharactersWholeAcrossThePipelinesPieces)
{
    // Characters of two, three and four bytes one after another, shifted by
    // up to eight bytes: wherever the pipeline cuts the text into pieces, a
    // cut falls inside a character in some of these.
    std::string pattern;
    for (int i = 0; i < 6000; ++i)
        pattern += "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    const std::string head = "<html><head><meta charset=utf-8></head><body>";
    for (size_t shift = 0; shift <= 8; ++shift) {
        const std::string content = std::string(shift, 'a') + pattern;
        const std::string page = head + content + "</body></html>";
        for (int level : {1, 2})
            ASSERT_EQ(ScramblePageContent(content, page, level),
                      ReferencePageContent(content, page, level))
                << "shift " << shift << " level " << level;
    }
}
