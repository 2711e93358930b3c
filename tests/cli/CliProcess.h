// kestrix-cli run as a separate process, with its settings, cache and data
// folders in a temporary folder so that no test reads or changes the user's.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace kestrix::test {

struct CliOutput
{
    int exitCode = -1; // -1 when the program did not end normally
    QByteArray out;    // standard output
    QByteArray err;    // standard error
};

// The environment of a run whose XDG folders lie in `home`.
inline QProcessEnvironment IsolatedEnvironment(const QTemporaryDir& home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    return env;
}

// Runs `program` in `home` with `args` and `input` on standard input, and
// waits for it to end.
inline CliOutput RunCli(const QTemporaryDir& home, const QStringList& args,
                        const QByteArray& input = {},
                        const QString& program = QStringLiteral(KESTRIX_CLI_PATH))
{
    QProcess process;
    process.setProcessEnvironment(IsolatedEnvironment(home));
    process.setWorkingDirectory(home.path());
    process.start(program, args);
    EXPECT_TRUE(process.waitForStarted());
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(120000));
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

} // namespace kestrix::test
