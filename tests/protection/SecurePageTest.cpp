// Securing whole pages: the layout of the result and every rule of the run.
#include "EngineTestSupport.h"

#include "protection/AccessScript.h"
#include "protection/PageText.h"
#include "protection/Scramble.h"
#include "protection/SecurePage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>

using namespace kestrix;

namespace {

ProtectionEngine MakeEngine(ProtectionParts parts, int level = 2)
{
    ProtectionEngine e;
    e.settings.StrengthLevel = level;
    e.settings.StrengthText = strengthLevelNames[level];
    e.SetProtectionParts(parts);
    return e;
}

std::string ContentElement(const ProtectionSettings& s, const std::string& content)
{
    return "<kestrix-content settings=\"" + SettingsAttribute(s) + "\">" +
           ScrambleContent(content, s.StrengthLevel) + "</kestrix-content>";
}

std::string ScriptElement(const ProtectionSettings& s)
{
    return "<kestrix-script>" + BuildAccessScript(s) + "</kestrix-script>";
}

const std::string head = "<!DOCTYPE html>\r\n<html><head><title>T</title></head>\r\n"
                         "<BODY class=\"x\" onload=\"go()\">";
const std::string body = "\r\n<p>Hello</p>\r\n";
const std::string tail = "</BODY>\r\n</html>\r\n";
const std::string page = head + body + tail;

TEST(SecurePage, AllThreeProtectionsGiveTheFourPieces)
{
    ProtectionEngine e = MakeEngine(allProtectionParts);
    e.settings.DisableRightClicking = true;
    std::string text = page;
    ASSERT_TRUE(e.SecurePage(text));
    EXPECT_EQ(text, head + ScriptElement(e.settings) + ContentElement(e.settings, body) + tail);
    EXPECT_TRUE(IsSecuredPage(text));
}

TEST(SecurePage, BodyTagsAreFoundInAnyCase)
{
    ProtectionEngine e = MakeEngine(partEncrypt, 1);
    for (const char* open : {"<body>", "<BODY>", "<Body bgcolor=red>"}) {
        for (const char* close : {"</body>", "</BODY>", "</bOdY >"}) {
            const std::string h = std::string("<html><head></head>") + open;
            std::string text = h + "x" + close + "</html>";
            ASSERT_TRUE(e.SecurePage(text)) << open << close;
            EXPECT_EQ(text, h + ContentElement(e.settings, "x") + close + "</html>");
        }
    }
}

TEST(SecurePage, LimitAccessAloneKeepsTheBodyInClear)
{
    ProtectionEngine e = MakeEngine(partLimitAccess);
    e.settings.HideScriptErrors = true;
    std::string text = page;
    ASSERT_TRUE(e.SecurePage(text));
    EXPECT_EQ(text, head + ScriptElement(e.settings) + body + tail);
    EXPECT_FALSE(IsSecuredPage(text));

    // A second run replaces the script element, never doubles it.
    e.settings.HideScriptErrors = false;
    e.settings.DisablePrinting = true;
    ASSERT_TRUE(e.SecurePage(text));
    EXPECT_EQ(text, head + ScriptElement(e.settings) + body + tail);

    // With every switch off the old element goes and no new one comes.
    e.settings.DisablePrinting = false;
    ASSERT_TRUE(e.SecurePage(text));
    EXPECT_EQ(text, page);
}

TEST(SecurePage, OldScriptElementFoundInAnyCaseIsReplaced)
{
    ProtectionEngine e = MakeEngine(partLimitAccess);
    e.settings.DisableDragAndDrop = true;
    std::string text = head + "a<KESTRIX-SCRIPT><script>old()</script></Kestrix-Script>b" + tail;
    ASSERT_TRUE(e.SecurePage(text));
    EXPECT_EQ(text, head + ScriptElement(e.settings) + "ab" + tail);
}

TEST(SecurePage, EncryptAloneKeepsAnExistingScriptElementOutside)
{
    ProtectionEngine e = MakeEngine(partLimitAccess);
    e.settings.DisableSelection = true;
    std::string text = page;
    ASSERT_TRUE(e.SecurePage(text));
    const std::string script = ScriptElement(e.settings);

    ProtectionEngine enc = MakeEngine(partEncrypt, 1);
    ASSERT_TRUE(enc.SecurePage(text));
    // The text before and after the script element is scrambled together.
    EXPECT_EQ(text, head + script + ContentElement(enc.settings, body) + tail);

    // The same with text on both sides of the element.
    std::string mixed = head + "before" + script + "after" + tail;
    ASSERT_TRUE(enc.SecurePage(mixed));
    EXPECT_EQ(mixed, head + script + ContentElement(enc.settings, "beforeafter") + tail);
}

TEST(SecurePage, EncryptAndLimitLiftsTheNewScriptOutOfTheContent)
{
    // An upper-case script marker left in the body is removed by the access
    // step (any case) and a new element is placed in front of the content.
    ProtectionEngine e = MakeEngine(partEncrypt | partLimitAccess, 1);
    e.settings.BreakOutOfFrames = true;
    std::string text = head + "<KESTRIX-SCRIPT>old</KESTRIX-SCRIPT>" + body + tail;
    ASSERT_TRUE(e.SecurePage(text));
    EXPECT_EQ(text, head + ScriptElement(e.settings) + ContentElement(e.settings, body) + tail);
}

TEST(SecurePage, SecuringTwiceNestsTheLayers)
{
    ProtectionEngine e = MakeEngine(partEncrypt, 2);
    std::string text = page;
    ASSERT_TRUE(e.SecurePage(text));
    const std::string once = text;
    ASSERT_TRUE(e.SecurePage(text));
    // The old marker's tags are dropped and its loaders scrambled again.
    const std::string oldLoaders = ScrambleContent(body, 2);
    EXPECT_EQ(text, head + ContentElement(e.settings, oldLoaders) + tail);
    EXPECT_EQ(enginetest::Count(text, "kestrix-content"), 2u); // one start and one end tag
    // Peeling four layers gives the body back.
    const size_t open = text.find("\">", text.find("<kestrix-content")) + 2;
    std::string layer = text.substr(open, text.find("</kestrix-content>") - open);
    for (int i = 0; i < 4; ++i)
        layer = enginetest::UnitsToBytes(
            enginetest::DecodeScrambled(enginetest::LayerString(layer), contentKey));
    EXPECT_EQ(layer, body);
    (void)once;
}

TEST(SecurePage, LevelZeroUnwrapsAnOldMarker)
{
    ProtectionEngine e = MakeEngine(partEncrypt, 1);
    std::string text = page;
    ASSERT_TRUE(e.SecurePage(text));
    ProtectionEngine zero = MakeEngine(partEncrypt, 0);
    ASSERT_TRUE(zero.SecurePage(text));
    EXPECT_EQ(text, head + ScrambleContent(body, 1) + tail);
    EXPECT_FALSE(IsSecuredPage(text));
    // Level 0 on a plain page changes nothing and adds no marker.
    std::string plain = page;
    ASSERT_TRUE(zero.SecurePage(plain));
    EXPECT_EQ(plain, page);
}

TEST(SecurePage, OptimisationRunsOnlyWhenActiveAndAsked)
{
    const std::string p = "<html><body><table><tr><td>a</TD></tr></table><p>b</p></body></html>";
    ProtectionEngine e = MakeEngine(partOptimise);
    e.settings.RemoveEndTD = true;
    e.settings.RemoveEndP = true;
    std::string text = p;
    ASSERT_TRUE(e.SecurePage(text));
    EXPECT_EQ(text, p) << "OptimiseActive is false";
    e.OptimiseActive = true;
    ASSERT_TRUE(e.SecurePage(text));
    EXPECT_EQ(text, "<html><body><table><tr><td>a </tr></table><p>b </body></html>");

    // Without partOptimise the switches do nothing, whatever the flag says.
    ProtectionEngine lim = MakeEngine(partLimitAccess);
    lim.settings.RemoveEndTD = true;
    lim.OptimiseActive = true;
    std::string limited = p;
    ASSERT_TRUE(lim.SecurePage(limited));
    EXPECT_EQ(limited, p);

    // Optimisation with encryption: the optimised body is what gets scrambled.
    ProtectionEngine both = MakeEngine(partOptimise | partEncrypt, 1);
    both.settings.RemoveEndP = true;
    both.OptimiseActive = true;
    std::string secured = "<html><body><p>x</p></body></html>";
    ASSERT_TRUE(both.SecurePage(secured));
    EXPECT_EQ(secured, "<html><body>" + ContentElement(both.settings, "<p>x ") + "</body></html>");
}

TEST(SecurePage, NoParts)
{
    ProtectionEngine e = MakeEngine({});
    std::string text = "no body at all";
    EXPECT_TRUE(e.SecurePage(text));
    EXPECT_EQ(text, "no body at all");
}

TEST(SecurePage, PagesWithoutABodyAreLeftAsTheyWere)
{
    const std::string pages[] = {
        "",
        "<html><head></head></html>",
        "<html><body><p>no end tag</p></html>",
        "<html><p>no start tag</p></body></html>",
        "<html></body><p>end first</p><body></html>",
        "<html><body",
        "<html><body onload=\"</body>\">x</html>",
        std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR<body", 20),
    };
    for (ProtectionParts parts :
         {ProtectionParts(partEncrypt), ProtectionParts(partLimitAccess), allProtectionParts}) {
        ProtectionEngine e = MakeEngine(parts);
        e.settings.DisableStatusBar = true;
        e.settings.RemoveEndP = true;
        e.OptimiseActive = true;
        for (const std::string& p : pages) {
            std::string text = p;
            EXPECT_FALSE(e.SecurePage(text)) << p;
            EXPECT_EQ(text, p);
        }
    }
}

TEST(SecurePage, MarkersWithoutClosingTagsAreTreatedAsAbsent)
{
    ProtectionEngine e = MakeEngine(partEncrypt | partLimitAccess, 1);
    e.settings.HideScriptErrors = true;
    // A script marker without its end tag stays part of the content.
    const std::string b1 = "<kestrix-script>x<p>text</p>";
    std::string text = "<body>" + b1 + "</body>";
    ASSERT_TRUE(e.SecurePage(text));
    EXPECT_EQ(text,
              "<body>" + ScriptElement(e.settings) + ContentElement(e.settings, b1) + "</body>");
    // A content marker without its end tag is not unwrapped.
    const std::string b2 = "<kestrix-content settings=\"\">loaders";
    std::string text2 = "<body>" + b2 + "</body>";
    ProtectionEngine enc = MakeEngine(partEncrypt, 1);
    ASSERT_TRUE(enc.SecurePage(text2));
    EXPECT_EQ(text2, "<body>" + ContentElement(enc.settings, b2) + "</body>");
    // The names in plain text are just text.
    const std::string b3 = "About kestrix-script and kestrix-content.";
    std::string text3 = "<body>" + b3 + "</body>";
    ASSERT_TRUE(e.SecurePage(text3));
    EXPECT_EQ(text3,
              "<body>" + ScriptElement(e.settings) + ContentElement(e.settings, b3) + "</body>");
}

// A secured page written in pieces: the bytes are those SecurePage gives,
// as many as Size() said, and a page that cannot be secured writes none. A
// page declared UTF-8 that turns out malformed late in a long body is
// settled before the first piece is handed out.
TEST(SecuredPage, WritesWhatSecurePageGivesAndNothingForAFailure)
{
    struct Recorder final : PageWriter
    {
        std::string bytes;
        int pieces = 0;
        void Write(std::string_view piece) override
        {
            bytes += piece;
            ++pieces;
        }
    };
    std::string longBody;
    for (int i = 0; i < 3000; ++i)
        longBody += "<p>Caf\xC3\xA9 \xE2\x82\xAC line " + std::to_string(i) + "</p>\r\n";
    const std::string utf8Head = "<html><head><meta charset=\"utf-8\"></head><body>kestrix-script";
    struct Case
    {
        const char* what;
        std::string page;
        ProtectionParts parts;
        int level;
        bool secured;
    } cases[] = {
        {"every part", page, allProtectionParts, 2, true},
        {"level 4", page, partEncrypt, 4, true},
        {"level 0", page, partEncrypt | partLimitAccess, 0, true},
        {"access script only", page, partLimitAccess, 2, true},
        {"optimisation only", "<body><p>a</p> <!-- c --></body>", partOptimise, 2, true},
        {"malformed late in a long body",
         utf8Head + longBody + "\xE2\x82 \xC3\x28" + longBody + "</body>", partEncrypt, 3, true},
        {"windows-1252 undeclared", "<body>caf\xE9 \x80 \x93q\x94</body>", partEncrypt, 1, true},
        {"earlier markers",
         "<body><kestrix-content settings=\"x\">old</kestrix-content>"
         "<kestrix-script><script>a</script></kestrix-script>b</body>",
         allProtectionParts, 2, true},
        {"no body", "<html>text</html>", allProtectionParts, 2, false},
        {"end before start", "</body><body>", partEncrypt, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProtectionEngine engine = MakeEngine(c.parts, c.level);
        engine.OptimiseActive = true;
        engine.settings.DisableSelection = true;
        engine.settings.RemoveGroupComments = true;
        const SecuredPage secured(engine, c.page);
        EXPECT_EQ(secured.Secured(), c.secured);
        Recorder recorder;
        secured.WriteTo(recorder);
        std::string text = c.page;
        EXPECT_EQ(engine.SecurePage(text), c.secured);
        if (c.secured) {
            EXPECT_EQ(recorder.bytes, text);
            EXPECT_EQ(recorder.bytes.size(), secured.Size());
        } else {
            EXPECT_EQ(recorder.pieces, 0);
            EXPECT_EQ(secured.Size(), 0u);
        }
    }
}

TEST(IsSecuredPage, CaseSensitiveSubstring)
{
    EXPECT_TRUE(IsSecuredPage("visible text mentions kestrix-content here"));
    EXPECT_FALSE(IsSecuredPage("<KESTRIX-CONTENT>"));
    EXPECT_FALSE(IsSecuredPage("kestrix-contenT"));
    EXPECT_FALSE(IsSecuredPage(""));
}

TEST(PageText, SplitExtractUnwrap)
{
    bool found = false;
    TextPieces s = SplitAtElement("a<BODY x=1>b</body>c", "body", &found);
    EXPECT_TRUE(found);
    EXPECT_EQ(s.before, "a<BODY x=1>");
    EXPECT_EQ(s.middle, "b");
    EXPECT_EQ(s.after, "</body>c");
    // The first start mark is taken even when it is a longer name.
    s = SplitAtElement("<bodyx><body>y</body>", "body", &found);
    EXPECT_EQ(s.before, "<bodyx>");

    TextPieces x = ExtractElement("a<k-s>b</K-S >c<k-s>d</k-s>", "k-s", &found);
    EXPECT_TRUE(found);
    EXPECT_EQ(x.before, "a");
    EXPECT_EQ(x.middle, "<k-s>b</K-S >");
    EXPECT_EQ(x.after, "c<k-s>d</k-s>");
    x = ExtractElement("</k-s>a<k-s>b", "k-s", &found);
    EXPECT_FALSE(found);
    EXPECT_EQ(x.before, "</k-s>a<k-s>b");

    EXPECT_EQ(UnwrapElement("a<k-c s=\"1\">b</k-c>c", "k-c"), "abc");
    EXPECT_EQ(UnwrapElement("abc", "k-c"), "abc");
    EXPECT_EQ(UnwrapElement("a<k-c>b", "k-c"), "a<k-c>b");
    EXPECT_EQ(UnwrapElement("</k-c>a<k-c>b", "k-c"), "</k-c>a<k-c>b");

    // Upper-casing keeps every position: Latin-1 letters included.
    EXPECT_EQ(UpperCaseAnsi("abz\xE9\xF7\xFF"), "ABZ\xC9\xF7\x9F");
}

TEST(SecurePage, Utf8PageContentIsScrambledAsCharacters)
{
    ProtectionEngine e = MakeEngine(partEncrypt, 1);
    const std::string h = "<html><head><meta charset=\"utf-8\"></head><body>";
    const std::string b = "\xE2\x80\x9CQuoted\xE2\x80\x9D \xC3\xA9";
    std::string text = h + b + "</body></html>";
    ASSERT_TRUE(e.SecurePage(text));
    const size_t open = text.find("\">", text.find("<kestrix-content")) + 2;
    const std::string layer = text.substr(open, text.find("</kestrix-content>") - open);
    EXPECT_EQ(enginetest::DecodeScrambled(enginetest::LayerString(layer), contentKey),
              u"\u201CQuoted\u201D \u00E9");
    for (unsigned char c : text.substr(h.size()))
        ASSERT_LT(c, 128u);
}

} // namespace

TEST(SecurePage, ContentDecodedWithTheCharsetDeclaredBeforeTheBody)
{
    ProtectionEngine e = MakeEngine(partEncrypt, 1);
    const struct
    {
        const char* head;
        const char* body;
        std::u16string units;
    } cases[] = {
        // A meta before the body decides; \xE9 is "И" in KOI8-R.
        {"<html><head><meta charset=koi8-r></head><body>", "\xE9", u"\u0418"},
        {"<HTML><HEAD><META CHARSET=KOI8-R></HEAD><BODY>", "\xE9", u"\u0418"},
        // After the body start tag, in any case, a meta is content only: the
        // bytes decide (windows-1252 here, UTF-8 when they are UTF-8).
        {"<html><head></head><body>", "<meta charset=koi8-r>\xE9", u"<meta charset=koi8-r>\u00E9"},
        {"<html><head></head><BODY>", "<meta charset=koi8-r>\xE9", u"<meta charset=koi8-r>\u00E9"},
        {"<html><head></head><BODY class=x>", "<META charset=\"koi8-r\">\xC3\xA9",
         u"<META charset=\"koi8-r\">\u00E9"},
    };
    for (const auto& c : cases) {
        std::string text = std::string(c.head) + c.body + "</body></html>";
        ASSERT_TRUE(e.SecurePage(text)) << c.head;
        const size_t open = text.find("\">", text.find("<kestrix-content")) + 2;
        const std::string layer = text.substr(open, text.find("</kestrix-content>") - open);
        EXPECT_EQ(enginetest::DecodeScrambled(enginetest::LayerString(layer), contentKey), c.units)
            << c.head << c.body;
    }
}

TEST(FindNoCase, AgreesWithAPlainSearch)
{
    // The vectorised search against a byte-by-byte one, for needles whose
    // first and last letters have lower-case forms (Latin-1 ones too) and for
    // needles that start with a sign, at every offset around its steps.
    std::mt19937 random(3);
    const std::string alphabet = "<>/-bBoOdDyYkK\xE9\xC9\xFF\x9F x";
    auto plain = [](const std::string& text, const std::string& needle, size_t from) {
        const std::string upper = UpperCaseAnsi(text);
        for (size_t pos = from; pos + needle.size() <= text.size(); ++pos)
            if ((text[pos] == needle[0] || upper[pos] == needle[0]) &&
                upper.compare(pos + 1, needle.size() - 1, needle, 1) == 0)
                return pos;
        return std::string::npos;
    };
    for (const std::string needle : {"</BODY", "<BODY", "KESTRIX-", "\xC9Y", "B", "--", "\x9F-"}) {
        for (int round = 0; round < 300; ++round) {
            std::string text;
            const size_t size = random() % 80;
            for (size_t i = 0; i < size; ++i)
                text += alphabet[random() % alphabet.size()];
            // Plant the needle, in mixed case, at a random place now and then.
            if (round % 2 && size >= needle.size()) {
                const size_t at = random() % (size - needle.size() + 1);
                for (size_t i = 0; i < needle.size(); ++i)
                    text[at + i] = (random() & 1)
                                       ? needle[i]
                                       : char(std::tolower(static_cast<unsigned char>(needle[i])));
            }
            const size_t from = size ? random() % (size + 1) : 0;
            ASSERT_EQ(FindNoCase(text, needle, from), plain(text, needle, from))
                << needle << " in " << text << " from " << from;
            // Two needles in one pass find the first of either.
            if (needle.size() >= 2) {
                const size_t a = plain(text, "KESTRIX-", from), b = plain(text, needle, from);
                bool second = false;
                ASSERT_EQ(FindEitherNoCase(text, "KESTRIX-", needle, from, &second), std::min(a, b))
                    << needle << " in " << text << " from " << from;
                if (std::min(a, b) != std::string::npos) {
                    EXPECT_EQ(second, b < a) << needle << " in " << text;
                }
            }
        }
    }
}
