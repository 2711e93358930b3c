// kestrix-cli run as a separate process, with its settings store isolated in
// a temporary XDG_CONFIG_HOME.
#include "CliProcess.h"

#include "protection/ProtectionSettings.h"
#include "protection/SecurePage.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kestrix;

namespace {

using Result = test::CliOutput;

class Cli : public ::testing::Test
{
protected:
    QTemporaryDir dir;

    Result Run(const QStringList& args, const QByteArray& input = {})
    {
        return test::RunCli(dir, args, input);
    }

    QString Write(const QString& name, const QByteArray& data)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
        return path;
    }

    static QByteArray Read(const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return "<missing>";
        return file.readAll();
    }
};

const QByteArray page = "<html><head><title>T</title></head><body bgcolor=\"red\">\r\n"
                        "<p>Hello</P><table><tr><td>x</td></tr></table>\r\n</body></html>\r\n";

std::string Expected(ProtectionParts parts, const ProtectionSettings& settings,
                     const QByteArray& input = page)
{
    ProtectionEngine engine;
    engine.settings = settings;
    engine.SetProtectionParts(parts);
    engine.OptimiseActive = parts.testFlag(partOptimise);
    std::string text = input.toStdString();
    EXPECT_TRUE(engine.SecurePage(text));
    return text;
}

TEST_F(Cli, PageToStandardOutputMatchesTheEngineByteForByte)
{
    const QString input = Write(QStringLiteral("in.html"), page);
    Result r = Run({QStringLiteral("page"), input});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.toStdString(), Expected(allProtectionParts, ProtectionSettings{}));
    EXPECT_TRUE(r.err.isEmpty());

    r = Run({QStringLiteral("page"), QStringLiteral("-e"), QStringLiteral("--level"),
             QStringLiteral("4"), input});
    ProtectionSettings four;
    four.StrengthLevel = 4;
    four.StrengthText = "Very High";
    EXPECT_EQ(r.out.toStdString(), Expected(partEncrypt, four));

    // Standard input, and a file written through --output.
    r = Run({QStringLiteral("page"), QStringLiteral("-a"), QStringLiteral("-o"),
             QStringLiteral("--output"), QStringLiteral("out.html"), QStringLiteral("-")},
            page);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_EQ(Read(dir.filePath(QStringLiteral("out.html"))).toStdString(),
              Expected(partLimitAccess | partOptimise, ProtectionSettings{}));
}

TEST_F(Cli, FailuresInTheProgramsOwnWordsLeaveFilesAlone)
{
    Result r = Run({QStringLiteral("page"), QStringLiteral("missing.html")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "File missing.html does not exist\n");
    EXPECT_TRUE(r.out.isEmpty());

    // A binary file has no body: nothing is written, the old output stays.
    const QString binary =
        Write(QStringLiteral("image.png"), QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16));
    const QString out = Write(QStringLiteral("keep.html"), "previous result");
    r = Run({QStringLiteral("page"), QStringLiteral("--output"), out, binary});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.toStdString(), "Error processing file " + binary.toStdString() + "\n");
    EXPECT_EQ(Read(out), "previous result");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);

    // An output that cannot be written names the file.
    const QString input = Write(QStringLiteral("in.html"), page);
    r = Run({QStringLiteral("page"), QStringLiteral("--output"),
             dir.filePath(QStringLiteral("no/such/folder/out.html")), input});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.startsWith("Unable to write ")) << r.err.toStdString();
}

TEST_F(Cli, UsageErrorsAndHelp)
{
    for (const QStringList& args :
         {QStringList{}, QStringList{QStringLiteral("bogus")}, QStringList{QStringLiteral("page")},
          QStringList{QStringLiteral("page"), QStringLiteral("--level"), QStringLiteral("5"),
                      QStringLiteral("x.html")},
          QStringList{QStringLiteral("page"), QStringLiteral("--level"), QStringLiteral("x"),
                      QStringLiteral("x.html")},
          QStringList{QStringLiteral("page"), QStringLiteral("-x"), QStringLiteral("x.html")},
          QStringList{QStringLiteral("page"), QStringLiteral("a.html"), QStringLiteral("b.html")},
          QStringList{QStringLiteral("settings"), QStringLiteral("--output")},
          QStringList{QStringLiteral("page"), QStringLiteral("x.html"), QStringLiteral("--level")},
          QStringList{QStringLiteral("page"), QStringLiteral("--unknown"),
                      QStringLiteral("x.html")},
          QStringList{QStringLiteral("settings"), QStringLiteral("x.html")}}) {
        Result r = Run(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(u' ').toStdString();
        EXPECT_TRUE(r.err.contains("Usage:"));
    }
    Result r = Run({QStringLiteral("--help")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains("kestrix-cli page"));
    r = Run({QStringLiteral("page"), QStringLiteral("--help")});
    EXPECT_EQ(r.exitCode, 0);

    // Compact switches and "-" for standard input are understood.
    r = Run({QStringLiteral("page"), QStringLiteral("-ea"), QStringLiteral("-")}, page);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.toStdString(), Expected(partEncrypt | partLimitAccess, ProtectionSettings{}));
}

TEST_F(Cli, SettingsPrintSaveAndApplyAFile)
{
    Result r = Run({QStringLiteral("settings")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.toStdString(), SettingsText(ProtectionSettings{}));

    // A settings file with LF line ends and missing lines.
    const QString ini = Write(QStringLiteral("mine.ini"),
                              "[FormEncryptionOptions]\nComboBoxDepthLevel.ItemIndex=1\n"
                              "CheckBoxPrinting.Checked=1\nCheckBoxEndP.Checked=7\n");
    ProtectionSettings mine;
    mine.StrengthLevel = 1;
    mine.StrengthText = "Low (Single level of encryption)";
    mine.DisablePrinting = true;
    mine.RemoveEndP = true;
    r = Run({QStringLiteral("settings"), QStringLiteral("--settings"), ini});
    EXPECT_EQ(r.out.toStdString(), SettingsText(mine));

    // Saved, the settings are what a later run starts from.
    r = Run(
        {QStringLiteral("settings"), QStringLiteral("--settings"), ini, QStringLiteral("--save")});
    EXPECT_EQ(r.exitCode, 0);
    const QByteArray stored =
        Read(dir.filePath(QStringLiteral("config/Marquell/Marquell Kestrix.conf")));
    EXPECT_TRUE(stored.contains("[FormEncryptionOptions]")) << stored.toStdString();
    EXPECT_TRUE(stored.contains("CheckBoxPrinting.Checked=1")) << stored.toStdString();
    r = Run({QStringLiteral("settings")});
    EXPECT_EQ(r.out.toStdString(), SettingsText(mine));
    const QString input = Write(QStringLiteral("in.html"), page);
    r = Run({QStringLiteral("page"), input});
    EXPECT_EQ(r.out.toStdString(), Expected(allProtectionParts, mine));

    // --defaults ignores the store; --level comes last.
    r = Run({QStringLiteral("settings"), QStringLiteral("--defaults"), QStringLiteral("--level"),
             QStringLiteral("0")});
    ProtectionSettings zero;
    zero.StrengthLevel = 0;
    zero.StrengthText = "None";
    EXPECT_EQ(r.out.toStdString(), SettingsText(zero));

    // A missing settings file is reported like a missing page.
    r = Run({QStringLiteral("settings"), QStringLiteral("--settings"), QStringLiteral("no.ini")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "File no.ini does not exist\n");
}

TEST_F(Cli, SettingsFileThatNamesNoSettingIsRefused)
{
    // A page or any other file given by mistake: exit 1 naming the file,
    // before anything is written.
    const QString input = Write(QStringLiteral("in.html"), page);
    const QString out = dir.filePath(QStringLiteral("out.html"));
    for (const QByteArray& text :
         {page, QByteArray::fromHex("00017f80ff0d0a3d3d"), QByteArray(),
          QByteArray("[OtherSection]\nComboBoxDepthLevel.ItemIndex=1\n")}) {
        const QString ini = Write(QStringLiteral("wrong.ini"), text);
        Result r = Run({QStringLiteral("page"), QStringLiteral("--settings"), ini,
                        QStringLiteral("--output"), out, input});
        EXPECT_EQ(r.exitCode, 1) << text.toStdString();
        EXPECT_TRUE(
            r.err.startsWith((ini + QStringLiteral(" holds no protection settings")).toUtf8()))
            << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(out));
    }

    // A known setting beside an unknown name: the run goes on, the unknown
    // name is named in a warning.
    const QString ini =
        Write(QStringLiteral("mixed.ini"), "[FormEncryptionOptions]\nCheckBoxPrinting.Checked=1\n"
                                           "CheckBoxPrintng.Checked=1\n");
    Result r = Run({QStringLiteral("settings"), QStringLiteral("--settings"), ini});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err.toStdString(),
              "Warning: CheckBoxPrintng.Checked is not a setting and was ignored (" +
                  ini.toStdString() + ")\n");
    ProtectionSettings printing;
    printing.DisablePrinting = true;
    EXPECT_EQ(r.out.toStdString(), SettingsText(printing));
}

TEST_F(Cli, StoredTextValuesFollowTheStoreReadingRules)
{
    // A hand-edited store: the index as text, a check box as "2", a broken value.
    QDir().mkpath(dir.filePath(QStringLiteral("config/Marquell")));
    Write(QStringLiteral("config/Marquell/Marquell Kestrix.conf"),
          "[FormEncryptionOptions]\nComboBoxDepthLevel.ItemIndex=\"3\"\n"
          "ComboBoxDepthLevel.Text=Low (Single level of encryption)\n"
          "CheckBoxSelection.Checked=2\nCheckBoxStatusBar.Checked=abc\n");
    Result r = Run({QStringLiteral("settings")});
    ProtectionSettings expected;
    expected.StrengthLevel = 3;
    expected.StrengthText = "High";
    expected.DisableSelection = true;
    EXPECT_EQ(r.out.toStdString(), SettingsText(expected));
}

} // namespace
