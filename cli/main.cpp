// kestrix-cli: secures pages from the command line, without any window.
#include "platform/AtomicFile.h"
#include "platform/Errors.h"
#include "platform/MessageFormat.h"
#include "protection/ProtectionSettings.h"
#include "protection/SecurePage.h"
#include "shell/ProtectionSettingsStore.h"
#include "shell/SettingsStore.h"
#include "support/Translation.h"
#include "support/WebDownload.h"
#include "support/WebHelpers.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

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

StrengthEntries TranslatedStrengthEntries()
{
    StrengthEntries entries;
    for (int i = 0; i < strengthLevelCount; ++i)
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

    // The flags of each command; "-" stands for standard input, "-ea" for
    // "-e -a".
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    const QCommandLineOption encrypt(QStringLiteral("e"));
    const QCommandLineOption limit(QStringLiteral("a"));
    const QCommandLineOption optimise(QStringLiteral("o"));
    const QCommandLineOption output(QStringLiteral("output"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption save(QStringLiteral("save"));
    const QCommandLineOption defaults(QStringLiteral("defaults"));
    const QCommandLineOption settings(QStringLiteral("settings"), QString(),
                                      QStringLiteral("FILE"));
    const QCommandLineOption level(QStringLiteral("level"), QString(), QStringLiteral("N"));
    parser.addOptions({defaults, settings, level});
    if (page)
        parser.addOptions({encrypt, limit, optimise, output});
    else
        parser.addOption(save);
    // The command's own name stands where the parser expects the program's.
    if (!parser.parse(args.mid(1)))
        throw UsageError{parser.errorText().toStdString()};

    o.encrypt = page && parser.isSet(encrypt);
    o.limit = page && parser.isSet(limit);
    o.optimise = page && parser.isSet(optimise);
    o.save = !page && parser.isSet(save);
    o.defaults = parser.isSet(defaults);
    if (page)
        o.outputFile = parser.value(output);
    o.settingsFile = parser.value(settings);
    if (parser.isSet(level)) {
        bool ok = false;
        const int n = parser.value(level).toInt(&ok);
        if (!ok || !IsStrengthLevel(n))
            throw UsageError{"--level takes a number from 0 to 4"};
        o.level = n;
    }
    const QStringList names = parser.positionalArguments();
    if (!page && !names.isEmpty())
        throw UsageError{"unexpected argument: " + names.first().toStdString()};
    if (page) {
        if (names.isEmpty())
            throw UsageError{"no INPUT given"};
        if (names.size() > 1)
            throw UsageError{"unexpected argument: " + names[1].toStdString()};
        o.input = names.first();
        o.haveInput = true;
    }
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
        const SettingsTextReport report = ApplySettingsText(text, settings, entries);
        // A file that names no setting is not a settings file (a page or
        // anything else given by mistake): going on would secure with
        // settings the user did not choose.
        if (report.knownValues == 0)
            throw Failure(
                Message("%s holds no protection settings: a [%s] section with "
                        "values as 'kestrix-cli settings' prints them is needed.",
                        {o.settingsFile, QString::fromLatin1(settingsSection.data(),
                                                             qsizetype(settingsSection.size()))})
                    .toStdString());
        for (const std::string& name : report.unknownNames)
            PrintError(Message("Warning: %s is not a setting and was ignored (%s)",
                               {QString::fromStdString(name), o.settingsFile}));
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

    ProtectionParts parts;
    parts.setFlag(partEncrypt, o.encrypt);
    parts.setFlag(partLimitAccess, o.limit);
    parts.setFlag(partOptimise, o.optimise);
    if (!parts)
        parts = allProtectionParts;
    ProtectionEngine engine;
    engine.settings = settings;
    engine.SetProtectionParts(parts);
    // As in the stand-alone options dialog: the optimisation page is shown,
    // so the optimisation is active.
    engine.OptimiseActive = parts.testFlag(partOptimise);

    std::string page = ReadInput(o.input);
    if (!engine.SecurePage(page))
        throw Failure(Message("Error processing file %s", {o.input}).toStdString());
    if (o.outputFile.isEmpty()) {
        if (std::fwrite(page.data(), 1, page.size(), stdout) != page.size() ||
            std::fflush(stdout) != 0)
            throw Failure(
                Message("Unable to write %s", {QStringLiteral("standard output")}).toStdString());
    } else {
        WriteFileAtomically(o.outputFile, page);
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
