// Securing a page: the engine's entry point.
#pragma once

#include "platform/Errors.h"
#include "protection/ProtectionSettings.h"

#include <string>
#include <string_view>

namespace kestrix {

inline constexpr std::string_view contentMarker = "kestrix-content";
inline constexpr std::string_view scriptMarker = "kestrix-script";

// The engine: the settings and protections that a run uses, and the flag
// that lets the optimisation run. Whoever secures owns one; it is only read
// while a run uses it, so parallel runs may share one.
struct ProtectionEngine
{
    ProtectionSettings settings;
    ProtectionParts parts = allProtectionParts;
    bool OptimiseActive = false;

    void SetProtectionParts(ProtectionParts bits) { parts = bits & allProtectionParts; }

    // Secures the page text in place. Returns false, leaving the text as it
    // was, when the page cannot be secured (no body start or end tag, or the
    // end before the start) or the run was cancelled.
    bool SecurePage(std::string& page) const;
};

// True when the text contains "kestrix-content" exactly as written.
bool IsSecuredPage(std::string_view text);

} // namespace kestrix
