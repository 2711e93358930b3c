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
    // The combo box: its text first (selecting the first entry of that name,
    // letter case aside, as the options dialog's list does), then its index,
    // whose default is the index after setting the text.
    const QString text = store.ReadString(section, Name(strengthControlName, "Text"),
                                          QString::fromStdString(settings.StrengthText));
    int level = settings.StrengthLevel;
    for (int i = 0; i < 5; ++i)
        if (QString::fromStdString(entries[i]).compare(text, Qt::CaseInsensitive) == 0) {
            level = i;
            break;
        }
    const int index = store.ReadInteger(section, Name(strengthControlName, "ItemIndex"), level);
    if (index >= 0 && index <= 4)
        level = index;
    settings.StrengthLevel = level >= 0 && level <= 4 ? level : 2;
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
