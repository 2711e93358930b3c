// The web download of kestrix-cli lives in a module of its own, which the
// program loads only when it is given a web address: Qt Network and the
// libraries under it (Kerberos, compression, proxy configuration) then cost
// every other run nothing at start-up.
#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

namespace kestrix {

// The module's file name, and where it is installed relative to the
// program's folder (beside the program in a build folder).
inline constexpr char downloadModuleName[] = "kestrix-cli-download.so";

// The one function the module exports: fetches `address` into a temporary
// file named in `localFile` (which the caller deletes), reporting progress.
// Returns the DownloadStatus as a number; for a failure `failure` receives
// the message in the user's language.
using DownloadFunction = int (*)(const QString& address, QString& localFile, QString& failure,
                                 const std::function<void(qint64, qint64)>& progress);
inline constexpr char downloadFunctionName[] = "KestrixCliDownload";

} // namespace kestrix
