#include "protection/ProtectionSettings.h"
#include "platform/Text.h"

#include "protection/Scramble.h"

#include <QString>

#include <charconv>
#include <cstring>

namespace kestrix {

const SettingsCheckBox settingsCheckBoxes[17] = {
    {"CheckBoxRightClicking", &ProtectionSettings::DisableRightClicking},
    {"CheckBoxSelection", &ProtectionSettings::DisableSelection},
    {"CheckBoxDragAndDrop", &ProtectionSettings::DisableDragAndDrop},
    {"CheckBoxStatusBar", &ProtectionSettings::DisableStatusBar},
    {"CheckBoxScriptErrors", &ProtectionSettings::HideScriptErrors},
    {"CheckBoxBreakOutOfFrames", &ProtectionSettings::BreakOutOfFrames},
    {"CheckBoxPrinting", &ProtectionSettings::DisablePrinting},
    {"CheckBoxOffline", &ProtectionSettings::DisableOfflineViewing},
    {"CheckBoxTBODY", &ProtectionSettings::RemoveTbody},
    {"CheckBoxComments", &ProtectionSettings::RemoveComments},
    {"CheckBoxSimpleTags", &ProtectionSettings::ReplaceSimpleTags},
    {"CheckBoxEndP", &ProtectionSettings::RemoveEndP},
    {"CheckBoxEndTR", &ProtectionSettings::RemoveEndTR},
    {"CheckBoxEndTD", &ProtectionSettings::RemoveEndTD},
    {"CheckBoxGroupComments", &ProtectionSettings::RemoveGroupComments},
    {"CBMergeWhitespace", &ProtectionSettings::MergeWhitespace},
    {"CheckBoxOptimize", &ProtectionSettings::OptimizeCode},
};

StrengthEntries EnglishStrengthEntries()
{
    StrengthEntries entries;
    for (int i = 0; i < strengthLevelCount; ++i)
        entries[i] = strengthLevelNames[i];
    return entries;
}

std::string SettingsText(const ProtectionSettings& settings)
{
    std::string text;
    text.reserve(700);
    text += '[';
    text += settingsSection;
    text += "]\r\n";
    text += strengthControlName;
    text += ".ItemIndex=" + std::to_string(settings.StrengthLevel) + "\r\n";
    text += strengthControlName;
    text += ".Text=" + settings.StrengthText + "\r\n";
    for (const auto& box : settingsCheckBoxes) {
        text += box.controlName;
        text += settings.*box.field ? ".Checked=1\r\n" : ".Checked=0\r\n";
    }
    text += "\r\n";
    return text;
}

std::string HtmlEscapeText(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\t':
            out += "        ";
            break;
        default:
            out += c;
            break;
        }
    }
    // Pairs of blanks, left to right and not overlapping, for as long as a
    // pair remains: an odd run leaves "&nbsp; " followed by a blank, which the
    // next pass pairs again.
    while (out.find("  ") != std::string::npos) {
        std::string next;
        next.reserve(out.size() + out.size() / 2);
        for (size_t i = 0; i < out.size(); ++i) {
            if (out[i] == ' ' && i + 1 < out.size() && out[i + 1] == ' ') {
                next += "&nbsp; ";
                ++i;
            } else {
                next += out[i];
            }
        }
        out.swap(next);
    }
    // Line breaks (CR LF, lone CR, lone LF) become <BR>.
    std::string result;
    result.reserve(out.size());
    for (size_t i = 0; i < out.size(); ++i) {
        if (out[i] == '\r') {
            result += "<BR>";
            if (i + 1 < out.size() && out[i + 1] == '\n')
                ++i;
        } else if (out[i] == '\n') {
            result += "<BR>";
        } else {
            result += out[i];
        }
    }
    return result;
}

std::string SettingsAttribute(const ProtectionSettings& settings)
{
    return HtmlEscapeText(ScrambleText(SettingsText(settings), settingsKey));
}

namespace {

bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 32);
        if (x != y)
            return false;
    }
    return true;
}

// True when `name` is `control` followed by `property`, letter case aside
// (compared in place: the settings text may have many lines).
bool NamesProperty(std::string_view name, std::string_view control, std::string_view property)
{
    return name.size() == control.size() + property.size() &&
           EqualNoCase(name.substr(0, control.size()), control) &&
           EqualNoCase(name.substr(control.size()), property);
}

bool ParseInteger(std::string_view s, int& value)
{
    s = Trim(s);
    // One sign at most: "+5" is 5, "+-5" is no number.
    if (!s.empty() && s.front() == '+') {
        s.remove_prefix(1);
        if (!s.empty() && s.front() == '-')
            return false;
    }
    const char* end = s.data() + s.size();
    auto [ptr, ec] = std::from_chars(s.data(), end, value);
    return ec == std::errc() && ptr == end && !s.empty();
}

} // namespace

int StoredStrengthLevel(const std::optional<std::string>& text, std::optional<int> index,
                        int current, const StrengthEntries& entries)
{
    int level = current;
    if (text) {
        const QString wanted = QString::fromLocal8Bit(text->data(), qsizetype(text->size()));
        for (int i = 0; i < strengthLevelCount; ++i)
            if (QString::fromLocal8Bit(entries[i].data(), qsizetype(entries[i].size()))
                    .compare(wanted, Qt::CaseInsensitive) == 0) {
                level = i;
                break;
            }
    }
    if (index && IsStrengthLevel(*index))
        level = *index;
    return IsStrengthLevel(level) ? level : defaultStrengthLevel;
}

SettingsTextReport ApplySettingsText(std::string_view text, ProtectionSettings& settings,
                                     const StrengthEntries& entries)
{
    SettingsTextReport report;
    bool inSection = false;
    bool haveText = false, haveIndex = false;
    std::string levelText;
    int levelIndex = 0;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (end < text.size() && text[end] == '\r' && end + 1 < text.size() &&
            text[end + 1] == '\n')
            ++pos;
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            size_t close = line.find(']');
            inSection = close != std::string_view::npos &&
                        EqualNoCase(Trim(line.substr(1, close - 1)), settingsSection);
            continue;
        }
        if (!inSection)
            continue;
        size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        std::string_view name = Trim(line.substr(0, eq));
        std::string_view value = Trim(line.substr(eq + 1));
        if (NamesProperty(name, strengthControlName, ".Text")) {
            ++report.knownValues;
            haveText = true;
            levelText = std::string(value);
            continue;
        }
        if (NamesProperty(name, strengthControlName, ".ItemIndex")) {
            ++report.knownValues;
            int index = 0;
            if (ParseInteger(value, index) && IsStrengthLevel(index)) {
                haveIndex = true;
                levelIndex = index;
            }
            continue;
        }
        bool known = false;
        for (const auto& box : settingsCheckBoxes) {
            if (NamesProperty(name, box.controlName, ".Checked")) {
                known = true;
                int number = 0;
                if (ParseInteger(value, number))
                    settings.*box.field = number != 0;
                break;
            }
        }
        if (known)
            ++report.knownValues;
        else
            report.unknownNames.emplace_back(name);
    }
    settings.StrengthLevel = StoredStrengthLevel(
        haveText ? std::optional<std::string>(levelText) : std::nullopt,
        haveIndex ? std::optional<int>(levelIndex) : std::nullopt, settings.StrengthLevel, entries);
    settings.StrengthText = entries[settings.StrengthLevel];
    return report;
}

} // namespace kestrix
