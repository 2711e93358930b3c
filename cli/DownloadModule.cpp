// The module kestrix-cli loads for a web address (DownloadModule.h).
#include "DownloadModule.h"

#include "support/Translation.h"
#include "support/WebDownload.h"

using namespace kestrix;

extern "C" __attribute__((visibility("default"))) int
KestrixCliDownload(const QString& address, QString& localFile, QString& failure,
                   const std::function<void(qint64, qint64)>& progress)
{
    // The module has its own copy of the translation table: the language
    // file is read for its messages too.
    static const bool translated = [] {
        LoadApplicationLanguageFile();
        return true;
    }();
    (void)translated;
    static_assert(std::is_same_v<decltype(&KestrixCliDownload), DownloadFunction>);
    const DownloadStatus status = DownloadToFile(address, localFile, progress);
    if (status != DownloadStatus::Succeeded && status != DownloadStatus::Cancelled)
        failure = DownloadFailureMessage(address, status);
    return static_cast<int>(status);
}
