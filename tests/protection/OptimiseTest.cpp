// The HTML optimisation: each step on the page it edits, and the bytes it
// must leave alone.
#include "protection/Optimise.h"
#include "platform/LargeBuffer.h"
#include "protection/PageText.h"
#include "protection/SecurePage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kestrix;

namespace {

using Switch = bool ProtectionSettings::*;

ProtectionSettings With(std::initializer_list<Switch> switches)
{
    ProtectionSettings s;
    for (Switch sw : switches)
        s.*sw = true;
    return s;
}

ProtectionSettings All()
{
    return With({&ProtectionSettings::RemoveTbody, &ProtectionSettings::RemoveComments,
                 &ProtectionSettings::ReplaceSimpleTags, &ProtectionSettings::RemoveEndP,
                 &ProtectionSettings::RemoveEndTR, &ProtectionSettings::RemoveEndTD,
                 &ProtectionSettings::RemoveGroupComments, &ProtectionSettings::MergeWhitespace,
                 &ProtectionSettings::OptimizeCode});
}

std::string Optimised(std::string page, const ProtectionSettings& settings)
{
    OptimisePage(page, settings);
    return page;
}

TEST(OptimiseTest, EndTagsReplacedInAnyCaseOnlyInTheirExactForm)
{
    const ProtectionSettings td = With({&ProtectionSettings::RemoveEndTD});
    EXPECT_EQ(Optimised("<table><tr><td>a</TD><td>b</td ><td>c</td></tr></table>", td),
              "<table><tr><td>a <td>b</td ><td>c </tr></table>");
    const ProtectionSettings tr = With({&ProtectionSettings::RemoveEndTR});
    EXPECT_EQ(Optimised("<tr><td>a</td></Tr></TR x>", tr), "<tr><td>a</td> </TR x>");
    // Textual: a "</P>" inside a script goes too.
    const ProtectionSettings p = With({&ProtectionSettings::RemoveEndP});
    EXPECT_EQ(Optimised("<head><script>s='</P>';</script></head><p>a</p><p>b</p >", p),
              "<head><script>s=' ';</script></head><p>a <p>b</p >");
}

// The three end-tag steps are made in one pass: the result is the one the
// steps give one after another, whatever stands next to each tag, and the
// page kept whole (OptimisePageInto) gets the same text as the page changed
// in place.
TEST(OptimiseTest, EndTagsInOnePassAgreeWithTheStepsInTurn)
{
    // Each step alone, as the description states it.
    auto step = [](std::string page, std::string_view tag) {
        std::string out;
        size_t last = 0;
        for (size_t pos = FindNoCase(page, tag); pos != std::string::npos;
             pos = FindNoCase(page, tag, last)) {
            out += page.substr(last, pos - last) + " ";
            last = pos + tag.size();
        }
        return out + page.substr(last);
    };
    const std::string pages[] = {
        "</P></TD></TR></p></td></tr>",
        "</</P>TD></</TD>TR>x</</TR>P>",
        "<</p>/p></p</P>>",
        "</P",
        "</T",
        "</TD",
        "a</pre></tdx></trx></p >",
        "</tr></TR></Td></tD></p></P>",
        "no tags at all",
        "",
    };
    using S = ProtectionSettings;
    const std::vector<std::vector<Switch>> choices = {
        {&S::RemoveEndP},
        {&S::RemoveEndTR},
        {&S::RemoveEndTD},
        {&S::RemoveEndP, &S::RemoveEndTD},
        {&S::RemoveEndP, &S::RemoveEndTR, &S::RemoveEndTD}};
    for (const std::string& page : pages) {
        for (const auto& chosen : choices) {
            ProtectionSettings settings;
            for (Switch sw : chosen)
                settings.*sw = true;
            std::string expected = page;
            if (settings.RemoveEndP)
                expected = step(expected, "</P>");
            if (settings.RemoveEndTR)
                expected = step(expected, "</TR>");
            if (settings.RemoveEndTD)
                expected = step(expected, "</TD>");
            SCOPED_TRACE(page);
            EXPECT_EQ(Optimised(page, settings), expected);
            LargeBuffer into;
            const bool changed = OptimisePageInto(page, settings, into);
            EXPECT_EQ(changed ? std::string(into.View()) : page, expected);
            EXPECT_EQ(changed, expected != page);
        }
    }
}

// The page kept whole gets the same text as the page changed in place, from
// every step, on a page with something for each of them.
TEST(OptimiseTest, KeptPageGetsTheSameTextAsThePageChangedInPlace)
{
    std::string page = "<html><head><style><!--\nb{}\n--></style></head><body>\r\n";
    for (int i = 0; i < 2000; ++i)
        page += "<!-- c --><table><tbody><tr><td>x</td></tr></tbody></table>  \t<p><strong "
                "id=s>a</strong>   <em>b</em></p>\r\n";
    page += "</body></html>";
    LargeBuffer into;
    ASSERT_TRUE(OptimisePageInto(page, All(), into));
    EXPECT_EQ(into.View(), Optimised(page, All()));
    EXPECT_FALSE(OptimisePageInto("<b>nothing</b> to do", All(), into));
}

TEST(OptimiseTest, CommentsRemovedExceptIncludeDirectivesAndServerCode)
{
    const ProtectionSettings s = With({&ProtectionSettings::RemoveGroupComments});
    EXPECT_EQ(Optimised("<!-- top --><html><body><!-- a --><p>x<!---->y</p>"
                        "<!--#include file=\"h.inc\"--><!-- #INCLUDE x -->"
                        "<!-- <?php session_start(); ?> --><?php echo 1; ?><!x></body></html>"
                        "<!-- end -->",
                        s),
              "<html><body><p>xy</p><!--#include file=\"h.inc\"-->"
              "<!-- <?php session_start(); ?> --><?php echo 1; ?><!x></body></html>");
    // In a script or a textarea "<!--" is text, not a comment.
    const std::string raw = "<body><script>/* <!-- x --> */</script>"
                            "<textarea><!-- t --></textarea></body>";
    EXPECT_EQ(Optimised(raw, s), raw);
    // A removal that would join its neighbours into a tag or a character
    // reference is not made.
    const std::string joins = "<p>a<<!-- x -->b>&am<!---->p; 1<!-- y -->2</p>";
    EXPECT_EQ(Optimised(joins, s), "<p>a<<!-- x -->b>&am<!---->p; 12</p>");
    // A comment that swallows the body end mark stays, so securing still
    // finds it.
    const std::string open = "<body><p>x<!-- unterminated </body></html>";
    EXPECT_EQ(Optimised(open, s), open);
}

TEST(OptimiseTest, CommentsHoldingIncludeAnywhereAreKept)
{
    const ProtectionSettings s = With({&ProtectionSettings::RemoveGroupComments});
    // "#include" counts wherever it stands in the comment, in lower case only.
    const struct
    {
        const char* comment;
        bool kept;
    } cases[] = {
        {"<!--#include file=\"h.inc\"-->", true},
        {"<!-- #include virtual=\"menu.inc\" -->", true},
        {"<!--\r\n\t#include virtual=\"/a.inc\"\r\n-->", true},
        {"<!-- menu: #include -->", true},
        {"<!--x#includey-->", true},
        {"<!-- #INCLUDE virtual=\"menu.inc\" -->", false},
        {"<!-- # include -->", false},
        {"<!-- include -->", false},
    };
    for (const auto& c : cases) {
        const std::string page = std::string("<body><p>a</p>") + c.comment + "<p>b</p></body>";
        EXPECT_EQ(Optimised(page, s), c.kept ? page : "<body><p>a</p><p>b</p></body>") << c.comment;
    }
}

TEST(OptimiseTest, SimpleTagsReplacedKeepingOnlyTheId)
{
    const ProtectionSettings s = With({&ProtectionSettings::ReplaceSimpleTags});
    EXPECT_EQ(Optimised("<p><STRONG class=\"a\" id='k'>x <strong>y</strong></STRONG> "
                        "<em ID=e1 title=t>z</Em > <strikeout>s</strikeout></p>"
                        "<blockquote cite=\"u\" id=\"q\">q</blockquote>",
                        s),
              "<p><b id='k'>x <b>y</b></b> <i id=\"e1\">z</i> <s>s</s></p><ul id=\"q\">q</ul>");
    // An unquoted id holding a quote, an id without value, self-closing
    // syntax.
    EXPECT_EQ(Optimised("<em id=a\"b>1</em><em id>2</em><strong/>3", s),
              "<i id=\"a&quot;b\">1</i><i id=\"\">2</i><b>3");
    // Template contents are elements; script text is not.
    EXPECT_EQ(Optimised("<template><strong>t</strong></template>"
                        "<script>s='<strong>';</script><strong>a</strong>",
                        s),
              "<template><b>t</b></template><script>s='<strong>';</script><b>a</b>");
}

TEST(OptimiseTest, SimpleTagsClosedByTheParserAreReplacedWithoutTouchingNeighbours)
{
    const ProtectionSettings s = With({&ProtectionSettings::ReplaceSimpleTags});
    // The strong is closed by "</p>" and copied into the next paragraph by
    // the parser; only its own tag is rewritten.
    EXPECT_EQ(Optimised("<p><strong>a</p><p>b</p>", s), "<p><b>a</p><p>b</p>");
    // Misnested: the end tag belongs to the parser's copy.
    EXPECT_EQ(Optimised("<strong>a<p>b</strong>c</p>", s), "<b>a<p>b</b>c</p>");
    // A stray end tag is nobody's and stays.
    EXPECT_EQ(Optimised("<p>x</strong><em>y</em></p>", s), "<p>x</strong><i>y</i></p>");
    // Foreign content: SVG has no strikeout of HTML's.
    EXPECT_EQ(Optimised("<svg><strikeout>x</strikeout></svg><strikeout>y</strikeout>", s),
              "<svg><strikeout>x</strikeout></svg><s>y</s>");
}

TEST(OptimiseTest, TagsHoldingServerCodeOrBodyMarksAreNotRewritten)
{
    const ProtectionSettings s = With({&ProtectionSettings::ReplaceSimpleTags});
    const std::string php =
        "<body><strong class=\"<?php echo $c ?>\">a</strong><strong>b</strong></body>";
    EXPECT_EQ(Optimised(php, s), php);
    const std::string mark = "<em title=\"<body>\">a</em><body><em>b</em></body>";
    EXPECT_EQ(Optimised(mark, s), mark);
}

TEST(OptimiseTest, ExplicitTbodyTagsRemovedImpliedOnesLeftAlone)
{
    const ProtectionSettings s = With({&ProtectionSettings::RemoveTbody});
    EXPECT_EQ(Optimised("<table>\n<tr><td>1</td></tr></table>"
                        "<table><TBODY class=\"x\"><tr><td>2</td></tr></tbody>"
                        "<tbody><tr><td>3</td></tr></table>"
                        "<textarea><tbody></textarea><p><tbody>stray</tbody></p>",
                        s),
              "<table>\n<tr><td>1</td></tr></table>"
              "<table><tr><td>2</td></tr>"
              "<tr><td>3</td></tr></table>"
              "<textarea><tbody></textarea><p><tbody>stray</tbody></p>");
    // A tag that also closes an open cell stays when something other than
    // the table's structure follows it: without it the text would move into
    // the cell.
    EXPECT_EQ(Optimised("<table><tbody><tr><td>1</tbody>after<tbody>x<tr><td>2</table>", s),
              "<table><tr><td>1</tbody>after<tbody>x<tr><td>2</table>");
}

TEST(OptimiseTest, ScriptAndStyleCommentMarkersRemovedKeepingTheCode)
{
    const ProtectionSettings s = With({&ProtectionSettings::RemoveComments});
    EXPECT_EQ(Optimised("<script>\r\n<!--\r\nvar a = 1;\r\n// -->\r\n</script>", s),
              "<script>\r\nvar a = 1;\r\n</script>");
    // The rest of the "<!--" line is a comment in a script and goes with it.
    EXPECT_EQ(Optimised("<script language=\"JavaScript\"><!-- hide\nf();\n//--></script>", s),
              "<script language=\"JavaScript\">f();</script>");
    EXPECT_EQ(Optimised("<style type=\"text/css\"><!--\n p { color: red }\n--></style>", s),
              "<style type=\"text/css\"> p { color: red }</style>");
    // Comments outside scripts are another switch's business.
    EXPECT_EQ(Optimised("<!-- a --><script><!--\nx()\n--></script>", s),
              "<!-- a --><script>x()</script>");
    // Kept: a template that is no script, a script that writes a script
    // (without the marker its inner end tag would end the element), markers
    // in the middle.
    const std::string kept = "<script type=\"text/html\"><!-- x --></script>"
                             "<script><!--\ndocument.write('<script src=a.js></script>');\n"
                             "//--></script><script>a(); <!-- b --> c();</script>";
    EXPECT_EQ(Optimised(kept, s), kept);
}

TEST(OptimiseTest, WhitespaceMergedInTextOnly)
{
    const ProtectionSettings s = With({&ProtectionSettings::MergeWhitespace});
    EXPECT_EQ(Optimised("<p title=\"a   b\">a  \t b\r\n\r\n  c\td</p>\n<pre>  x  \n  y</pre>"
                        "<textarea>  t  </textarea><script>  s  </script><style>  p  </style>"
                        "<p>a  <% x  y %>  b</p><svg><![CDATA[x  y]]></svg>",
                        s),
              "<p title=\"a   b\">a b\r\nc d</p>\n<pre>  x  \n  y</pre>"
              "<textarea>  t  </textarea><script>  s  </script><style>  p  </style>"
              "<p>a <% x  y %> b</p><svg><![CDATA[x  y]]></svg>");
}

TEST(OptimiseTest, WhitespaceAroundRemovedCommentsAndTagsMergedAsOneRun)
{
    const ProtectionSettings s =
        With({&ProtectionSettings::MergeWhitespace, &ProtectionSettings::RemoveGroupComments,
              &ProtectionSettings::RemoveTbody});
    EXPECT_EQ(Optimised("<p>a <!-- x --> b</p>\n<table>\n  <tbody>\n    <tr><td>1</td></tr>\n"
                        "  </tbody>\n</table>",
                        s),
              "<p>a b</p>\n<table>\n<tr><td>1</td></tr>\n</table>");
}

TEST(OptimiseTest, BytesOutsideTheEditsStayAsTheyWere)
{
    // Doctype, entities, quoting, case, Latin-1 and NUL bytes, server code.
    using namespace std::string_literals;
    const std::string page = "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\">\n"
                             "<?php $x = 1; ?>\n<HTML><Head><TITLE>caf\xE9</TITLE></Head>\n"
                             "<body bgcolor=white>\n<P CLASS=x>&amp;&nbsp;<!-- c -->"
                             "<Strong ID=k>b\0b</Strong>&lt;\n<% Response.Write(\"a\") %>\n"
                             "<table border=1><TBody><tr><td>1</td></tr></TBody></table>\n"
                             "</body></HTML>\n"s;
    const std::string expected = "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\">\n"
                                 "<?php $x = 1; ?>\n<HTML><Head><TITLE>caf\xE9</TITLE></Head>\n"
                                 "<body bgcolor=white>\n<P CLASS=x>&amp;&nbsp;"
                                 "<b id=\"k\">b\0b</b>&lt;\n<% Response.Write(\"a\") %>\n"
                                 "<table border=1><tr><td>1</td></tr></table>\n"
                                 "</body></HTML>\n"s;
    ProtectionSettings s =
        With({&ProtectionSettings::RemoveGroupComments, &ProtectionSettings::ReplaceSimpleTags,
              &ProtectionSettings::RemoveTbody});
    EXPECT_EQ(Optimised(page, s), expected);
}

TEST(OptimiseTest, BodyMarksSurviveWhenTheParserImpliesTheBody)
{
    // Content before the body start tag makes the parser imply the body
    // there; the written tags are what securing splits on.
    const std::string page = "<html><head><title>t</title></head><strong>intro</strong>\n"
                             "<BODY class=\"m\">\n<!-- c -->\n<table><tbody><tr><td>x</td></tr>"
                             "</tbody></table>\n</BODY></html>";
    const std::string expected = "<html><head><title>t</title></head><b>intro</b>\n"
                                 "<BODY class=\"m\">\n<table><tr><td>x </table>\n"
                                 "</BODY></html>";
    std::string text = page;
    OptimisePage(text, All());
    EXPECT_EQ(text, expected);
    bool found = false;
    const TextPieces pieces = SplitAtElement(text, "body", &found);
    ASSERT_TRUE(found);
    EXPECT_EQ(pieces.before, "<html><head><title>t</title></head><b>intro</b>\n"
                             "<BODY class=\"m\">");
    EXPECT_EQ(pieces.after, "</BODY></html>");

    // A page with no body tags at all: optimised alone it is returned whole;
    // securing it fails as it would without the optimisation.
    ProtectionEngine engine;
    engine.settings = All();
    engine.OptimiseActive = true;
    engine.SetProtectionParts(partOptimise);
    std::string bare = "<p><strong>a</strong></p>";
    EXPECT_TRUE(engine.SecurePage(bare));
    EXPECT_EQ(bare, "<p><b>a</b> ");
    engine.SetProtectionParts(partOptimise | partEncrypt);
    std::string secured = "<p><strong>a</strong></p>";
    EXPECT_FALSE(engine.SecurePage(secured));
    EXPECT_EQ(secured, "<p><strong>a</strong></p>");
}

TEST(OptimiseTest, RunsOnlyWithPartOptimiseAndOptimiseActive)
{
    const std::string page = "<html><body>\n<!-- c --><p>a</p>  <strong>b</strong></body></html>";
    ProtectionEngine engine;
    engine.settings = All();
    engine.SetProtectionParts(partOptimise);
    engine.OptimiseActive = false;
    std::string text = page;
    EXPECT_TRUE(engine.SecurePage(text));
    EXPECT_EQ(text, page);

    // Access limiting with every access switch off changes nothing else.
    engine.OptimiseActive = true;
    engine.SetProtectionParts(partLimitAccess);
    text = page;
    EXPECT_TRUE(engine.SecurePage(text));
    EXPECT_EQ(text, page);

    engine.SetProtectionParts(partOptimise);
    text = page;
    EXPECT_TRUE(engine.SecurePage(text));
    EXPECT_EQ(text, "<html><body>\n<p>a <b>b</b></body></html>");
}

TEST(OptimiseTest, PagesWithNothingToEditAreNotParsed)
{
    const ProtectionSettings s = All();
    EXPECT_FALSE(OptimiseNeedsDocumentModel("<p>a b\r\nc</p><embed src=x><emphasis>", s));
    EXPECT_TRUE(OptimiseNeedsDocumentModel("<p>a  b</p>", s));
    EXPECT_TRUE(OptimiseNeedsDocumentModel("<P>a<EM>b</EM>", s));
    EXPECT_TRUE(OptimiseNeedsDocumentModel("<table><TBODY>", s));
    EXPECT_FALSE(OptimiseNeedsDocumentModel("<table><TBODY>", ProtectionSettings{}));
    EXPECT_TRUE(OptimiseNeedsDocumentModel("<script>x()\n-->",
                                           With({&ProtectionSettings::RemoveComments})));
    EXPECT_FALSE(
        OptimiseNeedsDocumentModel("<p>--></p>", With({&ProtectionSettings::RemoveComments})));
}

TEST(OptimiseTest, HostileInputNeitherCrashesNorHangs)
{
    const ProtectionSettings s = All();
    // Every byte value, NUL included, and truncated tags.
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary += char(i * 7 % 256);
    OptimisePage(binary, s);
    EXPECT_EQ(Optimised("<strong id='x", s), "<strong id='x");
    EXPECT_EQ(Optimised("<p>a<!--", s), "<p>a");

    // A one-megabyte attribute is carried whole.
    const std::string big(1 << 20, 'v');
    EXPECT_EQ(Optimised("<strong id=\"" + big + "\" title=\"" + big + "\">x</strong>", s),
              "<b id=\"" + big + "\">x</b>");

    // 100,000 nested elements: the tree is walked without recursion.
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<span>";
    EXPECT_EQ(Optimised(deep + "<strong>x</strong>", s), deep + "<b>x</b>");
    // Nesting that makes the parser's work quadratic ends within its time
    // budget: optimised or, past the budget, refused with a message.
    std::string divs;
    for (int i = 0; i < 100000; ++i)
        divs += "<div>";
    try {
        EXPECT_EQ(Optimised(divs + "<strong>x</strong>", s), divs + "<b>x</b>");
    } catch (const Failure& failure) {
        EXPECT_STREQ(failure.what(), "The page is too large or too deeply nested to be optimized.");
    }

    // Markup whose tree grows quadratically (each paragraph re-opens every
    // formatting element before it) is abandoned when it outgrows the
    // parser's memory budget: the optimisation fails with a message, and
    // securing leaves the page as it was.
    std::string blowup = "<body>";
    for (int i = 0; i < 6000; ++i)
        blowup += "<b id=" + std::to_string(i) + "><p>";
    blowup += "<strong>x</strong></body>";
    EXPECT_THROW(Optimised(blowup, s), Failure);
    ProtectionEngine engine;
    engine.settings = s;
    engine.OptimiseActive = true;
    std::string page = blowup;
    EXPECT_THROW(engine.SecurePage(page), Failure);
    EXPECT_EQ(page, blowup);
}

} // namespace
