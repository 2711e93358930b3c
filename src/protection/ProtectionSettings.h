// The protection settings record: what securing does to a page.
#pragma once

#include <QFlags>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

// The protections one securing run applies (a bit set, not persisted).
enum ProtectionPart : unsigned {
    partEncrypt = 1,
    partLimitAccess = 2,
    partOptimise = 4,
};
Q_DECLARE_FLAGS(ProtectionParts, ProtectionPart)
Q_DECLARE_OPERATORS_FOR_FLAGS(ProtectionParts)
inline constexpr ProtectionParts allProtectionParts = partEncrypt | partLimitAccess | partOptimise;

// The number of strength levels: 0 (None) to 4 (Very High).
inline constexpr int strengthLevelCount = 5;
inline constexpr int defaultStrengthLevel = 2;
constexpr bool IsStrengthLevel(int level)
{
    return level >= 0 && level < strengthLevelCount;
}

// The entries of the strength list, index 0 to 4, in English.
inline constexpr const char* strengthLevelNames[strengthLevelCount] = {
    "None", "Low (Single level of encryption)", "Medium (Default)", "High", "Very High"};

// The section name of the persisted settings and of the settings text.
inline constexpr std::string_view settingsSection = "FormEncryptionOptions";

struct ProtectionSettings
{
    int StrengthLevel = defaultStrengthLevel;
    // The shown (possibly translated) text of the selected strength entry.
    std::string StrengthText = strengthLevelNames[defaultStrengthLevel];
    bool DisableRightClicking = false;
    bool DisableSelection = false;
    bool DisableDragAndDrop = false;
    bool DisableStatusBar = false;
    bool HideScriptErrors = false;
    bool BreakOutOfFrames = false;
    bool DisablePrinting = false;
    bool DisableOfflineViewing = false;
    bool RemoveTbody = false;
    bool RemoveComments = false;
    bool ReplaceSimpleTags = false;
    bool RemoveEndP = false;
    bool RemoveEndTR = false;
    bool RemoveEndTD = false;
    bool RemoveGroupComments = false;
    bool MergeWhitespace = false;
    bool OptimizeCode = false;

    // Sets every field back to its default.
    void RestoreDefaults() { *this = ProtectionSettings{}; }

    bool operator==(const ProtectionSettings&) const = default;
};

// One check box of the settings: its control name and the field it edits.
struct SettingsCheckBox
{
    const char* controlName;
    bool ProtectionSettings::*field;
};
// The seventeen check boxes in the order of the settings text.
extern const SettingsCheckBox settingsCheckBoxes[17];
inline constexpr const char* strengthControlName = "ComboBoxDepthLevel";

// The whole record as INI text with one section, every line ending in CR LF.
std::string SettingsText(const ProtectionSettings& settings);

// Escapes a text for an HTML attribute value: entities for & < > ",
// tabs as eight blanks, pairs of blanks as "&nbsp; ", line breaks as <BR>.
std::string HtmlEscapeText(std::string_view text);

// The settings text scrambled with the settings key and HTML-escaped: the
// value of the content marker's settings attribute.
std::string SettingsAttribute(const ProtectionSettings& settings);

using StrengthEntries = std::array<std::string, strengthLevelCount>;
// The strength list in English.
StrengthEntries EnglishStrengthEntries();

// The level that a stored strength selects, as the options dialog's list
// loads it: the text selects the first entry of that name (letter case
// aside, in the locale's encoding), then an index naming a level wins;
// otherwise `current` stays. A result that names no level is the default.
int StoredStrengthLevel(const std::optional<std::string>& text, std::optional<int> index,
                        int current, const StrengthEntries& entries);

// Applies INI text in the settings-text format to a record, as the options
// dialog loads its controls: lines may end in CR LF, LF or CR; a value that is
// missing keeps the current one; a boolean is any integer (non-zero true, a
// non-number keeps the current value); the level's Text selects the entry of
// that name in `entries`, then its ItemIndex (0 to 4) wins. StrengthText
// always ends as the entry shown for the level. Lines of other sections and
// unknown names are ignored, and reported.
struct SettingsTextReport
{
    int knownValues = 0;                   // lines of the section naming a setting
    std::vector<std::string> unknownNames; // other names of the section, in order
};
SettingsTextReport ApplySettingsText(std::string_view text, ProtectionSettings& settings,
                                     const StrengthEntries& entries = EnglishStrengthEntries());

} // namespace kestrix
