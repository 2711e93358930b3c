#include "support/ui/WebDialogs.h"

#include "platform/MessageFormat.h"
#include "platform/desktop/DesktopOpen.h"
#include "support/Translation.h"
#include "support/WebHelpers.h"
#include "support/ui/ModalDialog.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>

namespace kestrix {

namespace {
// The save dialog of PromptSaveFile: refuses a chosen file that cannot be
// written, as a read-only file would be overwritten by nobody.
class SaveDialog : public QFileDialog
{
public:
    SaveDialog()
    {
        setObjectName(QStringLiteral("SaveDialog"));
        setAcceptMode(QFileDialog::AcceptSave);
        setFileMode(QFileDialog::AnyFile);
        // The program's own dialog, so that the checks below always run.
        setOption(QFileDialog::DontUseNativeDialog, true);
        setOption(QFileDialog::DontConfirmOverwrite, false);
        setOption(QFileDialog::ReadOnly, false);
        // Not resizable: a fixed size (the grip alone would still let the
        // window's border resize it), and no maximize button.
        setSizeGripEnabled(false);
        setFixedSize(sizeHint().expandedTo(minimumSizeHint()));
        setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    }

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (!files.isEmpty()) {
            const QFileInfo chosen(files.first());
            const QFileInfo folder(chosen.absolutePath());
            if (!folder.isDir()) {
                Refuse(FormatMessage(Tr("The folder %s does not exist."),
                                     {QDir::toNativeSeparators(chosen.absolutePath())}));
                return;
            }
            // A file without its owner's write permission counts as
            // read-only even for a user who could write it anyway.
            const bool readOnly =
                chosen.exists() &&
                (!(chosen.permissions() & QFileDevice::WriteOwner) || !chosen.isWritable());
            if (readOnly || !folder.isWritable()) {
                Refuse(FormatMessage(Tr("%s\r\nThis file is read-only.\r\nTry again with a "
                                        "different file name."),
                                     {QDir::toNativeSeparators(chosen.absoluteFilePath())}));
                return;
            }
        }
        QFileDialog::accept();
    }

private:
    void Refuse(QString message)
    {
        message.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        QMessageBox box(QMessageBox::Warning, windowTitle(), message, QMessageBox::Ok, this);
        ExecModal(box);
    }
};

// The dialog's name filters. A filter given as pairs of a description and
// its patterns, separated by "|" ("HTML Files (*.html)|*.html", patterns
// separated by ";"), becomes one entry per pair, the patterns in brackets
// behind the description unless it already shows them so. Without "|" it is
// taken in the toolkit's own form, entries separated by ";;".
QStringList NameFilters(const QString& filter)
{
    if (!filter.contains(u'|'))
        return filter.split(QStringLiteral(";;"), Qt::SkipEmptyParts);
    const QStringList parts = filter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts).join(u' ');
        const QString& description = parts[i];
        const QString shown = QLatin1Char('(') + patterns + QLatin1Char(')');
        filters << (description.trimmed().endsWith(shown) ? description
                                                          : description + QLatin1Char(' ') + shown);
    }
    return filters;
}

} // namespace

void OpenWebPage(const QString& url)
{
    if (!IsOfflineUrl(url) && !IsInternetConnected()) {
        // Shown as built in: this question has no translation.
        QMessageBox question(
            QMessageBox::Question, ApplicationTitle(),
            QStringLiteral(
                "You don't seem to be connected to the internet. Do you wish to connect now?"),
            QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
        if (ExecModal(question) != QMessageBox::Yes)
            return;
    }
    // Whether a browser came up is not reported, as with any desktop handler.
    OpenUrlWithDesktop(url);
}

SaveFilePrompt::SaveFilePrompt() = default;
SaveFilePrompt::~SaveFilePrompt() = default;

QFileDialog& SaveFilePrompt::Dialog()
{
    if (!dialog_)
        dialog_ = std::make_unique<SaveDialog>();
    return *dialog_;
}

bool SaveFilePrompt::Prompt(const QString& path, const QString& filter,
                            const QString& defaultExtension)
{
    QFileDialog& dialog = Dialog();
    // The folder keeps its separators ("/" is the separator here); only the
    // characters no folder name may hold are dropped.
    const qsizetype slash = path.lastIndexOf(u'/');
    QString folder = slash >= 0 ? path.left(slash) : QString();
    if (slash == 0)
        folder = QStringLiteral("/");
    for (const QChar c : {u'|', u'<', u'>'})
        folder.remove(c);
    const QString name = CleanFileName(slash >= 0 ? path.mid(slash + 1) : path);
    if (!folder.isEmpty())
        dialog.setDirectory(folder);
    dialog.setNameFilters(NameFilters(filter));
    dialog.setDefaultSuffix(defaultExtension.startsWith(u'.') ? defaultExtension.mid(1)
                                                              : defaultExtension);
    if (name.isEmpty()) {
        // The toolkit ignores an empty selection and would propose the name
        // chosen last time: clear the name and the files picked in the views.
        if (auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            edit->clear();
        for (const char* view : {"listView", "treeView"})
            if (auto* files = dialog.findChild<QAbstractItemView*>(QLatin1String(view)))
                files->clearSelection();
    } else {
        dialog.selectFile(name);
    }
    return ExecModal(dialog) == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
}

QString SaveFilePrompt::FileName() const
{
    if (!dialog_ || dialog_->result() != QDialog::Accepted)
        return QString();
    const QStringList files = dialog_->selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

} // namespace kestrix
