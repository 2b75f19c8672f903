// The built program from its command line: help, version and mistakes
// without a display, a station directory given with --base, and a whole
// station run without a window (a simulated unit, a relay viewer, SIGTERM).
#include "core/version.h"
#include "station_support.h"
#include "unitsim_support.h"

#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

using namespace stationtest;

namespace {

QString serverPath() { return qEnvironmentVariable("TOLVA_SERVER"); }

// The environment of a machine with no window system at all.
QProcessEnvironment noDisplay()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    return env;
}

struct Finished {
    int code = -1;
    QByteArray out, err;
};

Finished runToEnd(const QStringList &args)
{
    QProcess p;
    p.setProcessEnvironment(noDisplay());
    p.start(serverPath(), args);
    Finished f;
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished(3000);
        return f;
    }
    f.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    f.out = p.readAllStandardOutput();
    f.err = p.readAllStandardError();
    return f;
}

// The server running headless; stderr gathered as it comes.
class Headless {
public:
    // runAs: a program and its arguments that start the server, e.g. setpriv.
    bool start(const QStringList &args, const QString &workingDirectory = QString(), const QStringList &runAs = {})
    {
        m_proc.setProcessEnvironment(noDisplay());
        if (!workingDirectory.isEmpty())
            m_proc.setWorkingDirectory(workingDirectory);
        QObject::connect(&m_proc, &QProcess::readyReadStandardError, [this] { m_err += m_proc.readAllStandardError(); });
        const QStringList command = runAs + QStringList{serverPath(), "--headless"} + args;
        m_proc.start(command.first(), command.mid(1));
        return m_proc.waitForStarted(5000);
    }
    bool waitForLine(const QByteArray &text, int ms = 10000)
    {
        return waitFor([&] { return m_err.contains(text); }, ms);
    }
    // SIGTERM; true when it ended by itself, cleanly, within ms.
    bool stop(int ms)
    {
        ::kill(pid_t(m_proc.processId()), SIGTERM);
        return waitFor([&] { return m_proc.state() == QProcess::NotRunning; }, ms)
            && m_proc.exitStatus() == QProcess::NormalExit && m_proc.exitCode() == 0;
    }
    // Whether a window-system plugin got loaded into the process.
    bool platformPluginLoaded() const
    {
        QFile maps(QStringLiteral("/proc/%1/maps").arg(m_proc.processId()));
        return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("/platforms/");
    }
    const QByteArray &err() const { return m_err; }
    ~Headless()
    {
        if (m_proc.state() != QProcess::NotRunning) {
            m_proc.kill();
            m_proc.waitForFinished(3000);
        }
    }

private:
    QProcess m_proc;
    QByteArray m_err;
};

class HeadlessStation : public UnitFixture {};

} // namespace

TEST(CommandLine, HelpVersionAndMistakesNeedNoDisplay)
{
    ASSERT_FALSE(serverPath().isEmpty());
    const struct {
        QStringList args;
        int code;
        QByteArray out, err;
    } cases[] = {
        {{"--help"}, 0, "Usage: tolva-server [--headless] [--base DIR]\n", ""},
        {{"-h", "--headless"}, 0, "  --base DIR ", ""},
        {{"--version"}, 0, QByteArray("tolva-server ") + kProgramVersion + "\n", ""},
        {{"--frobnicate"}, 2, "", "tolva-server: unknown option '--frobnicate'\n"},
        {{"--headless", "extra"}, 2, "", "tolva-server: unexpected argument 'extra'\n"},
        {{"--base"}, 2, "", "option '--base' needs a directory"},
        {{"--base", "/no/such/station", "--headless"}, 2, "", "base directory '/no/such/station' not found"},
        {{"--headless", "-platform", "offscreen"}, 2, "", "cannot go with '--headless'"},
    };
    for (const auto &c : cases) {
        const Finished f = runToEnd(c.args);
        const std::string args = c.args.join(' ').toStdString();
        EXPECT_EQ(f.code, c.code) << args << "\n" << f.err.constData();
        EXPECT_TRUE(f.out.contains(c.out)) << args << "\n" << f.out.constData();
        EXPECT_TRUE(f.err.contains(c.err)) << args << "\n" << f.err.constData();
        if (c.code == 2) {
            EXPECT_TRUE(f.err.contains("Try 'tolva-server --help'")) << args;
        }
    }
}

TEST(CommandLine, BaseDirectoryIsTheStationAndAMissingConfigStopsTheService)
{
    StationDir station;
    QTemporaryDir elsewhere;
    Headless server;
    ASSERT_TRUE(server.start({"--base", station.path()}, elsewhere.path()));
    ASSERT_TRUE(waitFor([&] { return QFile::exists(station.filePath("CONFIG/Server8.USR")); }, 10000)) << server.err().constData();
    EXPECT_TRUE(QDir(elsewhere.path()).isEmpty());
    EXPECT_FALSE(server.platformPluginLoaded());
    EXPECT_TRUE(server.stop(5000)) << server.err().constData();
    EXPECT_TRUE(server.err().contains("<Station>   tolva-server stopped\n")) << server.err().constData();

    const Finished f = runToEnd({"--headless", "--base", elsewhere.path()});
    EXPECT_EQ(f.code, 1);
    EXPECT_TRUE(f.err.contains("CONFIG directory not found")) << f.err.constData();
}

// The service as it runs in a rack: the unit logged in, a viewer served,
// then SIGTERM ends it cleanly within five seconds.
TEST_F(HeadlessStation, ServesAViewerAndStopsOnSigterm)
{
    ASSERT_TRUE(sim.start({"--tcp", "0", "--loaded", "--trace", trace})) << "no simulator";
    ASSERT_TRUE(dir.writeDownload(QStringLiteral("KM71"), 4660, {QStringLiteral(":10000100C2A5E1F01")}));
    PageFile page = networkPage(sim.tcpPort());
    page.logEnabled = true;
    ASSERT_TRUE(dir.writePage(1, page));
    const quint16 port = dir.addServer(1, false);
    ASSERT_NE(port, 0);

    Headless server;
    ASSERT_TRUE(server.start({"--base", dir.path()}));
    ASSERT_TRUE(server.waitForLine(" ARX Succesful Connection")) << server.err().constData();
    EXPECT_FALSE(server.platformPluginLoaded());

    Client viewer;
    ASSERT_TRUE(viewer.connectTo(port));
    viewer.send(QByteArray("\x04\xFE", 2)); // start the data
    ASSERT_TRUE(viewer.waitForBytes(2 * 108)) << server.err().constData();

    QElapsedTimer stopping;
    stopping.start();
    EXPECT_TRUE(server.stop(5000)) << server.err().constData();
    EXPECT_LT(stopping.elapsed(), 5000);
    EXPECT_TRUE(waitFor([&] { return viewer.socket().state() == QAbstractSocket::UnconnectedState; }, 3000));
    // Every record the log holds is whole: the file was closed cleanly.
    QDir logs(dir.logDirectory());
    const QStringList files = logs.entryList({QStringLiteral("*.LW1")}, QDir::Files);
    ASSERT_EQ(files.size(), 1);
    const qint64 size = QFileInfo(logs.filePath(files.first())).size();
    EXPECT_GT(size, 0);
    EXPECT_EQ(size % 109, 0);
}

// A relay port below 1024 that the system refuses an ordinary user: the
// usual error line, then one line saying how to allow it.
TEST(HeadlessService, LowPortRefusedSaysHowToAllowIt)
{
    QStringList runAs;
    if (::geteuid() == 0) {
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            GTEST_SKIP() << "running as root and no setpriv to run as an ordinary user";
        runAs = {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"};
    } else {
        QFile start(QStringLiteral("/proc/sys/net/ipv4/ip_unprivileged_port_start"));
        if (start.open(QIODevice::ReadOnly) && start.readAll().trimmed().toInt() <= 1)
            GTEST_SKIP() << "this system lets every user open low ports";
    }
    StationDir station;
    for (const QString &d : {station.path(), station.filePath("CONFIG")})
        QFile::setPermissions(d, QFileDevice::Permissions(0x7777));
    ASSERT_TRUE(station.writeServer(1, 1, false)); // port 1, enabled at start

    Headless server;
    ASSERT_TRUE(server.start({"--base", station.path()}, QString(), runAs));
    ASSERT_TRUE(server.waitForLine("Port 1 is below 1024")) << server.err().constData();
    const QList<QByteArray> lines = server.err().split('\n');
    qsizetype error = -1, hint = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].contains("<Server1>   Socket Error(10013): "))
            error = i;
        if (lines[i].contains("<Server1>   Port 1 is below 1024"))
            hint = i;
    }
    EXPECT_GE(error, 0) << server.err().constData();
    EXPECT_EQ(hint, error + 1);
    EXPECT_TRUE(lines[hint].startsWith("STATUS(")) << lines[hint].constData();
    EXPECT_TRUE(lines[hint].contains("setcap cap_net_bind_service=+ep")) << lines[hint].constData();
    EXPECT_TRUE(server.stop(5000)) << server.err().constData();
}
