// Hostile and vanished viewers: a viewer that reads nothing, too many
// connections from one host, silent and idle connections, guessed log-ins and
// a program without descriptors left.
#include "server/clientguard.h"
#include "server/reportgate.h"
#include "server/relayfixture.h"

#include <QRegularExpression>

#include <arpa/inet.h>
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

// A refused host stays refused for its minute whatever else arrives; an IPv6
// host counts by its /64; across hosts, more than 30 failures a minute slow
// the server's log-ins for a minute.
TEST(ClientGuardRules, ThrottleMemoryPrefixesAndServerBudget)
{
    const QDateTime t0(QDate(2026, 12, 7), QTime(12, 0, 0));
    struct Case {
        const char *name;
        QStringList failing;    // one failure from each, in turn, every 10 ms
        QString probe;          // admitted 30 s after t0
        bool probeThrottled;
        bool slowing;           // at 30 s
    };
    // n different IPv4 hosts under `first.`
    const auto hosts = [](int n, int first) {
        QStringList out;
        for (int i = 0; i < n; ++i)
            out << QString("%1.%2.%3.%4").arg(first).arg(i / 65536).arg((i / 256) % 256).arg(i % 256);
        return out;
    };
    const QStringList fresh = hosts(1100, 127);
    const QStringList blocked(5, "127.0.0.9");
    const Case cases[] = {
        {"blocked, then 1,100 fresh addresses", blocked + fresh, "127.0.0.9", true, true},
        {"five from one IPv6 /64", {"2001:db8::1", "2001:db8::2", "2001:db8::3", "2001:db8::4", "2001:db8::ff:5"},
         "2001:db8::abcd", true, false},
        {"another /64 is not refused", {"2001:db8::1", "2001:db8::2", "2001:db8::3", "2001:db8::4", "2001:db8::5"},
         "2001:db8:0:1::1", false, false},
        {"four each from IPv4 neighbours", QStringList{"10.0.0.1", "10.0.0.2"} + QStringList(4, "10.0.0.3"),
         "10.0.0.3", false, false},
        {"30 failures across hosts", hosts(30, 11), "10.2.0.1", false, false},
        {"31 failures across hosts", hosts(31, 11), "10.2.0.1", false, true},
    };
    for (const Case &c : cases) {
        ClientGuard g;
        QDateTime t = t0;
        for (const QString &a : c.failing) {
            g.admit(a, t);
            g.opened(a);
            g.loginFailed(a, t);
            g.closed(a);
            t = t.addMSecs(10);
        }
        const QDateTime probeAt = t0.addSecs(30);
        EXPECT_EQ(g.admit(c.probe, probeAt).verdict == ClientGuard::Verdict::Throttled, c.probeThrottled) << c.name;
        EXPECT_EQ(g.slowingLogins(probeAt), c.slowing) << c.name;
        EXPECT_EQ(g.takeSlowingStarted(), c.slowing) << c.name;
        EXPECT_FALSE(g.takeSlowingStarted()) << c.name << ": reported once";
        EXPECT_LE(g.rememberedAddresses(), ClientGuard::kMaxRemembered + 1) << c.name;
        // Over at the end of its minute, and slowing with it.
        const QDateTime later = t.addSecs(61);
        EXPECT_EQ(g.admit(c.probe, later).verdict, ClientGuard::Verdict::Accept) << c.name;
        EXPECT_FALSE(g.slowingLogins(later)) << c.name;
    }
}

TEST(ReportGateRules, OneLinePerAddressAndKindAMinuteThenASummary)
{
    const QDateTime t0(QDate(2026, 12, 7), QTime(12, 0, 0));
    ReportGate gate;
    struct Step {
        qint64 atMs;
        const char *address;
        const char *kind;
        bool passes;
    };
    const Step steps[] = {
        {0, "10.0.0.1", "Socket Error(10054)", true},
        {10, "10.0.0.1", "Socket Error(10054)", false},
        {20, "10.0.0.1", "Failed login", true},  // another kind
        {30, "10.0.0.2", "Socket Error(10054)", true}, // another address
        {59999, "10.0.0.1", "Socket Error(10054)", false},
    };
    for (const Step &s : steps)
        EXPECT_EQ(gate.pass(s.address, s.kind, 0, t0.addMSecs(s.atMs)), s.passes) << s.atMs << " " << s.kind;
    for (int i = 0; i < 1232; ++i)
        gate.pass("10.0.0.1", "Socket Error(10054)", 0, t0.addMSecs(40000));
    EXPECT_TRUE(gate.holding());
    EXPECT_TRUE(gate.due(t0.addMSecs(59999)).empty()) << "not before the minute is over";
    const auto summaries = gate.due(t0.addMSecs(60000));
    ASSERT_EQ(summaries.size(), 1u) << "kinds and addresses that held nothing back say nothing more";
    EXPECT_EQ(summaries[0].text,
              QString("Socket Error(10054) \u2026 and 1,234 more from 10.0.0.1 in the last minute"));
    EXPECT_FALSE(gate.holding());
    EXPECT_TRUE(gate.pass("10.0.0.1", "Socket Error(10054)", 0, t0.addMSecs(60001))) << "a new minute";

    // Past the bound on remembered pairs, the rest count together.
    ReportGate full;
    for (int i = 0; i < ReportGate::kMaxTracked + 5; ++i)
        full.pass(QString("10.9.%1.%2").arg(i / 256).arg(i % 256), "Failed login", 1, t0);
    EXPECT_EQ(full.tracked(), ReportGate::kMaxTracked + 1);
    const auto rest = full.due(t0.addSecs(60));
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].text, QString("Failed login \u2026 and 5 more from other addresses in the last minute"));
    EXPECT_EQ(rest[0].level, 1);
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

// A viewer that takes everything costs a look at its queues only every few
// seconds; one with bytes waiting in the server is looked at on every pass
// (the rule above is what such looks are for).
TEST_F(ViewerGuards, ViewerThatKeepsUpIsLookedAtOnlyEveryFewSeconds)
{
    source.type = 2;
    auto server = makeServer();
    auto reader = connectClient(*server);
    reader->send("SC\rSD\r");
    ASSERT_TRUE(pumpUntil([&] { return server->clientCount() == 1 && !server->client(0)->hdHalted; }));
    ASSERT_TRUE(reader->waitFor(18));
    reader->take();
    const RelayClient *c = server->client(0);
    const qint64 t0 = clock.now().toMSecsSinceEpoch();
    QList<qint64> looks;
    qint64 received = 0;
    for (int i = 0; i < 10; ++i) {
        source.store.fileRecord(RecordKind::Hd, hdRecord(i));
        received += 1509;
        ASSERT_TRUE(reader->waitFor(received));
        ASSERT_TRUE(pumpUntil([&] { return heldFor(c) == 0; })) << "taken and acknowledged";
        if (looks.isEmpty() || looks.last() != c->lastLookMs - t0)
            looks << c->lastLookMs - t0;
        clock.advanceMs(1000);
    }
    EXPECT_EQ(looks, (QList<qint64>{0, RelayServer::kQuietLookMs, 2 * RelayServer::kQuietLookMs}));
    EXPECT_TRUE(c->keptUp);
    EXPECT_LT(c->stallSinceMs, 0);
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
    // Another host is still served (from another /24: ten connections not
    // started fill one); a peer that leaves stops counting at once.
    clients.push_back(connectClient(*server, QHostAddress("127.0.1.3")));
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
        {"silent without authentication", false, "", "", RelayServer::kSilenceLimitMs},
        {"a byte without authentication, then nothing", false, "S", "", RelayServer::kIdleLimitMs},
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
            ASSERT_TRUE(pumpUntil([&] { return server->client(0)->spoke; })) << c.name;
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
    QStringList refusals;
    QObject::connect(server.get(), &RelayServer::throttledAddressRefused,
                     [&](const QString &address) { refusals << address; });
    const int lines = log.count();
    for (int i = 0; i < 2; ++i) {
        TestClient refused(server->serverPort(), loopback(4));
        ASSERT_TRUE(pumpUntil([&] { return refused.socket.state() == QAbstractSocket::UnconnectedState; }));
    }
    EXPECT_EQ(log.count(), lines) << "one line for the whole minute";
    EXPECT_EQ(refusals, (QStringList{"127.0.0.4", "127.0.0.4"})) << "every refusal is signalled";
    auto other = connectClient(*server, loopback(5));
    other->send("SPdemo:demo\r");
    ASSERT_TRUE(other->waitFor(16));
    EXPECT_EQ(other->take(), QByteArray("SVALID OPERATOR\r"));
    clock.advanceMs(60000);
    auto back = connectClient(*server, loopback(4));
    back->send("SPdemo:demo\r");
    ASSERT_TRUE(back->waitFor(16));
}

QStringList linesWith(const MessageLog &log, const QString &text)
{
    return log.lines().filter(text);
}

// A raw connection from `from`, closed with a reset as a host that aborts it
// does.
class ResettingClient {
public:
    ResettingClient(quint16 port, const char *from)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        ::inet_pton(AF_INET, from, &a.sin_addr);
        ::bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        a.sin_port = htons(port);
        ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
        ::connect(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    ~ResettingClient() { reset(); }
    void reset()
    {
        if (m_fd < 0)
            return;
        const linger hard {1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

// Without a log-in the dialect cannot tell who changes the analyzer: with
// authentication required its clients read, and nothing else is passed on.
TEST_F(ViewerGuards, Kx71ClientsOnlyReadWithAuthenticationRequired)
{
    const QByteArray frame = "\x01\x02stored frame";
    const struct {
        const char *name;
        bool requireAuth;
        QByteArray command; // sent twice
        QList<QByteArray> forwarded;
        int refusalLines;
    } cases[] = {
        {"settings command, authentication off", false, "M1\r", {"M\r", "M\r"}, 0},
        {"settings command, authentication on", true, "M1\r", {}, 1},
        {"another settings command, on", true, "H1\r", {}, 1},
        {"data request, on", true, "D1\r", {}, 0},
    };
    source.type = 1;
    source.kxFrames['1'] = frame;
    for (const auto &c : cases) {
        source.commands.clear();
        auto server = makeServer(1, c.requireAuth);
        const int before = linesWith(log, "may not change the analyzer's settings").size();
        auto client = connectClient(*server);
        for (int i = 0; i < 2; ++i) {
            client->send(c.command);
            ASSERT_TRUE(client->waitFor(frame.size())) << c.name << ": data is always answered";
            EXPECT_EQ(client->take(), frame) << c.name;
        }
        EXPECT_EQ(source.commands, c.forwarded) << c.name;
        // Served on: the dialect has no log-in to wait for.
        clock.advanceMs(RelayServer::kLoginDeadlineMs);
        server->relayTick();
        EXPECT_EQ(server->clientCount(), 1) << c.name;
        const QStringList lines = linesWith(log, "may not change the analyzer's settings");
        EXPECT_EQ(lines.size() - before, c.refusalLines) << c.name << ": one line per client";
        if (c.refusalLines > 0) {
            EXPECT_TRUE(lines.first().contains(
                "<Server1>    KX-71 client 127.0.0.1:" + QString::number(client->socket.localPort())
                + " may not change the analyzer's settings (\"Require Authentication\" is on): its commands are "
                  "not passed on"))
                << lines.first().toStdString();
        }
        clock.advanceMs(120000); // the next case is a new minute
    }
}

TEST_F(ViewerGuards, OnlyAllowedClientNetworksConnect)
{
    auto server = makeServer();
    ServerSettings settings = server->settings();
    settings.allowedClients = QStringList{"127.0.0.2", "10.0.0.0/8"};
    server->setSettings(settings);
    const int before = log.count();
    for (int i = 0; i < 3; ++i) {
        TestClient outsider(server->serverPort(), loopback(3));
        ASSERT_TRUE(pumpUntil([&] { return outsider.socket.state() == QAbstractSocket::UnconnectedState; }));
    }
    EXPECT_EQ(server->clientCount(), 0);
    ASSERT_EQ(log.count(), before + 1) << "one line per address a minute";
    EXPECT_TRUE(log.line(0).endsWith("<Server1>    Connection from 127.0.0.3 refused: not in the allowed client networks"));
    auto insider = connectClient(*server, loopback(2));
    EXPECT_EQ(server->clientCount(), 1);
}

// Connections that have not logged in: 10 per /24, 30 per server; one that
// has logged in makes room and is never counted.
TEST_F(ViewerGuards, ConnectionsNotLoggedInAreLimitedPerNetworkAndServer)
{
    source.type = 2;
    auto server = makeServer(1, true);
    server->setUsers({{"demo", "demo", "Observer"}});
    std::vector<std::unique_ptr<TestClient>> waiting;
    const auto from = [](int net, int host) { return QHostAddress(QString("127.0.%1.%2").arg(net).arg(host)); };
    const struct {
        int nets;          // networks 127.0.0.0/24 ... filled with ten each first
        int net, host;     // then this one tries
        const char *line;  // and is refused with this line
    } refusals[] = {
        {1, 0, 12, "Connection from 127.0.0.12 refused: 10 connections from 127.0.0.0/24 not logged in yet"},
        {3, 3, 2, "Connection from 127.0.3.2 refused: 30 connections not logged in yet on this server"},
    };
    for (const auto &r : refusals) {
        for (int net = int(waiting.size()) / 10; net < r.nets; ++net) {
            for (int h = 2; h < 12; ++h)
                waiting.push_back(connectClient(*server, from(net, h)));
        }
        TestClient refused(server->serverPort(), from(r.net, r.host));
        ASSERT_TRUE(pumpUntil([&] { return refused.socket.state() == QAbstractSocket::UnconnectedState; }));
        EXPECT_TRUE(log.line(0).endsWith(r.line)) << log.line(0).toStdString();
    }
    ASSERT_EQ(server->clientCount(), 30);
    waiting.front()->send("SPdemo:demo\r");
    ASSERT_TRUE(waiting.front()->waitFor(16));
    ASSERT_TRUE(pumpUntil([&] { return server->client(0)->loggedIn; }));
    auto next = connectClient(*server, from(3, 2)); // room again, and a logged-in viewer is not counted
    EXPECT_EQ(server->clientCount(), 31);
}

// Past 30 failed log-ins a minute from all addresses every answer waits 2 s,
// at most ten wait, and further log-ins are refused.
TEST_F(ViewerGuards, ServerLoginBudgetSlowsLoginsForAMinute)
{
    source.type = 2;
    auto server = makeServer(1, true);
    server->setUsers({{"demo", "demo", "Operator"}});
    for (int i = 0; i <= ClientGuard::kServerFailureBudget; ++i) {
        auto guesser = connectClient(*server, QHostAddress(QString("127.1.%1.1").arg(i)));
        guesser->send("SPdemo:guess\r");
        ASSERT_TRUE(guesser->waitFor(17)) << i;
        guesser->socket.disconnectFromHost();
        ASSERT_TRUE(pumpUntil([&] { return server->clientCount() == 0; }));
    }
    EXPECT_EQ(linesWith(log, "Log-ins slowed for 60 s: more than 30 failed logins within a minute from all "
                             "addresses; each answer now waits 2 s")
                  .size(),
              1);
    std::vector<std::unique_ptr<TestClient>> waiting;
    for (int i = 0; i < RelayServer::kMaxWaitingLogins; ++i) {
        waiting.push_back(connectClient(*server, QHostAddress(QString("127.2.%1.1").arg(i))));
        waiting.back()->send("SPdemo:demo\rSD\r");
        ASSERT_TRUE(pumpUntil([&] { return server->client(i)->loginPending; }));
    }
    auto refused = connectClient(*server, QHostAddress("127.3.0.1"));
    refused->send("SPdemo:demo\r");
    ASSERT_TRUE(pumpUntil([&] { return server->client(RelayServer::kMaxWaitingLogins)->dropNow; }));
    server->relayTick();
    ASSERT_TRUE(pumpUntil([&] { return refused->socket.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_TRUE(log.line(0).endsWith("disconnected: log-ins slowed, 10 already waiting")) << log.line(0).toStdString();
    EXPECT_TRUE(waiting.front()->received.isEmpty()) << "no answer before its time";
    clock.advanceMs(RelayServer::kSlowAnswerMs);
    server->relayTick();
    for (auto &c : waiting)
        ASSERT_TRUE(c->waitFor(16));
    EXPECT_EQ(waiting.front()->take(), QByteArray("SVALID OPERATOR\r"));
    EXPECT_FALSE(server->client(0)->hdHalted) << "what came behind the log-in was served after it";
}

TEST_F(ViewerGuards, ResetFloodGivesOneLineAndASummary)
{
    auto server = makeServer();
    for (int i = 0; i < 5; ++i) {
        ResettingClient client(server->serverPort(), "127.0.0.7");
        ASSERT_TRUE(pumpUntil([&] { return server->connectionLog().size() == size_t(i + 1); }));
        client.reset();
        ASSERT_TRUE(pumpUntil([&] { return server->clientCount() == 0; }));
    }
    EXPECT_EQ(linesWith(log, "Socket Error(10054)").size(), 1);
    source.store.fileRecord(RecordKind::Arx, "x"); // unit lines are not held back
    log.log("Connect1", " ARX Succesful Connection", LogLevel::Status);
    clock.advanceMs(ReportGate::kWindowMs);
    server->relayTick();
    EXPECT_TRUE(log.line(0).contains(QRegularExpression(
        R"(^ERROR \(.*\):   <Server1>   Socket Error\(10054\): .* \x{2026} and 4 more from 127.0.0.7 in the last minute$)")))
        << log.line(0).toStdString();
    EXPECT_TRUE(log.line(1).endsWith("<Connect1>    ARX Succesful Connection"));
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
