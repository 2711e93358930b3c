// The access-limiting script placed in front of a secured page's content.
#pragma once

#include "protection/ProtectionSettings.h"

#include <string>

namespace kestrix {

// The complete script element for the access switches that are on, or an
// empty text when none is.
std::string BuildAccessScript(const ProtectionSettings& settings);

} // namespace kestrix
