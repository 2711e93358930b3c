#include "protection/Optimise.h"
#include "platform/Text.h"

#include "platform/Errors.h"
#include "platform/HtmlDocument.h"
#include "platform/LargeBuffer.h"
#include "platform/MessageTranslator.h"
#include "protection/PageText.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace kestrix {

namespace {

// The optimised text is built in a string for OptimisePage, and in
// large-page memory for OptimisePageInto (a whole page, touched once).
void StartText(std::string& text, size_t capacity)
{
    text.clear();
    text.reserve(capacity);
}
void StartText(LargeBuffer& text, size_t capacity)
{
    text.SetSize(0);
    text.Reserve(capacity);
}
void AppendText(std::string& text, std::string_view piece)
{
    text += piece;
}
void AppendText(LargeBuffer& text, std::string_view piece)
{
    text.Append(piece.data(), piece.size());
}
std::string_view TextView(const std::string& text)
{
    return text;
}
std::string_view TextView(const LargeBuffer& text)
{
    return text.View();
}
void EditedText(const HtmlDocument& doc, std::string& text,
                std::vector<HtmlDocument::Removal>* removals)
{
    text = doc.Text(removals);
}
void EditedText(const HtmlDocument& doc, LargeBuffer& text,
                std::vector<HtmlDocument::Removal>* removals)
{
    doc.WriteText(text, removals);
}

// Steps 1 to 3: every "</P>", "</TR>" and "</TD>" whose switch is on,
// without regard to case but only in that exact form, replaced by one blank.
// One pass does all three: no two of the tags overlap, and a blank put in
// the place of one cannot complete another, so the result is the one the
// three steps give one after another. Returns false, leaving `out` alone,
// when no tag occurs.
template <typename Text>
bool ReplaceEndTags(std::string_view page, const ProtectionSettings& settings, Text& out)
{
    if (!settings.RemoveEndP && !settings.RemoveEndTR && !settings.RemoveEndTD)
        return false;
    // The length of a tag to replace at `pos` (just past "</"), else 0.
    auto tagAt = [&](size_t pos) -> size_t {
        const char a = pos < page.size() ? char(page[pos] & ~0x20) : 0;
        if (a == 'P')
            return settings.RemoveEndP && pos + 1 < page.size() && page[pos + 1] == '>' ? 4 : 0;
        if (a != 'T' || pos + 2 >= page.size() || page[pos + 2] != '>')
            return 0;
        const char b = char(page[pos + 1] & ~0x20);
        return (b == 'R' && settings.RemoveEndTR) || (b == 'D' && settings.RemoveEndTD) ? 5 : 0;
    };
    size_t last = 0;
    bool found = false;
    for (size_t pos = page.find("</"); pos != std::string_view::npos;
         pos = page.find("</", pos + 2)) {
        const size_t length = tagAt(pos + 2);
        if (length == 0)
            continue;
        if (!found) {
            StartText(out, page.size());
            found = true;
        }
        AppendText(out, page.substr(last, pos - last));
        AppendText(out, " ");
        last = pos + length;
        pos = last - 2;
    }
    if (found)
        AppendText(out, page.substr(last));
    return found;
}

bool IsLineBreak(char c)
{
    return c == '\n' || c == '\r';
}

bool IsAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// True when `text` at `pos` holds the lower-case `word` in any case.
bool HasWordAt(std::string_view text, size_t pos, std::string_view word)
{
    if (pos > text.size() || text.size() - pos < word.size())
        return false;
    for (size_t i = 0; i < word.size(); ++i)
        if (Lower(text[pos + i]) != word[i])
            return false;
    return true;
}

// True when `text` at `pos` (just after a "<") holds the tag name `name`
// followed by a character that ends a tag name.
bool HasTagNameAt(std::string_view text, size_t pos, std::string_view name)
{
    if (!HasWordAt(text, pos, name) || pos + name.size() >= text.size())
        return false;
    const char c = text[pos + name.size()];
    return IsSpace(c) || c == '/' || c == '>';
}

bool ContainsWord(std::string_view text, std::string_view word)
{
    for (size_t pos = 0; pos + word.size() <= text.size(); ++pos)
        if (HasWordAt(text, pos, word))
            return true;
    return false;
}

// What one whitespace run becomes: one line break (the first one, as
// written) when it holds one, otherwise one blank.
std::string_view MergedWhitespace(std::string_view run)
{
    for (size_t i = 0; i < run.size(); ++i) {
        if (run[i] == '\r')
            return (i + 1 < run.size() && run[i + 1] == '\n') ? run.substr(i, 2) : run.substr(i, 1);
        if (run[i] == '\n')
            return run.substr(i, 1);
    }
    return " ";
}

// The ranges of the page that no step may edit: server-side code, which the
// server runs before any browser sees the page ("<? ... ?>", "<% ... %>",
// to the end of the page when unterminated), and every body start and end
// mark, which securing finds by a plain text search.
class ProtectedRanges
{
public:
    explicit ProtectedRanges(std::string_view page)
    {
        std::vector<HtmlSpan> found;
        for (size_t pos = page.find('<'); pos != std::string_view::npos;
             pos = page.find('<', pos + 1)) {
            if (pos + 1 < page.size() && (page[pos + 1] == '?' || page[pos + 1] == '%')) {
                const char close[2] = {page[pos + 1], '>'};
                const size_t end = page.find(std::string_view(close, 2), pos + 2);
                const size_t stop = end == std::string_view::npos ? page.size() : end + 2;
                found.push_back({pos, stop - pos});
                // Whatever the code holds is covered; the scan goes on after it.
                pos = stop - 1;
            } else if (HasWordAt(page, pos + 1, "body")) {
                found.push_back({pos, 5});
            } else if (pos + 1 < page.size() && page[pos + 1] == '/' &&
                       HasWordAt(page, pos + 2, "body")) {
                found.push_back({pos, 6});
            }
        }
        // Sorted by offset already; merge the ranges that overlap.
        for (const HtmlSpan& span : found) {
            if (!ranges_.empty() && span.offset < ranges_.back().end()) {
                const size_t end = std::max(ranges_.back().end(), span.end());
                ranges_.back().length = end - ranges_.back().offset;
            } else {
                ranges_.push_back(span);
            }
        }
    }

    // True when an edit of `span` would change protected bytes.
    bool Touches(HtmlSpan span) const
    {
        if (span.empty())
            return false;
        // The first range that ends after the span's start.
        auto it =
            std::upper_bound(ranges_.begin(), ranges_.end(), span.offset,
                             [](size_t offset, const HtmlSpan& r) { return offset < r.end(); });
        return it != ranges_.end() && it->offset < span.end();
    }

private:
    std::vector<HtmlSpan> ranges_;
};

// Step 5: every comment removed, last to first, except those holding
// "#include" (server-side include directives). Only comments written as
// "<!--" count: the parser also reports "<?...>" and "<!...>" as comments,
// and those hold server code or declarations.
void RemoveGroupComments(HtmlDocument& doc, const ProtectedRanges& guard)
{
    const HtmlNodes comments = doc.Comments();
    for (auto it = comments.rbegin(); it != comments.rend(); ++it) {
        const HtmlSpan span = doc.Source(*it);
        if (span.empty() || doc.Page().substr(span.offset, 4) != "<!--" || guard.Touches(span))
            continue;
        if (doc.CommentText(*it).find("#include") != std::string::npos)
            continue;
        doc.RemoveNode(*it, true);
    }
}

// Step 6: simple tags replaced, each pair in order, elements last to first.
// If any tag of a name cannot be edited (it holds server code or a body
// mark), no element of that name is replaced, so start and end tags never
// end up with different names.
void ReplaceSimpleTags(HtmlDocument& doc, const ProtectedRanges& guard)
{
    static const std::pair<std::string_view, std::string_view> pairs[] = {
        {"strong", "b"}, {"em", "i"}, {"strikeout", "s"}, {"blockquote", "ul"}};
    for (const auto& [from, to] : pairs) {
        const HtmlNodes elements = doc.ElementsByTagName(from);
        const bool editable = std::none_of(elements.begin(), elements.end(), [&](HtmlNode e) {
            return guard.Touches(doc.StartTag(e)) || guard.Touches(doc.EndTag(e));
        });
        if (!editable)
            continue;
        for (auto it = elements.rbegin(); it != elements.rend(); ++it)
            doc.ReplaceElement(*it, to);
    }
}

// True when the bytes from `pos` on, past whitespace, end the page or begin
// another part of the table: there a tbody tag can go without moving
// anything. Elsewhere it may also close an open cell, and what follows it
// would move into that cell if the tag went.
bool FollowedByTableStructure(std::string_view page, size_t pos)
{
    while (pos < page.size() && IsSpace(page[pos]))
        ++pos;
    if (pos == page.size())
        return true;
    if (page[pos] != '<')
        return false;
    static const std::string_view names[] = {"/table", "/tbody", "tbody", "thead", "tfoot", "tr"};
    for (std::string_view name : names)
        if (HasTagNameAt(page, pos + 1, name))
            return true;
    return false;
}

// Step 7: the tags of every tbody removed, its rows staying in place.
void RemoveTbody(HtmlDocument& doc, const ProtectedRanges& guard)
{
    const HtmlNodes elements = doc.ElementsByTagName("tbody");
    for (auto it = elements.rbegin(); it != elements.rend(); ++it) {
        const HtmlSpan start = doc.StartTag(*it);
        const HtmlSpan end = doc.EndTag(*it);
        if (guard.Touches(start) || guard.Touches(end))
            continue;
        if (!start.empty() && FollowedByTableStructure(doc.Page(), start.end()))
            doc.ReplaceBytes(start, {});
        if (!end.empty() && FollowedByTableStructure(doc.Page(), end.end()))
            doc.ReplaceBytes(end, {});
    }
}

// True for a script element whose content is JavaScript.
bool IsJavaScript(const HtmlDocument& doc, HtmlNode script)
{
    auto trimmed = [](std::string value) {
        while (!value.empty() && IsSpace(value.back()))
            value.pop_back();
        size_t start = 0;
        while (start < value.size() && IsSpace(value[start]))
            ++start;
        value.erase(0, start);
        for (char& c : value)
            c = Lower(c);
        return value;
    };
    if (const auto type = doc.Attribute(script, "type")) {
        static const std::string_view types[] = {"",
                                                 "text/javascript",
                                                 "application/javascript",
                                                 "application/x-javascript",
                                                 "text/x-javascript",
                                                 "text/ecmascript",
                                                 "application/ecmascript",
                                                 "application/x-ecmascript",
                                                 "text/x-ecmascript",
                                                 "text/jscript",
                                                 "text/livescript",
                                                 "text/javascript1.0",
                                                 "text/javascript1.1",
                                                 "text/javascript1.2",
                                                 "text/javascript1.3",
                                                 "text/javascript1.4",
                                                 "text/javascript1.5",
                                                 "module"};
        const std::string value = trimmed(*type);
        return std::find(std::begin(types), std::end(types), value) != std::end(types);
    }
    if (const auto language = doc.Attribute(script, "language")) {
        const std::string value = trimmed(*language);
        return value.empty() || value.starts_with("javascript") || value.starts_with("jscript") ||
               value.starts_with("livescript") || value.starts_with("ecmascript");
    }
    return true;
}

bool IsCss(const HtmlDocument& doc, HtmlNode style)
{
    const auto type = doc.Attribute(style, "type");
    if (!type)
        return true;
    std::string value;
    for (char c : *type)
        if (!IsSpace(c))
            value += Lower(c);
    return value.empty() || value == "text/css";
}

// The end of the line at `pos`, past its line break (CR LF, LF or CR).
size_t PastLineBreak(std::string_view text, size_t pos)
{
    while (pos < text.size() && !IsLineBreak(text[pos]))
        ++pos;
    if (pos < text.size() && text[pos] == '\r') {
        ++pos;
        if (pos < text.size() && text[pos] == '\n')
            ++pos;
    } else if (pos < text.size()) {
        ++pos;
    }
    return pos;
}

// "Remove Comment Tags": the "<!--" at the start and the "-->" (or "// -->")
// at the end of a script's or style's text, which hid the code from browsers
// that did not know the element, are removed; the code between stays. In a
// script "<!--" begins a one-line comment, so the rest of its line goes with
// it. A script that writes "<script" somewhere keeps its markers: without
// them the browser would end the element at a "</script>" inside it.
void RemoveScriptCommentMarkers(HtmlDocument& doc, const ProtectedRanges& guard)
{
    for (HtmlNode text : doc.TextsIn({"script", "style"})) {
        const HtmlNode parent = doc.Parent(text);
        const bool script = doc.HasTagName(parent, "script");
        if (script ? !IsJavaScript(doc, parent)
                   : (!doc.HasTagName(parent, "style") || !IsCss(doc, parent)))
            continue;
        const HtmlSpan span = doc.Source(text);
        if (span.empty())
            continue;
        const std::string_view content = doc.Page().substr(span.offset, span.length);
        if (script && ContainsWord(content, "<script"))
            continue;
        size_t first = 0;
        while (first < content.size() && IsSpace(content[first]))
            ++first;
        size_t last = content.size();
        while (last > first && IsSpace(content[last - 1]))
            --last;

        size_t openerEnd = first;
        if (content.substr(first, 4) == "<!--") {
            size_t end = first + 4;
            size_t lineEnd = end;
            while (lineEnd < content.size() && !IsLineBreak(content[lineEnd]))
                ++lineEnd;
            bool restBlank = true;
            for (size_t i = end; i < lineEnd; ++i)
                restBlank = restBlank && IsSpace(content[i]);
            if (script || restBlank)
                end = PastLineBreak(content, end);
            const HtmlSpan opener{span.offset + first, end - first};
            if (!guard.Touches(opener) && doc.ReplaceBytes(opener, {}))
                openerEnd = end;
        }
        if (last >= openerEnd + 3 && content.substr(last - 3, 3) == "-->") {
            size_t start = last - 3;
            if (script) {
                size_t j = start;
                while (j > openerEnd && (content[j - 1] == ' ' || content[j - 1] == '\t'))
                    --j;
                if (j >= openerEnd + 2 && content.substr(j - 2, 2) == "//")
                    start = j - 2;
            }
            // Blanks before the marker go with it; so does its line break
            // when the marker stood alone on its line.
            while (start > openerEnd && (content[start - 1] == ' ' || content[start - 1] == '\t'))
                --start;
            if (start > openerEnd && IsLineBreak(content[start - 1])) {
                --start;
                if (start > openerEnd && content[start] == '\n' && content[start - 1] == '\r')
                    --start;
            }
            const HtmlSpan closer{span.offset + start, last - start};
            if (!guard.Touches(closer))
                doc.ReplaceBytes(closer, {});
        }
    }
}

// "Merge Whitespace": every run of whitespace in text outside preformatted
// and raw-text elements becomes one blank, or one line break when it holds
// one. Tags that the parser ignored inside a text's source are skipped, so
// attribute values stay untouched. Runs that only a removed comment or tag
// separated are merged as one, so a removal leaves no double blank.
void MergeWhitespace(HtmlDocument& doc, const ProtectedRanges& guard)
{
    static const std::vector<std::string_view> kept = {"pre",     "textarea", "script",   "style",
                                                       "listing", "xmp",      "plaintext"};
    const std::string_view page = doc.Page();
    const HtmlNodes texts = doc.TextsOutside(kept);
    std::vector<HtmlSpan, LargeAllocator<HtmlSpan>> runs;
    runs.reserve(2 * texts.size());
    for (HtmlNode text : texts) {
        const HtmlSpan span = doc.Source(text);
        if (span.empty())
            continue;
        const std::string_view content = page.substr(span.offset, span.length);
        size_t pos = 0;
        while (pos < content.size()) {
            const char c = content[pos];
            if (c == '<' && pos + 1 < content.size() &&
                (IsAsciiLetter(content[pos + 1]) || content[pos + 1] == '/' ||
                 content[pos + 1] == '!' || content[pos + 1] == '?')) {
                const size_t close = content.find('>', pos + 1);
                if (close == std::string_view::npos)
                    break;
                pos = close + 1;
                continue;
            }
            if (!IsSpace(c)) {
                ++pos;
                continue;
            }
            size_t end = pos;
            while (end < content.size() && IsSpace(content[end]))
                ++end;
            const HtmlSpan run{span.offset + pos, end - pos};
            if (!guard.Touches(run))
                runs.push_back(run);
            pos = end;
        }
    }
    // Text moved by the parser (out of a table) comes out of document order.
    std::sort(runs.begin(), runs.end(),
              [](const HtmlSpan& a, const HtmlSpan& b) { return a.offset < b.offset; });
    for (size_t i = 0; i < runs.size();) {
        size_t j = i + 1;
        std::string joined(page.substr(runs[i].offset, runs[i].length));
        while (j < runs.size() && doc.RemovedThrough(runs[j - 1].end()) == runs[j].offset) {
            joined += page.substr(runs[j].offset, runs[j].length);
            ++j;
        }
        const std::string_view merged = MergedWhitespace(joined);
        if (page.substr(runs[i].offset, runs[i].length) != merged)
            doc.ReplaceBytes(runs[i], merged);
        for (size_t k = i + 1; k < j; ++k)
            doc.ReplaceBytes(runs[k], {});
        i = j;
    }
}

bool IsAsciiAlphanumeric(char c)
{
    return IsAsciiLetter(c) || (c >= '0' && c <= '9');
}

// True when the bytes that a removal brought together at `pos` of the text
// read as markup they did not form apart: a "<" (or "</", "<!", "<!-") now
// followed by a tag name or comment start, or an "&" and a name now forming
// a character reference.
bool JoinCreatesMarkup(std::string_view text, size_t pos)
{
    if (pos == 0 || pos >= text.size())
        return false;
    const char next = text[pos];
    for (size_t back = 1; back <= 3 && back <= pos; ++back) {
        const char c = text[pos - back];
        if (c == '>' || IsSpace(c))
            break;
        if (c == '<')
            return IsAsciiLetter(next) || next == '/' || next == '!' || next == '?' || next == '-';
    }
    if (IsAsciiAlphanumeric(next) || next == '#' || next == ';') {
        size_t back = pos;
        while (back > 0 && pos - back < 40 &&
               (IsAsciiAlphanumeric(text[back - 1]) || text[back - 1] == '#'))
            --back;
        if (back > 0 && text[back - 1] == '&')
            return true;
    }
    return false;
}

// True when some whitespace run of the page would change when merged.
bool HasMergeableWhitespace(std::string_view page)
{
    const size_t size = page.size();
    for (size_t pos = 0; pos < size; ++pos) {
        if (!IsSpace(page[pos]))
            continue;
        size_t end = pos;
        while (end < size && IsSpace(page[end]))
            ++end;
        const size_t length = end - pos;
        if (length > 2 || page[pos] == '\t' || page[pos] == '\f' ||
            (length == 2 && !(page[pos] == '\r' && page[pos + 1] == '\n')))
            return true;
        pos = end;
    }
    return false;
}

} // namespace

bool OptimiseNeedsDocumentModel(std::string_view page, const ProtectionSettings& settings)
{
    const bool scriptMarkers = settings.RemoveComments;
    if (!settings.RemoveGroupComments && !settings.ReplaceSimpleTags && !settings.RemoveTbody &&
        !scriptMarkers && !settings.MergeWhitespace)
        return false;
    if (settings.MergeWhitespace && HasMergeableWhitespace(page))
        return true;
    bool commentOpen = false;
    bool scriptOrStyle = false;
    const bool markerClose = scriptMarkers && page.find("-->") != std::string_view::npos;
    for (size_t pos = page.find('<'); pos != std::string_view::npos;
         pos = page.find('<', pos + 1)) {
        const size_t name = pos + 1;
        if (page.substr(name, 3) == "!--") {
            commentOpen = true;
            if (settings.RemoveGroupComments)
                return true;
        } else if (settings.ReplaceSimpleTags &&
                   (HasTagNameAt(page, name, "strong") || HasTagNameAt(page, name, "em") ||
                    HasTagNameAt(page, name, "strikeout") ||
                    HasTagNameAt(page, name, "blockquote"))) {
            return true;
        } else if (settings.RemoveTbody && HasTagNameAt(page, name, "tbody")) {
            return true;
        } else if (HasTagNameAt(page, name, "script") || HasTagNameAt(page, name, "style")) {
            scriptOrStyle = true;
        }
        if (scriptMarkers && scriptOrStyle && (commentOpen || markerClose))
            return true;
    }
    return false;
}

namespace {

// Steps 4 to 7 and the two further switches, on the document tree of the
// text as the end-tag replacements left it. Returns false, leaving `out`
// alone, when nothing is edited.
template <typename Text>
bool EditDocument(std::string_view page, const ProtectionSettings& settings, Text& out)
{
    if (!OptimiseNeedsDocumentModel(page, settings))
        return false;
    HtmlDocument doc(page);
    if (!doc.IsParsed())
        throw Failure(
            TranslateMessage("The page is too large or too deeply nested to be optimized."));
    const ProtectedRanges guard(page);
    if (settings.RemoveGroupComments)
        RemoveGroupComments(doc, guard);
    if (settings.ReplaceSimpleTags)
        ReplaceSimpleTags(doc, guard);
    if (settings.RemoveTbody)
        RemoveTbody(doc, guard);
    if (settings.RemoveComments)
        RemoveScriptCommentMarkers(doc, guard);
    if (settings.MergeWhitespace)
        MergeWhitespace(doc, guard);
    if (!doc.HasEdits())
        return false;
    // A removal must not join its neighbours into new markup ("<" + "<!---->"
    // + "b>" would become a tag); such removals are taken back. Taking one
    // back can expose another join, so this repeats; should it not settle in
    // eight rounds, every removal is taken back.
    for (int round = 0;; ++round) {
        std::vector<HtmlDocument::Removal> removals;
        EditedText(doc, out, &removals);
        bool cancelled = false;
        for (const HtmlDocument::Removal& removal : removals)
            if (round >= 8 || JoinCreatesMarkup(TextView(out), removal.position))
                cancelled = doc.CancelEdit(removal.offset) || cancelled;
        if (!cancelled)
            break;
    }
    return true;
}

} // namespace

void OptimisePage(std::string& page, const ProtectionSettings& settings)
{
    std::string text;
    if (ReplaceEndTags(page, settings, text))
        page.swap(text);
    if (EditDocument(page, settings, text))
        page.swap(text);
}

bool OptimisePageInto(std::string_view page, const ProtectionSettings& settings, LargeBuffer& out)
{
    LargeBuffer replaced;
    const bool endTags = ReplaceEndTags(page, settings, replaced);
    if (EditDocument(endTags ? replaced.View() : page, settings, out))
        return true;
    if (endTags)
        out = std::move(replaced);
    return endTags;
}

} // namespace kestrix
