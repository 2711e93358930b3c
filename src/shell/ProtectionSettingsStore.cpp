#include "shell/ProtectionSettingsStore.h"

namespace kestrix {

namespace {
QString Section()
{
    return QString::fromLatin1(settingsSection.data(), qsizetype(settingsSection.size()));
}
QString Name(const char* control, const char* property)
{
    return QString::fromLatin1(control) + QLatin1Char('.') + QString::fromLatin1(property);
}
} // namespace

void LoadProtectionSettings(const SettingsStore& store, ProtectionSettings& settings,
                            const StrengthEntries& entries)
{
    const QString section = Section();
    // The combo box as the options dialog's list loads it: its text, then
    // its index.
    const QString textName = Name(strengthControlName, "Text");
    const QString indexName = Name(strengthControlName, "ItemIndex");
    std::optional<std::string> text;
    if (store.ValueExists(section, textName))
        text = store.ReadString(section, textName, QString()).toLocal8Bit().toStdString();
    // A missing or non-numeric index reads as an index naming no level.
    const int index = store.ReadInteger(section, indexName, -1);
    settings.StrengthLevel = StoredStrengthLevel(text, index, settings.StrengthLevel, entries);
    settings.StrengthText = entries[settings.StrengthLevel];
    for (const auto& box : settingsCheckBoxes)
        settings.*box.field =
            store.ReadBool(section, Name(box.controlName, "Checked"), settings.*box.field);
}

bool SaveProtectionSettings(SettingsStore& store, const ProtectionSettings& settings)
{
    const QString section = Section();
    bool ok =
        store.WriteInteger(section, Name(strengthControlName, "ItemIndex"), settings.StrengthLevel);
    ok = store.WriteString(section, Name(strengthControlName, "Text"),
                           QString::fromStdString(settings.StrengthText)) &&
         ok;
    for (const auto& box : settingsCheckBoxes)
        ok = store.WriteBool(section, Name(box.controlName, "Checked"), settings.*box.field) && ok;
    return store.Flush() && ok;
}

} // namespace kestrix
