// Securing a page: the engine's entry point.
#pragma once

#include "platform/Errors.h"
#include "protection/ProtectionSettings.h"

#include <memory>
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

// Where a secured page goes: its bytes in pieces, front to back.
class PageWriter
{
public:
    virtual void Write(std::string_view piece) = 0;

protected:
    ~PageWriter() = default;
};

// One page secured as ProtectionEngine::SecurePage secures it, with every
// step done and the result measured, but not yet written: the scrambled
// content is produced while it is written, piece by piece, so the result is
// never held whole in memory. Whatever could make securing fail (a page
// without a body, a failing or cancelled optimisation, content that turns out
// not to be the UTF-8 it declares) is found before the constructor returns,
// so a writer sees the first byte only of a page that is whole and right.
// The engine and the page must stay alive and unchanged while this is used.
class SecuredPage
{
public:
    // Failures of the optimisation propagate, as from SecurePage.
    SecuredPage(const ProtectionEngine& engine, std::string_view page);
    ~SecuredPage();
    SecuredPage(const SecuredPage&) = delete;
    SecuredPage& operator=(const SecuredPage&) = delete;

    // False when SecurePage would return false; nothing is written then.
    bool Secured() const { return secured_; }
    // The number of bytes WriteTo writes.
    size_t Size() const;
    // Writes the secured page, once or more often.
    void WriteTo(PageWriter& out) const;

    struct Pieces;

private:
    bool secured_ = false;
    std::unique_ptr<Pieces> pieces_;
};

// True when the text contains "kestrix-content" exactly as written.
bool IsSecuredPage(std::string_view text);

} // namespace kestrix
