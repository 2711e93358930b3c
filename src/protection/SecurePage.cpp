#include "protection/SecurePage.h"

#include "protection/AccessScript.h"
#include "protection/Optimise.h"
#include "protection/PageText.h"
#include "protection/Scramble.h"

namespace kestrix {

bool IsSecuredPage(std::string_view text)
{
    return text.find(contentMarker) != std::string_view::npos;
}

bool ProtectionEngine::SecurePage(std::string& page) const
{
    try {
        std::string text = page;
        // 1. Optimisation of the whole page.
        if ((parts & partOptimise) && OptimiseActive)
            OptimisePage(text, settings);
        // 2. Optimisation alone.
        if (!(parts & (partEncrypt | partLimitAccess))) {
            page.swap(text);
            return true;
        }
        // 3. Head, body and tail. A page whose body cannot be found is left
        // as it was.
        bool found = false;
        TextPieces split = SplitAtElement(text, "body", &found);
        if (!found)
            return false;
        std::string& head = split.before;
        std::string& body = split.middle;
        std::string& tail = split.after;
        std::string scriptElement;

        // 4. The access script replaces any from an earlier run.
        if (parts & partLimitAccess) {
            if (FindNoCase(body, "KESTRIX-SCRIPT") != std::string::npos) {
                bool complete = false;
                TextPieces old = ExtractElement(body, scriptMarker, &complete);
                if (complete)
                    body = old.before + old.after;
            }
            const std::string script = BuildAccessScript(settings);
            if (!script.empty()) {
                scriptElement = "<";
                scriptElement += scriptMarker;
                scriptElement += ">" + script + "</";
                scriptElement += scriptMarker;
                scriptElement += ">";
            }
        }

        // 5. The content scrambled inside the content marker.
        if (parts & partEncrypt) {
            body = UnwrapElement(body, contentMarker);
            if (settings.StrengthLevel > 0) {
                std::string content = body;
                if (body.find(scriptMarker) != std::string::npos) {
                    bool complete = false;
                    TextPieces lifted = ExtractElement(body, scriptMarker, &complete);
                    if (complete) {
                        scriptElement = lifted.middle;
                        content = lifted.before + lifted.after;
                    }
                }
                std::string element = "<";
                element += contentMarker;
                element += " settings=\"" + SettingsAttribute(settings) + "\">";
                element += ScramblePageContent(content, text, settings.StrengthLevel);
                element += "</";
                element += contentMarker;
                element += ">";
                body.swap(element);
            }
        }

        // 6. The pieces joined.
        std::string result;
        result.reserve(head.size() + scriptElement.size() + body.size() + tail.size());
        result += head;
        result += scriptElement;
        result += body;
        result += tail;
        page.swap(result);
        return true;
    } catch (const Cancelled&) {
        return false;
    }
}

} // namespace kestrix
