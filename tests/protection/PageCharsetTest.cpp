// Finding a page's character set and decoding its bytes as a browser does.
#include "protection/PageCharset.h"

#include <gtest/gtest.h>

using namespace kestrix;

namespace {

TEST(DetectPageCharset, ByteOrderMarkComesFirst)
{
    EXPECT_EQ(DetectPageCharset("\xEF\xBB\xBF<meta charset=\"windows-1252\"><body>"), "UTF-8");
    EXPECT_EQ(DetectPageCharset(std::string("\xFF\xFE<\0", 4)), "UTF-16LE");
    EXPECT_EQ(DetectPageCharset(std::string("\xFE\xFF\0<", 4)), "UTF-16BE");
}

TEST(DetectPageCharset, MetaElementsBeforeTheBody)
{
    EXPECT_EQ(DetectPageCharset("<head><meta charset=utf-8></head><body>\xE9</body>"), "UTF-8");
    EXPECT_EQ(DetectPageCharset("<META CHARSET='ISO-8859-1'><body>"), "windows-1252");
    EXPECT_EQ(DetectPageCharset("<meta http-equiv=\"Content-Type\" "
                                "content=\"text/html; charset=windows-1251\"><body>"),
              "WINDOWS-1251");
    EXPECT_EQ(DetectPageCharset("<meta content='text/html;charset=\"Shift_JIS\"' "
                                "http-equiv=content-type /><body>"),
              "CP932");
    // A meta that names UTF-16 in an 8-bit page means UTF-8.
    EXPECT_EQ(DetectPageCharset("<meta charset=utf-16><body>\xE9"), "UTF-8");
    // A meta inside a comment, after the body start, or with an unknown
    // label is not taken; then the bytes decide.
    EXPECT_EQ(DetectPageCharset("<!-- <meta charset=koi8-r> --><body>\xE9</body>"), "windows-1252");
    EXPECT_EQ(DetectPageCharset("<body><meta charset=koi8-r>\xE9</body>"), "windows-1252");
    EXPECT_EQ(DetectPageCharset("<meta charset=no-such-thing><body>ok</body>"), "UTF-8");
    // A name that only starts like meta is another element.
    EXPECT_EQ(DetectPageCharset("<metadata charset=koi8-r><body>\xE9</body>"), "windows-1252");
}

TEST(DetectPageCharset, MetaAfterTheBodyStartTagInAnyCaseIsIgnored)
{
    // The body start tag ends the search whatever its case; a meta after it
    // does not decide, so the bytes do (\xE9 alone is not UTF-8).
    for (const char* body : {"<body>", "<BODY>", "<Body class=x>", "<bOdY\n>"}) {
        EXPECT_EQ(DetectPageCharset(std::string("<html><head></head>") + body +
                                    "<meta charset=koi8-r>\xE9</body></html>"),
                  "windows-1252")
            << body;
        EXPECT_EQ(DetectPageCharset(std::string("<head><meta charset=koi8-r></head>") + body +
                                    "\xE9</body>"),
                  "KOI8-R")
            << body;
    }
}

TEST(DetectPageCharset, BytesDecideWithoutADeclaration)
{
    EXPECT_EQ(DetectPageCharset("<body>plain</body>"), "UTF-8");
    EXPECT_EQ(DetectPageCharset("<body>caf\xC3\xA9</body>"), "UTF-8");
    EXPECT_EQ(DetectPageCharset("<body>caf\xE9</body>"), "windows-1252");
    // Overlong forms and surrogates are not valid UTF-8.
    EXPECT_EQ(DetectPageCharset("\xC0\xAF"), "windows-1252");
    EXPECT_EQ(DetectPageCharset("\xED\xA0\x80"), "windows-1252");
    EXPECT_EQ(DetectPageCharset("\xF0\x9F\x98\x80"), "UTF-8");
    EXPECT_EQ(DetectPageCharset("\xF0\x9F\x98"), "windows-1252");
}

TEST(DecodeToUtf16, Windows1252IncludingItsUnassignedBytes)
{
    EXPECT_EQ(DecodeToUtf16("\x80\x93\x94\xE9\xFF", "windows-1252"),
              u"\u20AC\u201C\u201D\u00E9\u00FF");
    // Bytes windows-1252 leaves unassigned come out as the control of that value.
    EXPECT_EQ(DecodeToUtf16("a\x81\x8D\x8F\x90\x9D"
                            "b",
                            "windows-1252"),
              u"a\u0081\u008D\u008F\u0090\u009Db");
    // An unknown charset reads as windows-1252.
    EXPECT_EQ(DecodeToUtf16("\x80", ""), u"\u20AC");
}

TEST(DecodeToUtf16, Utf8AndOtherCharsets)
{
    EXPECT_EQ(DecodeToUtf16("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "UTF-8"),
              u"\u00E9\u20AC\U0001F600");
    // A byte-order mark inside the content is kept as a character.
    EXPECT_EQ(DecodeToUtf16("\xEF\xBB\xBFx", "UTF-8"), u"\uFEFFx");
    // Broken sequences become U+FFFD and decoding goes on.
    EXPECT_EQ(DecodeToUtf16("a\xFF"
                            "b\xC3",
                            "UTF-8"),
              u"a\uFFFDb\uFFFD");
    EXPECT_EQ(DecodeToUtf16("\xA4\xA2", "CP932"), u"\uFF64\uFF62");
    EXPECT_EQ(DecodeToUtf16("\x82\xA0", "CP932"), u"\u3042");
    EXPECT_EQ(DecodeToUtf16("\xC1\xE1", "WINDOWS-1251"), u"\u0411\u0431");
    EXPECT_EQ(DecodeToUtf16("ascii only", "CP932"), u"ascii only");
}

TEST(NormaliseCharsetLabel, BrowserAliases)
{
    EXPECT_EQ(NormaliseCharsetLabel(" UTF8 "), "UTF-8");
    EXPECT_EQ(NormaliseCharsetLabel("us-ascii"), "windows-1252");
    EXPECT_EQ(NormaliseCharsetLabel("latin1"), "windows-1252");
    EXPECT_EQ(NormaliseCharsetLabel("gb2312"), "GBK");
    EXPECT_EQ(NormaliseCharsetLabel("iso-8859-2"), "ISO-8859-2");
    EXPECT_EQ(NormaliseCharsetLabel(""), "");
    EXPECT_EQ(NormaliseCharsetLabel("bogus-charset"), "");
}

} // namespace

TEST(Windows1252Unit, AgreesWithTheDecoderForEveryByte)
{
    for (int b = 0; b < 256; ++b) {
        const std::string byte(1, char(b));
        EXPECT_EQ(std::u16string(1, Windows1252Unit(static_cast<unsigned char>(b))),
                  DecodeToUtf16(byte, "windows-1252"))
            << b;
    }
}

TEST(IsValidUtf8, FindsTheFaultWhereverItStands)
{
    // A fault at every position around the sixteen-byte steps of the ASCII
    // scan, and good sequences at the same places.
    for (size_t at = 0; at < 40; ++at)
        for (const char* sequence : {"\xC3\xA9", "\xF0\x9F\x98\x80"}) {
            std::string text(40, 'a');
            text.insert(at, sequence);
            EXPECT_TRUE(IsValidUtf8(text)) << at;
            for (const char* fault : {"\xFF", "\xC3", "\x80", "\xED\xA0\x80"}) {
                std::string bad = text;
                bad.insert(at, fault);
                EXPECT_FALSE(IsValidUtf8(bad)) << at << " " << fault;
            }
        }
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_FALSE(IsValidUtf8(std::string(33, 'a') + "\xE2\x82"));
}
