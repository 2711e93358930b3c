// Fuzzes the optimisation and the whole securing run with every switch on, at
// every level:
// neither may crash or hang, the optimised page must still parse, and the
// body marks that securing splits on must survive when the input had them.
#include "platform/Errors.h"
#include "platform/HtmlDocument.h"
#include "protection/Optimise.h"
#include "protection/PageText.h"
#include "protection/SecurePage.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Every switch on, at a level taken from the input's length so that each
// level is reached.
kestrix::ProtectionSettings AllSwitches(size_t size)
{
    kestrix::ProtectionSettings s;
    s.StrengthLevel = int(size % kestrix::strengthLevelCount);
    s.DisableRightClicking = s.DisableSelection = s.DisableDragAndDrop = true;
    s.DisableStatusBar = s.HideScriptErrors = s.BreakOutOfFrames = true;
    s.DisablePrinting = s.DisableOfflineViewing = true;
    s.RemoveTbody = s.RemoveComments = s.ReplaceSimpleTags = true;
    s.RemoveEndP = s.RemoveEndTR = s.RemoveEndTD = true;
    s.RemoveGroupComments = s.MergeWhitespace = s.OptimizeCode = true;
    return s;
}

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

bool HasBody(const std::string& text)
{
    bool found = false;
    kestrix::SplitAtElement(text, "body", &found);
    return found;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const kestrix::ProtectionSettings settings = AllSwitches(size);

    std::string page = input;
    try {
        kestrix::OptimisePage(page, settings);
    } catch (const kestrix::Failure&) {
        // Beyond the parser's limits: refused with a message. Securing must
        // then fail the same way and leave the page alone.
        kestrix::ProtectionEngine engine;
        engine.settings = settings;
        engine.OptimiseActive = true;
        std::string secured = input;
        bool thrown = false;
        try {
            engine.SecurePage(secured);
        } catch (const kestrix::Failure&) {
            thrown = true;
        }
        Check(secured == input, "a page that cannot be optimised is left as it was");
        (void)thrown; // the time budget may be met on a second try
        return 0;
    }
    if (kestrix::HtmlDocument(input).IsParsed())
        Check(kestrix::HtmlDocument(page).IsParsed(), "the optimised page parses");
    // The textual end-tag replacements may take the ">" that closed a body
    // start tag ("<body" ... "</P>"); the document-tree steps must keep the
    // marks the textual steps left.
    kestrix::ProtectionSettings textual;
    textual.RemoveEndP = textual.RemoveEndTR = textual.RemoveEndTD = true;
    std::string replaced = input;
    kestrix::OptimisePage(replaced, textual);
    if (HasBody(replaced))
        Check(HasBody(page), "the body marks survive the optimisation");

    kestrix::ProtectionEngine engine;
    engine.settings = settings;
    engine.OptimiseActive = true;
    engine.SetProtectionParts(kestrix::allProtectionParts);
    std::string secured = input;
    bool ok = false;
    try {
        ok = engine.SecurePage(secured);
    } catch (const kestrix::Failure&) {
        Check(secured == input, "a page that cannot be optimised is left as it was");
        return 0;
    }
    Check(ok == HasBody(page), "a page is secured exactly when its body marks are found");
    if (ok) {
        // Level None scrambles nothing: only the access script is added.
        if (settings.StrengthLevel > 0)
            Check(kestrix::IsSecuredPage(secured), "the secured page carries the content marker");
        else
            Check(secured.find(kestrix::scriptMarker) != std::string::npos,
                  "the secured page carries the access script");
    } else {
        Check(secured == input, "a page that cannot be secured is left as it was");
    }
    return 0;
}
