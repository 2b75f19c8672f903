// Two stations in one process: A talks to the simulated unit and serves its
// page on a relay server; B's page connects to that server as if it were a
// unit and logs the records it gets, with A's time stamps.
#include "station_support.h"
#include "unitsim_support.h"

#include "server/relayclient.h"
#include "server/relayservers.h"

#include <gtest/gtest.h>

using namespace stationtest;

namespace {

const QString kConnected = QStringLiteral(" ARX Succesful Connection");

class RelayChain : public unitsim::SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_TRUE(dirA.ok() && dirB.ok());
        trace = dirA.filePath(QStringLiteral("unit.trace"));
        ASSERT_TRUE(sim.start({"--tcp", "0", "--loaded", "--trace", trace})) << "no simulator";
        ASSERT_NE(sim.tcpPort(), 0) << sim.line().toStdString();
        ASSERT_TRUE(dirA.writeDownload(QStringLiteral("KM71"), 4660, {QStringLiteral(":10000100C2A5E1F01")}));
        PageFile unitPage = networkPage(sim.tcpPort());
        unitPage.logEnabled = true;
        ASSERT_TRUE(dirA.writePage(1, unitPage));
        relayPort = freePort();
        ASSERT_NE(relayPort, 0);
    }
    void startA(bool requireAuth)
    {
        ASSERT_TRUE(dirA.writeServer(1, relayPort, requireAuth, {{"remote", "secret", "Observer"}}));
        startRun(a, dirA.path(), kConnected);
    }
    void startB(const QString &password)
    {
        PageFile relayPage = networkPage(relayPort, password);
        relayPage.logEnabled = true;
        ASSERT_TRUE(dirB.writePage(1, relayPage));
        startRun(b, dirB.path());
    }
    // B logs what A logged: the same 108-byte frame texts, A's stamps included.
    void expectBLogsAsRecords()
    {
        ASSERT_TRUE(b->waitForLine(kConnected, 10000)) << b->messages();
        EXPECT_TRUE(b->page(1).record().viaRelay);
        ASSERT_TRUE(waitFor([&] { return dirB.arxLogRecords(1).size() >= 4; }, 8000)) << b->messages();
        const QList<QByteArray> inA = dirA.arxLogRecords(1);
        const QList<QByteArray> inB = dirB.arxLogRecords(1);
        const qsizetype first = inA.indexOf(inB.first());
        ASSERT_GE(first, 0) << "B's first record is not one of A's";
        ASSERT_LE(first + inB.size(), inA.size());
        EXPECT_EQ(inA.mid(first, inB.size()), inB) << "B skipped or changed records";
        for (const QByteArray &r : inB)
            EXPECT_EQ(quint8(r[0]), 0x6C);
        // B's own relay store keeps them as received.
        EXPECT_EQ(b->page(1).store().newest(RecordKind::Arx).size(), 108);
    }

    StationDir dirA, dirB;
    QString trace;
    quint16 relayPort = 0;
    std::unique_ptr<StationRun> a, b;
};

// B logs A's records; a viewer of B's own relay server gets them unchanged,
// and its command goes through both stations to the unit. B's Disconnect
// leaves A's server with no client and A's page polling on.
TEST_F(RelayChain, SecondStationTakesRecordsWithTheFirstStationsStampsAndPassesThemOn)
{
    startA(false);
    const quint16 portB = dirB.addServer(1, false);
    ASSERT_NE(portB, 0);
    startB(QStringLiteral("KELPO4"));
    expectBLogsAsRecords();

    Client viewer;
    ASSERT_TRUE(viewer.connectTo(portB));
    viewer.send(unitsim::kHello + unitsim::kIdentify + unitsim::kStart);
    ASSERT_TRUE(viewer.waitForBytes(26 + 3 * 108, 5000));
    const QByteArray replies("SVALID SUPERVISOR\xFF" "KM71\xFF");
    ASSERT_TRUE(viewer.received().startsWith(replies));
    ASSERT_TRUE(waitFor([&] { return (viewer.received().size() - replies.size()) % 108 == 0; }, 2000));
    const QList<QByteArray> records = cut(viewer.received().mid(replies.size()), 108);
    const QList<QByteArray> inA = dirA.arxLogRecords(1);
    for (const QByteArray &r : records)
        EXPECT_TRUE(inA.contains(char(0x6C) + r)) << "a record that A never logged";
    viewer.send(QByteArray("\x08\x09\xFE", 3));
    EXPECT_TRUE(waitFor([&] { return traceReceived(trace, QByteArray("\x08\x09\xFE", 3)); }, 4000));

    RelayServer *server = a->station().servers().server(1);
    ASSERT_EQ(server->clientCount(), 1);
    b->page(1).disconnectButton();
    EXPECT_TRUE(waitFor([&] { return server->clientCount() == 0; }, 3000));
    const quint64 seq = a->page(1).store().sequence();
    EXPECT_TRUE(waitFor([&] { return a->page(1).store().sequence() >= seq + 2; }, 3000));
    EXPECT_TRUE(a->line(QStringLiteral("ERROR")).isEmpty()) << a->messages();
}

// A server that asks for a log-in: a station with the wrong password is
// refused, one with the right one gets the records.
TEST_F(RelayChain, SecondStationLogsInWhenTheServerAsksForIt)
{
    startA(true);
    startB(QStringLiteral("remote:wrong"));
    // The server's refusal is not the unit's spelling: B does not take it as
    // a level and gives up after its verification ticks.
    ASSERT_TRUE(b->waitForLine(QStringLiteral(" ARX password verification failed "), 8000)) << b->messages();
    EXPECT_EQ(b->page(1).record().state, state::Error);
    EXPECT_TRUE(dirB.arxLogRecords(1).isEmpty());
    b.reset();
    RelayServer *server = a->station().servers().server(1);
    ASSERT_TRUE(waitFor([&] { return server->clientCount() == 0; }, 3000));

    startB(QStringLiteral("remote:secret"));
    expectBLogsAsRecords();
    // A's server saw one client log in, at Observer level.
    ASSERT_EQ(server->clientCount(), 1);
    EXPECT_EQ(server->client(0)->level, 1);

    // A's server is switched off: B reports the lost link once and stops.
    const int linesBefore = b->station().messageLog().count();
    server->disable();
    ASSERT_TRUE(waitFor([&] { return b->page(1).record().state == state::Error; }, 3000)) << b->messages();
    QTest::qWait(600); // a poll period on the lost link
    EXPECT_EQ(b->station().messageLog().count(), linesBefore + 1) << b->messages();
    EXPECT_FALSE(b->page(1).record().portOpen);
}

} // namespace
