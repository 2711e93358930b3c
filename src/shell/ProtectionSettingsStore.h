// The protection settings kept in the settings store, in section
// "FormEncryptionOptions" under the options dialog's control names.
#pragma once

#include "protection/ProtectionSettings.h"
#include "support/SettingsStore.h"

namespace kestrix {

// Reads the settings as the options dialog loads its controls: a missing or
// unreadable value keeps the current one; the level's text selects its entry,
// then its stored index (0 to 4) wins.
void LoadProtectionSettings(const SettingsStore& store, ProtectionSettings& settings,
                            const StrengthEntries& entries = EnglishStrengthEntries());

// Writes every value as the options dialog saves its controls. False when the
// store refused a value.
bool SaveProtectionSettings(SettingsStore& store, const ProtectionSettings& settings);

} // namespace kestrix
