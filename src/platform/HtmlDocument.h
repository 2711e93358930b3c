// HTML document model: the tree an HTML5 browser builds for a page, with the
// byte position of every tag, comment and text in the page's own bytes.
// Changes are recorded as edits of those bytes, so that everything no edit
// touches stays exactly as it was (encoding, entities, quoting, case,
// whitespace, doctype, server-side code).
#pragma once

#include "platform/LargeBuffer.h"

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

// A range of bytes of the page.
struct HtmlSpan
{
    size_t offset = 0;
    size_t length = 0;

    bool empty() const { return length == 0; }
    size_t end() const { return offset + length; }
    bool operator==(const HtmlSpan&) const = default;
};

// One node of the tree (element, comment or text). Valid while its document
// lives.
class HtmlNode
{
public:
    HtmlNode() = default;
    explicit operator bool() const { return node_ != nullptr; }
    bool operator==(const HtmlNode&) const = default;

private:
    friend class HtmlDocument;
    explicit HtmlNode(const void* node) : node_(node) {}
    const void* node_ = nullptr;
};

// A list of nodes; a large page's lists sit in large pages (LargeBuffer.h).
using HtmlNodes = std::vector<HtmlNode, LargeAllocator<HtmlNode>>;

class HtmlDocument
{
public:
    // Parses the page. The bytes must stay alive and unchanged while the
    // document is used. A page beyond the parser's limits (memory or time,
    // as pathological nesting causes) gives a document that is not parsed:
    // it has no nodes and its text is the page.
    explicit HtmlDocument(std::string_view page);
    ~HtmlDocument();
    HtmlDocument(const HtmlDocument&) = delete;
    HtmlDocument& operator=(const HtmlDocument&) = delete;

    bool IsParsed() const;
    std::string_view Page() const { return page_; }

    // All HTML elements with the tag name (lower case), in document order;
    // elements inside template contents included, foreign (SVG, MathML)
    // elements and the text of raw-text elements not.
    HtmlNodes ElementsByTagName(std::string_view name) const;
    // All comments, in document order, including bogus ones ("<?php ?>",
    // "<!x>"); their source tells them apart.
    HtmlNodes Comments() const;
    // All text nodes, in document order (CDATA sections of foreign content
    // not included).
    HtmlNodes Texts() const;
    // The text nodes that have no HTML element of the given names (lower
    // case) among their ancestors, in document order.
    HtmlNodes TextsOutside(const std::vector<std::string_view>& names) const;
    // The text nodes whose parent is an HTML element of one of the given
    // names (lower case), in document order.
    HtmlNodes TextsIn(const std::vector<std::string_view>& names) const;

    // The element's tag name in lower case ("" for other nodes).
    std::string TagName(HtmlNode node) const;
    // True when TagName(node) == name (lower case), without building the name.
    bool HasTagName(HtmlNode node, std::string_view name) const;
    bool IsHtmlElement(HtmlNode node) const;
    HtmlNode Parent(HtmlNode node) const;

    // The element's own start and end tag in the page: empty when the source
    // has none (an implied element, an end tag closed by another tag) or when
    // the reported text is not a tag of this element's name.
    HtmlSpan StartTag(HtmlNode element) const;
    HtmlSpan EndTag(HtmlNode element) const;
    // The source of a comment (delimiters included) or a text node.
    HtmlSpan Source(HtmlNode node) const;
    // The text of a comment without its delimiters.
    std::string CommentText(HtmlNode comment) const;
    // An attribute's value as written in the start tag, quotes included
    // (empty for an attribute without value); nothing when it is missing.
    std::optional<std::string_view> RawAttribute(HtmlNode element, std::string_view name) const;
    // An attribute's decoded value; nothing when it is missing.
    std::optional<std::string> Attribute(HtmlNode element, std::string_view name) const;
    // The markup inside an element as the page writes it: from its start
    // tag's end to its end tag (or the end of its last descendant).
    std::string InnerHtml(HtmlNode element) const;

    // Edits of the page bytes. Each returns false and records nothing when
    // the node has nothing of its own to edit or the edit would overlap one
    // already recorded.

    // Puts an element of another tag name in the element's place, with the
    // same content and only the old element's id: its start tag becomes
    // "<name>" or "<name id=...>", its end tag (where the source has one)
    // "</name>".
    bool ReplaceElement(HtmlNode element, std::string_view newName);
    // Removes a node: deep (a comment or text, or an element with its
    // content, as far as the source holds it) or, for an element, only its
    // tags, the children staying where it was.
    bool RemoveNode(HtmlNode node, bool deep);
    // Replaces a range of the page by other bytes.
    bool ReplaceBytes(HtmlSpan span, std::string_view replacement);

    // The start tag an element gets when replaced by `newName`.
    std::string ReplacementStartTag(HtmlNode element, std::string_view newName) const;

    // The end of the chain of removals recorded from `offset` on: `offset`
    // itself when no removal starts there.
    size_t RemovedThrough(size_t offset) const;

    bool HasEdits() const;
    // Drops the edit recorded at `offset`; false when there is none.
    bool CancelEdit(size_t offset);

    // Where a removal left its mark in the text: the position in the text at
    // which the removed bytes were, and the page offset it was recorded at.
    struct Removal
    {
        size_t position;
        size_t offset;
    };
    // The page with every recorded edit applied; `removals`, when given,
    // receives where each removal joined its neighbours.
    std::string Text(std::vector<Removal>* removals = nullptr) const;
    // The same into `out` (large-page memory for a large page), which it
    // replaces.
    void WriteText(LargeBuffer& out, std::vector<Removal>* removals = nullptr) const;

private:
    struct Parse;
    struct Edit
    {
        HtmlSpan span;
        std::string replacement;
    };
    bool Overlaps(HtmlSpan span) const;
    void Record(HtmlSpan span, std::string replacement);

    std::string_view page_;
    std::unique_ptr<Parse> parse_;
    // Keyed by offset.
    std::map<size_t, Edit> edits_;
};

} // namespace kestrix
