// The HTML document model: the browser's tree with the page's own bytes.
#include "platform/HtmlDocument.h"

#include <gtest/gtest.h>

#include <string>

using namespace kestrix;

namespace {

std::string_view Bytes(const HtmlDocument& doc, HtmlSpan span)
{
    return doc.Page().substr(span.offset, span.length);
}

TEST(HtmlDocumentTest, ImpliedAndCopiedElementsHaveNoTagsOfTheirOwn)
{
    const std::string page = "<table><tr><td>1</table><table><TBODY><tr><td>2</tbody></table>"
                             "<p><strong>a</p><p>b</p>";
    const HtmlDocument doc(page);
    ASSERT_TRUE(doc.IsParsed());
    const auto tbodies = doc.ElementsByTagName("tbody");
    ASSERT_EQ(tbodies.size(), 2u);
    EXPECT_TRUE(doc.StartTag(tbodies[0]).empty());
    EXPECT_TRUE(doc.EndTag(tbodies[0]).empty());
    EXPECT_EQ(Bytes(doc, doc.StartTag(tbodies[1])), "<TBODY>");
    EXPECT_EQ(Bytes(doc, doc.EndTag(tbodies[1])), "</tbody>");
    // The strong closed by "</p>" is copied into the next paragraph; the
    // copy reports the original's source but owns none of it.
    const auto strongs = doc.ElementsByTagName("strong");
    ASSERT_EQ(strongs.size(), 2u);
    EXPECT_EQ(Bytes(doc, doc.StartTag(strongs[0])), "<strong>");
    EXPECT_TRUE(doc.StartTag(strongs[1]).empty());
    EXPECT_TRUE(doc.EndTag(strongs[0]).empty());
}

TEST(HtmlDocumentTest, FollowsTheBrowsersTree)
{
    const std::string page = "<svg><tbody/><title><em>x</em></title></svg>"
                             "<script>'<em>'</script><template><em>t</em></template>"
                             "<!-- c --><?php f() ?>";
    const HtmlDocument doc(page);
    EXPECT_TRUE(doc.ElementsByTagName("tbody").empty());
    // "em" breaks out of SVG, so the first is an HTML element; the one in
    // the script is text; template contents count.
    EXPECT_EQ(doc.ElementsByTagName("em").size(), 2u);
    const auto comments = doc.Comments();
    ASSERT_EQ(comments.size(), 2u);
    EXPECT_EQ(doc.CommentText(comments[0]), " c ");
    EXPECT_EQ(Bytes(doc, doc.Source(comments[0])), "<!-- c -->");
    EXPECT_EQ(Bytes(doc, doc.Source(comments[1])), "<?php f() ?>");
    const auto texts = doc.TextsOutside({"script", "template"});
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(Bytes(doc, doc.Source(texts[0])), "x");
}

TEST(HtmlDocumentTest, AttributesInnerHtmlAndReplacement)
{
    const std::string page = "<div ID=a&amp;b class='c'><em id='q' x=1>i<b>j</b></em>"
                             "<em id=u\"v>k</em><p>open<span>s";
    const HtmlDocument doc(page);
    const auto divs = doc.ElementsByTagName("div");
    ASSERT_EQ(divs.size(), 1u);
    EXPECT_EQ(doc.RawAttribute(divs[0], "id"), "a&amp;b");
    EXPECT_EQ(doc.Attribute(divs[0], "id"), "a&b");
    EXPECT_EQ(doc.RawAttribute(divs[0], "class"), "'c'");
    EXPECT_FALSE(doc.RawAttribute(divs[0], "title"));
    const auto ems = doc.ElementsByTagName("em");
    ASSERT_EQ(ems.size(), 2u);
    EXPECT_EQ(doc.InnerHtml(ems[0]), "i<b>j</b>");
    EXPECT_EQ(doc.ReplacementStartTag(ems[0], "i"), "<i id='q'>");
    EXPECT_EQ(doc.ReplacementStartTag(ems[1], "i"), "<i id=\"u&quot;v\">");
    EXPECT_EQ(doc.ReplacementStartTag(divs[0], "ul"), "<ul id=\"a&amp;b\">");
    // Without an end tag the content reaches the end of its descendants.
    const auto ps = doc.ElementsByTagName("p");
    ASSERT_EQ(ps.size(), 1u);
    EXPECT_EQ(doc.InnerHtml(ps[0]), "open<span>s");
}

TEST(HtmlDocumentTest, EditsApplyToThePageBytesAndNeverOverlap)
{
    const std::string page = "<P>a <EM class=x>b</EM> <!--c--> <blockquote>q</blockquote>";
    HtmlDocument doc(page);
    const auto ems = doc.ElementsByTagName("em");
    ASSERT_EQ(ems.size(), 1u);
    EXPECT_TRUE(doc.ReplaceElement(ems[0], "i"));
    EXPECT_FALSE(doc.ReplaceElement(ems[0], "i"));
    EXPECT_FALSE(doc.ReplaceBytes({5, 3}, "x"));
    EXPECT_TRUE(doc.RemoveNode(doc.Comments()[0], true));
    const auto quotes = doc.ElementsByTagName("blockquote");
    EXPECT_TRUE(doc.RemoveNode(quotes[0], false));
    EXPECT_EQ(doc.Text(), "<P>a <i>b</i>  q");
    HtmlDocument deep(page);
    EXPECT_TRUE(deep.RemoveNode(deep.ElementsByTagName("em")[0], true));
    EXPECT_EQ(deep.Text(), "<P>a  <!--c--> <blockquote>q</blockquote>");
}

} // namespace

namespace {

TEST(HtmlDocumentTest, DenseMarkupStaysWithinTheParsersBudget)
{
    // A megabyte of one-character table cells needs about fifty times its
    // size in tree; it must still be parsed. The tree fills many large
    // chunks, mapped in on another thread ahead of the parse: every node
    // written there reads back right, the last as well as the first.
    std::string page = "<body><table>";
    for (int i = 0; i < 80000; ++i)
        page += "<tr><td>1<td>2";
    page += "</table>";
    const HtmlDocument doc(page);
    ASSERT_TRUE(doc.IsParsed());
    const HtmlNodes cells = doc.ElementsByTagName("td");
    ASSERT_EQ(cells.size(), 160000u);
    EXPECT_EQ(doc.StartTag(cells.front()).offset, page.find("<td>"));
    EXPECT_EQ(doc.StartTag(cells.back()).offset, page.rfind("<td>"));
    const HtmlNodes texts = doc.Texts();
    ASSERT_EQ(texts.size(), 160000u);
    EXPECT_EQ(Bytes(doc, doc.Source(texts.back())), "2");
}

} // namespace

namespace {

// Every size the parser's small blocks come in, released and asked for again
// many times over while the tree is built: decoded attribute values and
// comments of growing lengths (their buffers grow by copying, the old ones
// released), entities, and misnested tags that the parser rebuilds.
TEST(HtmlDocumentTest, MemoryTheParserReleasesIsUsedAgainWithoutHarmToTheTree)
{
    std::string page = "<!DOCTYPE html><html><body>";
    const auto value = [](int i) { return std::string(size_t(i % 1500), char('a' + i % 26)); };
    for (int i = 0; i < 3000; ++i) {
        page += "<p id=\"" + std::to_string(i) + "\" title=\"" + value(i) + "&amp;\">";
        page += "<!--" + value(i * 7) + "--><b><i>" + value(i * 3) + "</b></i>";
    }
    page += "</body></html>";
    const HtmlDocument doc(page);
    ASSERT_TRUE(doc.IsParsed());
    const auto paragraphs = doc.ElementsByTagName("p");
    const auto comments = doc.Comments();
    ASSERT_EQ(paragraphs.size(), 3000u);
    ASSERT_EQ(comments.size(), 3000u);
    for (int i = 0; i < 3000; ++i) {
        ASSERT_EQ(doc.Attribute(paragraphs[size_t(i)], "id"), std::to_string(i));
        ASSERT_EQ(doc.Attribute(paragraphs[size_t(i)], "title"), value(i) + "&") << i;
        ASSERT_EQ(doc.CommentText(comments[size_t(i)]), value(i * 7)) << i;
    }
}

} // namespace
