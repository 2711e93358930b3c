// HTML optimisation: shrinks a page's markup before it is secured.
#pragma once

#include "protection/ProtectionSettings.h"

#include <string>

namespace kestrix {

// Optimises the page text in place as the optimisation switches say. The
// caller decides whether optimisation runs at all (partOptimise and the
// engine's OptimiseActive flag).
void OptimisePage(std::string& page, const ProtectionSettings& settings);

} // namespace kestrix
