// The text compared when looking for a secured page's clear text elsewhere,
// and the index that finds runs of it.
#include "protection/ClearText.h"

#include <gtest/gtest.h>

#include <thread>

using namespace kestrix;

namespace {

std::u32string Char(char32_t c)
{
    return std::u32string(1, c);
}

std::u16string Units(std::u32string_view text)
{
    std::u16string units;
    for (const char32_t c : text) {
        if (c >= 0x10000 && c <= 0x10FFFF) {
            units += char16_t(0xD800 + ((c - 0x10000) >> 10));
            units += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            units += char16_t(c);
        }
    }
    return units;
}

TEST(ClearText, NormalisesEscapesMarkupBlanksAndCase)
{
    const struct
    {
        const char* text; // UTF-8, read as a file's bytes
        std::u32string normalised;
    } cases[] = {
        {"  Hello,\t\n World  ", U"hello, world"},
        // Entities: numeric, hexadecimal, named, unknown and unfinished.
        {"a&amp;b &#65;&#x42;&#X63; &eacute; &nosuch; &amp", U"a&b abc \u00E9 &nosuch; &amp"},
        {"&#0; &#x110000; &#xD800;", U"&#0; &#x110000; " + Char(0xD800)},
        {"&#123456789;", U"&#123456789;"}, // more than eight digits
        // JSON string escapes, a surrogate pair among them; \u0000 is kept.
        {"x\\ny\\t\\\"q\\\" \\/ \\\\", U"x y \"q\" / \\"},
        {"\\u00C9T\\u00c9 \\uD83D\\uDE00 \\uD83D \\u0000",
         U"\u00E9t\u00E9 \U0001F600 " + Char(0xD83D) + U" \\u0000"},
        // Markup leaves a blank; escaped markup is markup too.
        {"one<b>two</b>three", U"one two three"},
        {"&lt;p&gt;para&lt;/p&gt;", U"para"},
        {"a<!-- hidden -- still -->b <!---->c", U"a b c"},
        {"a<script>var s = '<b>';</script>b<STYLE>p{}</Style >c", U"a b c"},
        {"a<script>never closed", U"a"},
        {"x < y and y > z", U"x < y and y > z"},
        {"a <b never closed", U"a <b never closed"},
        {"tail <", U"tail <"},
        {"<a title=\"1 &gt; 0\">x", U"0\">x"}, // an escaped ">" closes the tag
        // Case folded beyond ASCII; white space beyond ASCII collapsed.
        {"\xCE\xA3\xCE\x9F\xCE\xA6\xCE\x99\xCE\x91 \xC3\x84rger\xC2\xA0\xE2\x80\x83X",
         U"\u03C3\u03BF\u03C6\u03B9\u03B1 \u00E4rger x"},
        // Bytes that are not UTF-8 make the file windows-1252.
        {"caf\xE9 \x93quoted\x94", U"caf\u00E9 \u201Cquoted\u201D"},
        {"\xEF\xBB\xBF"
         "BOM",
         U"bom"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(NormalisedFileText(c.text), c.normalised);
    }
}

TEST(ClearText, ReadsContentUnitsAndBodiesLikeFiles)
{
    // The same text as UTF-16 units (surrogate pairs, a lone surrogate) and
    // as a page body in its charset.
    const std::u32string text =
        U"<p>\u03A9 \u212A Stra\u00DFe &amp; \U0001F600 " + Char(0xDC00) + U"</p>";
    EXPECT_EQ(NormaliseClearText(Units(text)),
              U"\u03C9 k stra\u00DFe & \U0001F600 " + Char(0xDC00));
    EXPECT_EQ(VisibleBodyText("<html><head><title>Not this</title><meta charset=\"iso-8859-1\">"
                              "</head><BODY class=x>Caf\xE9</BODY></html>"),
              U"caf\u00E9");
    EXPECT_EQ(VisibleBodyText("<meta charset=shift_jis><body>\x93\xFA\x96\x7B</body>"),
              U"\u65E5\u672C");
}

TEST(ClearText, MarkupAndEscapesAnywhereInTheBlocksReadAtOnce)
{
    // Tags, escapes and wide characters at every place of the first blocks
    // that are read at once, and texts that end inside one.
    for (size_t at = 0; at < 40; ++at) {
        SCOPED_TRACE(at);
        const std::u32string pad(at, U'a');
        EXPECT_EQ(NormaliseClearText(Units(pad + U"<i class=\"&quot;\\u0041\">X</i>" + pad)),
                  pad.empty() ? U"x" : pad + U" x " + pad);
        EXPECT_EQ(NormaliseClearText(Units(pad + U"\\u00C9&#x1F600;\u00C9\U0001F600" + pad)),
                  pad + U"\u00E9\U0001F600\u00E9\U0001F600" + pad);
        EXPECT_EQ(NormaliseClearText(Units(pad + U"<!--" + pad + U"-->")), pad);
        EXPECT_EQ(NormaliseClearText(Units(pad + U"&l")), pad + U"&l");
    }
}

std::u32string Words(size_t count, char32_t first)
{
    std::u32string text;
    for (size_t i = 0; i < count; ++i)
        text += char32_t(first + i % 23);
    return text;
}

TEST(ClearTextIndex, FindsRunsOfAtLeastTheLengthGiven)
{
    const std::u32string page = Words(200, U'a');
    const std::u32string wide =
        std::u32string{0xE9, 0x4E2D, 0x1F600, 0xD800, 0x7FFFFFFF} + Words(60, U'A');
    for (const size_t n : {1u, 2u, 7u, 40u, 41u}) {
        SCOPED_TRACE(n);
        ClearTextIndex index(n);
        index.AddPage(3, page);
        index.AddPage(8, wide);
        index.Finish();
        const struct
        {
            std::u32string text;
            std::vector<int> found;
        } cases[] = {
            {page.substr(50, n), {3}},
            {U"zz" + page.substr(0, n), {3}},    // the start of the page
            {page.substr(200 - n) + U"!!", {3}}, // its end
            {wide.substr(0, n) + U"-", {8}},     // characters of every width
            {page.substr(50, n - 1), {}},        // one character short
            {page.substr(50, n - 1) + U"#" + page.substr(50 + n, n - 1), {}},
            {wide.substr(2, n) + page.substr(9, n), {8, 3}},
        };
        for (const auto& c : cases) {
            if (c.text.size() < n && !c.found.empty())
                continue;
            EXPECT_EQ(index.FindLeaks(c.text), c.found);
        }
    }
}

TEST(ClearTextIndex, PagesMetAtTheSamePlaceComeInTheOrderOfTheirIds)
{
    const std::u32string shared = Words(80, U'k');
    ClearTextIndex index(40);
    std::vector<ClearTextIndex::Part> parts;
    parts.push_back(index.NewPart());
    parts.push_back(index.NewPart());
    // Filled by two threads, the higher ids first.
    std::thread other([&] {
        for (int id = 99; id >= 50; --id)
            parts[1].AddPage(id,
                             U"other " + shared + U" text " + std::u32string(1, U'0' + id % 10));
    });
    for (int id = 49; id >= 0; id -= 7)
        parts[0].AddPage(id, shared);
    other.join();
    index.Finish(parts);

    std::vector<int> expected;
    for (int id = 0; id < 100; ++id) {
        if (id >= 50 || (49 - id) % 7 == 0)
            expected.push_back(id);
    }
    EXPECT_EQ(index.FindLeaks(U"a " + shared + U" b"), expected);
    EXPECT_EQ(index.FindLeaks(U"x text 7 and more"), std::vector<int>{});
}

} // namespace
