#include "platform/HtmlDocument.h"
#include "platform/LargeBuffer.h"
#include "platform/Text.h"

#include <gumbo.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <map>

namespace kestrix {

namespace {

using Clock = std::chrono::steady_clock;

// The parser's memory comes from large chunks handed out in order and
// released all together with the document: a parse can be abandoned at any
// moment, and the tree is released without walking it (the parser's own
// release recurses once per level of nesting, which overflows the stack on
// deeply nested pages). Chunks are cut into regions of 16 KB, aligned to
// their size, each with a header that says what its memory holds: blocks of
// one size (up to a kilobyte, in steps of 16 bytes), or memory that is not
// used again. So the parser's release of a block, which gives no size, finds
// the size from the block's address, and the block is used again for the
// next request of that size: the many small strings and lists the parser
// frees while it works (about a third of what it asks for) are not taken
// from fresh memory again.
struct alignas(16) Chunk
{
    Chunk* next;
    size_t size;
};

// Chunks start small, for small pages, and double up to 32 megabytes: a
// large page needs ten times its size or more, and chunks of a megabyte and
// more sit in large pages (LargeBuffer.h), so a parse of a 10 MB page takes
// a few hundred page faults instead of tens of thousands. Memory of a chunk
// that the parse does not reach is never touched. A chunk's first region
// holds only its link.
constexpr size_t regionSize = size_t(16) << 10;
constexpr size_t firstChunkSize = size_t(64) << 10;
constexpr size_t largestChunkSize = size_t(32) << 20;

// A region's header; blocks of the size class `sizeClass` times 16 bytes,
// or, for class 0, memory handed out once (larger blocks, in shared regions
// or in whole regions of their own).
struct alignas(16) RegionHeader
{
    size_t sizeClass;
};
constexpr size_t largestClassSize = 1024;
constexpr size_t classCount = largestClassSize / 16 + 1;
constexpr size_t largestInRegion = regionSize - sizeof(RegionHeader);

// A released block, while it waits to be used again.
struct FreeBlock
{
    FreeBlock* next;
};

// How far ahead of the parse the memory of a large chunk is mapped in on
// another thread (PageFiller), so that the kernel's clearing of fresh
// memory does not hold up the parse; the memory of a chunk that the parse
// does not reach stays untouched beyond this.
constexpr size_t fillAhead = size_t(8) << 20;

struct Arena
{
    Chunk* first = nullptr;
    char* cursor = nullptr;
    // Where the memory handed out may reach before the next large page of
    // a large chunk is needed: there the filler is asked to go further.
    char* end = nullptr;
    char* chunkEnd = nullptr;
    char* filledTo = nullptr; // what the filler has been asked to reach
    PageFiller filler;
    size_t nextChunkSize = firstChunkSize;
    // Per size class: the blocks released, and the region being filled.
    FreeBlock* released[classCount] = {};
    char* regionCursor[classCount] = {};
    char* regionEnd[classCount] = {};
    // Every request, whether fresh memory or a block used again: the budget
    // is on what the parse asks for.
    size_t bytes = 0;
    size_t byteLimit = 0;
    unsigned calls = 0;
    Clock::time_point deadline;
    std::jmp_buf escape;

    ~Arena() { ReleaseAll(); }

    void ReleaseAll()
    {
        filler.Stop();
        Chunk* chunk = first;
        while (chunk) {
            Chunk* next = chunk->next;
            ReleaseLargeMemory(chunk, chunk->size);
            chunk = next;
        }
        first = nullptr;
        cursor = end = chunkEnd = filledTo = nullptr;
        std::fill(std::begin(released), std::end(released), nullptr);
        std::fill(std::begin(regionCursor), std::end(regionCursor), nullptr);
        std::fill(std::begin(regionEnd), std::end(regionEnd), nullptr);
        bytes = 0;
    }
};

// Whole regions (`length` a multiple of regionSize) from the chunks, a new
// chunk when the last one is full; abandons the parse when no memory is to
// be had.
char* TakeRegions(Arena* arena, size_t length)
{
    if (length > size_t(arena->end - arena->cursor)) {
        if (length > size_t(arena->chunkEnd - arena->cursor)) {
            const size_t want = std::max(arena->nextChunkSize, regionSize + length);
            arena->nextChunkSize = std::min(largestChunkSize, arena->nextChunkSize * 2);
            // Aligned to a region at least: large memory is aligned to large
            // pages, smaller chunks are asked for so.
            void* memory = nullptr;
            if (want >= largeBufferThreshold)
                memory = AllocateLargeMemory(want);
            else if (::posix_memalign(&memory, regionSize, want) != 0)
                memory = nullptr;
            if (!memory)
                std::longjmp(arena->escape, 1);
            auto* chunk = static_cast<Chunk*>(memory);
            chunk->next = arena->first;
            chunk->size = want;
            arena->first = chunk;
            arena->cursor = reinterpret_cast<char*>(chunk) + regionSize;
            arena->chunkEnd = reinterpret_cast<char*>(chunk) + want;
            // A large chunk is aligned to large pages: its first one is
            // mapped in by the parse, the ones after it by the filler.
            arena->filledTo = want >= largeBufferThreshold
                                  ? reinterpret_cast<char*>(chunk) + largePageSize
                                  : arena->chunkEnd;
        }
        // The next large page boundary past the memory wanted, and the
        // filler asked to stay ahead of it.
        const size_t reach = size_t(arena->cursor - reinterpret_cast<char*>(arena->first)) + length;
        arena->end =
            std::min(arena->chunkEnd, reinterpret_cast<char*>(arena->first) +
                                          ((reach + largePageSize - 1) & ~(largePageSize - 1)));
        char* const ahead = size_t(arena->chunkEnd - arena->end) > fillAhead
                                ? arena->end + fillAhead
                                : arena->chunkEnd;
        if (ahead > arena->filledTo) {
            arena->filler.Fill(arena->filledTo, size_t(ahead - arena->filledTo));
            arena->filledTo = ahead;
        }
    }
    char* regions = arena->cursor;
    arena->cursor += length;
    return regions;
}

RegionHeader* HeaderOf(void* memory)
{
    return reinterpret_cast<RegionHeader*>(reinterpret_cast<uintptr_t>(memory) &
                                           ~uintptr_t(regionSize - 1));
}

// A block of `size` bytes from the region of its class, a new region when
// that one is full.
void* FromRegion(Arena* arena, size_t sizeClass, size_t size)
{
    if (size > size_t(arena->regionEnd[sizeClass] - arena->regionCursor[sizeClass])) {
        char* region = TakeRegions(arena, regionSize);
        reinterpret_cast<RegionHeader*>(region)->sizeClass = sizeClass;
        arena->regionCursor[sizeClass] = region + sizeof(RegionHeader);
        arena->regionEnd[sizeClass] = region + regionSize;
    }
    void* block = arena->regionCursor[sizeClass];
    arena->regionCursor[sizeClass] += size;
    return block;
}

// The parser's allocator. Some inputs make the HTML5 tree construction
// quadratic in time or memory (thousands of misnested formatting elements,
// very deep nesting, tens of thousands of attributes on one tag); when the
// parse outgrows its budget of memory or time it is abandoned by jumping
// back to ParseWithin, which is safe because the parser is plain C and
// everything it holds lives in the arena.
void* ArenaAllocate(void* userdata, size_t size)
{
    auto* arena = static_cast<Arena*>(userdata);
    size = size == 0 ? 16 : (size + 15) & ~size_t(15);
    if (size < 16 || size > arena->byteLimit - arena->bytes)
        std::longjmp(arena->escape, 1);
    if ((++arena->calls & 1023u) == 0 && Clock::now() > arena->deadline)
        std::longjmp(arena->escape, 1);
    arena->bytes += size;
    if (size <= largestClassSize) {
        const size_t sizeClass = size / 16;
        if (FreeBlock* block = arena->released[sizeClass]) {
            arena->released[sizeClass] = block->next;
            return block;
        }
        return FromRegion(arena, sizeClass, size);
    }
    if (size <= largestInRegion)
        return FromRegion(arena, 0, size);
    // Regions of its own, the header in front.
    char* regions =
        TakeRegions(arena, (size + sizeof(RegionHeader) + regionSize - 1) & ~(regionSize - 1));
    reinterpret_cast<RegionHeader*>(regions)->sizeClass = 0;
    return regions + sizeof(RegionHeader);
}

// The parser's release: a block of a size class waits for the next request
// of its size; larger memory stays where it is until the document goes.
void ArenaRelease(void* userdata, void* block)
{
    if (!block)
        return;
    const size_t sizeClass = HeaderOf(block)->sizeClass;
    if (sizeClass == 0)
        return;
    auto* arena = static_cast<Arena*>(userdata);
    auto* released = static_cast<FreeBlock*>(block);
    released->next = arena->released[sizeClass];
    arena->released[sizeClass] = released;
}

// Runs the parser; null when it was abandoned. Holds no object with a
// destructor, so the jump back into it skips nothing.
GumboOutput* ParseWithin(Arena& arena, const GumboOptions& options, const char* data, size_t size)
{
    if (setjmp(arena.escape) != 0)
        return nullptr;
    return gumbo_parse_with_options(&options, data, size);
}

const GumboNode* AsNode(const void* node)
{
    return static_cast<const GumboNode*>(node);
}

bool IsElementNode(const GumboNode* node)
{
    return node && (node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE);
}

// Text, not CDATA: a CDATA section (foreign content only) keeps its bytes as
// they are, and the parser reports it together with the text before it.
bool IsTextNode(const GumboNode* node)
{
    return node && (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_WHITESPACE);
}

bool IsTagEnd(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '/' || c == '>';
}

// True when `text` starts with `prefix` followed by the lower-case `name`
// (any case in the text) and a character that ends a tag name.
bool IsTagText(std::string_view text, std::string_view prefix, std::string_view name)
{
    if (text.size() < prefix.size() + name.size() + 1 || text.substr(0, prefix.size()) != prefix)
        return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (Lower(text[prefix.size() + i]) != name[i])
            return false;
    return IsTagEnd(text[prefix.size() + name.size()]);
}

} // namespace

namespace {

enum class NodeKind : uint8_t { other, htmlElement, foreignElement, text, comment };

// What the scans of the document need of a node, kept beside the list of
// nodes so that they read memory in order instead of visiting the tree.
struct NodeInfo
{
    uint32_t depth;  // 0 for the children of the document
    uint32_t parent; // the parent's index in the list; noParent for the document
    uint16_t tag;    // the GumboTag of an element
    NodeKind kind;
};
constexpr uint32_t noParent = UINT32_MAX;

} // namespace

struct HtmlDocument::Parse
{
    Arena arena;
    GumboOutput* output = nullptr;
    // Every node in document order, and what the scans need of each.
    std::vector<const GumboNode*, LargeAllocator<const GumboNode*>> nodes;
    std::vector<NodeInfo, LargeAllocator<NodeInfo>> info;

    // An empty list with room for every node: what is not filled is never
    // touched, and the list is never moved while it fills.
    HtmlNodes NodeList() const
    {
        HtmlNodes out;
        out.reserve(info.size());
        return out;
    }

    // The nodes of one kind, in document order.
    HtmlNodes OfKind(NodeKind kind) const
    {
        HtmlNodes out = NodeList();
        for (size_t i = 0; i < info.size(); ++i)
            if (info[i].kind == kind)
                out.push_back(HtmlNode(nodes[i]));
        return out;
    }
};

HtmlDocument::HtmlDocument(std::string_view page) : page_(page), parse_(std::make_unique<Parse>())
{
    // The parser counts positions in 32 bits.
    if (page.size() > UINT_MAX / 2)
        return;
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = ArenaAllocate;
    options.deallocator = ArenaRelease;
    options.userdata = &parse_->arena;
    options.max_errors = 0;
    // A real page needs about ten times its size, dense markup (tables of
    // one-character cells) about fifty; sixty-four megabytes of headroom keep
    // small pages well clear of the limit.
    parse_->arena.byteLimit = (size_t(64) << 20) + page.size() * 64;
    // Real pages parse at three megabytes a second or more; the budget is
    // several times that, so only pathological markup reaches it.
    const double seconds = 2.0 + 2.0 * double(page.size()) / double(1 << 20);
    parse_->arena.deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(seconds));
    const char* data = page.empty() ? "" : page.data();
    parse_->output = ParseWithin(parse_->arena, options, data, page.size());
    if (!parse_->output) {
        parse_->arena.ReleaseAll();
        return;
    }
    // Room for every node the parse can have made (each took a node's worth
    // of its memory), so the lists are never moved while they fill; what is
    // not filled is never touched.
    const size_t mostNodes = parse_->arena.bytes / sizeof(GumboNode) + 1;
    parse_->nodes.reserve(mostNodes);
    parse_->info.reserve(mostNodes);
    // The nodes in document order, walked with an explicit stack: the tree
    // may be as deep as the page's nesting.
    struct Level
    {
        const GumboNode* node;
        unsigned next;
        uint32_t index;
    };
    std::vector<Level> stack{{parse_->output->document, 0, noParent}};
    while (!stack.empty()) {
        Level& level = stack.back();
        const GumboVector* children = nullptr;
        if (level.node->type == GUMBO_NODE_DOCUMENT)
            children = &level.node->v.document.children;
        else if (IsElementNode(level.node))
            children = &level.node->v.element.children;
        if (!children || level.next >= children->length) {
            stack.pop_back();
            continue;
        }
        const auto* child = static_cast<const GumboNode*>(children->data[level.next++]);
        NodeInfo info{uint32_t(stack.size() - 1), level.index, GUMBO_TAG_UNKNOWN, NodeKind::other};
        if (IsElementNode(child)) {
            info.tag = static_cast<uint16_t>(child->v.element.tag);
            info.kind = child->v.element.tag_namespace == GUMBO_NAMESPACE_HTML
                            ? NodeKind::htmlElement
                            : NodeKind::foreignElement;
        } else if (IsTextNode(child)) {
            info.kind = NodeKind::text;
        } else if (child->type == GUMBO_NODE_COMMENT) {
            info.kind = NodeKind::comment;
        }
        const uint32_t index = uint32_t(parse_->nodes.size());
        parse_->nodes.push_back(child);
        parse_->info.push_back(info);
        stack.push_back({child, 0, index});
    }
}

HtmlDocument::~HtmlDocument() = default;

bool HtmlDocument::IsParsed() const
{
    return parse_->output != nullptr;
}

namespace {

// The parser's number for a lower-case tag name, GUMBO_TAG_UNKNOWN for a name
// it does not know (whose elements carry their name only in their source).
GumboTag TagNumber(std::string_view name)
{
    return name.empty() ? GUMBO_TAG_UNKNOWN
                        : gumbo_tagn_enum(name.data(), static_cast<unsigned>(name.size()));
}

} // namespace

bool HtmlDocument::HasTagName(HtmlNode handle, std::string_view name) const
{
    const GumboNode* node = AsNode(handle.node_);
    if (!IsElementNode(node))
        return name.empty();
    // A known tag has one name; an unknown one needs its source text read.
    const GumboTag tag = TagNumber(name);
    if (node->v.element.tag != GUMBO_TAG_UNKNOWN || tag != GUMBO_TAG_UNKNOWN)
        return node->v.element.tag == tag && tag != GUMBO_TAG_UNKNOWN;
    return TagName(handle) == name;
}

namespace {

// Tells whether the HTML element at an index of the list has one of some
// names (lower case), by tag number where the parser knows the name.
class TagNameSet
{
public:
    explicit TagNameSet(const std::vector<std::string_view>& names) : names_(names)
    {
        for (std::string_view name : names)
            tags_.push_back(TagNumber(name));
    }

    template <typename NameOf> bool Contains(uint16_t tag, const NameOf& nameOf) const
    {
        for (size_t i = 0; i < names_.size(); ++i) {
            if (tags_[i] != GUMBO_TAG_UNKNOWN ? tag == tags_[i]
                                              : tag == GUMBO_TAG_UNKNOWN && nameOf() == names_[i])
                return true;
        }
        return false;
    }

private:
    const std::vector<std::string_view>& names_;
    std::vector<GumboTag> tags_;
};

} // namespace

HtmlNodes HtmlDocument::ElementsByTagName(std::string_view name) const
{
    HtmlNodes out = parse_->NodeList();
    const std::vector<std::string_view> names{name};
    const TagNameSet wanted(names);
    const auto& info = parse_->info;
    for (size_t i = 0; i < info.size(); ++i) {
        const HtmlNode node(parse_->nodes[i]);
        if (info[i].kind == NodeKind::htmlElement &&
            wanted.Contains(info[i].tag, [&] { return TagName(node); }))
            out.push_back(node);
    }
    return out;
}

HtmlNodes HtmlDocument::Comments() const
{
    return parse_->OfKind(NodeKind::comment);
}

HtmlNodes HtmlDocument::Texts() const
{
    return parse_->OfKind(NodeKind::text);
}

HtmlNodes HtmlDocument::TextsOutside(const std::vector<std::string_view>& names) const
{
    HtmlNodes out = parse_->NodeList();
    const TagNameSet excluded(names);
    const auto& info = parse_->info;
    // In document order a node lies inside the excluded element opened last
    // as long as it is deeper than that element.
    uint32_t insideDepth = noParent;
    for (size_t i = 0; i < info.size(); ++i) {
        if (insideDepth != noParent && info[i].depth <= insideDepth)
            insideDepth = noParent;
        if (insideDepth != noParent)
            continue;
        const HtmlNode node(parse_->nodes[i]);
        if (info[i].kind == NodeKind::text)
            out.push_back(node);
        else if (info[i].kind == NodeKind::htmlElement &&
                 excluded.Contains(info[i].tag, [&] { return TagName(node); }))
            insideDepth = info[i].depth;
    }
    return out;
}

HtmlNodes HtmlDocument::TextsIn(const std::vector<std::string_view>& names) const
{
    HtmlNodes out = parse_->NodeList();
    const TagNameSet parents(names);
    const auto& info = parse_->info;
    for (size_t i = 0; i < info.size(); ++i) {
        if (info[i].kind != NodeKind::text || info[i].parent == noParent)
            continue;
        const NodeInfo& parent = info[info[i].parent];
        const HtmlNode parentNode(parse_->nodes[info[i].parent]);
        if (parent.kind == NodeKind::htmlElement &&
            parents.Contains(parent.tag, [&] { return TagName(parentNode); }))
            out.push_back(HtmlNode(parse_->nodes[i]));
    }
    return out;
}

std::string HtmlDocument::TagName(HtmlNode handle) const
{
    const GumboNode* node = AsNode(handle.node_);
    if (!IsElementNode(node))
        return {};
    const GumboElement& element = node->v.element;
    if (element.tag != GUMBO_TAG_UNKNOWN) {
        std::string name = gumbo_normalized_tagname(element.tag);
        for (char& c : name)
            c = Lower(c);
        return name;
    }
    // An unknown tag's name is only in its source text.
    GumboStringPiece piece = element.original_tag;
    if (!piece.data || piece.length < 2)
        return {};
    gumbo_tag_from_original_text(&piece);
    std::string name(piece.data, piece.length);
    for (char& c : name)
        c = Lower(c);
    return name;
}

bool HtmlDocument::IsHtmlElement(HtmlNode handle) const
{
    const GumboNode* node = AsNode(handle.node_);
    return IsElementNode(node) && node->v.element.tag_namespace == GUMBO_NAMESPACE_HTML;
}

HtmlNode HtmlDocument::Parent(HtmlNode handle) const
{
    const GumboNode* node = AsNode(handle.node_);
    if (!node || !node->parent || node->parent->type == GUMBO_NODE_DOCUMENT)
        return HtmlNode();
    return HtmlNode(node->parent);
}

namespace {

// The span of a piece of reported source, when it lies inside the page.
HtmlSpan SpanOf(std::string_view page, const GumboStringPiece& piece)
{
    if (!piece.data || piece.length == 0 || piece.data < page.data() ||
        piece.data > page.data() + page.size() ||
        piece.length > size_t(page.data() + page.size() - piece.data))
        return {};
    return {size_t(piece.data - page.data()), piece.length};
}

} // namespace

HtmlSpan HtmlDocument::StartTag(HtmlNode handle) const
{
    const GumboNode* node = AsNode(handle.node_);
    if (!IsElementNode(node))
        return {};
    // Copies made by the parser (reconstructed or adoption-agency clones)
    // report the source of the element they copy.
    if (node->parse_flags &
        (GUMBO_INSERTION_BY_PARSER | GUMBO_INSERTION_IMPLIED |
         GUMBO_INSERTION_CONVERTED_FROM_END_TAG | GUMBO_INSERTION_RECONSTRUCTED_FORMATTING_ELEMENT |
         GUMBO_INSERTION_ADOPTION_AGENCY_CLONED))
        return {};
    const HtmlSpan span = SpanOf(page_, node->v.element.original_tag);
    if (span.empty() || !IsTagText(page_.substr(span.offset, span.length), "<", TagName(handle)))
        return {};
    return span;
}

HtmlSpan HtmlDocument::EndTag(HtmlNode handle) const
{
    const GumboNode* node = AsNode(handle.node_);
    if (!IsElementNode(node))
        return {};
    const HtmlSpan span = SpanOf(page_, node->v.element.original_end_tag);
    if (span.empty() || !IsTagText(page_.substr(span.offset, span.length), "</", TagName(handle)))
        return {};
    return span;
}

HtmlSpan HtmlDocument::Source(HtmlNode handle) const
{
    const GumboNode* node = AsNode(handle.node_);
    if (!node || node->type == GUMBO_NODE_DOCUMENT || IsElementNode(node))
        return {};
    return SpanOf(page_, node->v.text.original_text);
}

std::string HtmlDocument::CommentText(HtmlNode handle) const
{
    const GumboNode* node = AsNode(handle.node_);
    if (!node || node->type != GUMBO_NODE_COMMENT || !node->v.text.text)
        return {};
    return node->v.text.text;
}

std::optional<std::string_view> HtmlDocument::RawAttribute(HtmlNode handle,
                                                           std::string_view name) const
{
    const GumboNode* node = AsNode(handle.node_);
    if (!IsElementNode(node))
        return std::nullopt;
    const GumboVector& attributes = node->v.element.attributes;
    for (unsigned i = 0; i < attributes.length; ++i) {
        const auto* attribute = static_cast<const GumboAttribute*>(attributes.data[i]);
        if (attribute->name && name == attribute->name) {
            // An attribute without value reports its name as the value.
            if (attribute->original_value.data == attribute->original_name.data)
                return std::string_view();
            const HtmlSpan span = SpanOf(page_, attribute->original_value);
            return page_.substr(span.offset, span.length);
        }
    }
    return std::nullopt;
}

std::optional<std::string> HtmlDocument::Attribute(HtmlNode handle, std::string_view name) const
{
    const GumboNode* node = AsNode(handle.node_);
    if (!IsElementNode(node))
        return std::nullopt;
    const GumboVector& attributes = node->v.element.attributes;
    for (unsigned i = 0; i < attributes.length; ++i) {
        const auto* attribute = static_cast<const GumboAttribute*>(attributes.data[i]);
        if (attribute->name && name == attribute->name)
            return std::string(attribute->value ? attribute->value : "");
    }
    return std::nullopt;
}

std::string HtmlDocument::InnerHtml(HtmlNode handle) const
{
    const GumboNode* element = AsNode(handle.node_);
    const HtmlSpan start = StartTag(handle);
    if (start.empty())
        return {};
    const HtmlSpan end = EndTag(handle);
    size_t last = start.end();
    if (!end.empty()) {
        last = end.offset;
    } else {
        // Without an end tag the content reaches as far as its descendants'
        // source does.
        std::vector<const GumboNode*> stack{element};
        while (!stack.empty()) {
            const GumboNode* node = stack.back();
            stack.pop_back();
            HtmlSpan span;
            if (IsElementNode(node)) {
                span = SpanOf(page_, node->v.element.original_end_tag);
                if (span.empty())
                    span = SpanOf(page_, node->v.element.original_tag);
                const GumboVector& children = node->v.element.children;
                for (unsigned i = 0; i < children.length; ++i)
                    stack.push_back(static_cast<const GumboNode*>(children.data[i]));
            } else {
                span = SpanOf(page_, node->v.text.original_text);
            }
            if (!span.empty() && span.end() > last)
                last = span.end();
        }
    }
    if (last < start.end())
        return {};
    return std::string(page_.substr(start.end(), last - start.end()));
}

std::string HtmlDocument::ReplacementStartTag(HtmlNode element, std::string_view newName) const
{
    std::string tag = "<";
    tag += newName;
    if (const auto id = RawAttribute(element, "id")) {
        tag += " id=";
        if (id->size() >= 2 && (id->front() == '"' || id->front() == '\'') &&
            id->back() == id->front()) {
            tag += *id;
        } else {
            // An unquoted value (or none) is written in double quotes; a quote
            // inside it becomes its reference.
            tag += '"';
            for (char c : *id) {
                if (c == '"')
                    tag += "&quot;";
                else
                    tag += c;
            }
            tag += '"';
        }
    }
    tag += '>';
    return tag;
}

bool HtmlDocument::ReplaceElement(HtmlNode element, std::string_view newName)
{
    const HtmlSpan start = StartTag(element);
    const HtmlSpan end = EndTag(element);
    const std::string endTag = "</" + std::string(newName) + ">";
    bool changed = false;
    if (!start.empty() && !Overlaps(start)) {
        Record(start, ReplacementStartTag(element, newName));
        changed = true;
    }
    if (!end.empty() && !Overlaps(end)) {
        Record(end, endTag);
        changed = true;
    }
    return changed;
}

bool HtmlDocument::RemoveNode(HtmlNode handle, bool deep)
{
    const GumboNode* node = AsNode(handle.node_);
    if (!node)
        return false;
    if (!IsElementNode(node))
        return deep && ReplaceBytes(Source(handle), {});
    const HtmlSpan start = StartTag(handle);
    const HtmlSpan end = EndTag(handle);
    if (deep) {
        if (start.empty() || end.empty() || end.offset < start.end())
            return false;
        return ReplaceBytes({start.offset, end.end() - start.offset}, {});
    }
    bool changed = false;
    if (!start.empty() && !Overlaps(start)) {
        Record(start, {});
        changed = true;
    }
    if (!end.empty() && !Overlaps(end)) {
        Record(end, {});
        changed = true;
    }
    return changed;
}

bool HtmlDocument::ReplaceBytes(HtmlSpan span, std::string_view replacement)
{
    if (span.empty() || span.end() > page_.size() || Overlaps(span))
        return false;
    Record(span, std::string(replacement));
    return true;
}

size_t HtmlDocument::RemovedThrough(size_t offset) const
{
    for (auto it = edits_.find(offset); it != edits_.end() && it->second.replacement.empty();
         it = edits_.find(offset))
        offset = it->second.span.end();
    return offset;
}

bool HtmlDocument::HasEdits() const
{
    return !edits_.empty();
}

bool HtmlDocument::Overlaps(HtmlSpan span) const
{
    // Edits never overlap one another, so only the neighbours of the
    // position can.
    auto after = edits_.lower_bound(span.offset);
    if (after != edits_.end() && after->first < span.end())
        return true;
    if (after != edits_.begin() && std::prev(after)->second.span.end() > span.offset)
        return true;
    return false;
}

void HtmlDocument::Record(HtmlSpan span, std::string replacement)
{
    edits_.emplace(span.offset, Edit{span, std::move(replacement)});
}

bool HtmlDocument::CancelEdit(size_t offset)
{
    return edits_.erase(offset) > 0;
}

namespace {

// Appends the page with the edits applied to `out`, which has `reserve`
// (string) or `Reserve` (buffer) and `append`/`Append`.
template <typename Edits, typename Append>
void AppendEdited(std::string_view page, const Edits& edits,
                  std::vector<HtmlDocument::Removal>* removals, size_t& written, Append append)
{
    size_t last = 0;
    for (const auto& [offset, edit] : edits) {
        append(page.substr(last, edit.span.offset - last));
        if (removals && edit.replacement.empty())
            removals->push_back({written, offset});
        append(edit.replacement);
        last = edit.span.end();
    }
    append(page.substr(last));
}

} // namespace

std::string HtmlDocument::Text(std::vector<Removal>* removals) const
{
    std::string out;
    out.reserve(page_.size());
    size_t written = 0;
    AppendEdited(page_, edits_, removals, written, [&](std::string_view piece) {
        out += piece;
        written = out.size();
    });
    return out;
}

void HtmlDocument::WriteText(LargeBuffer& out, std::vector<Removal>* removals) const
{
    size_t size = page_.size();
    for (const auto& [offset, edit] : edits_)
        size = size - edit.span.length + edit.replacement.size();
    out.SetSize(0);
    out.Reserve(size);
    size_t written = 0;
    AppendEdited(page_, edits_, removals, written, [&](std::string_view piece) {
        out.Append(piece.data(), piece.size());
        written = out.size();
    });
}

} // namespace kestrix
