// Securing a page: the engine's entry point.
#pragma once

#include "platform/Errors.h"
#include "protection/ProtectionSettings.h"

#include <string>
#include <string_view>

namespace kestrix {

inline constexpr std::string_view contentMarker = "kestrix-content";
inline constexpr std::string_view scriptMarker = "kestrix-script";

// The engine: the settings and protections that the next runs use, and the
// flag that lets the optimisation run.
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

// The application's one engine, shared by the dialog and the callers.
ProtectionEngine& Engine();
inline void SetProtectionParts(ProtectionParts bits)
{
    Engine().SetProtectionParts(bits);
}
inline bool SecurePage(std::string& page)
{
    return Engine().SecurePage(page);
}

// True when the text contains "kestrix-content" exactly as written.
bool IsSecuredPage(std::string_view text);

} // namespace kestrix
