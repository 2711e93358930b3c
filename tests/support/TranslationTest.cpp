// The language file reader, the escapes and the lookup.
#include "support/Translation.h"
#include "platform/Errors.h"
#include "platform/MessageFormat.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kestrix;

namespace {

TranslationTable Parse(std::string_view text)
{
    TranslationTable table;
    table.Load(text);
    return table;
}

std::string Lookup(const TranslationTable& table, std::string_view text,
                   std::string_view section = "S")
{
    return table.Translate(text, section);
}

// Replaces the application's table for one test.
struct ScopedTable
{
    explicit ScopedTable(std::string_view text) { ApplicationTranslationTable().Load(text); }
    ~ScopedTable() { ApplicationTranslationTable().Clear(); }
};

} // namespace

TEST(LanguageFile, SectionHeaders)
{
    const auto t = Parse("<//S-\nE=a\nT=1\n"
                         "<S2-tail\nE=a\nT=2\n"
                         "<anything//S3-comment - more\nE=a\nT=3\n"
                         "<//S 4 -\nE=a\nT=4\n");
    EXPECT_EQ(Lookup(t, "a", "S"), "1");
    EXPECT_EQ(Lookup(t, "a", "S2"), "2");
    EXPECT_EQ(Lookup(t, "a", "S3"), "3");
    // The name is not trimmed: blanks are part of it.
    EXPECT_EQ(Lookup(t, "a", "S 4 "), "4");
    EXPECT_EQ(Lookup(t, "a", "S 4"), "a");
}

TEST(LanguageFile, InvalidHeadersLeaveNamelessSection)
{
    // No "-", "-" right behind "//", "-" right behind "<", "-" before "//".
    for (const char* header : {"<//S", "<//-S", "<-S", "<a-b//S-"}) {
        const std::string file = std::string("<//S-\n") + header + "\nE=a\nT=x\n";
        const auto t = Parse(file);
        EXPECT_EQ(Lookup(t, "a", "S"), "a") << header;
        EXPECT_EQ(Lookup(t, "a", ""), "x") << header;
    }
    // Entries before the first header are nameless as well.
    EXPECT_EQ(Lookup(Parse("E=a\nT=x\n"), "a", "S"), "a");
}

TEST(LanguageFile, LineKinds)
{
    const auto t = Parse("  <//S-  \n"
                         "; E=comment\nT=no\n"
                         "e=lower\nT=no\n"
                         "E=lower\nt=no\n"
                         "E=first\nE=second\nT=2nd\n"
                         "T=orphan\n"
                         "E=star\nT=*\n"
                         "E=empty\nT=\n"
                         "\tE=  padded \t\n  T=  done  \n"
                         "garbage line\n");
    EXPECT_EQ(Lookup(t, "comment"), "comment");
    EXPECT_EQ(Lookup(t, "lower"), "lower");
    EXPECT_EQ(Lookup(t, "first"), "first");
    EXPECT_EQ(Lookup(t, "second"), "2nd");
    EXPECT_EQ(Lookup(t, "star"), "star");
    EXPECT_EQ(Lookup(t, "empty"), "empty");
    EXPECT_EQ(Lookup(t, "padded"), "done");
    // The lookup key is not trimmed, so a text with blanks stays English.
    EXPECT_EQ(Lookup(t, " padded"), " padded");
    EXPECT_EQ(t.Size(), 2u);
}

TEST(LanguageFile, EntryLandsInSectionOfTranslationLine)
{
    const auto t = Parse("<//A-\nE=text\n<//B-\nT=translated\n");
    EXPECT_EQ(Lookup(t, "text", "A"), "text");
    EXPECT_EQ(Lookup(t, "text", "B"), "translated");
}

TEST(LanguageFile, LineEndsAndByteOrderMark)
{
    const auto crOnly = Parse("<//S-\rE=a\rT=1\r\rE=b\r\nT=2\nE=c\n\rT=3");
    EXPECT_EQ(Lookup(crOnly, "a"), "1");
    EXPECT_EQ(Lookup(crOnly, "b"), "2");
    EXPECT_EQ(Lookup(crOnly, "c"), "3");
    // A byte-order mark is part of the first line: the header is not one.
    const auto bom = Parse("\xEF\xBB\xBF<//S-\nE=a\nT=1\n");
    EXPECT_EQ(Lookup(bom, "a"), "a");
}

TEST(LanguageFile, CaseInsensitiveKeysLaterEntryWins)
{
    const auto t = Parse("<//s-\nE=Open File\nT=first\nE=OPEN file\nT=second\n");
    EXPECT_EQ(Lookup(t, "Open File", "S"), "second");
    EXPECT_EQ(Lookup(t, "open file", "s"), "second");
    EXPECT_EQ(t.Size(), 1u);
    // Letters beyond ASCII fold as well (UTF-8 locale text).
    const auto u = Parse("<//S-\nE=\xC3\xA9t\xC3\xA9\nT=summer\n");
    EXPECT_EQ(Lookup(u, "\xC3\x89T\xC3\x89"), "summer");
    // Each letter folds to one letter: "Straße" and "STRASSE" are two keys.
    const auto sharp = Parse("<//S-\nE=Stra\xC3\x9F"
                             "e\nT=street\n");
    EXPECT_EQ(Lookup(sharp, "STRA\xC3\x9F"
                            "E"),
              "street");
    EXPECT_EQ(Lookup(sharp, "STRASSE"), "STRASSE");
}

TEST(LanguageFile, KeyWithEqualsSignNeverFound)
{
    const auto t = Parse("<//S-\nE=a=b\nT=x\nE=a\nT=y\n");
    EXPECT_EQ(Lookup(t, "a=b"), "a=b");
    EXPECT_EQ(Lookup(t, "a"), "y");
}

TEST(Escapes, EscapeTextTable)
{
    EXPECT_EQ(EscapeText("\a\b\t\n\v\f\r"), "\\a\\b\\t\\n\\v\\f\\r");
    EXPECT_EQ(EscapeText("say \"hi\" \\ 'it' ?"), "say \\\"hi\\\" \\\\ 'it' ?");
    EXPECT_EQ(EscapeText(std::string("\x00\x01\x1b\x1f", 4)), "\\x00\\x01\\x1b\\x1f");
    EXPECT_EQ(EscapeText("caf\xC3\xA9 \x7f"), "caf\xC3\xA9 \x7f");
}

TEST(Escapes, UnescapeTextTable)
{
    EXPECT_EQ(UnescapeText("\\a\\b\\f\\n\\r\\t\\v"), "\a\b\f\n\r\t\v");
    EXPECT_EQ(UnescapeText("\\\"\\'\\?\\\\"), "\"'?\\");
    EXPECT_EQ(UnescapeText("100\\%"), "100\\%");
    EXPECT_EQ(UnescapeText("end\\"), "end\\");
    EXPECT_EQ(UnescapeText("\\x"), "\\x");
    EXPECT_EQ(UnescapeText("\\xg1"), "\\xg1");
    EXPECT_EQ(UnescapeText("\\x41\\x4a\\x4Bz\\x7"), "AJKz\x07");
    EXPECT_EQ(UnescapeText("\\x414"), "A4");
    EXPECT_EQ(UnescapeText("\\101\\60\\0"), std::string("A0\0", 3));
    EXPECT_EQ(UnescapeText("\\1018"), "A8");
    EXPECT_EQ(UnescapeText("\\40x\\x20"), " x ");
    EXPECT_EQ(UnescapeText("\\377"), "\xFF");
    EXPECT_THROW(UnescapeText("\\400"), Failure);
    try {
        UnescapeText("ok \\777");
        FAIL();
    } catch (const Failure& e) {
        EXPECT_STREQ(e.what(), "Numeric constant too large.");
    }
}

TEST(Escapes, RoundTripOfEveryByte)
{
    std::string all;
    for (int c = 0; c < 256; ++c)
        all += char(c);
    EXPECT_EQ(UnescapeText(EscapeText(all)), all);
}

TEST(Lookup, EscapedMessagesAndPlaceholders)
{
    ScopedTable table("<//STRING_TABLE-\n"
                      "E=Unable to download %s\\r\\n\\r\\nThe Web Page may not exist.\n"
                      "T=Kann %s nicht laden\\r\\n\\r\\nDie Seite fehlt wohl.\n"
                      "E=File %s does not exist\n"
                      "T=Datei %s fehlt\n"
                      "E=Broken\nT=\\400\n");
    EXPECT_EQ(TranslateString("Unable to download %s\r\n\r\nThe Web Page may not exist."),
              "Kann %s nicht laden\r\n\r\nDie Seite fehlt wohl.");
    EXPECT_EQ(FormatMessage(Tr("File %s does not exist"), {QStringLiteral("a%s.html")}),
              QStringLiteral("Datei a%s.html fehlt"));
    // A missing entry gives the text back exactly, escapes included.
    EXPECT_EQ(TranslateString("C:\\dir\t\"x\""), "C:\\dir\t\"x\"");
    EXPECT_EQ(TranslateString("File %s does not exist", "OtherSection"), "File %s does not exist");
    EXPECT_THROW(TranslateString("Broken"), Failure);
}

TEST(Lookup, BrokenTranslationOfTheFailureMessageItself)
{
    ScopedTable table("<//STRING_TABLE-\nE=Numeric constant too large.\nT=\\777\n"
                      "E=x\nT=\\777\n");
    try {
        TranslateString("x");
        FAIL();
    } catch (const Failure& e) {
        EXPECT_STREQ(e.what(), "Numeric constant too large.");
    }
}

TEST(Lookup, TranslatedFailureMessage)
{
    ScopedTable table("<//STRING_TABLE-\nE=Numeric constant too large.\nT=Zahl zu gross.\n"
                      "E=x\nT=\\777\n");
    try {
        TranslateString("x");
        FAIL();
    } catch (const Failure& e) {
        EXPECT_STREQ(e.what(), "Zahl zu gross.");
    }
}

TEST(LanguageFileOnDisk, MissingFileAndReload)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("lang.txt"));
    EXPECT_FALSE(LoadLanguageFile(path));
    EXPECT_TRUE(ApplicationTranslationTable().Empty());
    EXPECT_EQ(Tr("Hello"), QStringLiteral("Hello"));

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<//STRING_TABLE-\r\nE=Hello\r\nT=Gr\xC3\xBC\xC3\x9F Gott\r\n");
    file.close();
    EXPECT_TRUE(LoadLanguageFile(path));
    EXPECT_EQ(Tr("Hello"), QString::fromUtf8("Grüß Gott"));
    EXPECT_EQ(TranslateQString(QStringLiteral("HELLO")), QString::fromUtf8("Grüß Gott"));

    // A folder of that name cannot be read: the table is emptied, no error.
    QTemporaryDir other;
    ASSERT_TRUE(QDir(other.path()).mkdir(QStringLiteral("lang.txt")));
    EXPECT_FALSE(LoadLanguageFile(other.filePath(QStringLiteral("lang.txt"))));
    EXPECT_EQ(Tr("Hello"), QStringLiteral("Hello"));
    ApplicationTranslationTable().Clear();
}
