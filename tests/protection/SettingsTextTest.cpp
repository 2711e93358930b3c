// The settings record, its INI text, its escaped attribute form, and
// reading the text back.
#include "EngineTestSupport.h"

#include "protection/ProtectionSettings.h"
#include "protection/Scramble.h"

#include <gtest/gtest.h>

using namespace kestrix;

namespace {

const char defaultText[] = "[FormEncryptionOptions]\r\n"
                           "ComboBoxDepthLevel.ItemIndex=2\r\n"
                           "ComboBoxDepthLevel.Text=Medium (Default)\r\n"
                           "CheckBoxRightClicking.Checked=0\r\n"
                           "CheckBoxSelection.Checked=0\r\n"
                           "CheckBoxDragAndDrop.Checked=0\r\n"
                           "CheckBoxStatusBar.Checked=0\r\n"
                           "CheckBoxScriptErrors.Checked=0\r\n"
                           "CheckBoxBreakOutOfFrames.Checked=0\r\n"
                           "CheckBoxPrinting.Checked=0\r\n"
                           "CheckBoxOffline.Checked=0\r\n"
                           "CheckBoxTBODY.Checked=0\r\n"
                           "CheckBoxComments.Checked=0\r\n"
                           "CheckBoxSimpleTags.Checked=0\r\n"
                           "CheckBoxEndP.Checked=0\r\n"
                           "CheckBoxEndTR.Checked=0\r\n"
                           "CheckBoxEndTD.Checked=0\r\n"
                           "CheckBoxGroupComments.Checked=0\r\n"
                           "CBMergeWhitespace.Checked=0\r\n"
                           "CheckBoxOptimize.Checked=0\r\n"
                           "\r\n";

TEST(SettingsText, DefaultsAreTwentyOneCrLfLines)
{
    const std::string text = SettingsText(ProtectionSettings{});
    EXPECT_EQ(text, defaultText);
    EXPECT_EQ(enginetest::Count(text, "\r\n"), 21u);
    EXPECT_EQ(enginetest::Count(text, "\n"), 21u);
}

TEST(SettingsText, EveryFieldLandsOnItsOwnLine)
{
    // Switch each check box on alone: exactly its own line changes to 1.
    for (const auto& box : settingsCheckBoxes) {
        ProtectionSettings s;
        s.*box.field = true;
        std::string expected = defaultText;
        const std::string line = std::string(box.controlName) + ".Checked=0\r\n";
        const size_t at = expected.find(line);
        ASSERT_NE(at, std::string::npos) << box.controlName;
        expected[at + line.size() - 3] = '1';
        EXPECT_EQ(SettingsText(s), expected) << box.controlName;
    }
    ProtectionSettings s;
    s.StrengthLevel = 4;
    s.StrengthText = "Tr\xE8s haut";
    const std::string text = SettingsText(s);
    EXPECT_NE(
        text.find("\r\nComboBoxDepthLevel.ItemIndex=4\r\nComboBoxDepthLevel.Text=Tr\xE8s haut\r\n"),
        std::string::npos);
}

TEST(HtmlEscape, EntitiesTabsBlanksAndLineBreaks)
{
    EXPECT_EQ(HtmlEscapeText("a&b<c>d\"e"), "a&amp;b&lt;c&gt;d&quot;e");
    EXPECT_EQ(HtmlEscapeText("'"), "'");
    // Runs of blanks: pairs left to right, until no pair is left.
    EXPECT_EQ(HtmlEscapeText(" "), " ");
    EXPECT_EQ(HtmlEscapeText("  "), "&nbsp; ");
    EXPECT_EQ(HtmlEscapeText("   "), "&nbsp;&nbsp; ");
    EXPECT_EQ(HtmlEscapeText("    "), "&nbsp; &nbsp; ");
    EXPECT_EQ(HtmlEscapeText("a     b"), "a&nbsp; &nbsp;&nbsp; b");
    // A tab is eight blanks, which then pair up.
    EXPECT_EQ(HtmlEscapeText("\t"), "&nbsp; &nbsp; &nbsp; &nbsp; ");
    // Every kind of line break becomes one <BR>.
    EXPECT_EQ(HtmlEscapeText("a\r\nb\nc\rd\r\n\r\n"), "a<BR>b<BR>c<BR>d<BR><BR>");
    // Other control characters and byte 127 pass through unchanged.
    EXPECT_EQ(HtmlEscapeText(std::string("\x01\x1F\x7F", 3)), std::string("\x01\x1F\x7F", 3));
    EXPECT_EQ(HtmlEscapeText(""), "");
}

TEST(SettingsAttribute, IsSafeInsideDoubleQuotes)
{
    ProtectionSettings all;
    for (const auto& box : settingsCheckBoxes)
        all.*box.field = true;
    for (const ProtectionSettings& s : {ProtectionSettings{}, all}) {
        const std::string attribute = SettingsAttribute(s);
        EXPECT_EQ(attribute.find('"'), std::string::npos);
        EXPECT_EQ(attribute.find('<'), std::string::npos);
        EXPECT_EQ(attribute.find('>'), std::string::npos);
        for (unsigned char c : attribute)
            EXPECT_GE(c, 32u);
        EXPECT_EQ(attribute, HtmlEscapeText(ScrambleText(SettingsText(s), settingsKey)));
    }
}

TEST(SettingsAttribute, DecodesBackToTheSettingsText)
{
    ProtectionSettings s;
    s.HideScriptErrors = true;
    std::string attribute = SettingsAttribute(s);
    // Undo the HTML escape (only & and blank pairs can occur here).
    for (size_t pos; (pos = attribute.find("&nbsp;")) != std::string::npos;)
        attribute.replace(pos, 6, " ");
    for (size_t pos; (pos = attribute.find("&amp;")) != std::string::npos;)
        attribute.replace(pos, 5, "&");
    EXPECT_EQ(enginetest::UnitsToBytes(enginetest::DecodeScrambled(attribute, settingsKey)),
              SettingsText(s));
}

TEST(ApplySettingsText, RoundTripsAndAcceptsLfAndMissingLines)
{
    ProtectionSettings s;
    s.StrengthLevel = 3;
    s.StrengthText = "High";
    s.DisablePrinting = true;
    s.RemoveTbody = true;
    s.OptimizeCode = true;
    ProtectionSettings read;
    ApplySettingsText(SettingsText(s), read);
    EXPECT_EQ(read, s);

    // LF line ends, blanks around names, lines missing: those keep their value.
    ProtectionSettings partial;
    partial.DisableSelection = true;
    ApplySettingsText("[FormEncryptionOptions]\n CheckBoxPrinting.Checked = 5 \n", partial);
    EXPECT_TRUE(partial.DisablePrinting);
    EXPECT_TRUE(partial.DisableSelection);
    EXPECT_EQ(partial.StrengthLevel, 2);
    EXPECT_EQ(partial.StrengthText, "Medium (Default)");
}

TEST(ApplySettingsText, IndexWinsOverTextAndBadValuesAreIgnored)
{
    ProtectionSettings s;
    ApplySettingsText("[FormEncryptionOptions]\r\nComboBoxDepthLevel.ItemIndex=4\r\n"
                      "ComboBoxDepthLevel.Text=Low (Single level of encryption)\r\n",
                      s);
    EXPECT_EQ(s.StrengthLevel, 4);
    EXPECT_EQ(s.StrengthText, "Very High");

    ProtectionSettings byText;
    ApplySettingsText("[FormEncryptionOptions]\r\nComboBoxDepthLevel.Text=High\r\n", byText);
    EXPECT_EQ(byText.StrengthLevel, 3);
    // Letter case aside, as the options dialog's list reads its text.
    ApplySettingsText("[FormEncryptionOptions]\r\nComboBoxDepthLevel.Text=very high\r\n", byText);
    EXPECT_EQ(byText.StrengthLevel, 4);
    EXPECT_EQ(byText.StrengthText, "Very High");

    ProtectionSettings bad;
    bad.DisableStatusBar = true;
    ApplySettingsText("[FormEncryptionOptions]\r\nComboBoxDepthLevel.ItemIndex=9\r\n"
                      "CheckBoxStatusBar.Checked=yes\r\nCheckBoxSelection.Checked=\r\n"
                      "CheckBoxPrinting.Checked=+-1\r\n",
                      bad);
    EXPECT_EQ(bad.StrengthLevel, 2);
    EXPECT_TRUE(bad.DisableStatusBar);
    EXPECT_FALSE(bad.DisablePrinting);
    EXPECT_FALSE(bad.DisableSelection);

    // Values of another section, and text that is no INI at all, change nothing.
    ProtectionSettings other;
    ApplySettingsText("[Other]\nCheckBoxPrinting.Checked=1\n", other);
    ApplySettingsText(std::string("\x00\xFF\x89PNG\r\n\x1A\n", 9), other);
    EXPECT_EQ(other, ProtectionSettings{});

    // A translated strength list: the text is looked up in the list shown.
    StrengthEntries entries = EnglishStrengthEntries();
    entries[1] = "Niedrig";
    ProtectionSettings translated;
    ApplySettingsText("[FormEncryptionOptions]\nComboBoxDepthLevel.Text=Niedrig\n", translated,
                      entries);
    EXPECT_EQ(translated.StrengthLevel, 1);
    EXPECT_EQ(translated.StrengthText, "Niedrig");
}

TEST(ProtectionSettings, RestoreDefaults)
{
    ProtectionSettings s;
    s.StrengthLevel = 0;
    s.StrengthText = "None";
    s.MergeWhitespace = true;
    s.RestoreDefaults();
    EXPECT_EQ(s, ProtectionSettings{});
    EXPECT_EQ(SettingsText(s), defaultText);
}

} // namespace
