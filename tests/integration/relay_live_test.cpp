// Relay servers of a station whose page 1 talks to the simulated unit, with
// real TCP clients: the ARX client dialect, the records, commands that reach
// the unit, and log-in when the server requires it.
#include "station_support.h"
#include "unitsim_support.h"

#include <gtest/gtest.h>

using namespace stationtest;

namespace {

constexpr double kSecond = 1.0 / 86400.0;
const QByteArray kHello("\x01\xFE", 2);
const QByteArray kIdentify("\x07\xFE", 2);
const QByteArray kStart("\x04\xFE", 2);
const QByteArray kStop("\x03\xFE", 2);
const QByteArray kModel("KM71\xFF");

QByteArray login(const char *text) { return QByteArray(1, '\0') + text + '\xFE'; }

class RelayLive : public UnitFixture {
protected:
    void start(bool requireAuth, const QStringList &unitOptions = {})
    {
        ASSERT_TRUE(sim.start(QStringList{"--tcp", "0", "--loaded", "--trace", trace} + unitOptions)) << "no simulator";
        ASSERT_NE(sim.tcpPort(), 0) << sim.line().toStdString();
        ASSERT_TRUE(dir.writeDownload(QStringLiteral("KM71"), 4660, {QStringLiteral(":10000100C2A5E1F01")}));
        ASSERT_TRUE(dir.writePage(1, networkPage(sim.tcpPort())));
        const QList<QStringList> users{{"demo", "demo", "Supervisor"}, {"look", "look", "Observer"}};
        port1 = dir.addServer(1, requireAuth, users);
        port2 = dir.addServer(2, requireAuth, users);
        ASSERT_TRUE(port1 && port2 && port1 != port2);
        startRun(run, dir.path(), QStringLiteral(" ARX Succesful Connection"));
    }
    int framesSent() const { return int(traceFrames(trace).size()); }
    // Lets the unit send n more frames (about half a second each).
    void letFramesPass(int n)
    {
        const int target = framesSent() + n;
        ASSERT_TRUE(waitFor([&] { return framesSent() >= target; }, 1000 * n + 2000));
        QTest::qWait(2 * 50); // two relay ticks for the last of them
    }
    // Sends and waits until the reply ends the received bytes.
    QByteArray exchange(Client &c, const QByteArray &message, const QByteArray &replyEnd)
    {
        c.take();
        c.send(message);
        c.waitForEnding(replyEnd);
        return c.take();
    }
    // The records' positions among the frames the unit sent; -1 where none matches.
    QList<qsizetype> positions(const QList<QByteArray> &records)
    {
        const QList<TraceLine> frames = traceOf(readTrace(trace), QStringLiteral("FRAME"));
        QList<qsizetype> out;
        for (const QByteArray &r : records) {
            qsizetype at = -1;
            for (qsizetype i = 0; i < frames.size() && at < 0; ++i)
                if (frames[i].bytes == r.left(100)) {
                    at = i;
                    EXPECT_NEAR(stampDays(r.mid(100, 8)), frames[i].days, kSecond);
                }
            out << at;
        }
        return out;
    }

    // Every record is a frame of the unit with its reception time, none is
    // skipped, and both servers relay the same ones.
    void expectEveryFrameInOrder(const QByteArray &a, const QByteArray &b)
    {
        const QList<qsizetype> pa = positions(cut(a, 108));
        const QList<qsizetype> pb = positions(cut(b, 108));
        for (const QList<qsizetype> &p : {pa, pb}) {
            ASSERT_FALSE(p.contains(-1));
            for (qsizetype i = 1; i < p.size(); ++i)
                EXPECT_EQ(p[i], p[i - 1] + 1) << "record " << i;
        }
        const qsizetype from = std::max(pa.first(), pb.first());
        const qsizetype to = std::min(pa.last(), pb.last());
        ASSERT_GE(to - from, 4);
        EXPECT_EQ(cut(a, 108).mid(from - pa.first(), to - from + 1), cut(b, 108).mid(from - pb.first(), to - from + 1));
    }

    std::unique_ptr<StationRun> run;
    quint16 port1 = 0, port2 = 0;
};

TEST_F(RelayLive, ClientsOfTwoServersGetEveryRecordOfTheUnit)
{
    start(false);
    Client a, b, c;
    ASSERT_TRUE(a.connectTo(port1));
    ASSERT_TRUE(b.connectTo(port2));
    ASSERT_TRUE(c.connectTo(port2));

    EXPECT_EQ(exchange(a, kHello, "\xFF"), QByteArray("SVALID SUPERVISOR\xFF"));
    EXPECT_EQ(exchange(b, login("LOOK:Look"), "\xFF"), QByteArray("SVALID OBSERVER\xFF"));
    EXPECT_EQ(exchange(c, login("demo:nothing"), "\xFF"), QByteArray("INVALID PASSWORD\xFF"));
    EXPECT_EQ(exchange(a, kIdentify, "\xFF"), kModel);
    EXPECT_EQ(exchange(b, kIdentify, "\xFF"), kModel);

    a.send(kStart);
    b.send(kStart);
    c.send(kStart); // refused log-in: ignored from now on
    ASSERT_TRUE(waitFor([&] { return a.received().size() >= 6 * 108 && b.received().size() >= 6 * 108; }, 8000));
    ASSERT_TRUE(waitFor([&] { return a.received().size() % 108 == 0 && b.received().size() % 108 == 0; }, 2000));
    EXPECT_TRUE(c.received().isEmpty());

    expectEveryFrameInOrder(a.received(), b.received());

    // Stop: once the identify behind it is answered, nothing more comes.
    a.take();
    a.send(kStop + kIdentify);
    ASSERT_TRUE(a.waitForEnding(kModel));
    const qsizetype stoppedAt = a.received().size();
    const qsizetype bBefore = b.received().size();
    letFramesPass(2);
    EXPECT_EQ(a.received().size(), stoppedAt);
    EXPECT_GE(b.received().size(), bBefore + 2 * 108) << "the other server's client goes on";
}

TEST_F(RelayLive, BothFramesOfEachPollReachTheViewersOfTwoServers)
{
    start(false, {"--interleave", "--modules", "ks71,kc71,option"});
    Client a, b;
    ASSERT_TRUE(a.connectTo(port1));
    ASSERT_TRUE(b.connectTo(port2));
    a.send(kHello + kStart);
    b.send(kHello + kStart);
    const qsizetype reply = QByteArray("SVALID SUPERVISOR\xFF").size();
    ASSERT_TRUE(waitFor([&] { return a.received().size() >= reply + 12 * 108 && b.received().size() >= reply + 12 * 108; },
                        15000));
    ASSERT_TRUE(waitFor([&] { return (a.received().size() - reply) % 108 == 0 && (b.received().size() - reply) % 108 == 0; },
                        2000));
    expectEveryFrameInOrder(a.received().mid(reply), b.received().mid(reply));
}

// Commands reach the unit by the client's level, and each client's bytes
// are assembled on their own.
TEST_F(RelayLive, CommandsReachTheUnitByTheClientsLevel)
{
    start(false);
    Client supervisor, observer;
    ASSERT_TRUE(supervisor.connectTo(port1));
    ASSERT_TRUE(observer.connectTo(port2));
    EXPECT_EQ(exchange(supervisor, kHello, "\xFF"), QByteArray("SVALID SUPERVISOR\xFF"));
    EXPECT_EQ(exchange(observer, login("look:look"), "\xFF"), QByteArray("SVALID OBSERVER\xFF"));

    // FM code 8 is an observer's command, passed on as it came.
    observer.send(QByteArray("\x08\x05\xFE", 3));
    ASSERT_TRUE(waitFor([&] { return traceReceived(trace, QByteArray("\x08\x05\xFE", 3)); }, 3000));

    // 'L' needs an operator: the observer's is dropped, the supervisor's goes out.
    EXPECT_EQ(exchange(observer, QByteArray("L\x01\x02\x03\xFE") + kIdentify, kModel), kModel);
    supervisor.send(QByteArray("L\x04\x05\x06\xFE"));
    ASSERT_TRUE(waitFor([&] { return traceReceived(trace, QByteArray("L\x04\x05\x06\xFE")); }, 3000));
    EXPECT_FALSE(traceReceived(trace, QByteArray("L\x01\x02\x03\xFE")));
    // Neither the commands nor the unit's answers to them come back to the clients.
    EXPECT_TRUE(supervisor.received().isEmpty());
    EXPECT_TRUE(observer.received().isEmpty());
    EXPECT_EQ(run->page(1).record().state, state::Data);

    Client a, b;
    ASSERT_TRUE(a.connectTo(port1));
    ASSERT_TRUE(b.connectTo(port1));
    a.send(QByteArray("\x07", 1));
    ASSERT_TRUE(waitFor([&] { return a.socket().bytesToWrite() == 0; }, 1000));
    QTest::qWait(100); // the server reads the lone byte first
    b.send(QByteArray("\xFE", 1));
    // b's own identify is answered once: its lone terminator made no message.
    EXPECT_EQ(exchange(b, kIdentify, kModel), kModel);
    EXPECT_TRUE(a.received().isEmpty()) << "no reply to a message made of two clients' bytes";
    // a's half message is still waiting for its terminator.
    EXPECT_EQ(exchange(a, QByteArray("\xFE", 1), kModel), kModel);
    QTest::qWait(100);
    EXPECT_TRUE(b.received().isEmpty());
}

TEST_F(RelayLive, RequiredLogInGatesDataAndReplies)
{
    start(true);
    Client a, b;
    ASSERT_TRUE(a.connectTo(port1));
    ASSERT_TRUE(b.connectTo(port1));
    EXPECT_EQ(exchange(a, kHello, "\xFF"), QByteArray("SPASSWORD\xFF"));
    a.send(kIdentify + kStart + QByteArray("\x08\x07\xFE", 3));
    b.send(kStart);
    letFramesPass(2);
    EXPECT_TRUE(a.received().isEmpty()) << "no identify reply and no records before a log-in";
    EXPECT_TRUE(b.received().isEmpty());
    EXPECT_FALSE(traceReceived(trace, QByteArray("\x08\x07\xFE", 3))) << "no command before a log-in";

    EXPECT_EQ(exchange(a, login("Demo:DEMO"), "\xFF"), QByteArray("SVALID SUPERVISOR\xFF"));
    EXPECT_EQ(exchange(b, login("demo:wrong"), "\xFF"), QByteArray("INVALID PASSWORD\xFF"));
    EXPECT_EQ(exchange(a, kIdentify, "\xFF"), kModel);
    a.send(kStart);
    b.send(kStart);
    ASSERT_TRUE(a.waitForBytes(3 * 108, 5000));
    const QList<qsizetype> pa = positions(cut(a.received(), 108));
    EXPECT_FALSE(pa.contains(-1));
    EXPECT_TRUE(b.received().isEmpty()) << "a failed log-in gets nothing";
}

} // namespace
