// Scrambling text into loader layers and back.
#include "EngineTestSupport.h"

#include "protection/Scramble.h"

#include <gtest/gtest.h>

#include <random>

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
