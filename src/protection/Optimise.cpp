#include "protection/Optimise.h"

#include "protection/PageText.h"

namespace kestrix {

namespace {

// Replaces every occurrence of `tag` (upper case, exact form) in the page,
// without regard to case, by one blank.
void ReplaceEndTag(std::string& page, std::string_view tag)
{
    const std::string upper = UpperCaseAnsi(page);
    size_t pos = upper.find(tag);
    if (pos == std::string::npos)
        return;
    std::string out;
    out.reserve(page.size());
    size_t last = 0;
    while (pos != std::string::npos) {
        out.append(page, last, pos - last);
        out += ' ';
        last = pos + tag.size();
        pos = upper.find(tag, last);
    }
    out.append(page, last, std::string::npos);
    page.swap(out);
}

} // namespace

void OptimisePage(std::string& page, const ProtectionSettings& settings)
{
    if (settings.RemoveEndP)
        ReplaceEndTag(page, "</P>");
    if (settings.RemoveEndTR)
        ReplaceEndTag(page, "</TR>");
    if (settings.RemoveEndTD)
        ReplaceEndTag(page, "</TD>");
}

} // namespace kestrix
