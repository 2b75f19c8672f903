#include "link/networklink.h"
#include "support/waitfor.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>


TEST(NetworkLink, ConnectsSendsAndReceivesEveryByte)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    NetworkLink link;
    QSignalSpy connected(&link, &NetworkLink::connected);
    // Zero-padded parts are decimal, as engineers write them.
    link.open(QStringLiteral("127.000.000.001"), server.serverPort(), QString());
    ASSERT_TRUE(waitFor([&] { return connected.count() == 1 && server.hasPendingConnections(); }));
    QTcpSocket *unit = server.nextPendingConnection();
    EXPECT_EQ(link.remoteAddress(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(link.remotePort(), QString::number(server.serverPort()));
    EXPECT_EQ(link.localAddress(), QStringLiteral("127.0.0.1"));
    EXPECT_FALSE(link.localHost().isEmpty());

    QByteArray every;
    for (int i = 0; i < 256; ++i)
        every.append(char(i));
    link.send(every);
    QByteArray atUnit;
    ASSERT_TRUE(waitFor([&] {
        atUnit += unit->readAll();
        return atUnit.size() >= 256;
    }));
    EXPECT_EQ(atUnit, every);
    unit->write(every);
    QByteArray atPage;
    ASSERT_TRUE(waitFor([&] {
        atPage += link.readSome(1000);
        return atPage.size() >= 256;
    }));
    EXPECT_EQ(atPage, every);
}

TEST(NetworkLink, HostNameTakesPrecedenceOverTheAddress)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    NetworkLink link;
    QSignalSpy connected(&link, &NetworkLink::connected);
    link.open(QStringLiteral("000.000.000.000"), server.serverPort(), QStringLiteral("localhost"));
    EXPECT_TRUE(waitFor([&] { return connected.count() == 1; }));
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

TEST(NetworkLink, BytesSentJustBeforeClosingReachThePeer)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    NetworkLink link;
    QSignalSpy connected(&link, &NetworkLink::connected);
    link.open(QStringLiteral("127.0.0.1"), server.serverPort(), QString());
    ASSERT_TRUE(waitFor([&] { return connected.count() == 1 && server.hasPendingConnections(); }));
    QTcpSocket *unit = server.nextPendingConnection();
    // A log-off followed at once by the close, with no event loop in between.
    link.send(QByteArray("\x02\xFE", 2));
    link.close();
    EXPECT_FALSE(link.isActive());
    QByteArray atUnit;
    EXPECT_TRUE(waitFor([&] {
        atUnit += unit->readAll();
        return atUnit.size() >= 2;
    }));
    EXPECT_EQ(atUnit, QByteArray("\x02\xFE", 2));
}
