// What the commands of kestrix-cli share: the usage text, reading a named
// file, printing a message on standard error, and the protection settings in
// force.
#pragma once

#include "protection/ProtectionSettings.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <string>

namespace kestrix {

class SettingsStore;

// The usage text of every command, printed by --help and after a usage error.
extern const char usageText[];

// Wrong usage: the message is printed with the usage text, exit status 2.
struct UsageError
{
    std::string message;
};

// Prints "kestrix-cli: " and the message, then the usage text, on standard
// error; returns 2.
int ReportUsageError(const std::string& message);

// Prints a message and a line break on standard error.
void PrintError(const QString& message);

// A run-time message translated, then filled.
QString Message(const char* english, const QStringList& arguments);

// Reads a named file whole, or standard input for "-". Throws Failure in the
// program's words ("File %s does not exist", "Unable to read %s: ...").
std::string ReadFile(const QString& name);

// The value of --level: a number from 0 to 4. Throws UsageError otherwise.
int ParseLevelValue(const QString& value);

// The strength list as the options dialog shows it (translated).
StrengthEntries TranslatedStrengthEntries();

// The settings in force: the stored ones (or the defaults with `defaults`),
// then an INI settings file, then the level. Throws Failure for a settings
// file that names no setting; warns on standard error of names it ignored.
ProtectionSettings EffectiveSettings(bool defaults, const QString& settingsFile,
                                     std::optional<int> level, const SettingsStore& store);

} // namespace kestrix
