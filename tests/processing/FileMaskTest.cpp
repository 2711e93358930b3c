// File-name masks: wildcards, sets, ranges, inversion, letter case, and the
// error for an invalid mask with its position.
#include "processing/FileMask.h"
#include "platform/Errors.h"

#include <gtest/gtest.h>

using namespace kestrix;

namespace {

struct MaskCase
{
    const char* name;
    const char* mask;
    bool fits;
};

const MaskCase maskCases[] = {
    {"page.htm", "*.htm", true},
    {"page.html", "*.htm", false},
    {"PAGE.HTML", "*.html", true},
    {"page.html.bak", "*.html", false},
    {"README", "*", true},
    {"README", "*.*", false},
    {"", "*", true},
    {".hidden.html", "*.html", true},
    {"a.html", "?.html", true},
    {"ab.html", "?.html", false},
    {".html", "*?.html", false},
    {"x.html", "*?.html", true},
    {"index.php", "[a-j]*.php", true},
    {"Index.php", "[a-j]*.php", true},
    {"zindex.php", "[a-j]*.php", false},
    {"zindex.php", "[!a-j]*.php", true},
    {"index.php", "[!a-j]*.php", false},
    {"b.htm", "[abc].htm", true},
    {"d.htm", "[abc].htm", false},
    {"-.htm", "[a-].htm", true},
    {"e.htm", "[a-c-e].htm", true},
    {"aXbXc", "a*b*c", true},
    {"abcabd", "*abd", true},
    {"abcab", "*ab*ab", true},
    {"news-2024.asp", "news-????.asp", true},
    {"ÄRGER.html", "ä*.html", true},
    {"café.html", "CAFÉ.HTML", true},
};

class MaskFits : public ::testing::TestWithParam<MaskCase>
{
};

TEST_P(MaskFits, WholeNameAgainstWholeMask)
{
    const MaskCase& c = GetParam();
    EXPECT_EQ(FileNameFitsMask(QString::fromUtf8(c.name), QString::fromUtf8(c.mask)), c.fits)
        << c.name << " against " << c.mask;
}

INSTANTIATE_TEST_SUITE_P(FileMask, MaskFits, ::testing::ValuesIn(maskCases));

struct InvalidCase
{
    const char* mask;
    int position;
};

const InvalidCase invalidCases[] = {
    {"[abc", 5},     // unclosed: the "]" is missing after the end
    {"x[].htm", 3},  // empty set
    {"[!].htm", 3},  // empty inverted set
    {"[-z].htm", 2}, // "-" with nothing before it
    {"a[-]", 3},     {"*.htm[", 7},
};

class MaskInvalid : public ::testing::TestWithParam<InvalidCase>
{
};

TEST_P(MaskInvalid, RaisesTheErrorWithMaskAndPosition)
{
    const InvalidCase& c = GetParam();
    const QString mask = QString::fromLatin1(c.mask);
    try {
        FileNameFitsMask(QStringLiteral("page.htm"), mask);
        FAIL() << c.mask << " was accepted";
    } catch (const Failure& failure) {
        EXPECT_EQ(std::string(failure.what()), "'" + std::string(c.mask) +
                                                   "' is an invalid mask at (" +
                                                   std::to_string(c.position) + ")");
    }
}

INSTANTIATE_TEST_SUITE_P(FileMask, MaskInvalid, ::testing::ValuesIn(invalidCases));

TEST(FileMask, ThirtyRunsAreAllowedAndTheThirtyFirstIsNot)
{
    const QString thirty = QString(QStringLiteral("*a")).repeated(30);
    EXPECT_TRUE(FileNameFitsMask(QStringLiteral("a").repeated(30), thirty));
    const QString more = thirty + QStringLiteral("*");
    try {
        FileNameFitsMask(QStringLiteral("a"), more);
        FAIL();
    } catch (const Failure& failure) {
        EXPECT_NE(std::string(failure.what()).find("at (61)"), std::string::npos) << failure.what();
    }
}

TEST(FileMask, FilterMasksAreTakenAsWrittenAndTheFirstThatFitsCounts)
{
    EXPECT_EQ(SplitFilter(QStringLiteral("*.htm;*.html; *.php;")),
              (QStringList{QStringLiteral("*.htm"), QStringLiteral("*.html"),
                           QStringLiteral(" *.php"), QString()}));
    const FileFilter filter(QStringLiteral("*.htm;*.html; *.php"));
    EXPECT_TRUE(filter.Matches(u"page.HTML"));
    EXPECT_FALSE(filter.Matches(u"page.php")) << "the blank is part of the mask";
    EXPECT_TRUE(filter.Matches(u" page.php"));
    // A later invalid mask is not reached when an earlier one fits...
    const FileFilter late(QStringLiteral("*.html;[x"));
    EXPECT_TRUE(late.Matches(u"a.html"));
    // ...and raises its error at the first name that gets to it.
    EXPECT_THROW(late.Matches(u"a.txt"), Failure);
}

} // namespace
