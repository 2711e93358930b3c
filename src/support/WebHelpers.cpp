#include "support/WebHelpers.h"

#include <QFileInfo>
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

} // namespace

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

QString CleanFileName(const QString& name)
{
    QString clean = name;
    for (const QChar c : {u'/', u'|', u'<', u'>'})
        clean.remove(c);
    if (clean == QLatin1String(".") || clean == QLatin1String(".."))
        clean.clear();
    return clean;
}

} // namespace kestrix
