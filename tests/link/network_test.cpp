#include "link/networklink.h"
#include "support/bytes.h"
#include "support/waitfor.h"

#include <QHostInfo>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

namespace {
// A link opened to a listening "unit" on this computer.
class NetworkLinkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.listen(QHostAddress::LocalHost)); }
    // The unit's end once the link has connected.
    QTcpSocket *open(const QString &address, const QString &host = QString())
    {
        link.open(address, server.serverPort(), host);
        EXPECT_TRUE(waitFor([&] { return connected.count() == 1 && server.hasPendingConnections(); }));
        return server.nextPendingConnection();
    }
    QTcpServer server;
    NetworkLink link;
    QSignalSpy connected{&link, &NetworkLink::connected};
};
} // namespace

TEST_F(NetworkLinkTest, ConnectsSendsAndReceivesEveryByte)
{
    // Zero-padded parts are decimal, as engineers write them.
    QTcpSocket *unit = open(QStringLiteral("127.000.000.001"));
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(link.remoteAddress(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(link.remotePort(), QString::number(server.serverPort()));
    EXPECT_EQ(link.localAddress(), QStringLiteral("127.0.0.1"));
    EXPECT_FALSE(link.localHost().isEmpty());

    const QByteArray every = allByteValues();
    link.send(every);
    EXPECT_EQ(gather([&] { return unit->readAll(); }, 256), every);
    unit->write(every);
    EXPECT_EQ(gather([&] { return link.readSome(1000); }, 256), every);
}

TEST_F(NetworkLinkTest, HostNameTakesPrecedenceOverTheAddress)
{
    // A root made from scratch may have no /etc/hosts, so that "localhost"
    // names nothing; the host field then holds the address as text.
    const bool named = !QHostInfo::fromName(QStringLiteral("localhost")).addresses().isEmpty();
    EXPECT_NE(open(QStringLiteral("000.000.000.000"), named ? QStringLiteral("localhost") : QStringLiteral("127.0.0.1")),
              nullptr);
}

TEST_F(NetworkLinkTest, BytesSentJustBeforeClosingReachThePeer)
{
    QTcpSocket *unit = open(QStringLiteral("127.0.0.1"));
    ASSERT_NE(unit, nullptr);
    // A log-off followed at once by the close, with no event loop in between.
    link.send(QByteArray("\x02\xFE", 2));
    link.close();
    EXPECT_FALSE(link.isActive());
    EXPECT_EQ(gather([&] { return unit->readAll(); }, 2), QByteArray("\x02\xFE", 2));
}

TEST_F(NetworkLinkTest, WhatTheSystemCannotTakeYetFollowsInOrder)
{
    QTcpSocket *unit = open(QStringLiteral("127.0.0.1"));
    ASSERT_NE(unit, nullptr);
    // Far more than the system buffers for a peer that is not reading: the
    // first sends go straight, the rest waits in the link and follows.
    QByteArray all;
    for (int i = 0; i < 512; ++i) {
        QByteArray chunk(64 * 1024, char(i % 251));
        chunk[0] = char(i & 0xFF);
        all += chunk;
        link.send(chunk);
    }
    link.send(QByteArray("\xFF", 1)); // a poll after it waits its turn
    all += '\xFF';
    EXPECT_EQ(gather([&] { return unit->readAll(); }, all.size(), 30000), all);
}

TEST(NetworkLink, RefusedPortReportsTheWindowsSocketsNumber)
{
    quint16 port;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    NetworkLink link;
    QSignalSpy failed(&link, &NetworkLink::failed);
    link.open(QStringLiteral("127.0.0.1"), port, QString());
    ASSERT_TRUE(waitFor([&] { return failed.count() >= 1; }));
    EXPECT_EQ(failed.at(0).at(0).toInt(), 10061);
    EXPECT_EQ(failed.at(0).at(1).toString(), QStringLiteral("Socket Error(10061): Connection refused"));
}
