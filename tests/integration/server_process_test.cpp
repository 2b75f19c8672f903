// The built program as an operator starts it: a station directory, message
// lines on standard error, a clean stop on SIGTERM.
#include "connection/connectionsettings.h"
#include "support/waitfor.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

namespace {
QString serverPath()
{
    return qEnvironmentVariable("TOLVA_SERVER");
}

// The program started in `dir` without a display; its relay servers' files
// are written last in start-up.
void startServer(QProcess &server, const QString &dir)
{
    ASSERT_FALSE(serverPath().isEmpty());
    server.setWorkingDirectory(dir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    server.setProcessEnvironment(env);
    server.start(serverPath(), {});
    ASSERT_TRUE(server.waitForStarted(5000));
}

// The signal ends the program normally, with exit code 0.
void expectCleanStopOn(QProcess &server, int signal)
{
    ::kill(pid_t(server.processId()), signal);
    ASSERT_TRUE(waitFor([&] { return server.state() == QProcess::NotRunning; }));
    EXPECT_EQ(server.exitStatus(), QProcess::NormalExit) << "not killed by the signal";
    EXPECT_EQ(server.exitCode(), 0);
}
} // namespace

TEST(ServerProcess, FirstStartWritesDefaultsReportsErrorsOnStderrAndStopsOnSigterm)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("CONFIG"));
    // Page 3 connects at start-up to a COM port whose device does not exist.
    {
        QFile map(dir.path() + "/CONFIG/SerialPorts.CFG");
        ASSERT_TRUE(map.open(QIODevice::WriteOnly));
        map.write("/dev/ttyS0\r\n/dev/ttyS1\r\n" + QFile::encodeName(dir.path()) + "/no-such-tty\r\n");
    }
    ConnectionSettings s = ConnectionSettings::defaults(3, dir.path());
    s.autoConnect = true;
    s.serialPort = 2;
    ASSERT_TRUE(connectionsettings::save(dir.path(), 3, s, nullptr));

    QProcess server;
    startServer(server, dir.path());
    QByteArray errors;
    ASSERT_TRUE(waitFor([&] {
        errors += server.readAllStandardError();
        return errors.contains("No Such Port");
    }, 10000)) << errors.constData();
    EXPECT_TRUE(errors.contains("<Connect3>   COM Port Error(1): No Such Port\n"));
    ASSERT_TRUE(waitFor([&] { return QFile::exists(dir.path() + "/CONFIG/Server8.USR"); }, 10000));

    for (int page = 1; page <= 8; ++page) {
        if (page == 3)
            continue;
        QFile file(connectionsettings::filePath(dir.path(), page));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << page;
        EXPECT_EQ(file.readAll(), connectionsettings::serialize(ConnectionSettings::defaults(page, dir.path())));
    }

    expectCleanStopOn(server, SIGTERM);
}

TEST(ServerProcess, HangUpClosesTheProgramAsSigtermDoes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("CONFIG"));
    QProcess server;
    startServer(server, dir.path());
    ASSERT_TRUE(waitFor([&] { return QFile::exists(dir.path() + "/CONFIG/Server8.USR"); }, 10000));
    expectCleanStopOn(server, SIGHUP);
}
