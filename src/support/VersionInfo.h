// The program's version details, fixed when it is built, and the addresses
// of the maker's web pages.
#pragma once

#include <QString>

namespace kestrix {

// The version values the about box shows: "FileVersion", "Comments" and
// "LegalCopyright" of the program.
struct VersionInfo
{
    QString FileVersion;
    QString Comments;
    QString LegalCopyright;
};
VersionInfo ProgramVersionInfo();

// The maker's home page. There is no installer record to read it from on
// this platform, so it is the built-in address.
QString HomePageUrl();
// The maker's services page: "services.htm" on the home page's site.
QString ServicesPageUrl();

} // namespace kestrix
