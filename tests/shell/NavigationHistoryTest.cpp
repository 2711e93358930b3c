// The history behind Back and Forward.
#include "shell/NavigationHistory.h"

#include <gtest/gtest.h>

using namespace kestrix;

namespace {

QString S(const char* text)
{
    return QString::fromUtf8(text);
}

TEST(NavigationHistory, BackForwardAndANewChoice)
{
    NavigationHistory h;
    EXPECT_FALSE(h.CanGoBack());
    EXPECT_FALSE(h.Peek(-1));
    EXPECT_FALSE(h.GoForward());
    for (const char* entry : {"/A", "/B", "/C"})
        h.Add(S(entry));
    EXPECT_EQ(h.Peek(-1), S("/B"));
    EXPECT_EQ(h.GoBack(), S("/B"));
    EXPECT_EQ(h.GoBack(), S("/A"));
    EXPECT_FALSE(h.CanGoBack());
    EXPECT_FALSE(h.GoBack());
    EXPECT_EQ(h.Current(), 0);
    EXPECT_EQ(h.GoForward(), S("/B"));
    // Choosing another folder drops the forward entries.
    h.Add(S("/D"));
    EXPECT_EQ(h.Entries(), QStringList({S("/A"), S("/B"), S("/D")}));
    EXPECT_FALSE(h.CanGoForward());
    // Duplicates are kept.
    h.Add(S("/D"));
    EXPECT_EQ(h.Entries().size(), 4);
    h.Clear();
    EXPECT_TRUE(h.Entries().isEmpty());
    EXPECT_FALSE(h.CanGoBack());
}

} // namespace
