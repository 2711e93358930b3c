// HTML optimisation: shrinks a page's markup before it is secured.
#pragma once

#include "protection/ProtectionSettings.h"

#include <string>
#include <string_view>

namespace kestrix {

class LargeBuffer;

// Optimises the page text in place as the optimisation switches say. The
// caller decides whether optimisation runs at all (partOptimise and the
// engine's OptimiseActive flag).
//
// The end tags "</P>", "</TR>" and "</TD>" are replaced textually. The other
// steps work on the HTML5 document tree of the page and change only the
// bytes of what they edit: comments, the tags of replaced and removed
// elements, comment markers in scripts and styles, whitespace in text. What
// they leave alone stays byte for byte as it was. Server-side code ("<? ?>",
// "<% %>") and the body start and end marks that securing splits on are never
// edited. A page beyond the parser's limits (pathological nesting) raises a
// Failure with a message for the user; the page then holds the textual
// replacements only.
void OptimisePage(std::string& page, const ProtectionSettings& settings);

// The same for a page that stays as it is: the optimised text goes to `out`
// (large-page memory, for a page read whole) and true is returned; false,
// leaving `out` alone, when the optimisation changes nothing.
bool OptimisePageInto(std::string_view page, const ProtectionSettings& settings, LargeBuffer& out);

// True when an enabled document-tree step could find something to edit in
// the page; when false, OptimisePage does not parse the page at all.
bool OptimiseNeedsDocumentModel(std::string_view page, const ProtectionSettings& settings);

} // namespace kestrix
