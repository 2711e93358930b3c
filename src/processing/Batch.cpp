#include "processing/Batch.h"

#include "platform/AtomicFile.h"
#include "platform/Errors.h"
#include "platform/MessageFormat.h"
#include "support/Translation.h"
#include "support/WebHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace kestrix {

namespace {

QString Message(const char* english, const QStringList& arguments)
{
    return FormatMessage(Tr(english), arguments);
}

[[noreturn]] void Fail(const QString& message)
{
    throw Failure(message.toStdString());
}

std::string ReadWholeFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        Fail(Message("Unable to read %s", {path}) + QStringLiteral(": ") + file.errorString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        Fail(Message("Unable to read %s", {path}) + QStringLiteral(": ") + file.errorString());
    return bytes.toStdString();
}

// The page named by the input: downloaded (the local copy read and deleted)
// or read from disk.
std::optional<std::string> ReadPage(const CommandLine& line, FileCommandDialogs& dialogs)
{
    if (line.mode & cmWebAddress) {
        QString local = line.InputName;
        const DownloadStatus status = dialogs.DownloadUrl(Tr("Downloading Page..."), local);
        if (status == DownloadStatus::Cancelled)
            return std::nullopt;
        if (status != DownloadStatus::Succeeded)
            Fail(DownloadFailureMessage(line.InputName, status));
        struct RemoveWhenRead
        {
            QString path;
            ~RemoveWhenRead() { QFile::remove(path); }
        } copy{local};
        return ReadWholeFile(local);
    }
    const QFileInfo input(line.InputName);
    if (!input.exists() || input.isDir())
        Fail(Message("File %s does not exist", {line.InputName}));
    return ReadWholeFile(line.InputName);
}

// Creates the folder of an output path with its parents.
void MakeOutputFolder(const QString& output)
{
    const QFileInfo info(output);
    if (output.isEmpty() || info.fileName().isEmpty() || !output.contains(u'/'))
        Fail(Message("No folder is given for the output file %s", {output}));
    if (!QDir().mkpath(info.absolutePath()))
        Fail(Message("Unable to create the folder %s", {info.absolutePath()}));
}

// Whether two paths name one entry: the same name in the same folder, the
// folders compared as the system resolves them (a link to a folder, "..").
bool SameEntry(const QString& a, const QString& b)
{
    const QFileInfo first(a), second(b);
    if (first.fileName() != second.fileName())
        return false;
    const QString firstFolder = QFileInfo(first.absolutePath()).canonicalFilePath();
    const QString secondFolder = QFileInfo(second.absolutePath()).canonicalFilePath();
    if (firstFolder.isEmpty() || secondFolder.isEmpty())
        return QDir::cleanPath(first.absoluteFilePath()) ==
               QDir::cleanPath(second.absoluteFilePath());
    return firstFolder == secondFolder;
}

} // namespace

void ResolveCommandLineNames(CommandLine& line, const QString& workingFolder)
{
    const QDir folder(workingFolder);
    for (QString* name : {&line.InputName, &line.OutputName})
        if (!name->isEmpty() && !IsWebAddress(*name))
            *name = QDir::cleanPath(folder.absoluteFilePath(*name));
}

BatchResult RunBatch(const CommandLine& line, FileCommandDialogs& dialogs)
{
    // The input's own name while it is kept as input + ".kestrix": put back
    // when the run fails after the rename.
    QString keptAs;
    try {
        const std::optional<std::string> read = ReadPage(line, dialogs);
        if (!read)
            return BatchResult::Cancelled;
        std::string page = *read;

        ProtectionEngine engine;
        engine.SetProtectionParts(line.parts);
        if (!dialogs.AskProtectionOptions(page, engine))
            return BatchResult::Cancelled;

        if (!engine.SecurePage(page))
            Fail(Message("Error processing file %s", {line.InputName}));

        QString output = line.OutputName;
        if (line.mode & cmKeepOriginal) {
            // Everything that can be checked is checked before the input
            // is touched.
            const QString kept = line.InputName + QStringLiteral(".kestrix");
            // The result written under the kept name would replace the
            // original text it is kept to save.
            if (!output.isEmpty() && SameEntry(output, kept))
                Fail(Message("The output file %s is the name the original is kept under.",
                             {output}));
            if (output.isEmpty())
                Fail(Message("No output file is given for %s", {line.InputName}));
            if (QFileInfo::exists(kept) || QFileInfo(kept).isSymLink())
                Fail(Message("The file %s already exists; the original is not kept over it.",
                             {kept}));
            MakeOutputFolder(output);
            if (!QFile::rename(line.InputName, kept))
                Fail(Message("Unable to rename %s to %s", {line.InputName, kept}));
            keptAs = kept;
        } else {
            if (!dialogs.PromptSaveFile(QStringLiteral("HTML Files (*.html)|*.html"),
                                        QStringLiteral("html"), output))
                return BatchResult::Cancelled;
            MakeOutputFolder(output);
        }
        // The one write of the run, atomic: on failure the earlier file is
        // left as it was and nothing of the run remains.
        WriteFileAtomically(output, page);
        return BatchResult::Written;
    } catch (const Failure& failure) {
        // In place: the input gets its name back unless the output now
        // stands under it (the write is the last step, so it did not).
        if (!keptAs.isEmpty() && !QFileInfo::exists(line.InputName))
            QFile::rename(keptAs, line.InputName);
        dialogs.ShowError(QString::fromStdString(failure.what()));
        return BatchResult::Failed;
    } catch (const Cancelled&) {
        if (!keptAs.isEmpty() && !QFileInfo::exists(line.InputName))
            QFile::rename(keptAs, line.InputName);
        return BatchResult::Cancelled;
    }
}

} // namespace kestrix
