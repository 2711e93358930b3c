#include "support/SettingsStore.h"

#include "support/Translation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace kestrix {

SettingsStore::SettingsStore(std::unique_ptr<SettingsBackend> backend)
    : backend_(std::move(backend))
{
}

SettingsStore::~SettingsStore() = default;
SettingsStore::SettingsStore(SettingsStore&&) noexcept = default;
SettingsStore& SettingsStore::operator=(SettingsStore&&) noexcept = default;

SettingsStore SettingsStore::OpenProductKey()
{
    return SettingsStore(std::make_unique<QSettingsBackend>(
        QString::fromLatin1(settingsOrganisation), QString::fromLatin1(settingsApplication)));
}

SettingsStore SettingsStore::InMemory()
{
    return SettingsStore(std::make_unique<MemorySettingsBackend>());
}

QString SettingsStore::ReadString(const QString& section, const QString& name,
                                  const QString& def) const
{
    const auto value = backend_->Read(section, name);
    if (!value)
        return def;
    if (value->typeId() == QMetaType::QByteArray)
        return QString::fromUtf8(value->toByteArray());
    return value->toString();
}

int SettingsStore::ReadInteger(const QString& section, const QString& name, int def) const
{
    const auto value = backend_->Read(section, name);
    if (!value)
        return def;
    bool ok = false;
    int result = 0;
    switch (value->typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        result = value->toInt(&ok);
        break;
    case QMetaType::Bool:
        return value->toBool() ? 1 : 0;
    default:
        // Text holding a decimal number, as the INI file keeps everything.
        result = value->toString().trimmed().toInt(&ok, 10);
        break;
    }
    return ok ? result : def;
}

bool SettingsStore::ReadBool(const QString& section, const QString& name, bool def) const
{
    return ReadInteger(section, name, def ? 1 : 0) != 0;
}

QByteArray SettingsStore::ReadStream(const QString& section, const QString& name) const
{
    const auto value = backend_->Read(section, name);
    if (!value || value->typeId() != QMetaType::QByteArray)
        return {};
    return value->toByteArray();
}

bool SettingsStore::ValueExists(const QString& section, const QString& name) const
{
    return backend_->Read(section, name).has_value();
}

bool SettingsStore::WriteString(const QString& section, const QString& name, const QString& value)
{
    return backend_->Write(section, name, value);
}

bool SettingsStore::WriteInteger(const QString& section, const QString& name, int value)
{
    // A value of this name that is text stays text.
    const auto old = backend_->Read(section, name);
    if (old && old->typeId() == QMetaType::QString)
        return backend_->Write(section, name, QString::number(value));
    return backend_->Write(section, name, value);
}

bool SettingsStore::WriteBool(const QString& section, const QString& name, bool value)
{
    return backend_->Write(section, name, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool SettingsStore::WriteStream(const QString& section, const QString& name,
                                const QByteArray& value)
{
    return backend_->Write(section, name, value);
}

bool SettingsStore::DeleteValue(const QString& section, const QString& name)
{
    return backend_->Remove(section, name);
}

bool SettingsStore::DeleteSection(const QString& section)
{
    return backend_->RemoveSection(section);
}

bool SettingsStore::Flush()
{
    return backend_->Flush();
}

QString UserDataFile(const QString& fileName)
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!base.isEmpty()) {
        // The application title as shown (translated, when a language file
        // translates it).
        const QString folder = base + QStringLiteral("/Marquell/") + ApplicationTitle();
        if (QDir().mkpath(folder) && QFileInfo(folder).isDir())
            return folder + QLatin1Char('/') + fileName;
    }
    QString programFolder = QCoreApplication::applicationDirPath();
    if (programFolder.isEmpty())
        programFolder = QDir::currentPath();
    return programFolder + QLatin1Char('/') + fileName;
}

} // namespace kestrix
