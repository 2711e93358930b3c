// A lang.txt next to kestrix-cli changes what the command line prints.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct CliRun
{
    int exitCode = -1;
    QString errorText;
};

// Runs a copy of kestrix-cli from `folder` with its settings in `folder`.
CliRun RunCli(const QTemporaryDir& folder, const QStringList& arguments)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), folder.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(env);
    process.start(folder.filePath(QStringLiteral("kestrix-cli")), arguments);
    CliRun run;
    if (!process.waitForFinished(60000))
        return run;
    run.exitCode = process.exitCode();
    run.errorText = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace

TEST(CliLanguageFile, MessagesFollowTheLanguageFileBesideTheProgram)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    ASSERT_TRUE(QFile::copy(QStringLiteral(KESTRIX_CLI_PATH),
                            folder.filePath(QStringLiteral("kestrix-cli"))));
    const QString missing = folder.filePath(QStringLiteral("missing.html"));

    const CliRun english = RunCli(folder, {QStringLiteral("page"), missing});
    EXPECT_EQ(english.exitCode, 1);
    EXPECT_EQ(english.errorText, QStringLiteral("File %1 does not exist\n").arg(missing));

    QFile lang(folder.filePath(QStringLiteral("lang.txt")));
    ASSERT_TRUE(lang.open(QIODevice::WriteOnly));
    lang.write("; German\r\n<//STRING_TABLE-\r\nE=File %s does not exist\r\n"
               "T=Die Datei %s gibt es nicht \xE2\x80\x93 bitte pr\xC3\xBC"
               "fen\r\n");
    lang.close();

    const CliRun german = RunCli(folder, {QStringLiteral("page"), missing});
    EXPECT_EQ(german.exitCode, 1);
    EXPECT_EQ(german.errorText,
              QString::fromUtf8("Die Datei %1 gibt es nicht – bitte prüfen\n").arg(missing));
}
