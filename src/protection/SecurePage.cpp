#include "protection/SecurePage.h"

#include "platform/LargeBuffer.h"
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

// Everything a secured page is made of, as the steps leave it.
struct SecuredPage::Pieces
{
    LargeBuffer optimised;
    std::string_view text;  // the page, or its optimised form
    bool wholeText = false; // optimisation alone: the result is the text
    SecuringPieces split;   // head, script element, body, tail
    std::string contentStart, contentEnd;
    std::unique_ptr<PageContentLayers> layers;
};

SecuredPage::SecuredPage(const ProtectionEngine& engine, std::string_view page)
    : pieces_(std::make_unique<Pieces>())
{
    Pieces& p = *pieces_;
    const ProtectionSettings& settings = engine.settings;
    const ProtectionParts parts = engine.parts;
    try {
        // 1. Optimisation of the whole page into a text of its own; the
        // page stays as it was.
        const bool optimise = (parts & partOptimise) && engine.OptimiseActive;
        p.text =
            optimise && OptimisePageInto(page, settings, p.optimised) ? p.optimised.View() : page;
        const std::string_view text = p.text;
        // 2. Optimisation alone.
        if (!(parts & (partEncrypt | partLimitAccess))) {
            p.wholeText = true;
            secured_ = true;
            return;
        }
        // 3. to 5. Head, script element, body text and tail.
        if (!SplitForSecuring(text, parts, settings, p.split))
            return;
        if (p.split.scrambled) {
            p.contentStart = "<";
            p.contentStart += contentMarker;
            p.contentStart += " settings=\"" + SettingsAttribute(settings) + "\">";
            p.contentEnd = "</" + std::string(contentMarker) + ">";
            // Content found not to be UTF-8 is settled before any byte of
            // it is written; measured only when the size is asked for.
            p.layers =
                std::make_unique<PageContentLayers>(p.split.body, text, settings.StrengthLevel);
        }
        secured_ = true;
    } catch (const Cancelled&) {
        secured_ = false;
    }
}

SecuredPage::~SecuredPage() = default;

size_t SecuredPage::Size() const
{
    const Pieces& p = *pieces_;
    if (!secured_)
        return 0;
    if (p.wholeText)
        return p.text.size();
    return p.split.head.size() + p.split.scriptElement.size() +
           (p.layers ? p.contentStart.size() + p.layers->Size() + p.contentEnd.size()
                     : p.split.body.size()) +
           p.split.tail.size();
}

void SecuredPage::WriteTo(PageWriter& out) const
{
    const Pieces& p = *pieces_;
    if (!secured_)
        return;
    if (p.wholeText) {
        out.Write(p.text);
        return;
    }
    out.Write(p.split.head);
    if (!p.split.scriptElement.empty())
        out.Write(p.split.scriptElement);
    if (p.layers) {
        out.Write(p.contentStart);
        p.layers->WriteInPieces(
            [&](const char* data, size_t size) { out.Write(std::string_view(data, size)); });
        out.Write(p.contentEnd);
    } else {
        out.Write(p.split.body);
    }
    out.Write(p.split.tail);
}

namespace {

// Appends what it is given to a string.
class StringWriter final : public PageWriter
{
public:
    explicit StringWriter(std::string& out) : out_(out) {}
    void Write(std::string_view piece) override { out_ += piece; }

private:
    std::string& out_;
};

} // namespace

bool ProtectionEngine::SecurePage(std::string& page) const
{
    // Optimisation alone: the optimised text is the result, taken whole.
    if (!(parts & (partEncrypt | partLimitAccess))) {
        if ((parts & partOptimise) && OptimiseActive) {
            try {
                std::string optimised = page;
                OptimisePage(optimised, settings);
                page.swap(optimised);
            } catch (const Cancelled&) {
                return false;
            }
        }
        return true;
    }
    const SecuredPage secured(*this, page);
    if (!secured.Secured())
        return false;
    // The pieces appended to a result reserved to their joined size.
    std::string result;
    result.reserve(secured.Size());
    StringWriter writer(result);
    secured.WriteTo(writer);
    page.swap(result);
    return true;
}

} // namespace kestrix
