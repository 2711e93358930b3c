#include "support/VersionInfo.h"

#include "support/WebHelpers.h"

namespace kestrix {

namespace {
QString& CurrentTitle()
{
    static QString title = QStringLiteral("Marquell Kestrix v2.0");
    return title;
}
} // namespace

VersionInfo ProgramVersionInfo()
{
    return VersionInfo{QStringLiteral(KESTRIX_VERSION_TEXT), QStringLiteral(KESTRIX_COMMENTS),
                       QStringLiteral(KESTRIX_COPYRIGHT)};
}

QString ApplicationTitle()
{
    return CurrentTitle();
}

void SetApplicationTitle(const QString& title)
{
    CurrentTitle() = title;
}

QString HomePageUrl()
{
    return QStringLiteral("http://www.marquell.com/");
}

QString ServicesPageUrl()
{
    return CombineUrl(UrlSiteRoot(HomePageUrl()), QStringLiteral("services.htm"));
}

} // namespace kestrix
