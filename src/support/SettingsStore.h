// The settings store: typed reads with defaults and writes of named values
// in sections, over a backend (the product's QSettings store or memory).
//
// Types on Linux: the INI file keeps every value as text, so an integer and
// its decimal text are one and the same. Integers are read by converting the
// text (a non-number gives the default), booleans are read as integers
// (non-zero true) and written as "1"/"0", and an integer written where a text
// value of that name exists stays text -- which on this store is always so.
// Streams are kept as binary values.
#pragma once

#include "platform/SettingsBackend.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace kestrix {

// The organisation, the product's settings application and the application
// title under which remembered answers are kept.
inline const char* const settingsOrganisation = "Marquell";
inline const char* const settingsApplication = "Marquell Kestrix";
inline const char* const applicationTitle = "Marquell Kestrix v2.0";
// The application options' design file filter: which files the file list
// shows and the folder scan gathers.
inline constexpr const char* defaultFileFilter = "*.htm;*.html;*.asp;*.php";

class SettingsStore
{
public:
    explicit SettingsStore(std::unique_ptr<SettingsBackend> backend);
    ~SettingsStore();
    SettingsStore(SettingsStore&&) noexcept;
    SettingsStore& operator=(SettingsStore&&) noexcept;

    // The product key: QSettings "Marquell" / "Marquell Kestrix".
    static SettingsStore OpenProductKey();
    // An empty store in memory (tests, "Defaults" snapshots).
    static SettingsStore InMemory();

    QString ReadString(const QString& section, const QString& name, const QString& def) const;
    int ReadInteger(const QString& section, const QString& name, int def) const;
    bool ReadBool(const QString& section, const QString& name, bool def) const;
    QByteArray ReadStream(const QString& section, const QString& name) const;
    bool ValueExists(const QString& section, const QString& name) const;

    // Writes return false when the store refused the value.
    bool WriteString(const QString& section, const QString& name, const QString& value);
    bool WriteInteger(const QString& section, const QString& name, int value);
    bool WriteBool(const QString& section, const QString& name, bool value);
    bool WriteStream(const QString& section, const QString& name, const QByteArray& value);
    bool DeleteValue(const QString& section, const QString& name);
    bool DeleteSection(const QString& section);

    // Writes pending changes to disk; false when the store cannot be written.
    bool Flush();

    SettingsBackend& Backend() { return *backend_; }

private:
    std::unique_ptr<SettingsBackend> backend_;
};

// Full path of a file in the per-user data folder: the generic data
// location, "Marquell", the application title current now, the name. The folders are
// created when missing; when that fails, the program's own folder is used.
QString UserDataFile(const QString& fileName);

} // namespace kestrix
