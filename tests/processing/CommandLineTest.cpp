// The program's command line: splitting one text into tokens, then reading
// switches and names.
#include "processing/CommandLine.h"

#include "platform/Errors.h"

#include <gtest/gtest.h>

using namespace kestrix;

namespace {

QString S(const char* text)
{
    return QString::fromUtf8(text);
}

TEST(CommandLine, SplittingRules)
{
    struct Case
    {
        const char* text;
        QStringList tokens;
    };
    const Case cases[] = {
        {"kestrix /e page.html", {S("kestrix"), S("/e"), S("page.html")}},
        // Any character from 1 to 32 separates, runs of them count once.
        {" kestrix\t\x01-e \r\n a.html  ", {S("kestrix"), S("-e"), S("a.html")}},
        {"kestrix \"My Site/index.html\"", {S("kestrix"), S("My Site/index.html")}},
        {"kestrix My Site/index.html", {S("kestrix"), S("My"), S("Site/index.html")}},
        // Two quotes inside a quoted token stand for one.
        {"k \"say \"\"hi\"\"\" x", {S("k"), S("say \"hi\""), S("x")}},
        // A quoted token ends at the lone quote; what follows is a new token.
        {"k \"a b\"c", {S("k"), S("a b"), S("c")}},
        {"k \"unterminated name", {S("k"), S("unterminated name")}},
        {"k \"\"", {S("k"), S("")}},
        {"", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SplitCommandLine(S(c.text)), c.tokens) << c.text;
}

TEST(CommandLine, SwitchesNamesAndModes)
{
    struct Case
    {
        const char* text;
        CommandLineMode mode;
        ProtectionParts parts;
        const char* input;
        const char* output;
    };
    const Case cases[] = {
        {"k", cmOpenWindow, {}, "", ""},
        {"k /e /a /o /site/index.html", {}, allProtectionParts, "/site/index.html", ""},
        {"k -e -i /s/a.html /s/a.html", cmKeepOriginal, partEncrypt, "/s/a.html", "/s/a.html"},
        // A part without a name, or a name without a part: the window.
        {"k /e", cmOpenWindow, partEncrypt, "", ""},
        {"k page.html", cmOpenWindow, {}, "page.html", ""},
        // Other switches, capitals and combined switches are ignored.
        {"k /e /Z /E /ea -x page.html", {}, partEncrypt, "page.html", ""},
        // On this file system "/" also starts a path: one with a further
        // "/", or an existing entry, is a name.
        {"k /e /tmp", {}, partEncrypt, "/tmp", ""},
        {"k -o /no/such/page.html", {}, partOptimise, "/no/such/page.html", ""},
        {"k page.html -a out.html", {}, partLimitAccess, "page.html", "out.html"},
        // A web address anywhere in the input, either scheme, drops "i".
        {"k /e /i http://example.com/ out.html", cmWebAddress, partEncrypt, "http://example.com/",
         "out.html"},
        {"k /o x=https://example.com/a", cmWebAddress, partOptimise, "x=https://example.com/a", ""},
        {"k /e /i HTTP://example.com/", cmKeepOriginal, partEncrypt, "HTTP://example.com/", ""},
        {"k http://example.com/", cmOpenWindow | cmWebAddress, {}, "http://example.com/", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const CommandLine line = ParseCommandLine(SplitCommandLine(S(c.text)));
        EXPECT_EQ(line.mode, c.mode);
        EXPECT_EQ(line.parts, c.parts);
        EXPECT_EQ(line.InputName, S(c.input));
        EXPECT_EQ(line.OutputName, S(c.output));
    }
}

TEST(CommandLine, ThirdNameIsAnError)
{
    // The third name is named; the fourth is never looked at.
    const std::pair<const char*, const char*> cases[] = {
        {"k /e a.html b.html c.html", "Too many files specified (c.html)"},
        {"k a b \"c d\" e", "Too many files specified (c d)"},
    };
    for (const auto& [text, message] : cases) {
        try {
            ParseCommandLine(SplitCommandLine(S(text)));
            ADD_FAILURE() << text;
        } catch (const Failure& failure) {
            EXPECT_STREQ(failure.what(), message);
        }
    }
}

} // namespace
