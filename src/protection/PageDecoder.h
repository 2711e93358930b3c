// Reading a secured page back: the loaders undone layer by layer, the
// settings attribute read back, the access script and the markers found. A
// page that this program did not secure, or whose loaders, settings or
// markers were changed afterwards, is refused with the reason.
#pragma once

#include "protection/ProtectionSettings.h"
#include "protection/UninitialisedBuffer.h"

#include <string>
#include <string_view>

namespace kestrix {

// Why a page could not be read back (None when it could).
enum class DecodeProblem {
    None,
    NotSecured,      // no content marker
    NoBody,          // no body start tag
    MarkersMoved,    // the marker elements are not where securing puts them
    SettingsAltered, // the settings attribute does not read back
    LoaderAltered,   // a loader is not one that securing writes
};

// The English text of a problem, for the translation lookup.
const char* DecodeProblemText(DecodeProblem problem);

// A secured page read back. The views point into the page text, which must
// outlive them.
struct DecodedPage
{
    std::string_view head;          // through the ">" of the body start tag
    std::string_view scriptElement; // <kestrix-script>...</kestrix-script>, or empty
    std::string_view accessScript;  // the script element's inner text
    std::string_view settingsAttribute;
    std::string_view loaders; // the content element's inner text
    std::string_view tail;    // from the body end mark on
    ProtectionSettings settings;
    // The content as securing took it, in characters (UTF-16 code units):
    // what the innermost of the settings' level of loaders writes.
    std::u16string_view Content() const { return {units.data(), units.size()}; }
    UninitialisedBuffer<char16_t> units;
    // With `peelEarlier`: how many more loader layers the content itself was
    // (a page secured more than once), which `content` no longer holds.
    int earlierLayers = 0;

    // Room for the layers between the outermost and the content, kept for
    // the next page read with the same object.
    UninitialisedBuffer<char> scratch[2];
    UninitialisedBuffer<char16_t> scratchUnits;
    // The last settings attribute that read back and what it gave: the
    // pages of one site nearly always share it.
    std::string lastAttribute;
    ProtectionSettings lastSettings;
};

// Reads the layout of a secured page and its settings, without undoing the
// loaders: everything of DecodedPage but the content.
DecodeProblem ReadSecuredLayout(std::string_view page, DecodedPage& decoded);

// Reads a secured page back. With `peelEarlier`, a content that is itself
// exactly a loader (the page was secured again) is undone too, down to the
// content of the first securing.
DecodeProblem DecodeSecuredPage(std::string_view page, DecodedPage& decoded,
                                bool peelEarlier = false);

// The settings text that a settings attribute holds, or false when the
// attribute is not one that securing writes for that text.
bool DecodeSettingsAttribute(std::string_view attribute, ProtectionSettings& settings);

// True when any optimisation switch is on: securing may have optimised the
// markup (whether it did is not recorded in the page).
bool AnyOptimisationSwitch(const ProtectionSettings& settings);

// Encodes characters in a charset from DetectPageCharset; false when a
// character has no encoding there (or iconv does not know the charset).
bool EncodeFromUtf16(std::u16string_view units, const std::string& charset, std::string& out);

// Why a page cannot be given back as it was before securing.
enum class RecoverProblem {
    None,
    ScriptMoved,       // the page's own script marker element was moved
    CharsetUndeclared, // no declared charset and a body that is not ASCII
    NotEncodable,      // characters the page's charset cannot write
};
const char* RecoverProblemText(RecoverProblem problem);

// The page as it was before securing, from a page read back with
// `peelEarlier`: the head, the content in the page's charset, the tail.
RecoverProblem RecoverOriginal(std::string_view page, const DecodedPage& decoded,
                               std::string& original);

// Why a secured page does not match the page it was secured from.
enum class VerifyProblem {
    None,
    NotAPage,      // the original has no body that securing could split
    HeadDiffers,   // the bytes through the body start tag
    TailDiffers,   // the bytes from the body end mark on
    ScriptDiffers, // the access script is not the one the settings give
    BodyDiffers,   // the decoded content is not the original's body
};
const char* VerifyProblemText(VerifyProblem problem);

// Checks a page read back against the page it was secured from: as it was,
// or as the optimisation switches read back would have made it; with or
// without the access script.
VerifyProblem VerifyAgainstOriginal(const DecodedPage& decoded, std::string_view original);

} // namespace kestrix
