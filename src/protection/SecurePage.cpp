#include "protection/SecurePage.h"

#include "protection/AccessScript.h"
#include "protection/Optimise.h"
#include "protection/PageText.h"
#include "protection/Scramble.h"

namespace kestrix {

namespace {

std::string MarkerElement(std::string_view marker, std::string_view content)
{
    std::string element;
    element.reserve(2 * marker.size() + content.size() + 5);
    element += '<';
    element += marker;
    element += '>';
    element += content;
    element += "</";
    element += marker;
    element += '>';
    return element;
}

} // namespace

void SecuringPieces::JoinBody(std::string_view a, std::string_view b, std::string_view c)
{
    if (int(!a.empty()) + int(!b.empty()) + int(!c.empty()) <= 1) {
        body = !a.empty() ? a : !b.empty() ? b : c;
        return;
    }
    std::string joined;
    joined.reserve(a.size() + b.size() + c.size());
    joined += a;
    joined += b;
    joined += c;
    own_.swap(joined);
    body = own_;
}

bool SplitForSecuring(std::string_view text, ProtectionParts parts,
                      const ProtectionSettings& settings, SecuringPieces& pieces)
{
    // Head, body and tail, as views of the text: through the ">" after the
    // first start mark of the body, then up to the first end mark, which
    // must come after that ">". A page whose body cannot be found is left as
    // it was.
    constexpr size_t none = std::string_view::npos;
    const size_t start = FindNoCase(text, "<BODY");
    const size_t close = start == none ? none : text.find('>', start);
    if (close == none || FindNoCase(text.substr(0, close + 1), "</BODY") != none)
        return false;
    // Past the start tag one pass finds the end mark and tells whether a
    // marker name stands before it: every marker step below needs the name
    // in the body, and most pages do not have it.
    bool isEnd = false;
    size_t end = FindEitherNoCase(text, "KESTRIX-", "</BODY", close + 1, &isEnd);
    const bool markers = end != none && !isEnd;
    if (markers)
        end = FindNoCase(text, "</BODY", end + 1);
    if (end == none)
        return false;
    pieces.head = text.substr(0, close + 1);
    pieces.tail = text.substr(end);
    pieces.body = text.substr(close + 1, end - close - 1);
    pieces.scriptElement.clear();
    pieces.scrambled = false;

    // 4. The access script replaces any from an earlier run.
    if (parts & partLimitAccess) {
        if (markers && FindNoCase(pieces.body, "KESTRIX-SCRIPT") != std::string_view::npos) {
            bool complete = false;
            const TextViews old = ExtractElementViews(pieces.body, scriptMarker, &complete);
            if (complete)
                pieces.JoinBody(old.before, old.after);
        }
        const std::string script = BuildAccessScript(settings);
        if (!script.empty())
            pieces.scriptElement = MarkerElement(scriptMarker, script);
    }

    // 5. The content to scramble inside the content marker.
    if (parts & partEncrypt) {
        if (markers) {
            const TextViews unwrapped = UnwrapElementViews(pieces.body, contentMarker);
            pieces.JoinBody(unwrapped.before, unwrapped.middle, unwrapped.after);
        }
        if (settings.StrengthLevel > 0) {
            if (markers && pieces.body.find(scriptMarker) != std::string_view::npos) {
                bool complete = false;
                const TextViews lifted = ExtractElementViews(pieces.body, scriptMarker, &complete);
                if (complete) {
                    pieces.scriptElement = std::string(lifted.middle);
                    pieces.JoinBody(lifted.before, lifted.after);
                }
            }
            pieces.scrambled = true;
        }
    }
    return true;
}

bool IsSecuredPage(std::string_view text)
{
    return text.find(contentMarker) != std::string_view::npos;
}

bool ProtectionEngine::SecurePage(std::string& page) const
{
    try {
        // 1. Optimisation of the whole page, on a copy, so that a failure
        // leaves the page as it was.
        std::string optimised;
        const bool optimise = (parts & partOptimise) && OptimiseActive;
        if (optimise) {
            optimised = page;
            OptimisePage(optimised, settings);
        }
        const std::string_view text = optimise ? std::string_view(optimised) : page;
        // 2. Optimisation alone.
        if (!(parts & (partEncrypt | partLimitAccess))) {
            if (optimise)
                page.swap(optimised);
            return true;
        }
        // 3. to 5. Head, script element, body text and tail.
        SecuringPieces pieces;
        if (!SplitForSecuring(text, parts, settings, pieces))
            return false;
        const std::string_view head = pieces.head;
        const std::string_view tail = pieces.tail;
        const std::string& scriptElement = pieces.scriptElement;
        std::string contentStart;
        std::unique_ptr<PageContentLayers> layers;
        if (pieces.scrambled) {
            contentStart = "<";
            contentStart += contentMarker;
            contentStart += " settings=\"" + SettingsAttribute(settings) + "\">";
            layers = std::make_unique<PageContentLayers>(pieces.body, text, settings.StrengthLevel);
        }
        // 6. The pieces appended to a result reserved to their joined size.
        const std::string contentEnd = layers ? "</" + std::string(contentMarker) + ">" : "";
        const size_t size = head.size() + scriptElement.size() +
                            (layers ? contentStart.size() + layers->Size() + contentEnd.size()
                                    : pieces.body.size()) +
                            tail.size();
        std::string result;
        result.reserve(size);
        result += head;
        result += scriptElement;
        if (layers) {
            result += contentStart;
            layers->AppendTo(result);
            result += contentEnd;
        } else {
            result += pieces.body;
        }
        result += tail;
        page.swap(result);
        return true;
    } catch (const Cancelled&) {
        return false;
    }
}

} // namespace kestrix
