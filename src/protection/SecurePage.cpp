#include "protection/SecurePage.h"

#include "protection/AccessScript.h"
#include "protection/Optimise.h"
#include "protection/PageText.h"
#include "protection/Scramble.h"

namespace kestrix {

namespace {

// The body text as the steps leave it: a view of the page while no step has
// cut anything out of it, else a string holding what remains. A cut builds a
// new string from the pieces that stay; nothing is edited in place.
class BodyText
{
public:
    explicit BodyText(std::string_view text) : view_(text) {}

    std::string_view View() const { return view_; }

    // The body becomes the pieces joined, which may be views of it.
    void Join(std::string_view a, std::string_view b, std::string_view c = {})
    {
        if (int(!a.empty()) + int(!b.empty()) + int(!c.empty()) <= 1) {
            view_ = !a.empty() ? a : !b.empty() ? b : c;
            return;
        }
        std::string joined;
        joined.reserve(a.size() + b.size() + c.size());
        joined += a;
        joined += b;
        joined += c;
        own_.swap(joined);
        view_ = own_;
    }

private:
    std::string_view view_;
    std::string own_;
};

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
        // 3. Head, body and tail, as views of the text: through the ">" after
        // the first start mark of the body, then up to the first end mark,
        // which must come after that ">". A page whose body cannot be found
        // is left as it was.
        constexpr size_t none = std::string_view::npos;
        const size_t start = FindNoCase(text, "<BODY");
        const size_t close = start == none ? none : text.find('>', start);
        if (close == none || FindNoCase(text.substr(0, close + 1), "</BODY") != none)
            return false;
        // Past the start tag one pass finds the end mark and tells whether a
        // marker name stands before it: every marker step below needs the
        // name in the body, and most pages do not have it.
        bool isEnd = false;
        size_t end = FindEitherNoCase(text, "KESTRIX-", "</BODY", close + 1, &isEnd);
        const bool markers = end != none && !isEnd;
        if (markers)
            end = FindNoCase(text, "</BODY", end + 1);
        if (end == none)
            return false;
        const std::string_view head = text.substr(0, close + 1);
        const std::string_view tail = text.substr(end);
        BodyText body(text.substr(close + 1, end - close - 1));
        std::string scriptElement;

        // 4. The access script replaces any from an earlier run.
        if (parts & partLimitAccess) {
            if (markers && FindNoCase(body.View(), "KESTRIX-SCRIPT") != std::string_view::npos) {
                bool complete = false;
                const TextViews old = ExtractElementViews(body.View(), scriptMarker, &complete);
                if (complete)
                    body.Join(old.before, old.after);
            }
            const std::string script = BuildAccessScript(settings);
            if (!script.empty())
                scriptElement = MarkerElement(scriptMarker, script);
        }

        // 5. The content scrambled inside the content marker.
        std::string contentStart;
        std::unique_ptr<PageContentLayers> layers;
        if (parts & partEncrypt) {
            if (markers) {
                const TextViews unwrapped = UnwrapElementViews(body.View(), contentMarker);
                body.Join(unwrapped.before, unwrapped.middle, unwrapped.after);
            }
            if (settings.StrengthLevel > 0) {
                if (markers && body.View().find(scriptMarker) != std::string_view::npos) {
                    bool complete = false;
                    const TextViews lifted =
                        ExtractElementViews(body.View(), scriptMarker, &complete);
                    if (complete) {
                        scriptElement = std::string(lifted.middle);
                        body.Join(lifted.before, lifted.after);
                    }
                }
                contentStart = "<";
                contentStart += contentMarker;
                contentStart += " settings=\"" + SettingsAttribute(settings) + "\">";
                layers =
                    std::make_unique<PageContentLayers>(body.View(), text, settings.StrengthLevel);
            }
        }

        // 6. The pieces appended to a result reserved to their joined size.
        const std::string contentEnd = layers ? "</" + std::string(contentMarker) + ">" : "";
        const size_t size = head.size() + scriptElement.size() +
                            (layers ? contentStart.size() + layers->Size() + contentEnd.size()
                                    : body.View().size()) +
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
            result += body.View();
        }
        result += tail;
        page.swap(result);
        return true;
    } catch (const Cancelled&) {
        return false;
    }
}

} // namespace kestrix
