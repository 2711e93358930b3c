// kestrix-cli: secures pages from the command line, without any window.
#include "platform/Errors.h"
#include "protection/ProtectionSettings.h"
#include "protection/SecurePage.h"
#include "shell/ProtectionSettingsStore.h"
#include "shell/SettingsStore.h"
#include "support/MessageFormat.h"
#include "support/Translation.h"
#include "support/WebDownload.h"
#include "support/WebHelpers.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <unistd.h>

using namespace kestrix;

namespace {

const char usageText[] =
    "Usage:\n"
    "  kestrix-cli page [-e] [-a] [-o] [--defaults] [--level N] [--settings FILE]\n"
    "                   [--output FILE] INPUT\n"
    "  kestrix-cli settings [--defaults] [--settings FILE] [--level N] [--save]\n"
    "\n"
    "page      secures one HTML page. INPUT is a file, an http:// or https://\n"
    "          address (downloaded first), or - for standard input.\n"
    "          -e scrambles the content, -a adds the access-limiting script,\n"
    "          -o optimises the markup; none of them means all three.\n"
    "          The result goes to --output FILE, or to standard output.\n"
    "settings  prints the protection settings in force as INI text;\n"
    "          --save also keeps them as the stored settings.\n"
    "\n"
    "Settings come from the stored settings (else the defaults); --defaults\n"
    "starts from the defaults; --settings FILE then applies an INI file as\n"
    "'settings' prints it; --level N (0 to 4) is applied last.\n";

struct UsageError
{
    std::string message;
};

void PrintError(const QString& message)
{
    std::fputs(message.toLocal8Bit().constData(), stderr);
    std::fputs("\n", stderr);
}

// A run-time message translated, then filled.
QString Message(const char* english, const QStringList& arguments)
{
    return FormatMessage(Tr(english), arguments);
}

bool ReadWhole(FILE* stream, std::string& out)
{
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, stream)) > 0)
        out.append(buffer, n);
    return !std::ferror(stream);
}

std::string ReadFile(const QString& name);

// Fetches a web address into a temporary file, reads it and deletes it.
// Progress goes to standard error when that is a terminal.
std::string DownloadInput(const QString& address)
{
    const bool terminal = isatty(STDERR_FILENO) != 0;
    bool reported = false;
    auto progress = [&](qint64 received, qint64 total) {
        if (!terminal)
            return;
        // The same words as the download dialog's byte count.
        const QString line =
            FormatMessage(QStringLiteral("%d of %d bytes completed."),
                          {QString::number(received), QString::number(total < 0 ? 0 : total)});
        std::fprintf(stderr, "\r%s", line.toLocal8Bit().constData());
        std::fflush(stderr);
        reported = true;
    };
    QString local;
    const DownloadStatus status = DownloadToFile(address, local, progress);
    if (reported)
        std::fputs("\n", stderr);
    if (status == DownloadStatus::Cancelled)
        throw Cancelled{};
    if (status != DownloadStatus::Succeeded)
        throw Failure(DownloadFailureMessage(address, status).toStdString());
    struct RemoveWhenDone
    {
        QString path;
        ~RemoveWhenDone() { QFile::remove(path); }
    } copy{local};
    return ReadFile(local);
}

// Reads a named file, standard input for "-", or a web address. Failures in
// the program's words.
std::string ReadInput(const QString& name)
{
    if (IsWebAddress(name))
        return DownloadInput(name);
    return ReadFile(name);
}

std::string ReadFile(const QString& name)
{
    std::string data;
    if (name == QLatin1String("-")) {
        if (!ReadWhole(stdin, data))
            throw Failure(
                Message("Unable to read %s", {QStringLiteral("standard input")}).toStdString());
        return data;
    }
    QFileInfo info(name);
    if (!info.exists() || info.isDir())
        throw Failure(Message("File %s does not exist", {name}).toStdString());
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(
            (Message("Unable to read %s", {name}) + QStringLiteral(": ") + file.errorString())
                .toStdString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Failure(
            (Message("Unable to read %s", {name}) + QStringLiteral(": ") + file.errorString())
                .toStdString());
    return bytes.toStdString();
}

// Writes the result atomically: a temporary file in the same folder renamed
// over the target, so the target is never missing or half-written.
void WriteOutput(const QString& name, const std::string& data)
{
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(data.data(), qint64(data.size())) != qint64(data.size()) || !file.commit())
        throw Failure(
            (Message("Unable to write %s", {name}) + QStringLiteral(": ") + file.errorString())
                .toStdString());
}

StrengthEntries TranslatedStrengthEntries()
{
    StrengthEntries entries;
    for (int i = 0; i < 5; ++i)
        entries[i] = TranslateString(strengthLevelNames[i], "TFormEncryptionOptions");
    return entries;
}

struct Options
{
    QString command;
    bool encrypt = false, limit = false, optimise = false;
    bool defaults = false, save = false;
    std::optional<int> level;
    QString settingsFile, outputFile, input;
    bool haveInput = false;
};

Options ParseArguments(const QStringList& args)
{
    Options o;
    if (args.size() < 2)
        throw UsageError{"no command given"};
    o.command = args[1];
    if (o.command != QLatin1String("page") && o.command != QLatin1String("settings"))
        throw UsageError{"unknown command: " + o.command.toStdString()};
    const bool page = o.command == QLatin1String("page");
    for (qsizetype i = 2; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&]() -> QString {
            if (i + 1 >= args.size())
                throw UsageError{a.toStdString() + " needs a value"};
            return args[++i];
        };
        if (page && a == QLatin1String("-e"))
            o.encrypt = true;
        else if (page && a == QLatin1String("-a"))
            o.limit = true;
        else if (page && a == QLatin1String("-o"))
            o.optimise = true;
        else if (page && a == QLatin1String("--output"))
            o.outputFile = value();
        else if (!page && a == QLatin1String("--save"))
            o.save = true;
        else if (a == QLatin1String("--defaults"))
            o.defaults = true;
        else if (a == QLatin1String("--settings"))
            o.settingsFile = value();
        else if (a == QLatin1String("--level")) {
            const QString text = value();
            bool ok = false;
            const int level = text.toInt(&ok);
            if (!ok || level < 0 || level > 4)
                throw UsageError{"--level takes a number from 0 to 4"};
            o.level = level;
        } else if (page && !o.haveInput && (a == QLatin1String("-") || !a.startsWith(u'-'))) {
            o.input = a;
            o.haveInput = true;
        } else {
            throw UsageError{"unexpected argument: " + a.toStdString()};
        }
    }
    if (page && !o.haveInput)
        throw UsageError{"no INPUT given"};
    return o;
}

ProtectionSettings EffectiveSettings(const Options& o, SettingsStore& store)
{
    const StrengthEntries entries = TranslatedStrengthEntries();
    ProtectionSettings settings;
    settings.StrengthText = entries[settings.StrengthLevel];
    if (!o.defaults)
        LoadProtectionSettings(store, settings, entries);
    if (!o.settingsFile.isEmpty()) {
        const std::string text = ReadFile(o.settingsFile);
        ApplySettingsText(text, settings, entries);
    }
    if (o.level) {
        settings.StrengthLevel = *o.level;
        settings.StrengthText = entries[*o.level];
    }
    return settings;
}

int Run(const QStringList& args)
{
    const Options o = ParseArguments(args);
    SettingsStore store = SettingsStore::OpenProductKey();
    const ProtectionSettings settings = EffectiveSettings(o, store);

    if (o.command == QLatin1String("settings")) {
        const std::string text = SettingsText(settings);
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        if (o.save && !SaveProtectionSettings(store, settings))
            throw Failure(Message("Unable to write %s", {QStringLiteral("the stored settings")})
                              .toStdString());
        return 0;
    }

    ProtectionParts parts = (o.encrypt ? partEncrypt : 0u) | (o.limit ? partLimitAccess : 0u) |
                            (o.optimise ? partOptimise : 0u);
    if (parts == 0)
        parts = allProtectionParts;
    ProtectionEngine engine;
    engine.settings = settings;
    engine.SetProtectionParts(parts);
    // As in the stand-alone options dialog: the optimisation page is shown,
    // so the optimisation is active.
    engine.OptimiseActive = (parts & partOptimise) != 0;

    std::string page = ReadInput(o.input);
    if (!engine.SecurePage(page))
        throw Failure(Message("Error processing file %s", {o.input}).toStdString());
    if (o.outputFile.isEmpty()) {
        if (std::fwrite(page.data(), 1, page.size(), stdout) != page.size() ||
            std::fflush(stdout) != 0)
            throw Failure(
                Message("Unable to write %s", {QStringLiteral("standard output")}).toStdString());
    } else {
        WriteOutput(o.outputFile, page);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QString::fromLatin1(settingsOrganisation));
    QCoreApplication::setApplicationName(QStringLiteral("kestrix-cli"));
    const QStringList args = QCoreApplication::arguments();
    for (const QString& a : args) {
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(usageText, stdout);
            return 0;
        }
    }
    try {
        LoadApplicationLanguageFile();
        return Run(args);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "kestrix-cli: %s\n\n%s", e.message.c_str(), usageText);
        return 2;
    } catch (const Failure& e) {
        PrintError(QString::fromStdString(e.what()));
        return 1;
    } catch (const Cancelled&) {
        return 1;
    }
}
