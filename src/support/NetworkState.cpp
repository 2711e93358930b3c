#include "support/WebHelpers.h"

#include "platform/MessageFormat.h"
#include "support/Translation.h"

#include <QNetworkInformation>
#include <QNetworkProxyFactory>
#include <QUrl>

// The two services that ask the network stack itself. They live apart from
// the address helpers so that a program using only those (kestrix-cli) does
// not load Qt Network and the libraries under it.

namespace kestrix {

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

} // namespace kestrix
