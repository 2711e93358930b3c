// The about box: its number formats, the link styling and what it shows.
#include "support/ui/UnitAboutBox.h"
#include "support/VersionInfo.h"
#include "support/WebHelpers.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

using namespace kestrix;

namespace {

QString S(const char* text)
{
    return QString::fromUtf8(text);
}

// Takes the addresses the desktop would open, instead of a browser.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    UrlCatcher()
    {
        QDesktopServices::setUrlHandler(S("http"), this, "Open");
        QDesktopServices::setUrlHandler(S("https"), this, "Open");
    }
    ~UrlCatcher() override
    {
        QDesktopServices::unsetUrlHandler(S("http"));
        QDesktopServices::unsetUrlHandler(S("https"));
    }
    QList<QUrl> opened;
public slots:
    void Open(const QUrl& url) { opened << url; }
};

} // namespace

TEST(AboutBox, KilobytesAreRoundedUpAndGrouped)
{
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(FormatKilobytes(536870912ull, english), S("524,288KB"));
    EXPECT_EQ(FormatKilobytes(3221225472ull, english), S("3,145,728KB"));
    EXPECT_EQ(FormatKilobytes(1025, english), S("2KB"));
    EXPECT_EQ(FormatKilobytes(1024, english), S("1KB"));
    EXPECT_EQ(FormatKilobytes(1, english), S("1KB"));
    EXPECT_EQ(FormatKilobytes(0, english), S("0KB"));
    // Above 4 GB the count is not cut to 32 bits.
    EXPECT_EQ(FormatKilobytes(17179869184ull, english), S("16,777,216KB"));
    EXPECT_EQ(FormatKilobytes(~0ull, english), S("18,014,398,509,481,984KB"));
    // The "C" locale groups as well.
    EXPECT_EQ(FormatKilobytes(536870912ull, QLocale::c()), S("524,288KB"));
    EXPECT_EQ(FormatKilobytes(536870912ull, QLocale(QLocale::German, QLocale::Germany)),
              S("524.288KB"));
}

TEST(AboutBox, MemoryLoadIsThePercentageInUse)
{
    EXPECT_EQ(MemoryLoadText(37), S("37% Used"));
    EXPECT_EQ(MemoryLoadPercent(1000, 630), 37);
    EXPECT_EQ(MemoryLoadPercent(1000, 1000), 0);
    EXPECT_EQ(MemoryLoadPercent(1000, 0), 100);
    EXPECT_EQ(MemoryLoadPercent(1000, 2000), 0);
    EXPECT_EQ(MemoryLoadPercent(0, 0), 0);
    EXPECT_EQ(MemoryLoadPercent(3, 2), 33);
    EXPECT_EQ(MemoryLoadPercent(1ull << 50, 1ull << 49), 50);
    const MemoryStatus now = QueryMemoryStatus();
    EXPECT_GT(now.totalPhysical, 0u);
    EXPECT_LE(now.availablePhysical, now.totalPhysical);
    EXPECT_GE(now.memoryLoad, 0);
    EXPECT_LE(now.memoryLoad, 100);
}

TEST(AboutBox, ShowsVersionMemoryAndTheHomePage)
{
    TFormAboutBox box;
    MemoryStatus memory;
    memory.totalPhysical = 536870912ull;
    memory.memoryLoad = 37;
    box.Fill(ProgramVersionInfo(), memory);
    EXPECT_EQ(box.PanelTitle->text(), S("Marquell Kestrix v2.0 2.0.2.14"));
    EXPECT_EQ(box.windowTitle(), S("About Marquell Kestrix v2.0 2.0.2.14"));
    EXPECT_EQ(box.LabelComments->text(), S("Protect your webpages and online content"));
    EXPECT_EQ(box.LabelCopyright->text(), S(KESTRIX_COPYRIGHT));
    EXPECT_EQ(box.LabelHomePage->text(), HomePageUrl());
    EXPECT_EQ(box.LabelHomePage->toolTip(), S("[") + HomePageUrl() + S("]"));
    EXPECT_TRUE(box.LabelTotalPhys->text().endsWith(S("KB")));
    EXPECT_EQ(box.LabelMemoryLoad->text(), S("37% Used"));

    // A click on the address opens it in the browser.
    UrlCatcher catcher;
    box.show();
    QTest::mouseClick(box.LabelHomePage, Qt::LeftButton);
    ASSERT_EQ(catcher.opened.size(), 1);
    EXPECT_EQ(catcher.opened.first(), QUrl(HomePageUrl()));
}

TEST(AboutBox, OkAndEscapeCloseTheBox)
{
    QTimer::singleShot(0, [] {
        auto* box = qobject_cast<TFormAboutBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        box->ButtonOK->click();
    });
    EXPECT_TRUE(ShowAboutBox());
    QTimer::singleShot(0,
                       [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape); });
    EXPECT_FALSE(ShowAboutBox());
}

#include "UnitAboutBoxTest.moc"
