#include "connection/connectionpage.h"
#include "connection/session.h"
#include "support/pageenv.h"
#include "support/waitfor.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

namespace {

class PageTest : public ::testing::Test, protected PageEnvironment {
protected:
    void writeSettings(int page, const ConnectionSettings &s)
    {
        ASSERT_TRUE(connectionsettings::save(dir.path(), page, s, nullptr));
    }
    ConnectionSettings networkSettings(int page, quint16 port)
    {
        ConnectionSettings s = ConnectionSettings::defaults(page, dir.path());
        s.connectionType = 1;
        s.ipAddress = QStringLiteral("127.0.0.1");
        s.portNumber = port;
        return s;
    }
};
} // namespace

TEST_F(PageTest, MissingDeviceGivesNoSuchPortAndWaitsInPhaseOne)
{
    map.setDevicePath(0, dir.filePath("absent"));
    ConnectionSettings s = ConnectionSettings::defaults(1, dir.path());
    s.autoConnect = true;
    writeSettings(1, s);
    ConnectionPage page(1, env);
    ASSERT_TRUE(page.loadSettings());
    EXPECT_EQ(log.line(0), QStringLiteral("ERROR (12/6/2026 14:05:09):   <Connect1>   COM Port Error(1): No Such Port"));
    EXPECT_EQ(page.record().state, int(state::Error));
    EXPECT_EQ(page.record().phase, 1);
    EXPECT_FALSE(page.record().portOpen);
    page.showState();
    EXPECT_EQ(page.stateText(), QStringLiteral("Error"));
    EXPECT_EQ(page.connectionRows().at(0).status, QStringLiteral("Error"));
    page.tick(); // nothing is retried by itself
    EXPECT_EQ(log.count(), 1);
}

TEST_F(PageTest, PtyOpensAndASecondPageOnTheSameDeviceIsRefused)
{
    int master = -1, slave = -1;
    char name[128] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::close(slave);
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    map.setDevicePath(2, QString::fromLocal8Bit(name));
    map.setDevicePath(3, QString::fromLocal8Bit(name));

    ConnectionSettings s1 = ConnectionSettings::defaults(1, dir.path());
    s1.serialPort = 2;
    ConnectionSettings s2 = ConnectionSettings::defaults(2, dir.path());
    s2.serialPort = 3;
    ConnectionPage first(1, env), second(2, env);
    first.setSettings(s1);
    second.setSettings(s2);
    first.openLink();
    EXPECT_TRUE(first.record().portOpen);
    EXPECT_EQ(first.record().phase, 1);
    EXPECT_EQ(log.count(), 0);
    EXPECT_EQ(first.connectionRows().at(0).connection, QStringLiteral("RS-232"));
    EXPECT_EQ(first.connectionRows().at(0).info, QStringLiteral("COM3   2400   8-N-1"));

    second.openLink();
    EXPECT_FALSE(second.record().portOpen);
    EXPECT_TRUE(log.line(0).endsWith("<Connect2>   COM Port Error(2): Port already opened."));
    // A page on the very same COM index is refused too, and closing it
    // leaves the holder's port open.
    ConnectionPage third(3, env);
    ConnectionSettings s3 = ConnectionSettings::defaults(3, dir.path());
    s3.serialPort = 2;
    third.setSettings(s3);
    third.openLink();
    EXPECT_TRUE(log.line(0).endsWith("<Connect3>   COM Port Error(2): Port already opened."));
    third.closeLink();
    EXPECT_TRUE(serial.isOpen(2));
    EXPECT_TRUE(first.record().portOpen);

    first.sendText(QByteArray("\x03\xFE\x00\xFF", 4));
    const QByteArray atUnit = gather([&] {
        char buf[64];
        const ssize_t n = ::read(master, buf, sizeof buf);
        return n > 0 ? QByteArray(buf, int(n)) : QByteArray();
    }, 4);
    EXPECT_EQ(atUnit, QByteArray("\x03\xFE\x00\xFF", 4));

    first.closeLink();
    EXPECT_EQ(first.record().state, int(state::Disconnected));
    EXPECT_FALSE(serial.isOpen(2));
    second.openLink(); // free now
    EXPECT_TRUE(second.record().portOpen);
    ::close(master);
}

TEST_F(PageTest, NetworkPageRowsAndRefusedPort)
{
    quint16 port;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    ConnectionPage page(4, env);
    page.setSettings(networkSettings(4, port));
    ASSERT_EQ(page.connectionRows().size(), 2);
    EXPECT_EQ(page.connectionRows().at(0).connection, QStringLiteral("Network Local"));
    EXPECT_EQ(page.connectionRows().at(1).connection, QStringLiteral("Network Remote"));
    EXPECT_EQ(page.connectionRows().at(1).info, QStringLiteral("   ")); // single blank, empty address, two blanks
    page.openLink();
    ASSERT_TRUE(waitFor([&] { return page.record().state == state::Error; }));
    EXPECT_EQ(log.line(0), QStringLiteral("ERROR (12/6/2026 14:05:09):   <Connect4>   Socket Error(10061): Connection refused"));
    EXPECT_EQ(page.record().phase, 0);
}

TEST_F(PageTest, NetworkPageRecordsItsEndPoints)
{
    QTcpServer unit;
    ASSERT_TRUE(unit.listen(QHostAddress::LocalHost));
    ConnectionPage page(1, env);
    page.setSettings(networkSettings(1, unit.serverPort()));
    page.openLink();
    ASSERT_TRUE(waitFor([&] { return page.record().portOpen; }));
    EXPECT_EQ(page.connectionRows().at(1).info, QStringLiteral(" 127.0.0.1  ") + QString::number(unit.serverPort()));
    EXPECT_TRUE(page.connectionRows().at(0).info.contains(QStringLiteral(" 127.0.0.1  ")));
}

TEST_F(PageTest, StateTextsAndTheActivityCounter)
{
    ConnectionPage page(1, env);
    page.showConnection();
    auto shown = [&](int code, int frames = 0) {
        page.record().state = code;
        page.record().framesSinceShown = frames;
        page.showState();
        return page.stateText();
    };
    // Many frames still mean alive.
    const struct { int code, frames; const char *text; } cases[] = {
        {0, 0, "Disconnected"}, {1, 0, "Connecting"}, {2, 0, "Downloading"}, {3, 0, "InActive"}, {3, 4, " Active "},
        {3, 20, " Active "}, {10, 0, "Initializing"}, {11, 0, "Dialing"}, {13, 0, "Password "}, {14, 0, "Updating "},
        {99, 0, "Error"}, {42, 0, ""}};
    for (const auto &c : cases) {
        EXPECT_EQ(shown(c.code, c.frames), QLatin1String(c.text)) << c.code;
        if (c.code == 3) {
            EXPECT_EQ(page.record().framesSinceShown, 0);
        }
    }
    page.record().state = 1;
    page.record().framesSinceShown = 3;
    page.showState();
    EXPECT_EQ(page.record().framesSinceShown, 3); // only state 3 resets the counter
}

TEST_F(PageTest, HardwareListShowsTheCaptionWhenNothingIsPresent)
{
    ConnectionPage page(1, env);
    page.record().unitsShown = 0xFFFF;
    page.showHardware();
    ASSERT_EQ(page.hardwareRows().size(), 1);
    EXPECT_EQ(page.hardwareRows().at(0), (HardwareRow{"Arxon System", "N/A", "N/A", "N/A"}));
    QSignalSpy rebuilt(&page, &ConnectionPage::hardwareRowsChanged);
    page.showHardware(); // unchanged units: no rebuild
    EXPECT_EQ(rebuilt.count(), 0);
    EXPECT_EQ(ConnectionPage::hardwareCaption(1), QStringLiteral(" KX-71  "));
    EXPECT_EQ(ConnectionPage::hardwareCaption(2), QStringLiteral(" HD System  "));
    EXPECT_EQ(ConnectionPage::hardwareCaption(3), QStringLiteral(" KF-71 System "));
}

TEST_F(PageTest, EveryHardwareTypeHasItsProtocol)
{
    map.setDevicePath(0, dir.filePath("absent"));
    for (int type = 0; type <= 3; ++type) {
        ConnectionSettings s = ConnectionSettings::defaults(1, dir.path());
        s.hardwareType = type;
        ConnectionPage page(1, env);
        page.setSettings(s);
        page.openLink();
    }
    EXPECT_TRUE(log.lines().filter(QStringLiteral("protocol is not available")).isEmpty());
}

// A settings file the page cannot read names its line, shows outside text
// harmlessly and leaves the page stopped.
TEST_F(PageTest, SettingsErrorsNameFileAndLineAndLeaveThePageStopped)
{
    const struct {
        QByteArray file;
        QString error; // after "<file> line "
    } cases[] = {
        {"\x1B[2J\x1B[31m\r\n", "1: '\\x1B[2J\\x1B[31m' is not a valid integer value"},
        {" 0\r\nPW\r\n\r\n", "3: '' is not a valid integer value"},
        {" 0\r\nPW\r\n 0\r\n" + QByteArray(300000, '9') + "\r\n",
         "4: '" + QString(200, '9') + QChar(0x2026) + "' is not a valid integer value"},
        {" 0\r\nPW\r\nx\r\n", "3: 'x' is not a valid integer value"},
    };
    for (const auto &c : cases) {
        QFile file(dir.path() + "/CONFIG/Connect6.CFG");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.file);
        file.close();
        ConnectionPage page(6, env);
        QString error;
        EXPECT_FALSE(page.loadSettings(&error));
        EXPECT_EQ(error, QDir::toNativeSeparators(dir.path() + "/CONFIG/Connect6.CFG") + " line " + c.error);
        EXPECT_FALSE(page.timerActive());
        EXPECT_FALSE(page.started());
        if (c.file.startsWith(" 0")) {
            EXPECT_EQ(page.settings().password, QStringLiteral("PW"));
        }
    }
    ConnectionPage good(7, env);
    QString error;
    EXPECT_TRUE(good.loadSettings(&error));
    EXPECT_TRUE(good.timerActive());
    EXPECT_EQ(good.interval(), 125);
}

TEST_F(PageTest, RebuildingTheConnectionListLeavesTheActivityCounter)
{
    ConnectionPage page(1, env);
    page.record().state = 3;
    page.record().framesSinceShown = 2;
    page.showConnection();
    EXPECT_EQ(page.stateText(), QStringLiteral(" Active "));
    EXPECT_EQ(page.record().framesSinceShown, 2);
    page.showState(); // the 625 ms refresh counts them as shown
    EXPECT_EQ(page.record().framesSinceShown, 0);
}
