#include "support/VersionInfo.h"

#include "support/WebHelpers.h"

namespace kestrix {

VersionInfo ProgramVersionInfo()
{
    return VersionInfo{QStringLiteral(KESTRIX_VERSION_TEXT), QStringLiteral(KESTRIX_COMMENTS),
                       QStringLiteral(KESTRIX_COPYRIGHT)};
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
