// Hostile and vanished viewers: a viewer that reads nothing, too many
// connections from one host, silent and idle connections, guessed log-ins and
// a program without descriptors left.
#include "server/clientguard.h"
#include "server/relayfixture.h"

#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A viewer that connects, asks for data and then never reads a byte.
class DeafViewer {
public:
    DeafViewer(quint16 port, const QByteArray &hello)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0
            && ::send(m_fd, hello.constData(), size_t(hello.size()), 0) == hello.size();
    }
    ~DeafViewer() { ::close(m_fd); }
    bool connected() const { return m_connected; }

private:
    int m_fd = -1;
    bool m_connected = false;
};

// What the server holds for a client: its own queue and the kernel's
// (all of it, or only what the peer's window has not let out yet).
qint64 heldFor(const RelayClient *c, unsigned long request = SIOCOUTQ)
{
    int kernel = 0;
    ::ioctl(c->socket->descriptor(), request, &kernel);
    return c->socket->bytesToWrite() + kernel;
}

QByteArray hdRecord(int n)
{
    return QByteArray("\xFF\xFE\xFD", 3) + QByteArray(1498, char('a' + n % 26)) + QByteArray(8, '\x01');
}

QHostAddress loopback(int n)
{
    return QHostAddress(QString("127.0.0.%1").arg(n));
}

class ViewerGuards : public RelayFixture {};

TEST(ClientGuardRules, LimitsThrottlingAndEpisodes)
{
    ClientGuard g;
    const QDateTime t0(QDate(2026, 12, 7), QTime(12, 0, 0));
    for (int i = 0; i < ClientGuard::kMaxPerAddress; ++i) {
        ASSERT_EQ(g.admit("10.0.0.1", t0).verdict, ClientGuard::Verdict::Accept);
        g.opened("10.0.0.1");
    }
    // The eleventh and later are refused; only the first refusal is reported.
    EXPECT_EQ(g.admit("10.0.0.1", t0).verdict, ClientGuard::Verdict::AddressFull);
    EXPECT_TRUE(g.admit("10.0.0.1", t0).verdict == ClientGuard::Verdict::AddressFull);
    EXPECT_TRUE(g.admit("10.0.0.2", t0).verdict == ClientGuard::Verdict::Accept);
    g.closed("10.0.0.1");
    EXPECT_EQ(g.admit("10.0.0.1", t0).verdict, ClientGuard::Verdict::Accept);
    g.opened("10.0.0.1");
    EXPECT_TRUE(g.admit("10.0.0.1", t0).report) << "a new episode is reported again";

    struct Case {
        const char *name;
        std::vector<int> failuresAtS; // seconds after t0
        bool throttled;
    };
    const Case cases[] = {
        {"five within a minute", {0, 10, 20, 30, 59}, true},
        {"four", {0, 1, 2, 3}, false},
        {"five spread over more than a minute", {0, 15, 30, 45, 60}, false},
    };
    for (const Case &c : cases) {
        ClientGuard h;
        int starts = 0;
        for (int s : c.failuresAtS)
            starts += h.loginFailed("10.0.0.9", t0.addSecs(s)) ? 1 : 0;
        const QDateTime last = t0.addSecs(c.failuresAtS.back());
        EXPECT_EQ(starts, c.throttled ? 1 : 0) << c.name;
        EXPECT_EQ(h.admit("10.0.0.9", last.addSecs(1)).verdict == ClientGuard::Verdict::Throttled, c.throttled)
            << c.name;
        EXPECT_EQ(h.admit("10.0.0.9", last.addSecs(61)).verdict, ClientGuard::Verdict::Accept) << c.name;
        EXPECT_EQ(h.admit("10.0.0.8", last.addSecs(1)).verdict, ClientGuard::Verdict::Accept) << c.name;
    }

    EXPECT_TRUE(g.reportClose("10.0.0.3", t0));
    EXPECT_FALSE(g.reportClose("10.0.0.3", t0.addSecs(59)));
    EXPECT_TRUE(g.reportClose("10.0.0.3", t0.addSecs(61)));
}

TEST_F(ViewerGuards, ViewerThatReadsNothingIsDroppedWithin30To40sAtTwoRecordsPerSecond)
{
    source.type = 2;
    auto server = makeServer();
    auto reader = connectClient(*server);
    reader->send("SC\rSD\r");
    DeafViewer deaf(server->serverPort(), "SC\rSD\r");
    ASSERT_TRUE(deaf.connected());
    ASSERT_TRUE(pumpUntil([&] {
        return server->clientCount() == 2 && !server->client(0)->hdHalted && !server->client(1)->hdHalted;
    }));
    ASSERT_TRUE(reader->waitFor(18));
    reader->take();
    const RelayClient *deafAtServer = server->client(1);

    // Records at 2 a second until the deaf viewer's own buffers are full and
    // bytes stay with the server: that is the first record it failed to take.
    QDateTime firstRefused;
    QDateTime dropped;
    qint64 received = 0;
    for (int i = 0; i < 20000; ++i) {
        source.store.fileRecord(RecordKind::Hd, hdRecord(i));
        server->relayTick();
        received += 1509;
        ASSERT_TRUE(reader->waitFor(received)) << "the reading viewer loses nothing";
        if (server->clientCount() == 1) {
            dropped = clock.now();
            break;
        }
        if (!firstRefused.isValid()
            && !pumpUntil([&] { return heldFor(deafAtServer, SIOCOUTQNSD) == 0; }, 2000))
            firstRefused = clock.now();
        EXPECT_LE(heldFor(deafAtServer), 256 * 1024);
        if (firstRefused.isValid() && firstRefused.msecsTo(clock.now()) > 60000)
            break;
        clock.advanceMs(500);
    }
    ASSERT_TRUE(firstRefused.isValid());
    ASSERT_TRUE(dropped.isValid()) << "still connected a minute after its first refused record";
    EXPECT_GE(firstRefused.msecsTo(dropped), 30000);
    EXPECT_LE(firstRefused.msecsTo(dropped), 40000);
    EXPECT_TRUE(log.line(0).endsWith(" disconnected: not reading its data")) << log.line(0).toStdString();
}

TEST_F(ViewerGuards, ElevenConnectionsFromOneAddress)
{
    auto server = makeServer();
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < ClientGuard::kMaxPerAddress; ++i)
        clients.push_back(connectClient(*server, loopback(2)));
    const int linesBefore = log.count();
    for (int i = 0; i < 3; ++i) {
        TestClient extra(server->serverPort(), loopback(2));
        ASSERT_TRUE(pumpUntil([&] { return extra.socket.state() == QAbstractSocket::UnconnectedState; }));
    }
    EXPECT_EQ(server->clientCount(), ClientGuard::kMaxPerAddress);
    ASSERT_EQ(log.count(), linesBefore + 1);
    EXPECT_TRUE(log.line(0).endsWith(
        "<Server1>    Connection from 127.0.0.2 refused: 10 connections from this address already open"));
    // Another host is still served; a peer that leaves stops counting at once.
    clients.push_back(connectClient(*server, loopback(3)));
    clients.front()->socket.disconnectFromHost();
    ASSERT_TRUE(pumpUntil([&] { return server->clientCount() == ClientGuard::kMaxPerAddress; }));
    clients.push_back(connectClient(*server, loopback(2)));
    EXPECT_EQ(server->clientCount(), ClientGuard::kMaxPerAddress + 1);
}

TEST_F(ViewerGuards, SilentAndIdleConnectionsAreClosed)
{
    struct Case {
        const char *name;
        bool requireAuth;
        QByteArray said;   // what the client sends after connecting
        QByteArray reply;  // and what it is answered
        qint64 closedAtMs; // -1: stays
    };
    const Case cases[] = {
        {"no login with authentication on", true, "", "", RelayServer::kLoginDeadlineMs},
        {"hello but no login", true, "SC\r", "SPASSWORD\r", RelayServer::kLoginDeadlineMs},
        {"failed login", true, "SPnobody:x\r", "INVALID PASSWORD\r", RelayServer::kLoginDeadlineMs},
        {"logged in, never starts data", true, "SPdemo:demo\r", "SVALID OBSERVER\r", RelayServer::kIdleLimitMs},
        {"silent without authentication", false, "", "", RelayServer::kIdleLimitMs},
        {"started data", false, "SC\rSD\r", "SVALID SUPERVISOR\r", -1},
    };
    source.type = 2;
    for (const Case &c : cases) {
        auto server = makeServer(1, c.requireAuth);
        server->setUsers({{"demo", "demo", "Observer"}});
        auto client = connectClient(*server);
        const QDateTime start = clock.now();
        if (!c.said.isEmpty()) {
            client->send(c.said);
            ASSERT_TRUE(client->waitFor(c.reply.size())) << c.name;
            EXPECT_EQ(client->take(), c.reply) << c.name;
            settle();
        }
        const qint64 stop = c.closedAtMs < 0 ? RelayServer::kIdleLimitMs * 2 : c.closedAtMs;
        for (qint64 t = 0; t <= stop && server->clientCount() == 1; t += 1000) {
            clock.set(start.addMSecs(t));
            server->relayTick();
        }
        if (c.closedAtMs < 0) {
            EXPECT_EQ(server->clientCount(), 1) << c.name;
        } else {
            EXPECT_EQ(server->clientCount(), 0) << c.name;
            EXPECT_EQ(start.msecsTo(clock.now()), c.closedAtMs) << c.name;
            EXPECT_TRUE(pumpUntil([&] { return client->socket.state() == QAbstractSocket::UnconnectedState; }))
                << c.name;
        }
        clock.advanceMs(120000); // the next case is a new episode
    }
}

TEST_F(ViewerGuards, FiveFailedLoginsRefuseTheAddressForAMinute)
{
    source.type = 2;
    auto server = makeServer(1, true);
    server->setUsers({{"demo", "demo", "Operator"}});
    std::vector<std::unique_ptr<TestClient>> guessers; // each stays connected
    for (int i = 0; i < ClientGuard::kMaxFailedLogins; ++i) {
        guessers.push_back(connectClient(*server, loopback(4)));
        TestClient *c = guessers.back().get();
        c->send("SPdemo:guess" + QByteArray::number(i) + "\r");
        ASSERT_TRUE(c->waitFor(17));
        EXPECT_EQ(c->take(), QByteArray("INVALID PASSWORD\r")) << "the reply stays as it is";
        clock.advanceMs(5000);
    }
    EXPECT_TRUE(log.line(0).endsWith(
        "<Server1>    Connections from 127.0.0.4 refused for 60 s: 5 failed logins within a minute"));
    const int lines = log.count();
    for (int i = 0; i < 2; ++i) {
        TestClient refused(server->serverPort(), loopback(4));
        ASSERT_TRUE(pumpUntil([&] { return refused.socket.state() == QAbstractSocket::UnconnectedState; }));
    }
    EXPECT_EQ(log.count(), lines) << "one line for the whole minute";
    auto other = connectClient(*server, loopback(5));
    other->send("SPdemo:demo\r");
    ASSERT_TRUE(other->waitFor(16));
    EXPECT_EQ(other->take(), QByteArray("SVALID OPERATOR\r"));
    clock.advanceMs(60000);
    auto back = connectClient(*server, loopback(4));
    back->send("SPdemo:demo\r");
    ASSERT_TRUE(back->waitFor(16));
}

TEST_F(ViewerGuards, ConnectionWithoutADescriptorIsRefusedWithOneLine)
{
    auto server = makeServer();
    auto first = connectClient(*server);
    // A second server has no client and so no housekeeping until its
    // listener fails; its own timer must then refuse for it.
    auto idle = makeServer(1, false, 2);
    idle->setTimerRunning(true);
    // Sockets made now; the limit then leaves no descriptor for the servers.
    std::vector<int> fds;
    for (int i = 0; i < 4; ++i)
        fds.push_back(::socket(AF_INET, SOCK_STREAM, 0));
    const int lowestFree = ::dup(0);
    ::close(lowestFree);
    rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit tight = old;
    tight.rlim_cur = rlim_t(lowestFree);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (size_t i = 0; i < fds.size(); ++i) {
        a.sin_port = htons(i < 3 ? server->serverPort() : idle->serverPort());
        ::connect(fds[i], reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    const int lines = log.count();
    // Each waiting connection is closed: its peer reads the end of the stream.
    for (int fd : fds) {
        char byte;
        ASSERT_TRUE(pumpUntil([&] {
            server->relayTick();
            return ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
        }, 10000));
    }
    ::setrlimit(RLIMIT_NOFILE, &old);
    for (int fd : fds)
        ::close(fd);
    ASSERT_EQ(log.count(), lines + 2);
    EXPECT_TRUE(log.lines().filter("Connection refused: Too many open files").join('\n').contains("<Server1>"));
    EXPECT_TRUE(log.lines().filter("Connection refused: Too many open files").join('\n').contains("<Server2>"));
    EXPECT_EQ(server->clientCount(), 1);
    server->relayTick(); // descriptors free again: accepting resumes
    idle->relayTick();
    auto next = connectClient(*server);
    EXPECT_EQ(server->clientCount(), 2) << "the server goes on accepting";
    EXPECT_FALSE(idle->housekeepingScheduled()) << "nothing wrong: no wake-ups";
    auto viewer = connectClient(*idle);
}

} // namespace
