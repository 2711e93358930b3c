#include "platform/SettingsBackend.h"

#include <QSettings>

namespace kestrix {

namespace {
QString Key(const QString& section, const QString& name)
{
    return section.isEmpty() ? name : section + QLatin1Char('/') + name;
}
} // namespace

QSettingsBackend::QSettingsBackend(const QString& organisation, const QString& application)
    : settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                            organisation, application))
{
}

QSettingsBackend::~QSettingsBackend() = default;

std::optional<QVariant> QSettingsBackend::Read(const QString& section, const QString& name) const
{
    const QString key = Key(section, name);
    if (!settings_->contains(key))
        return std::nullopt;
    QVariant value = settings_->value(key);
    // A hand-edited INI value with a comma reads back as a list; it is text.
    if (value.typeId() == QMetaType::QStringList)
        value = value.toStringList().join(QStringLiteral(", "));
    return value;
}

bool QSettingsBackend::Write(const QString& section, const QString& name, const QVariant& value)
{
    settings_->setValue(Key(section, name), value);
    return settings_->status() == QSettings::NoError && settings_->isWritable();
}

bool QSettingsBackend::Remove(const QString& section, const QString& name)
{
    settings_->remove(Key(section, name));
    return settings_->isWritable();
}

bool QSettingsBackend::RemoveSection(const QString& section)
{
    settings_->remove(section);
    return settings_->isWritable();
}

QStringList QSettingsBackend::Names(const QString& section) const
{
    settings_->beginGroup(section);
    QStringList keys = settings_->childKeys();
    settings_->endGroup();
    return keys;
}

bool QSettingsBackend::Flush()
{
    settings_->sync();
    return settings_->status() == QSettings::NoError && settings_->isWritable();
}

QString QSettingsBackend::FileName() const
{
    return settings_->fileName();
}

std::optional<QVariant> MemorySettingsBackend::Read(const QString& section,
                                                    const QString& name) const
{
    auto s = sections_.find(section);
    if (s == sections_.end())
        return std::nullopt;
    auto v = s->second.find(name);
    if (v == s->second.end())
        return std::nullopt;
    return v->second;
}

bool MemorySettingsBackend::Write(const QString& section, const QString& name,
                                  const QVariant& value)
{
    sections_[section][name] = value;
    return true;
}

bool MemorySettingsBackend::Remove(const QString& section, const QString& name)
{
    auto s = sections_.find(section);
    if (s != sections_.end())
        s->second.erase(name);
    return true;
}

bool MemorySettingsBackend::RemoveSection(const QString& section)
{
    const QString prefix = section + QLatin1Char('/');
    for (auto it = sections_.begin(); it != sections_.end();) {
        if (it->first == section || it->first.startsWith(prefix))
            it = sections_.erase(it);
        else
            ++it;
    }
    return true;
}

QStringList MemorySettingsBackend::Names(const QString& section) const
{
    QStringList names;
    auto s = sections_.find(section);
    if (s != sections_.end())
        for (const auto& [name, value] : s->second)
            names << name;
    return names;
}

} // namespace kestrix
