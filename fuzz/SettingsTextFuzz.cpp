// Reads arbitrary bytes as a settings text: the record must come out whole (a
// valid level whose text is the entry shown for it), and the text it writes must
// read back to the same record.
#include "protection/ProtectionSettings.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const kestrix::StrengthEntries entries = kestrix::EnglishStrengthEntries();

    kestrix::ProtectionSettings settings;
    const kestrix::SettingsTextReport report = kestrix::ApplySettingsText(input, settings, entries);
    Check(report.knownValues >= 0, "the count of known values is not negative");
    Check(kestrix::IsStrengthLevel(settings.StrengthLevel), "the level is a level");
    Check(settings.StrengthText == entries[size_t(settings.StrengthLevel)],
          "the level's text is the entry shown for it");

    // What is written reads back to the same record, from defaults and from
    // a record with every switch the other way.
    const std::string written = kestrix::SettingsText(settings);
    kestrix::ProtectionSettings fromDefaults;
    const kestrix::SettingsTextReport back =
        kestrix::ApplySettingsText(written, fromDefaults, entries);
    Check(fromDefaults == settings, "the written text reads back to the same record");
    Check(back.unknownNames.empty(), "the written text names no unknown setting");
    kestrix::ProtectionSettings flipped;
    for (const kestrix::SettingsCheckBox& box : kestrix::settingsCheckBoxes)
        flipped.*box.field = !(settings.*box.field);
    kestrix::ApplySettingsText(written, flipped, entries);
    Check(flipped == settings, "the written text sets every field");
    return 0;
}
