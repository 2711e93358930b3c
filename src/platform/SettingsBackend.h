// Where settings are kept: sections of named values. On Linux the product's
// QSettings INI file; in memory for tests and "Defaults" snapshots.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <map>
#include <memory>
#include <optional>

class QSettings;

namespace kestrix {

class SettingsBackend
{
public:
    virtual ~SettingsBackend() = default;
    // The stored value, or nothing when it is missing or cannot be read.
    virtual std::optional<QVariant> Read(const QString& section, const QString& name) const = 0;
    // Stores a value, creating its section; false when it cannot be written.
    virtual bool Write(const QString& section, const QString& name, const QVariant& value) = 0;
    virtual bool Remove(const QString& section, const QString& name) = 0;
    // Removes a whole section and everything below it.
    virtual bool RemoveSection(const QString& section) = 0;
    virtual QStringList Names(const QString& section) const = 0;
    // Writes pending changes out; false when the store cannot be written.
    virtual bool Flush() = 0;
};

// A QSettings store: organisation "Marquell" and an application name; an INI
// file under $XDG_CONFIG_HOME/Marquell on Linux, the registry on Windows.
class QSettingsBackend : public SettingsBackend
{
public:
    QSettingsBackend(const QString& organisation, const QString& application);
    ~QSettingsBackend() override;
    std::optional<QVariant> Read(const QString& section, const QString& name) const override;
    bool Write(const QString& section, const QString& name, const QVariant& value) override;
    bool Remove(const QString& section, const QString& name) override;
    bool RemoveSection(const QString& section) override;
    QStringList Names(const QString& section) const override;
    bool Flush() override;
    QString FileName() const;

private:
    std::unique_ptr<QSettings> settings_;
};

// Values held in memory only.
class MemorySettingsBackend : public SettingsBackend
{
public:
    std::optional<QVariant> Read(const QString& section, const QString& name) const override;
    bool Write(const QString& section, const QString& name, const QVariant& value) override;
    bool Remove(const QString& section, const QString& name) override;
    bool RemoveSection(const QString& section) override;
    QStringList Names(const QString& section) const override;
    bool Flush() override { return true; }

private:
    std::map<QString, std::map<QString, QVariant>> sections_;
};

} // namespace kestrix
