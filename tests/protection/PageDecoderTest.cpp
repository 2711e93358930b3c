// Reading secured pages back: every page that securing writes decodes to
// what went in, and anything else is refused with its reason.
#include "protection/PageDecoder.h"
#include "protection/AccessScript.h"
#include "protection/PageCharset.h"
#include "protection/SecurePage.h"

#include <gtest/gtest.h>

using namespace kestrix;

namespace {

struct PageCase
{
    const char* name;
    std::string page;
    bool recoverable; // recover gives the bytes back
};

std::string Page(const std::string& head, const std::string& body)
{
    return "<!DOCTYPE html>\r\n<html><head>" + head + "<title>T</title></head>\r\n<BODY class=x>" +
           body + "</body>\r\n</html>\r\n";
}

std::string AllBytes()
{
    std::string s;
    for (int b = 1; b < 256; ++b)
        s += char(b);
    return s;
}

const std::vector<PageCase>& Pages()
{
    static const std::vector<PageCase> pages = {
        {"ascii undeclared", Page("", "\r\n<p>Hello \"world\" <b>x</b> \\ &amp;</p>\t\n"), true},
        {"empty body", Page("", ""), true},
        {"marker names in the head",
         Page("<style>kestrix-content,kestrix-script{display:contents}</style>", "<p>x</p>"), true},
        {"utf-8 declared", Page("<meta charset=\"utf-8\">", "<p>Grüße, 日本語, 😀</p>"), true},
        {"utf-8 bom", "\xEF\xBB\xBF" + Page("", "<p>caf\xC3\xA9</p>"), true},
        {"windows-1252 declared",
         Page("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">",
              "<p>caf\xE9 \x80 \x81 \x9D\xFF</p>"),
         true},
        {"latin-2 declared", Page("<meta charset=\"iso-8859-2\">", "<p>\xB1\xE6\xEA</p>"), true},
        {"shift_jis declared", Page("<meta charset=\"shift_jis\">", "<p>\x93\xfa\x96\x7b</p>"),
         true},
        {"windows-1252 every byte", Page("<meta charset=\"windows-1252\">", AllBytes()), true},
        // Undeclared and not ASCII: which bytes securing read is not known
        // from the characters alone (either reading gives a valid page).
        {"utf-8 undeclared", Page("", "<p>Grüße</p>"), false},
        // Undeclared, but the head is not UTF-8: only windows-1252 fits.
        {"windows-1252 undeclared, head not utf-8", Page("<!-- \xE9 -->", "<p>caf\xE9</p>"), true},
    };
    return pages;
}

struct Switches
{
    const char* name;
    ProtectionParts parts;
    void (*set)(ProtectionSettings&);
};

const Switches switchSets[] = {
    {"encrypt only", partEncrypt, [](ProtectionSettings&) {}},
    {"no access switch", partEncrypt | partLimitAccess, [](ProtectionSettings&) {}},
    {"one access switch", partEncrypt | partLimitAccess,
     [](ProtectionSettings& s) { s.HideScriptErrors = true; }},
    {"every access switch", partEncrypt | partLimitAccess,
     [](ProtectionSettings& s) {
         s.DisableRightClicking = s.DisableSelection = s.DisableDragAndDrop = s.DisableStatusBar =
             s.HideScriptErrors = s.BreakOutOfFrames = s.DisablePrinting = s.DisableOfflineViewing =
                 true;
     }},
    {"optimisation switches off at run", partEncrypt | partLimitAccess,
     [](ProtectionSettings& s) {
         s.RemoveEndP = s.OptimizeCode = s.MergeWhitespace = true;
         s.StrengthText = "Translated & <odd> \"text\"  with  blanks";
     }},
};

std::string Secure(const std::string& page, const Switches& sw, int level,
                   ProtectionSettings& settings)
{
    ProtectionEngine engine;
    engine.settings.StrengthLevel = level;
    engine.settings.StrengthText = strengthLevelNames[level];
    sw.set(engine.settings);
    engine.SetProtectionParts(sw.parts);
    settings = engine.settings;
    std::string text = page;
    EXPECT_TRUE(engine.SecurePage(text));
    return text;
}

// The body as securing cuts it, in characters.
std::u16string BodyUnits(const std::string& page)
{
    SecuringPieces pieces;
    EXPECT_TRUE(SplitForSecuring(page, partEncrypt, ProtectionSettings{}, pieces));
    return DecodeToUtf16(pieces.body, DetectPageCharset(page));
}

TEST(PageDecoder, EveryPageCharsetLevelAndSwitchSetReadsBack)
{
    for (const PageCase& c : Pages()) {
        for (const Switches& sw : switchSets) {
            for (int level = 1; level <= 4; ++level) {
                SCOPED_TRACE(std::string(c.name) + ", " + sw.name + ", level " +
                             std::to_string(level));
                ProtectionSettings settings;
                const std::string secured = Secure(c.page, sw, level, settings);
                DecodedPage decoded;
                ASSERT_EQ(DecodeSecuredPage(secured, decoded, true), DecodeProblem::None);
                EXPECT_EQ(decoded.settings, settings);
                EXPECT_EQ(decoded.earlierLayers, 0);
                EXPECT_EQ(decoded.Content(), BodyUnits(c.page));
                const std::string script = BuildAccessScript(settings);
                EXPECT_EQ(decoded.accessScript, (sw.parts & partLimitAccess) ? script : "");
                EXPECT_EQ(VerifyAgainstOriginal(decoded, c.page), VerifyProblem::None);

                std::string original;
                const RecoverProblem problem = RecoverOriginal(secured, decoded, original);
                if (c.recoverable) {
                    EXPECT_EQ(problem, RecoverProblem::None);
                    EXPECT_EQ(original, c.page);
                } else {
                    EXPECT_EQ(problem, RecoverProblem::CharsetUndeclared);
                }
            }
        }
    }
}

TEST(PageDecoder, ChangedPagesAreRefusedWithTheirReason)
{
    const std::string page = Page("<meta charset=utf-8>", "<p>Some text to protect</p>");
    ProtectionSettings settings;
    const std::string secured = Secure(page, switchSets[3], 3, settings);
    const size_t loaders = secured.find("<SCRIPT>");
    const size_t attribute = secured.find("settings=\"") + 10;
    auto replaced = [&](size_t at, size_t n, const std::string& with) {
        std::string s = secured;
        s.replace(at, n, with);
        return s;
    };
    const struct
    {
        const char* name;
        std::string text;
        DecodeProblem expected;
    } cases[] = {
        {"not secured", page, DecodeProblem::NotSecured},
        {"name in plain text only", Page("", "kestrix-content"), DecodeProblem::MarkersMoved},
        {"no body tag", "<p>kestrix-content</p>", DecodeProblem::NoBody},
        {"text between the markers", replaced(secured.find("<kestrix-content"), 0, "<p>x</p>"),
         DecodeProblem::MarkersMoved},
        {"content end marker removed", replaced(secured.find("</kestrix-content>"), 18, ""),
         DecodeProblem::MarkersMoved},
        {"text after the content", replaced(secured.find("</kestrix-content>") + 18, 0, "x"),
         DecodeProblem::MarkersMoved},
        {"settings attribute changed", replaced(attribute + 5, 1, "#"),
         DecodeProblem::SettingsAltered},
        {"settings attribute cut", replaced(attribute, 4, ""), DecodeProblem::SettingsAltered},
        {"level changed in the attribute",
         [&] {
             ProtectionSettings other = settings;
             other.StrengthLevel = 4; // one layer more than the page has
             std::string s = secured;
             s.replace(attribute, SettingsAttribute(settings).size(), SettingsAttribute(other));
             return s;
         }(),
         DecodeProblem::LoaderAltered},
        {"loader byte changed", replaced(loaders + 30, 1, "@"), DecodeProblem::LoaderAltered},
        {"needless escape",
         [&] {
             std::string s = secured;
             s.replace(s.find("\\x", loaders), 4, "\\x41"); // a letter is never escaped
             return s;
         }(),
         DecodeProblem::LoaderAltered},
        {"loader source changed", replaced(secured.find("%66%6F%72"), 3, "%67"),
         DecodeProblem::LoaderAltered},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DecodedPage decoded;
        EXPECT_EQ(DecodeSecuredPage(c.text, decoded), c.expected);
        EXPECT_STRNE(DecodeProblemText(c.expected), "");
    }
}

TEST(PageDecoder, VerifyAndRecoverTellWhatChanged)
{
    const std::string page = Page("<meta charset=utf-8>", "<p>One</p><p>Two</P>\r\n");
    const Switches& all = switchSets[3];
    ProtectionSettings settings;
    const std::string secured = Secure(page, all, 2, settings);
    DecodedPage decoded;
    ASSERT_EQ(DecodeSecuredPage(secured, decoded, true), DecodeProblem::None);
    const struct
    {
        const char* name;
        std::string original;
        VerifyProblem expected;
    } cases[] = {
        {"the original", page, VerifyProblem::None},
        {"head changed", Page("<meta charset=utf-8> ", "<p>One</p><p>Two</P>\r\n"),
         VerifyProblem::HeadDiffers},
        {"tail changed", page + " ", VerifyProblem::TailDiffers},
        {"body changed", Page("<meta charset=utf-8>", "<p>One</p><p>Tw0</P>\r\n"),
         VerifyProblem::BodyDiffers},
        {"no body", "<p>x</p>", VerifyProblem::NotAPage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(VerifyAgainstOriginal(decoded, c.original), c.expected);
    }

    // Optimised securing: the original matches once optimised as the
    // settings read back say, and recover warns through the switches.
    ProtectionEngine engine;
    engine.settings = settings;
    engine.settings.RemoveEndP = engine.settings.OptimizeCode = true;
    engine.SetProtectionParts(allProtectionParts);
    engine.OptimiseActive = true;
    std::string optimised = page;
    ASSERT_TRUE(engine.SecurePage(optimised));
    ASSERT_EQ(DecodeSecuredPage(optimised, decoded, true), DecodeProblem::None);
    EXPECT_TRUE(AnyOptimisationSwitch(decoded.settings));
    EXPECT_EQ(VerifyAgainstOriginal(decoded, page), VerifyProblem::None);
    std::string recovered;
    ASSERT_EQ(RecoverOriginal(optimised, decoded, recovered), RecoverProblem::None);
    EXPECT_NE(recovered, page); // the end tags are gone for good

    // A script marker element of the page's own, lifted by encryption alone.
    const std::string own = Page("<meta charset=utf-8>",
                                 "<p>a</p><kestrix-script><script>x()</script></kestrix-script>");
    const std::string lifted = Secure(own, switchSets[0], 1, settings);
    ASSERT_EQ(DecodeSecuredPage(lifted, decoded, true), DecodeProblem::None);
    EXPECT_EQ(VerifyAgainstOriginal(decoded, own), VerifyProblem::None);
    EXPECT_EQ(RecoverOriginal(lifted, decoded, recovered), RecoverProblem::ScriptMoved);

    // The access script changed by hand.
    std::string script = secured;
    script.replace(script.find("window.onerror=True;"), 20, "");
    ASSERT_EQ(DecodeSecuredPage(script, decoded, true), DecodeProblem::None);
    EXPECT_EQ(VerifyAgainstOriginal(decoded, page), VerifyProblem::ScriptDiffers);
    EXPECT_EQ(RecoverOriginal(script, decoded, recovered), RecoverProblem::ScriptMoved);
}

TEST(PageDecoder, APageSecuredTwiceReadsBackToItsFirstContent)
{
    const std::string page = Page("<meta charset=utf-8>", "<p>Grüße</p>");
    ProtectionSettings first, second;
    const std::string once = Secure(page, switchSets[3], 2, first);
    const std::string twice = Secure(once, switchSets[2], 3, second);
    DecodedPage decoded;
    ASSERT_EQ(DecodeSecuredPage(twice, decoded, false), DecodeProblem::None);
    EXPECT_EQ(decoded.settings, second);
    EXPECT_EQ(decoded.earlierLayers, 0);
    EXPECT_EQ(VerifyAgainstOriginal(decoded, once), VerifyProblem::None);
    ASSERT_EQ(DecodeSecuredPage(twice, decoded, true), DecodeProblem::None);
    EXPECT_EQ(decoded.earlierLayers, 2);
    std::string recovered;
    ASSERT_EQ(RecoverOriginal(twice, decoded, recovered), RecoverProblem::None);
    EXPECT_EQ(recovered, page);
}

TEST(PageDecoder, CharactersEncodeBackOnlyWhereTheCharsetHasThem)
{
    std::string out;
    EXPECT_TRUE(EncodeFromUtf16(u"\u20AC\u00FF\u0081", "windows-1252", out));
    EXPECT_EQ(out, "\x80\xFF\x81");
    EXPECT_FALSE(EncodeFromUtf16(u"\u0100", "windows-1252", out));
    EXPECT_FALSE(EncodeFromUtf16(u"\xD800x", "UTF-8", out));
    EXPECT_TRUE(EncodeFromUtf16(u"\xD83D\xDE00", "UTF-8", out));
    EXPECT_EQ(out, "\xF0\x9F\x98\x80");
    EXPECT_FALSE(EncodeFromUtf16(u"\u65E5", "ISO-8859-2", out));
}

} // namespace
