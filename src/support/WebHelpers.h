// Small web operations shared by the download, the about box and the menus:
// the parts of an address, the connection state and the proxy in use.
#pragma once

#include <QString>

namespace kestrix {

// True when the text is a web address to download: it contains "http://" or
// "https://" anywhere, exactly as written (a scheme in capitals is not one).
bool IsWebAddress(const QString& text);

// Whether the machine has a network connection now: the system's
// reachability where a backend reports it, otherwise connected.
bool IsInternetConnected();

// True unless the address is an "http" one (scheme compared without regard
// to case); an "http" address counts as offline only when its path names an
// existing local file.
bool IsOfflineUrl(const QString& url);

// The parts of an address, split without decoding escapes; each is empty
// when the text cannot be split (no scheme, or not an address at all).
QString UrlScheme(const QString& url);
QString UrlHost(const QString& url);
// From the leading "/" on, without query or fragment.
QString UrlPath(const QString& url);
// The part of the path behind its last "/", "\" or ":".
QString UrlFileName(const QString& url);
// "http://" followed by the host.
QString UrlSiteRoot(const QString& url);
// The relative address resolved against the base.
QString CombineUrl(const QString& base, const QString& relative);

// What the program fetches web pages through: the proxy the system's
// settings give for web addresses, or none, and where those are set.
QString ProxySettingsText();

// Removes every "/", "|", "<" and ">"; "." and ".." become empty.
QString CleanFileName(const QString& name);

} // namespace kestrix
