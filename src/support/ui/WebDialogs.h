// The web operations that need a window: opening a page in the desktop's
// browser (asking first when offline) and the save prompt that follows a
// download.
#pragma once

#include <QString>

#include <memory>

class QFileDialog;

namespace kestrix {

// Opens the address in the desktop's browser. When it is an online address
// and no connection is up, asks first whether to go on.
void OpenWebPage(const QString& url);

// The save prompt that follows a download. Its dialog is created on first
// use and reused for every later prompt of its owner, so that it proposes
// the folder chosen last. Its options: confirm before overwriting, the
// folder must exist, read-only files refused.
class SaveFilePrompt
{
public:
    SaveFilePrompt();
    ~SaveFilePrompt();
    SaveFilePrompt(const SaveFilePrompt&) = delete;
    SaveFilePrompt& operator=(const SaveFilePrompt&) = delete;

    // The dialog, created on the first call.
    QFileDialog& Dialog();

    // Shows the dialog, proposing the folder and cleaned name of `path`
    // (either may be empty). `filter` is pairs of a description and its
    // patterns separated by "|" ("HTML Files (*.html)|*.html"), or name
    // filters separated by ";;" ("HTML files (*.htm *.html);;All files (*)");
    // `defaultExtension` is added to a name typed without one. True when the
    // user confirmed; the name is then FileName().
    bool Prompt(const QString& path, const QString& filter, const QString& defaultExtension);
    // The file chosen when the last prompt was confirmed; empty otherwise.
    QString FileName() const;

private:
    std::unique_ptr<QFileDialog> dialog_;
};

} // namespace kestrix
