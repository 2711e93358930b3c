#include "support/WebHelpers.h"

#include "platform/DesktopOpen.h"
#include "support/MessageFormat.h"
#include "support/ModalDialog.h"
#include "support/Translation.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkInformation>
#include <QNetworkProxyFactory>
#include <QUrl>

namespace kestrix {

namespace {

// The parts of an address exactly as written: case, escapes and
// backslashes are kept, since the parts are shown and compared as the user
// typed them.
struct UrlParts
{
    QString scheme;
    QString host;
    QString path;
};

// Splits an address, or answers false when the URL parser finds no scheme
// or cannot parse it. The parser only judges and delimits; where the text
// as written does not agree with its reading, the parser's part is taken.
bool SplitUrl(const QString& text, UrlParts& parts)
{
    const QUrl url(text, QUrl::TolerantMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return false;
    const QString written = text.trimmed();
    const qsizetype colon = written.indexOf(u':');
    const QString scheme = colon > 0 ? written.left(colon) : QString();
    parts.scheme = scheme.compare(url.scheme(), Qt::CaseInsensitive) == 0 ? scheme : url.scheme();
    auto endOf = [](QStringView view, QStringView stops) {
        qsizetype end = 0;
        while (end < view.size() && !stops.contains(view[end]))
            ++end;
        return end;
    };
    QStringView rest = QStringView(written).mid(colon + 1);
    parts.host = url.host(QUrl::FullyEncoded);
    if (rest.startsWith(u"//")) {
        rest = rest.mid(2);
        const qsizetype authorityEnd = endOf(rest, u"/?#");
        QStringView host = rest.left(authorityEnd);
        rest = rest.mid(authorityEnd);
        host = host.mid(host.lastIndexOf(u'@') + 1);
        if (!host.startsWith(u'['))
            host = host.left(endOf(host, u":"));
        if (host.compare(parts.host, Qt::CaseInsensitive) == 0 ||
            host.compare(url.host(), Qt::CaseInsensitive) == 0)
            parts.host = host.toString();
    }
    parts.path = rest.left(endOf(rest, u"?#")).toString();
    return true;
}

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
        setSizeGripEnabled(false);
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

SaveDialog* saveDialog = nullptr;

void DeleteSaveDialog()
{
    delete saveDialog;
    saveDialog = nullptr;
}

} // namespace

bool IsWebAddress(const QString& text)
{
    return text.contains(QLatin1String("http://"), Qt::CaseSensitive) ||
           text.contains(QLatin1String("https://"), Qt::CaseSensitive);
}

bool IsInternetConnected()
{
    static const bool loaded =
        QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability);
    if (!loaded)
        return true;
    const QNetworkInformation* info = QNetworkInformation::instance();
    if (!info)
        return true;
    // Any network counts, as a dial-up or local connection would; only a
    // backend that knows there is none says so.
    return info->reachability() != QNetworkInformation::Reachability::Disconnected;
}

bool IsOfflineUrl(const QString& url)
{
    if (UrlScheme(url).compare(QLatin1String("http"), Qt::CaseInsensitive) != 0)
        return true;
    const QString path = UrlPath(url);
    return !path.isEmpty() && QFileInfo(path).isFile();
}

QString UrlScheme(const QString& text)
{
    UrlParts parts;
    return SplitUrl(text, parts) ? parts.scheme : QString();
}

QString UrlHost(const QString& text)
{
    UrlParts parts;
    return SplitUrl(text, parts) ? parts.host : QString();
}

QString UrlPath(const QString& text)
{
    UrlParts parts;
    return SplitUrl(text, parts) ? parts.path : QString();
}

QString UrlFileName(const QString& text)
{
    const QString path = UrlPath(text);
    qsizetype cut = -1;
    for (qsizetype i = path.size() - 1; i >= 0; --i) {
        const QChar c = path.at(i);
        if (c == u'/' || c == u'\\' || c == u':') {
            cut = i;
            break;
        }
    }
    return path.mid(cut + 1);
}

QString UrlSiteRoot(const QString& url)
{
    return QStringLiteral("http://") + UrlHost(url);
}

QString CombineUrl(const QString& base, const QString& relative)
{
    const QUrl relativeUrl(relative, QUrl::TolerantMode);
    if (!relativeUrl.isValid())
        return QString();
    const QUrl baseUrl(base, QUrl::TolerantMode);
    if (!baseUrl.isValid())
        return relativeUrl.isRelative() ? QString() : relativeUrl.toString(QUrl::FullyEncoded);
    return baseUrl.resolved(relativeUrl).toString(QUrl::FullyEncoded);
}

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

QString ProxySettingsText()
{
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    const QList<QNetworkProxy> proxies = QNetworkProxyFactory::systemProxyForQuery(
        QNetworkProxyQuery(QUrl(QStringLiteral("http://www.example.com/"))));
    QString text;
    const QNetworkProxy proxy = proxies.value(0, QNetworkProxy(QNetworkProxy::NoProxy));
    if (proxy.type() == QNetworkProxy::NoProxy || proxy.type() == QNetworkProxy::DefaultProxy)
        text = Tr("Web pages are fetched directly, without a proxy.");
    else
        text = FormatMessage(Tr("Web pages are fetched through the proxy %s."),
                             {proxy.hostName() + QLatin1Char(':') + QString::number(proxy.port())});
    return text + QStringLiteral("\n\n") +
           Tr("The proxy is set in the desktop's network settings, or with the environment "
              "variables http_proxy, https_proxy and no_proxy.");
}

QString CleanFileName(const QString& name)
{
    QString clean = name;
    for (const QChar c : {u'/', u'|', u'<', u'>'})
        clean.remove(c);
    if (clean == QLatin1String(".") || clean == QLatin1String(".."))
        clean.clear();
    return clean;
}

QFileDialog& SaveFileDialog()
{
    if (!saveDialog) {
        saveDialog = new SaveDialog;
        qAddPostRoutine(DeleteSaveDialog);
    }
    return *saveDialog;
}

bool PromptSaveFile(const QString& path, const QString& filter, const QString& defaultExtension)
{
    QFileDialog& dialog = SaveFileDialog();
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

QString SaveFileDialogFileName()
{
    if (!saveDialog)
        return QString();
    const QStringList files = saveDialog->selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

} // namespace kestrix
