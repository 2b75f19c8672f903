// Relay of records: every record pushed when filed, servers sharing a source, the log
// player as source, a client that does not read, and the listener's failures.
#include "server/relayfixture.h"
#include "server/relayservers.h"
#include "support/freeport.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>

namespace {

QByteArray arxRecord(char fill)
{
    return QByteArray("\xFF\xFE\xFD", 3) + QByteArray(97, fill) + QByteArray(8, '\x01');
}

const QByteArray kHelloStart("\x01\xFE\x04\xFE", 4);

// A settings file's port line with a port free just now (a file cannot hold 0).
QByteArray portLine()
{
    return QByteArray::number(testsupport::freePort()).rightJustified(6, ' ');
}

class RecordRelay : public RelayFixture {
protected:
    // Marks server n to be enabled on startup and loads all eight. Should another program
    // take the probed port before the server listens on it, the server stays off, and the
    // load is tried again on a fresh port.
    std::unique_ptr<RelayServers> loadWithMarked(int n, QList<RelayServers::LoadFailure> &failures)
    {
        for (int attempt = 0; attempt < 5; ++attempt) {
            QFile cfg(dir.path() + QString("/CONFIG/Server%1.CFG").arg(n));
            if (!cfg.open(QIODevice::WriteOnly | QIODevice::Truncate))
                return nullptr;
            cfg.write(" 1\r\n1\r\n" + portLine() + "\r\n0\r\n");
            cfg.close();
            auto servers = std::make_unique<RelayServers>(dir.path(), log, clock, resolver);
            failures = servers->loadAll();
            if (servers->server(n)->isEnabled())
                return servers;
        }
        return nullptr;
    }
};

TEST_F(RecordRelay, EveryRecordGoesOutWhenFiledWithoutATimer)
{
    auto server = makeServer();
    server->setTimerRunning(true);
    EXPECT_FALSE(server->housekeepingScheduled()); // no viewers: no wake-ups
    auto c = connectClient(*server);
    c->send(kHelloStart);
    ASSERT_TRUE(c->waitFor(18));
    c->take();
    // Two frames cut in one poll both reach the viewer, in order.
    source.store.fileRecord(RecordKind::Arx, arxRecord('1'));
    source.store.fileRecord(RecordKind::Arx, arxRecord('2'));
    ASSERT_TRUE(c->waitFor(216));
    server->relayTick(); // housekeeping sends nothing again
    pumpFor(50);
    EXPECT_EQ(c->take(), arxRecord('1') + arxRecord('2'));
    EXPECT_FALSE(server->housekeepingScheduled()); // a viewer that reads costs none either
}

// Epoll sets this process holds open.
int epollSets()
{
    int n = 0;
    for (const QString &fd : QDir("/proc/self/fd").entryList(QDir::System | QDir::NoDotAndDotDot)) {
        char target[64] = {};
        const QByteArray path = "/proc/self/fd/" + fd.toLatin1();
        n += ::readlink(path.constData(), target, sizeof target - 1) > 0 && std::strcmp(target, "anon_inode:[eventpoll]") == 0;
    }
    return n;
}

TEST_F(RecordRelay, TwoServersOnOneSourceBothRelayEveryRecord)
{
    const int setsBefore = epollSets();
    auto s1 = makeServer(1, false, 1);
    auto s2 = makeServer(1, false, 2);
    // Their viewers are watched through one descriptor for both.
    EXPECT_EQ(epollSets(), setsBefore + 1);
    auto a = connectClient(*s1);
    auto b = connectClient(*s2);
    a->send(kHelloStart);
    b->send(kHelloStart);
    ASSERT_TRUE(a->waitFor(18) && b->waitFor(18));
    a->take();
    b->take();
    for (char n : {'x', 'y'}) {
        source.store.fileRecord(RecordKind::Arx, arxRecord(n));
        s1->relayTick();
        s2->relayTick();
        ASSERT_TRUE(a->waitFor(108) && b->waitFor(108));
        EXPECT_EQ(a->take(), arxRecord(n));
        EXPECT_EQ(b->take(), arxRecord(n));
    }
    // One server gone (its viewer with it), the other's viewer still gets every record.
    s2.reset();
    source.store.fileRecord(RecordKind::Arx, arxRecord('z'));
    s1->relayTick();
    ASSERT_TRUE(a->waitFor(108));
    EXPECT_EQ(a->take(), arxRecord('z'));
    s1.reset();
    EXPECT_EQ(epollSets(), setsBefore);
}

TEST_F(RecordRelay, LogPlayerSourceIsArxWithoutCommands)
{
    player.type = 0;
    player.model = "KM71";
    source.type = 2; // must not matter for source 9
    auto server = makeServer(9);
    EXPECT_EQ(server->sourceType(), 0);
    auto c = connectClient(*server);
    c->send(kHelloStart + QByteArray("\x07\xFE\x08\x01\xFE", 5));
    ASSERT_TRUE(c->waitFor(19));
    EXPECT_EQ(c->take(), QByteArray("SVALID SUPERVISOR\xFF\xFF"));
    player.store.fileRecord(RecordKind::Arx, arxRecord('p'));
    server->relayTick();
    ASSERT_TRUE(c->waitFor(108));
    EXPECT_EQ(c->take(), arxRecord('p'));
    EXPECT_TRUE(player.commands.isEmpty());
}

TEST_F(RecordRelay, ClientThatDoesNotReadIsCappedThenDropped)
{
    source.type = 2;
    auto server = makeServer();
    auto fast = connectClient(*server);
    QTcpSocket slow;
    slow.setReadBufferSize(1); // takes nothing off the wire
    slow.connectToHost(QHostAddress::LocalHost, server->serverPort());
    ASSERT_TRUE(pumpUntil([&] { return server->clientCount() == 2; }));
    fast->send("SC\rSD\r");
    slow.write("SC\rSD\r");
    ASSERT_TRUE(pumpUntil([&] { return !server->client(1)->hdHalted && !server->client(0)->hdHalted; }));
    fast->take();

    // Records far bigger than real ones fill the kernel buffers quickly.
    const QByteArray record = QByteArray("\xFF\xFE\xFD", 3) + QByteArray(60000, 'b');
    const ClientSocket *slowAtServer = server->client(1)->socket.get();
    int sent = 0;
    for (; sent < 400 && slowAtServer->bytesToWrite() < RelayServer::kSendCap; ++sent) {
        source.store.fileRecord(RecordKind::Hd, record);
        server->relayTick();
        ASSERT_TRUE(fast->waitFor(qsizetype(record.size()) * (sent + 1)));
    }
    ASSERT_GE(slowAtServer->bytesToWrite(), RelayServer::kSendCap);
    // Over the cap: further records skip the slow client, the fast one keeps up.
    for (int i = 0; i < 20; ++i) {
        source.store.fileRecord(RecordKind::Hd, record);
        server->relayTick();
        ++sent;
        ASSERT_TRUE(fast->waitFor(qsizetype(record.size()) * sent));
        clock.advanceMs(1000);
    }
    EXPECT_LT(slowAtServer->bytesToWrite(), RelayServer::kSendCap + record.size());
    // The kernel's share is bounded too: about 256 KiB held for it in all.
    int kernel = 0;
    ::ioctl(slowAtServer->descriptor(), SIOCOUTQ, &kernel);
    EXPECT_LE(slowAtServer->bytesToWrite() + kernel, 256 * 1024) << kernel;
    EXPECT_EQ(server->clientCount(), 2);

    clock.advanceMs(10000);
    server->relayTick();
    EXPECT_EQ(server->clientCount(), 1);
    EXPECT_TRUE(log.line(0).startsWith("STATUS(")) << log.line(0).toStdString();
    EXPECT_TRUE(log.line(0).contains("127.0.0.1:" + QString::number(slow.localPort())));
}

TEST_F(RecordRelay, PortInUseGivesErrorAndOneLine)
{
    QTcpServer blocker;
    ASSERT_TRUE(blocker.listen(QHostAddress::Any, 0));
    RelayServer server(3, dir.path(), log, clock, resolver);
    server.setSettings({1, false, blocker.serverPort(), false});
    server.enable();
    EXPECT_FALSE(server.isEnabled());
    EXPECT_TRUE(server.isFailed());
    EXPECT_EQ(server.statusRow().status, QString("Error"));
    ASSERT_EQ(log.count(), 1);
    EXPECT_TRUE(log.line(0).startsWith("ERROR ("));
    EXPECT_TRUE(log.line(0).contains(">   Socket Error(10048): "));
    EXPECT_TRUE(log.line(0).contains("<Server3>"));
    blocker.close();
    server.enable(); // pressing "Enable" again retries
    EXPECT_TRUE(server.isEnabled());
    EXPECT_EQ(server.statusRow().status, QString("Enabled"));
    server.disable();
    EXPECT_EQ(server.statusRow().status, QString("Disabled"));
}

TEST_F(RecordRelay, ListensOnTheBindAddressAndRefusesOneItCannotHave)
{
    RelayServer server(4, dir.path(), log, clock, resolver);
    server.setSettings({1, false, 0, false, "127.0.0.1"});
    server.enable();
    ASSERT_TRUE(server.isEnabled());
    EXPECT_EQ(server.statusRow().address, QString("127.0.0.1"));
    TestClient client(server.serverPort());
    EXPECT_TRUE(client.waitConnected());
    EXPECT_EQ(log.count(), 0);

    // Not an address, and an address of no interface here: Error, one line each.
    for (const char *bad : {"studio-pc", "192.0.2.1"}) {
        log.clear();
        server.setSettings({1, false, 0, false, bad});
        server.enable();
        EXPECT_TRUE(server.isFailed()) << bad;
        ASSERT_EQ(log.count(), 1) << bad;
        EXPECT_TRUE(log.line(0).contains("<Server4>   Socket Error(10049): ")) << log.line(0).toStdString();
    }
}

TEST_F(RecordRelay, FirstStartCreatesAllFilesAndEnablesNothing)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("CONFIG"));
    RelayServers servers(dir.path(), log, clock, resolver);
    ASSERT_TRUE(servers.loadAll().isEmpty());
    for (int n = 1; n <= 8; ++n) {
        QFile cfg(dir.path() + QString("/CONFIG/Server%1.CFG").arg(n));
        ASSERT_TRUE(cfg.open(QIODevice::ReadOnly));
        EXPECT_EQ(cfg.readAll(), " " + QByteArray::number(n) + "\r\n0\r\n    8" + QByteArray::number(n) + "\r\n0\r\n");
        EXPECT_EQ(servers.server(n)->objectName(), QString("Server%1").arg(n));
        EXPECT_FALSE(servers.server(n)->isEnabled());
    }
    EXPECT_TRUE(QFile::exists(dir.path() + "/CONFIG/Server8.USR"));
}

TEST_F(RecordRelay, StartupEnablesMarkedServerAndCloseDisablesAll)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("CONFIG"));
    QList<RelayServers::LoadFailure> failures;
    const auto loaded = loadWithMarked(2, failures);
    ASSERT_TRUE(loaded);
    EXPECT_TRUE(failures.isEmpty());
    RelayServers &servers = *loaded;
    TestClient c(servers.server(2)->serverPort());
    ASSERT_TRUE(c.waitConnected());
    ASSERT_TRUE(pumpUntil([&] { return servers.server(2)->clientCount() == 1; }));
    servers.disableAll();
    EXPECT_FALSE(servers.server(2)->isEnabled());
    EXPECT_EQ(servers.server(2)->clientCount(), 0);
    EXPECT_TRUE(pumpUntil([&] { return c.socket.state() == QAbstractSocket::UnconnectedState; }));
}

TEST_F(RecordRelay, AServerWhoseFilesFailDoesNotStopTheOthers)
{
    {
        RelayServers servers(dir.path(), log, clock, resolver);
        const auto failures = servers.loadAll(); // no CONFIG directory: every server fails
        ASSERT_EQ(failures.size(), 8);
        EXPECT_EQ(failures[0].serverName, QString("Server1"));
        EXPECT_TRUE(failures[0].error.contains("Server1.CFG"));
    }
    ASSERT_TRUE(QDir(dir.path()).mkdir("CONFIG"));
    QFile bad(dir.path() + "/CONFIG/Server3.CFG");
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(" x\r\n1\r\n");
    bad.close();
    QList<RelayServers::LoadFailure> failures;
    const auto servers = loadWithMarked(5, failures);
    ASSERT_TRUE(servers);
    ASSERT_EQ(failures.size(), 1);
    EXPECT_EQ(failures[0].serverName, QString("Server3"));
    EXPECT_TRUE(QFile::exists(dir.path() + "/CONFIG/Server8.USR"));
}

} // namespace

TEST_F(RecordRelay, ConnectionsAreKeptForTheConnectionsLog)
{
    auto server = makeServer();
    clock.set(QDateTime(QDate(2026, 12, 7), QTime(9, 30, 0)));
    auto a = connectClient(*server);
    clock.advanceMs(5000);
    auto b = connectClient(*server);
    const auto &entries = server->connectionLog();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].address, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(entries[0].port, a->socket.localPort());
    EXPECT_EQ(entries[0].when, QDateTime(QDate(2026, 12, 7), QTime(9, 30, 0)));
    EXPECT_EQ(entries[1].port, b->socket.localPort());
    EXPECT_EQ(entries[1].when, QDateTime(QDate(2026, 12, 7), QTime(9, 30, 5)));
    // Bounded: a busy server keeps only the newest connections.
    for (int i = 0; i < RelayServer::kConnectionLogSize + 3; ++i) {
        auto c = connectClient(*server);
        c->socket.abort();
        pumpUntil([&] { return server->clientCount() == 2; });
    }
    EXPECT_EQ(server->connectionLog().size(), size_t(RelayServer::kConnectionLogSize));
}

TEST_F(RecordRelay, ConnectionsBeyondTheLimitAreRefusedAndReportedOnce)
{
    auto server = makeServer();
    std::vector<std::unique_ptr<TestClient>> clients;
    // Each starts its data: connections that have not are limited apart.
    for (int i = 0; i < RelayServer::kMaxClients; ++i) {
        clients.push_back(connectClient(*server, QHostAddress(QString("127.0.0.%1").arg(2 + i / 10))));
        clients.back()->send(QByteArray("\x04\xFE", 2));
        ASSERT_TRUE(pumpUntil([&] { return server->client(i)->started; })) << i;
    }
    const int linesBefore = log.count();
    for (int i = 0; i < 3; ++i) {
        TestClient extra(server->serverPort());
        ASSERT_TRUE(pumpUntil([&] { return extra.socket.state() == QAbstractSocket::UnconnectedState; }));
    }
    EXPECT_EQ(server->clientCount(), RelayServer::kMaxClients);
    ASSERT_EQ(log.count(), linesBefore + 1);
    EXPECT_TRUE(log.line(0).endsWith("<Server1>    Connection from 127.0.0.1 refused: 100 clients already connected"));
}
