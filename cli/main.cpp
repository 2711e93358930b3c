// kestrix-cli: secures pages from the command line, without any window.
#include "CommandLine.h"
#include "DownloadModule.h"
#include "SiteCommands.h"
#include "TrustCommands.h"
#include "platform/Errors.h"
#include "platform/InputFile.h"
#include "platform/MessageFormat.h"
#include "platform/OutputStream.h"
#include "protection/ProtectionSettings.h"
#include "protection/SecurePage.h"
#include "shell/ProtectionSettingsStore.h"
#include "support/SettingsStore.h"
#include "support/Translation.h"
#include "support/WebDownload.h"
#include "support/WebHelpers.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <dlfcn.h>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>

using namespace kestrix;

namespace {

// Where the download module is: installed in the library folder, or beside
// the program in a build folder.
QString DownloadModulePath()
{
    const QString folder = QCoreApplication::applicationDirPath();
    const QString installed = folder + QLatin1Char('/') +
                              QString::fromUtf8(KESTRIX_CLI_MODULE_DIR) + QLatin1Char('/') +
                              QString::fromUtf8(downloadModuleName);
    if (QFileInfo::exists(installed))
        return installed;
    return folder + QLatin1Char('/') + QString::fromUtf8(downloadModuleName);
}

// Fetches a web address into a temporary file, reads it and deletes it,
// through the download module, which is loaded only now. Progress goes to
// standard error when that is a terminal.
InputText DownloadInput(const QString& address)
{
    // Kept loaded: what Qt registers from it lives as long as the program.
    void* module =
        ::dlopen(QFile::encodeName(DownloadModulePath()).constData(), RTLD_NOW | RTLD_LOCAL);
    const auto download =
        module ? reinterpret_cast<DownloadFunction>(::dlsym(module, downloadFunctionName))
               : nullptr;
    if (!download) {
        const char* reason = ::dlerror();
        throw Failure((Message("Unable to read %s", {address}) + QStringLiteral(": ") +
                       QString::fromLocal8Bit(reason ? reason : "?"))
                          .toStdString());
    }
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
    QString failure;
    const auto status = static_cast<DownloadStatus>(download(address, local, failure, progress));
    if (reported)
        std::fputs("\n", stderr);
    if (status == DownloadStatus::Cancelled)
        throw Cancelled{};
    if (status != DownloadStatus::Succeeded)
        throw Failure(failure.toStdString());
    struct RemoveWhenDone
    {
        QString path;
        ~RemoveWhenDone() { QFile::remove(path); }
    } copy{local};
    return ReadInputFile(local);
}

// Reads a named file, standard input for "-", or a web address, once, into
// the memory the engine reads. Failures in the program's words.
InputText ReadInput(const QString& name)
{
    if (IsWebAddress(name))
        return DownloadInput(name);
    return ReadInputFile(name);
}

// Hands the secured page's pieces to the output as they are made.
class StreamWriter final : public PageWriter
{
public:
    explicit StreamWriter(OutputStream& out) : out_(out) {}
    void Write(std::string_view piece) override { out_.Write(piece); }

private:
    OutputStream& out_;
};

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
    if (parser.isSet(level))
        o.level = ParseLevelValue(parser.value(level));
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

int Run(const QStringList& args)
{
    const Options o = ParseArguments(args);
    SettingsStore store = SettingsStore::OpenProductKey();
    const ProtectionSettings settings =
        EffectiveSettings(o.defaults, o.settingsFile, o.level, store);

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

    const InputText page = ReadInput(o.input);
    // Every step that can fail is done before the output is opened: a page
    // that cannot be secured writes nothing anywhere, and what goes out is
    // written as it is made, never held whole (nor measured first).
    const SecuredPage secured(engine, page.View());
    if (!secured.Secured())
        throw Failure(Message("Error processing file %s", {o.input}).toStdString());
    const std::unique_ptr<OutputStream> out = o.outputFile.isEmpty()
                                                  ? std::make_unique<OutputStream>()
                                                  : std::make_unique<OutputStream>(o.outputFile);
    StreamWriter writer(*out);
    secured.WriteTo(writer);
    out->Commit();
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
        if (args.size() >= 2 && args[1] == QLatin1String("secure"))
            return SecureCommand(args.mid(1));
        if (args.size() >= 2 && args[1] == QLatin1String("restore"))
            return RestoreCommand(args.mid(1));
        if (args.size() >= 2 && args[1] == QLatin1String("recover"))
            return RecoverCommand(args.mid(1));
        if (args.size() >= 2 && args[1] == QLatin1String("verify"))
            return VerifyCommand(args.mid(1));
        if (args.size() >= 2 && args[1] == QLatin1String("audit"))
            return AuditCommand(args.mid(1));
        return Run(args);
    } catch (const UsageError& e) {
        return ReportUsageError(e.message);
    } catch (const Failure& e) {
        PrintError(QString::fromStdString(e.what()));
        return 1;
    } catch (const Cancelled&) {
        return 1;
    }
}
