// The web operations that need a window: opening a page in the desktop's
// browser (asking first when offline) and the save prompt that follows a
// download.
#pragma once

#include <QString>

class QFileDialog;

namespace kestrix {

// Opens the address in the desktop's browser. When it is an online address
// and no connection is up, asks first whether to go on.
void OpenWebPage(const QString& url);

// The save dialog shared by every caller, created on first use. Its options:
// confirm before overwriting, the folder must exist, read-only files refused.
QFileDialog& SaveFileDialog();

// Shows the shared save dialog, proposing the folder and cleaned name of
// `path` (either may be empty). `filter` is pairs of a description and its
// patterns separated by "|" ("HTML Files (*.html)|*.html"), or name filters
// separated by ";;" ("HTML files (*.htm *.html);;All files (*)"); `defaultExtension`
// is added to a name typed without one. True when the user confirmed; the
// name is then SaveFileDialogFileName().
bool PromptSaveFile(const QString& path, const QString& filter, const QString& defaultExtension);
QString SaveFileDialogFileName();

} // namespace kestrix
