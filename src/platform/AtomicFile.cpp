#include "platform/AtomicFile.h"

#include "platform/Errors.h"
#include "platform/MessageFormat.h"
#include "platform/MessageTranslator.h"

#include <QSaveFile>

namespace kestrix {

void WriteFileAtomically(const QString& path, std::string_view bytes)
{
    QSaveFile file(path);
    // A folder given as the path, or one that cannot hold a new file, fails
    // at open; a full disk at write or commit. QSaveFile removes its
    // temporary file whenever it is not committed.
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()) || !file.commit()) {
        const QString format = QString::fromStdString(TranslateMessage("Unable to write %s"));
        throw Failure((FormatMessage(format, {path}) + QStringLiteral(": ") + file.errorString())
                          .toStdString());
    }
}

} // namespace kestrix
