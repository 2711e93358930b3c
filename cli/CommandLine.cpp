#include "CommandLine.h"

#include "platform/Errors.h"
#include "platform/MessageFormat.h"
#include "shell/ProtectionSettingsStore.h"
#include "support/SettingsStore.h"
#include "support/Translation.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace kestrix {

namespace {

bool ReadWhole(FILE* stream, std::string& out)
{
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, stream)) > 0)
        out.append(buffer, n);
    return !std::ferror(stream);
}

} // namespace

const char usageText[] =
    "Usage:\n"
    "  kestrix-cli page [-e] [-a] [-o] [--defaults] [--level N] [--settings FILE]\n"
    "                   [--output FILE] INPUT\n"
    "  kestrix-cli settings [--defaults] [--settings FILE] [--level N] [--save]\n"
    "  kestrix-cli secure [-e] [-a] [-o] [--level N] [--settings FILE] [--filter MASKS]\n"
    "                     [--again] [--jobs N] [--dry-run] [--verify] [--report FILE]\n"
    "                     PATH...\n"
    "  kestrix-cli secure [-e] [-a] [-o] [--level N] [--settings FILE] [--filter MASKS]\n"
    "                     [--again] [--jobs N] [--dry-run] [--verify] [--report FILE]\n"
    "                     [--link] --output-dir DIR SRC\n"
    "  kestrix-cli restore [--filter MASKS] [--dry-run] [--report FILE] PATH...\n"
    "  kestrix-cli recover [--output FILE] PAGE\n"
    "  kestrix-cli verify [--source SRC] [--filter MASKS] [--report FILE] PATH...\n"
    "  kestrix-cli audit [--min-chars N] DIR...\n"
    "\n"
    "page      secures one HTML page. INPUT is a file, an http:// or https://\n"
    "          address (downloaded first), or - for standard input.\n"
    "          -e scrambles the content, -a adds the access-limiting script,\n"
    "          -o optimises the markup; none of them means all three.\n"
    "          The result goes to --output FILE, or to standard output.\n"
    "settings  prints the protection settings in force as INI text;\n"
    "          --save also keeps them as the stored settings.\n"
    "secure    secures files in place, each after a backup copy in the folder\n"
    "          \"Kestrix Backup\" beside it. A PATH that is a folder stands for\n"
    "          its files at any depth that fit --filter (masks separated by \";\",\n"
    "          default: the stored file filter, else *.htm;*.html;*.asp;*.php);\n"
    "          backup folders are not searched. Problems are listed and the run\n"
    "          goes on; links, FIFOs and devices are listed and never followed.\n"
    "          Pages already secured are passed over unless --again, which\n"
    "          secures them once more: their backup then holds the once-secured\n"
    "          text, and the clear text can no longer be restored.\n"
    "          --jobs N secures N files at a time (default: one per core).\n"
    "          --output-dir DIR builds a secured copy of the folder SRC in DIR\n"
    "          instead: pages secured, other files copied (hard-linked with\n"
    "          --link), links copied as links; backups and *.kestrix files left\n"
    "          out; SRC unchanged. A rebuild writes only what changed and\n"
    "          removes only files an earlier build wrote (state: DIR/.kestrix-build).\n"
    "          --verify reads each secured text back in memory and compares it\n"
    "          with the page before anything is written; a page that does not\n"
    "          match is left as it is and counts as failed (needs -e).\n"
    "restore   puts every file's backup copy back in its place.\n"
    "          --dry-run lists what secure or restore would do and changes nothing.\n"
    "          --report FILE (secure, restore, verify) writes one JSON line per\n"
    "          file and the totals last; - is standard output. FILE is opened\n"
    "          before the run: when it cannot be written, nothing is touched.\n"
    "recover   writes a secured page as it was before securing, read back from\n"
    "          the page alone, to --output FILE or standard output.\n"
    "verify    checks that every secured page (folders walked as secure walks\n"
    "          them) decodes to its backup, or with --source to the same path\n"
    "          under SRC.\n"
    "audit     lists every file below DIR that holds a run of at least\n"
    "          --min-chars characters (default 40, at least 10) of a secured\n"
    "          page's clear text, and every backup folder.\n"
    "\n"
    "Settings come from the stored settings (else the defaults); --defaults\n"
    "starts from the defaults; --settings FILE then applies an INI file as\n"
    "'settings' prints it; --level N (0 to 4) is applied last.\n";

int ReportUsageError(const std::string& message)
{
    std::fprintf(stderr, "kestrix-cli: %s\n\n%s", message.c_str(), usageText);
    return 2;
}

void PrintError(const QString& message)
{
    std::fputs(message.toLocal8Bit().constData(), stderr);
    std::fputs("\n", stderr);
}

QString Message(const char* english, const QStringList& arguments)
{
    return FormatMessage(Tr(english), arguments);
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

ProtectionSettings EffectiveSettings(bool defaults, const QString& settingsFile,
                                     std::optional<int> level, const SettingsStore& store)
{
    const StrengthEntries entries = TranslatedStrengthEntries();
    ProtectionSettings settings;
    settings.StrengthText = entries[settings.StrengthLevel];
    if (!defaults)
        LoadProtectionSettings(store, settings, entries);
    if (!settingsFile.isEmpty()) {
        const std::string text = ReadFile(settingsFile);
        const SettingsTextReport report = ApplySettingsText(text, settings, entries);
        // A file that names no setting is not a settings file (a page or
        // anything else given by mistake): going on would secure with
        // settings the user did not choose.
        if (report.knownValues == 0)
            throw Failure(
                Message("%s holds no protection settings: a [%s] section with "
                        "values as 'kestrix-cli settings' prints them is needed.",
                        {settingsFile, QString::fromLatin1(settingsSection.data(),
                                                           qsizetype(settingsSection.size()))})
                    .toStdString());
        for (const std::string& name : report.unknownNames)
            PrintError(Message("Warning: %s is not a setting and was ignored (%s)",
                               {QString::fromStdString(name), settingsFile}));
    }
    if (level) {
        settings.StrengthLevel = *level;
        settings.StrengthText = entries[*level];
    }
    return settings;
}

int ParseLevelValue(const QString& value)
{
    bool ok = false;
    const int n = value.toInt(&ok);
    if (!ok || !IsStrengthLevel(n))
        throw UsageError{"--level takes a number from 0 to 4"};
    return n;
}

} // namespace kestrix
