#include "connection/connectionsettings.h"
#include "core/clock.h"
#include "core/messagelog.h"
#include "server/relayserver.h"
#include "server/relayservers.h"
#include "station/station.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

static const QString kBase = QStringLiteral("/srv/station");

TEST(ConnectionSettingsFile, DefaultsWrittenLineByLine)
{
    const QByteArray expected = " 0\r\nKELPO4\r\n 0\r\n0\r\n 0\r\n 1\r\n 0\r\n\r\n000.000.000.000\r\n     0\r\n"
                                "/srv/station/LOG/\r\nConnect1-\r\n0\r\nConnect #1\r\nRack1\r\n\r\n0\r\n";
    EXPECT_EQ(connectionsettings::serialize(ConnectionSettings::defaults(1, kBase)), expected);

    const ConnectionSettings page2 = ConnectionSettings::defaults(2, kBase);
    EXPECT_EQ(page2.connectionName, QStringLiteral("    #2  "));
    EXPECT_EQ(page2.rackName, QStringLiteral("Rack2"));
    EXPECT_EQ(page2.logPrefix, QStringLiteral("Connect2-"));
}

TEST(ConnectionSettingsFile, PaddedNumbersAndTextsReadBack)
{
    ConnectionSettings s = ConnectionSettings::defaults(3, kBase);
    s.hardwareType = 2;
    s.password = QStringLiteral(" SECRET ");
    s.connectionType = 1;
    s.autoConnect = true;
    s.portNumber = 10001;
    s.ipAddress = QStringLiteral("192.168.001.010");
    s.connectionName = QStringLiteral("Studio A");
    s.useHostName = true;
    s.hostName = QStringLiteral("tx-site.example");
    const QByteArray text = connectionsettings::serialize(s);
    EXPECT_TRUE(text.startsWith(" 2\r\n SECRET \r\n 1\r\n1\r\n"));
    EXPECT_TRUE(text.contains("\r\n 10001\r\n"));

    ConnectionSettings back = ConnectionSettings::defaults(3, kBase);
    QString error;
    ASSERT_TRUE(connectionsettings::parse(text, back, &error)) << error.toStdString();
    EXPECT_EQ(back, s);
}

TEST(ConnectionSettingsFile, ShortFileBooleansAndExtraLines)
{
    ConnectionSettings s = ConnectionSettings::defaults(1, kBase);
    QString error;
    ASSERT_TRUE(connectionsettings::parse(" 3\r\nPW\r\n 2\r\n2\r\n 4\r\n", s, &error));
    EXPECT_EQ(s.hardwareType, 3);
    EXPECT_EQ(s.password, QStringLiteral("PW"));
    EXPECT_EQ(s.connectionType, 2);
    EXPECT_FALSE(s.autoConnect); // "2" is neither 0 nor 1: the default stays
    EXPECT_EQ(s.serialPort, 4);
    EXPECT_EQ(s.baudIndex, 1); // the rest keep their defaults
    EXPECT_EQ(s.connectionName, QStringLiteral("Connect #1"));

    // Lines after the 17th are read and not used.
    ConnectionSettings t = ConnectionSettings::defaults(1, kBase);
    QByteArray longer = connectionsettings::serialize(t);
    for (int i = 0; i < 60; ++i)
        longer += "junk\r\n";
    EXPECT_TRUE(connectionsettings::parse(longer, t, &error));
    EXPECT_EQ(t, ConnectionSettings::defaults(1, kBase));
}

TEST(ConnectionSettingsFile, NonNumericLineStopsTheConversion)
{
    ConnectionSettings s = ConnectionSettings::defaults(1, kBase);
    QString error;
    EXPECT_FALSE(connectionsettings::parse(" 2\r\nPW\r\n 1\r\n1\r\nabc\r\n 0\r\n", s, &error));
    EXPECT_EQ(error, QStringLiteral("'abc' is not a valid integer value"));
    EXPECT_EQ(s.hardwareType, 2); // taken before the bad line
    EXPECT_TRUE(s.autoConnect);
    EXPECT_EQ(s.serialPort, 0); // from the bad line on: defaults
    EXPECT_EQ(s.baudIndex, 1);

    ConnectionSettings t = ConnectionSettings::defaults(1, kBase);
    EXPECT_FALSE(connectionsettings::parse(" 0\r\nPW\r\n 0\r\n0\r\n 0\r\n1 \r\n", t, &error));
    EXPECT_FALSE(connectionsettings::parse(" 0\r\nPW\r\n 0\r\n\r\n", t, &error)); // an empty number line
}

TEST(ConnectionSettingsFile, MissingFileIsCreatedAndMissingDirectoryIsAnError)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("CONFIG"));
    ConnectionSettings s;
    QString error;
    ASSERT_TRUE(connectionsettings::load(dir.path(), 5, s, &error));
    QFile file(dir.path() + "/CONFIG/Connect5.CFG");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), connectionsettings::serialize(ConnectionSettings::defaults(5, dir.path())));
    EXPECT_EQ(s, ConnectionSettings::defaults(5, dir.path()));

    QTemporaryDir empty;
    EXPECT_FALSE(connectionsettings::load(empty.path(), 1, s, &error));
    EXPECT_TRUE(error.contains("Connect1.CFG"));
}

TEST(ConnectionSettingsFile, ReconnectLineEighteen)
{
    const QByteArray base = connectionsettings::serialize(ConnectionSettings::defaults(1, kBase));
    ConnectionSettings on = ConnectionSettings::defaults(1, kBase);
    on.autoReconnect = true;
    EXPECT_EQ(connectionsettings::serialize(on), base + "1\r\n"); // off: the 17 lines as ever

    const struct {
        QByteArray line18;
        bool expected;
    } cases[] = {
        {"", false}, {"1\r\n", true}, {" 1\r\n", true}, {"0\r\n", false},
        {"2\r\n", false}, {"junk\r\n", false}, {"\r\n", false},
    };
    for (const auto &c : cases) {
        ConnectionSettings s = ConnectionSettings::defaults(1, kBase);
        QString error;
        ASSERT_TRUE(connectionsettings::parse(base + c.line18 + "more\r\n", s, &error)) << c.line18.constData();
        EXPECT_EQ(s.autoReconnect, c.expected) << c.line18.constData();
    }

    // Saved and read again, the switch is kept.
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("CONFIG"));
    QString error;
    ASSERT_TRUE(connectionsettings::save(dir.path(), 2, on, &error));
    ConnectionSettings back;
    ASSERT_TRUE(connectionsettings::load(dir.path(), 2, back, &error));
    EXPECT_TRUE(back.autoReconnect);
    EXPECT_EQ(back, on);
}

TEST(ConnectionSettingsFile, BaudCodes)
{
    using connectionsettings::baudCode;
    EXPECT_EQ(baudCode(0, 0, 0), 2);
    EXPECT_EQ(baudCode(0, 3, 0), 5);
    EXPECT_EQ(baudCode(0, 3, 0, true), 3); // ARX over a modem: always 2400
    EXPECT_EQ(baudCode(0, 7, 4), 4);       // outside the row: unchanged
    EXPECT_EQ(baudCode(1, 1, 0), 8);
    EXPECT_EQ(baudCode(2, 0, 0), 8);
    EXPECT_EQ(baudCode(2, 1, 0), 9);
    EXPECT_EQ(baudCode(2, 2, 5), 5);
    EXPECT_EQ(baudCode(3, 1, 0), 9);
    EXPECT_EQ(connectionsettings::baudText(3), QStringLiteral("2400"));
    EXPECT_EQ(connectionsettings::baudText(9), QStringLiteral("115200"));
}

TEST(ConnectionSettingsFile, EmptyFileGivesAllDefaults)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("CONFIG"));
    QFile empty(connectionsettings::filePath(dir.path(), 3));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    ConnectionSettings s;
    QString error;
    EXPECT_TRUE(connectionsettings::load(dir.path(), 3, s, &error)) << error.toStdString();
    EXPECT_EQ(s, ConnectionSettings::defaults(3, dir.path()));
}

// Port 0 means "no port" on a serial or modem page; a network page cannot use
// it, and no page a port beyond 65535. Such a file stops the page at line 10.
TEST(ConnectionSettingsFile, PortLineMustHoldAUsablePort)
{
    const struct { int connectionType; const char *port; bool ok; } cases[] = {
        {0, "     0", true}, {2, "     0", true},  {1, "     0", false}, {1, "     1", true},
        {1, " 65535", true}, {1, " 65536", false}, {0, " 99999", false}, {0, "    -1", false},
    };
    for (const auto &c : cases) {
        ConnectionSettings s = ConnectionSettings::defaults(1, kBase);
        s.connectionType = c.connectionType;
        QByteArray text = connectionsettings::serialize(s);
        text.replace("\r\n     0\r\n", "\r\n" + QByteArray(c.port) + "\r\n");
        ConnectionSettings back = ConnectionSettings::defaults(1, kBase);
        QString error;
        int line = 0;
        EXPECT_EQ(connectionsettings::parse(text, back, &error, &line), c.ok) << c.connectionType << c.port;
        if (!c.ok) {
            EXPECT_EQ(std::make_pair(line, error),
                      std::make_pair(10, "'" + QString(c.port) + "' is not a port number from 1 to 65535"));
        }
    }
}

// At start: files others can read become their owner's, with one STATUS
// line each; every file created is its owner's; a server file holding port 0
// leaves that server stopped with one ERROR line naming file and line.
TEST(StationStart, ProtectsSettingsFilesAndRefusesPortZero)
{
    QTemporaryDir dir;
    const QString config = dir.path() + "/CONFIG/";
    ASSERT_TRUE(QDir().mkdir(config));
    const struct { const char *name; QByteArray text; } files[] = {
        {"Connect1.CFG", connectionsettings::serialize(ConnectionSettings::defaults(1, dir.path()))},
        {"Server4.USR", " 1\r\namy\r\nsecret\r\nSupervisor\r\n"},
        {"Server2.CFG", " 2\r\n1\r\n     0\r\n0\r\n"},
    };
    for (const auto &f : files) {
        QFile file(config + f.name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(f.text) == f.text.size());
        file.close();
        ASSERT_TRUE(file.setPermissions(file.permissions() | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    }
    SystemClock clock;
    Station station(dir.path(), clock);
    station.messageLog().setEchoToStderr(false);
    EXPECT_EQ(station.start(), QStringList("Settings not loaded, server not started: " + config
                                           + "Server2.CFG line 3: 0 is not a port number from 1 to 65535"));
    EXPECT_FALSE(station.servers().server(2)->isEnabled());
    const QStringList lines = station.messageLog().lines();
    EXPECT_EQ(lines.filter("ERROR").size(), 1);
    for (const auto &f : files)
        EXPECT_EQ(lines.filter("STATUS").filter(config + f.name + " could be read by other users").size(), 1) << f.name;
    for (const QString &name : QDir(config).entryList({"Connect*", "Server*"}, QDir::Files))
        EXPECT_EQ(QFile::permissions(config + name) & 0x0777, QFileDevice::ReadUser | QFileDevice::WriteUser) << name.toStdString();
}
