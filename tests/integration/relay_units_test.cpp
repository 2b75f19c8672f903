// Relay servers in front of the other Arxon models, and what happens to the
// clients when the unit goes away or a client misbehaves.
#include "station_support.h"
#include "unitsim_support.h"

#include "server/relayservers.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

using namespace stationtest;

namespace {

const QByteArray kHello("\x01\xFE", 2);
const QByteArray kIdentify("\x07\xFE", 2);
const QByteArray kStart("\x04\xFE", 2);

class RelayUnits : public UnitFixture {
protected:
    void startUnit(const QString &model, quint16 unitPort = 0)
    {
        ASSERT_TRUE(sim.start({"--tcp", QString::number(unitPort), "--loaded", "--model", model, "--trace", trace}))
            << "no simulator";
    }
    void start(const QString &model, quint16 unitPort = 0)
    {
        startUnit(model, unitPort);
        ASSERT_NE(sim.tcpPort(), 0) << sim.line().toStdString();
        ASSERT_TRUE(dir.writeDownload(model, 4660, {QStringLiteral(":10000100C2A5E1F01")}));
        ASSERT_TRUE(dir.writePage(1, networkPage(sim.tcpPort())));
        port = dir.addServer(1, false);
        ASSERT_NE(port, 0);
        startRun(run, dir.path(), QStringLiteral(" ARX Succesful Connection"));
    }
    // A supervisor client that has started the data.
    void connectViewer(Client &c)
    {
        ASSERT_TRUE(c.connectTo(port));
        c.send(kHello);
        ASSERT_TRUE(c.waitForEnding(QByteArray("SVALID SUPERVISOR\xFF")));
        c.take();
    }
    bool unitGets(const QByteArray &bytes) { return waitFor([&] { return traceReceived(trace, bytes); }, 3000); }

    std::unique_ptr<StationRun> run;
    quint16 port = 0;
};

// The page's model decides how a client's command is put to the unit.
TEST_F(RelayUnits, TvUnitGetsItsOwnCommandForms)
{
    start(QStringLiteral("KV73"));
    EXPECT_EQ(run->page(1).record().unitFamily, 1);
    Client c;
    connectViewer(c);
    c.send(kIdentify);
    ASSERT_TRUE(c.waitForEnding(QByteArray("KV73\xFF")));
    // Code 27 becomes 0x1A; 'L' carries its value as two upper-case hex digits
    // ('f' is no digit and counts as 0).
    c.send(QByteArray("\x1B\x03\xFE", 3));
    EXPECT_TRUE(unitGets(QByteArray("\x1A\x03\xFE", 3)));
    c.send(QByteArray("L\x02" "7f\xFE"));
    EXPECT_TRUE(unitGets(QByteArray("L\x02" "70\xFE")));
    // Channel 60 is out of range for code 20: nothing goes out, the next command does.
    c.send(QByteArray("\x14\x3C\xFE", 3));
    QTest::qWait(150); // the page's next tick would send it
    c.send(QByteArray("\x14\x05\xFE", 3));
    EXPECT_TRUE(unitGets(QByteArray("\x14\x05\xFE", 3)));
    EXPECT_FALSE(traceReceived(trace, QByteArray("\x14\x3C\xFE", 3)));
}

TEST_F(RelayUnits, Ka72UnitGetsTwoHexBytesForP)
{
    start(QStringLiteral("KA72"));
    EXPECT_EQ(run->page(1).record().unitFamily, 3);
    Client c;
    connectViewer(c);
    c.send(QByteArray("P\x04" "a1B2\xFE"));
    EXPECT_TRUE(unitGets(QByteArray("P\x04" "01B2\xFE")));
}

// The unit's network module goes away: the page reports it once and stops;
// the clients stay connected, get no stale records and still get answers.
TEST_F(RelayUnits, UnitGoneStopsTheRecordsButNotTheServer)
{
    const quint16 unitPort = freePort();
    start(QStringLiteral("KM71"), unitPort);
    Client c;
    connectViewer(c);
    c.send(kStart);
    ASSERT_TRUE(c.waitForBytes(2 * 108));
    const int linesBefore = run->station().messageLog().count();
    sim.stop();
    ASSERT_TRUE(waitFor([&] { return run->page(1).record().state == state::Error; }, 3000)) << run->messages();
    QTest::qWait(300); // a record in flight still arrives
    c.take();
    QTest::qWait(1000); // two poll periods
    EXPECT_TRUE(c.received().isEmpty()) << "records after the unit left";
    EXPECT_EQ(run->station().messageLog().count(), linesBefore + 1) << run->messages();
    EXPECT_TRUE(run->station().messageLog().line(0).startsWith(QLatin1String("ERROR ("))) << run->messages();
    c.send(kIdentify);
    EXPECT_TRUE(c.waitForEnding(QByteArray("KM71\xFF")));
    EXPECT_EQ(c.socket().state(), QAbstractSocket::ConnectedState);

    // The unit is back: Connect, and the same client gets records again.
    startUnit(QStringLiteral("KM71"), unitPort);
    ASSERT_EQ(sim.tcpPort(), unitPort);
    run->station().messageLog().clear();
    run->page(1).connectButton();
    ASSERT_TRUE(run->waitForLine(QStringLiteral(" ARX Succesful Connection"), 10000)) << run->messages();
    c.take();
    EXPECT_TRUE(c.waitForBytes(2 * 108));
}

// A port another program holds: that server alone reports the failure and
// stays off; the page and the other servers go on. Noise and an abrupt
// hang-up from one client leave the others served.
TEST_F(RelayUnits, PortInUseOrAHostileClientDisturbNoOtherServer)
{
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::Any, 0));
    const quint16 held = holder.serverPort();
    ASSERT_TRUE(dir.writeServer(2, held, false));
    const quint16 free = dir.addServer(3, false);
    ASSERT_NE(free, 0);
    start(QStringLiteral("KM71"));
    RelayServers &servers = run->station().servers();
    EXPECT_TRUE(servers.server(2)->isFailed());
    EXPECT_EQ(servers.server(2)->statusRow().status, QStringLiteral("Error"));
    EXPECT_TRUE(run->line(QStringLiteral("<Server2>")).startsWith(QLatin1String("ERROR ("))) << run->messages();
    EXPECT_TRUE(servers.server(3)->isEnabled());
    EXPECT_TRUE(servers.server(1)->isEnabled());

    Client c;
    ASSERT_TRUE(c.connectTo(free));
    c.send(kStart);
    EXPECT_TRUE(c.waitForBytes(2 * 108));

    Client viewer;
    connectViewer(viewer);
    viewer.send(kStart);
    ASSERT_TRUE(viewer.waitForBytes(108));

    QByteArray noise(256 * 1024, '\0');
    QRandomGenerator rng(7);
    for (char &ch : noise)
        ch = char(rng.bounded(256));
    QByteArray endless(64 * 1024, 'A'); // never a terminator
    for (const QByteArray &junk : {noise, endless}) {
        auto rogue = std::make_unique<Client>();
        ASSERT_TRUE(rogue->connectTo(port));
        rogue->send(junk);
        ASSERT_TRUE(waitFor([&] { return rogue->socket().bytesToWrite() == 0; }, 3000));
        rogue->socket().abort();
    }
    viewer.take();
    ASSERT_TRUE(viewer.waitForBytes(3 * 108, 4000)) << "the viewer's records go on";
    EXPECT_EQ(run->page(1).record().state, state::Data);
    EXPECT_TRUE(waitFor([&] { return run->station().servers().server(1)->clientCount() == 1; }, 2000));
}

} // namespace
