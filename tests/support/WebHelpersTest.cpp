// The address helpers, the web-address test and the file-name cleaning.
#include "support/WebHelpers.h"
#include "support/VersionInfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kestrix;

namespace {
QString S(const char* text)
{
    return QString::fromUtf8(text);
}
} // namespace

TEST(WebHelpers, WebAddressNeedsTheSchemeAsWritten)
{
    EXPECT_TRUE(IsWebAddress(S("http://example.com/")));
    EXPECT_TRUE(IsWebAddress(S("https://example.com/page.html")));
    // Anywhere in the text, as the address bar and the command line take it.
    EXPECT_TRUE(IsWebAddress(S("see https://example.com")));
    EXPECT_FALSE(IsWebAddress(S("HTTP://example.com/")));
    EXPECT_FALSE(IsWebAddress(S("Https://example.com/")));
    EXPECT_FALSE(IsWebAddress(S("example.com/index.html")));
    EXPECT_FALSE(IsWebAddress(S("ftp://example.com/")));
    EXPECT_FALSE(IsWebAddress(S("/home/user/http:/page.html")));
}

TEST(WebHelpers, UrlPartsAreSplitWithoutDecoding)
{
    const QString url = S("http://www.example.com:8080/dir/sub/my%20page.html?q=1#top");
    EXPECT_EQ(UrlScheme(url), S("http"));
    EXPECT_EQ(UrlHost(url), S("www.example.com"));
    EXPECT_EQ(UrlPath(url), S("/dir/sub/my%20page.html"));
    EXPECT_EQ(UrlFileName(url), S("my%20page.html"));
    EXPECT_EQ(UrlSiteRoot(url), S("http://www.example.com"));

    EXPECT_EQ(UrlFileName(S("https://host/")), QString());
    EXPECT_EQ(UrlFileName(S("https://host")), QString());
    EXPECT_EQ(UrlFileName(S("https://host/a/b:c")), S("c"));
    EXPECT_EQ(UrlSiteRoot(S("https://secure.example.org/x")), S("http://secure.example.org"));
}

TEST(WebHelpers, UrlPartsKeepTheAddressAsWritten)
{
    // Case, blanks, backslashes and broken escapes stay as typed: the status
    // line of a download shows them so.
    const QString mixed = S("HTTP://WWW.Example.COM/Dir/Index.HTML?q=1#f");
    EXPECT_EQ(UrlScheme(mixed), S("HTTP"));
    EXPECT_EQ(UrlHost(mixed), S("WWW.Example.COM"));
    EXPECT_EQ(UrlPath(mixed), S("/Dir/Index.HTML"));
    EXPECT_EQ(UrlSiteRoot(mixed), S("http://WWW.Example.COM"));
    EXPECT_EQ(UrlFileName(S("http://host/dir\\file.htm")), S("file.htm"));
    EXPECT_EQ(UrlPath(S("http://host/my page.html")), S("/my page.html"));
    EXPECT_EQ(UrlPath(S("http://host/a%zz.html")), S("/a%zz.html"));
    EXPECT_EQ(UrlFileName(S("http://host/caf\u00e9.html")), S("caf\u00e9.html"));
    EXPECT_EQ(UrlHost(S("http://user:pw@Some.Host:8080/x")), S("Some.Host"));
    EXPECT_EQ(UrlPath(S("http://user:pw@Some.Host:8080/x?y=/z")), S("/x"));
    EXPECT_EQ(UrlPath(S("http://host?q=/a/b")), QString());
}

TEST(WebHelpers, TextsThatAreNoAddressGiveEmptyParts)
{
    for (const char* text :
         {"", "index.html", "/home/user/index.html", "www.example.com/x", "http://[::1"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(UrlScheme(S(text)), QString());
        EXPECT_EQ(UrlHost(S(text)), QString());
        EXPECT_EQ(UrlPath(S(text)), QString());
        EXPECT_EQ(UrlFileName(S(text)), QString());
        EXPECT_EQ(UrlSiteRoot(S(text)), S("http://"));
    }
}

TEST(WebHelpers, CombineResolvesRelativeAddresses)
{
    EXPECT_EQ(CombineUrl(S("http://www.example.com"), S("services.htm")),
              S("http://www.example.com/services.htm"));
    EXPECT_EQ(CombineUrl(S("http://h/a/b/page.html"), S("../img/x.png")),
              S("http://h/a/img/x.png"));
    EXPECT_EQ(CombineUrl(S("http://h/a/page.html"), S("/root.html")), S("http://h/root.html"));
    EXPECT_EQ(CombineUrl(S("http://h/a/"), S("https://other/x")), S("https://other/x"));
    // Escapes stay as written.
    EXPECT_EQ(CombineUrl(S("http://h/a/"), S("my%20page.html")), S("http://h/a/my%20page.html"));
    EXPECT_EQ(ServicesPageUrl(), CombineUrl(UrlSiteRoot(HomePageUrl()), S("services.htm")));
    EXPECT_TRUE(ServicesPageUrl().endsWith(S("/services.htm")));
}

TEST(WebHelpers, OnlyHttpAddressesAreOnline)
{
    EXPECT_FALSE(IsOfflineUrl(S("http://example.com/index.html")));
    EXPECT_FALSE(IsOfflineUrl(S("HTTP://example.com/")));
    EXPECT_TRUE(IsOfflineUrl(S("https://example.com/")));
    EXPECT_TRUE(IsOfflineUrl(S("ftp://example.com/file")));
    EXPECT_TRUE(IsOfflineUrl(S("file:///tmp/x.html")));
    EXPECT_TRUE(IsOfflineUrl(S("example.com/index.html")));

    // An http address whose path names an existing local file.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath(S("page.html")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_TRUE(IsOfflineUrl(S("http://localhost") + file.fileName()));
    EXPECT_FALSE(IsOfflineUrl(S("http://localhost") + dir.path()));
}

TEST(WebHelpers, CleanFileNameDropsForbiddenCharacters)
{
    EXPECT_EQ(CleanFileName(S("a/b|c<d>e.html")), S("abcde.html"));
    EXPECT_EQ(CleanFileName(S("<<>>")), QString());
    EXPECT_EQ(CleanFileName(S(".")), QString());
    EXPECT_EQ(CleanFileName(S("..")), QString());
    EXPECT_EQ(CleanFileName(S("./")), QString());
    EXPECT_EQ(CleanFileName(S("...")), S("..."));
    EXPECT_EQ(CleanFileName(S("page .html")), S("page .html"));
}
