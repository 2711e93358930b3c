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

// The pieces that SecurePage makes of a page (steps 3 to 5) before anything
// is scrambled: the head through the body start tag, the script element
// that goes in front of the content, the body text (the content to scramble
// when `scrambled`, else the body as it stays in clear) and the tail from
// the body end mark on. Filled in place by SplitForSecuring; `body` views
// either the page or the pieces' own storage, so they are neither copied
// nor moved.
struct SecuringPieces
{
    std::string_view head;
    std::string scriptElement;
    std::string_view body;
    std::string_view tail;
    bool scrambled = false;

    SecuringPieces() = default;
    SecuringPieces(const SecuringPieces&) = delete;
    SecuringPieces& operator=(const SecuringPieces&) = delete;

    // The body becomes the pieces joined (which may be views of it).
    void JoinBody(std::string_view a, std::string_view b, std::string_view c = {});

private:
    std::string own_;
};

// Cuts a page as SecurePage does with these parts and settings; false when
// the page has no body start tag followed by a body end mark. The pieces
// view `text`, which must outlive them.
bool SplitForSecuring(std::string_view text, ProtectionParts parts,
                      const ProtectionSettings& settings, SecuringPieces& pieces);

// True when the text contains "kestrix-content" exactly as written.
bool IsSecuredPage(std::string_view text);

} // namespace kestrix
