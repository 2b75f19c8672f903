// A page with "Reconnect automatically" against a simulated unit that goes
// away and comes back, on TCP and on a pty: the page tries again once the
// pause is over, logs in, and a viewer that stayed connected gets records
// again. The pause passes at once: the station's clock is moved on by hand.
#include "connection/reconnector.h"
#include "station_support.h"
#include "unitsim_support.h"

#include <gtest/gtest.h>

using namespace stationtest;

namespace {

// The real time plus what the test adds.
class ShiftedClock : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime().addMSecs(m_shift); }
    void skip(qint64 ms) { m_shift += ms; }

private:
    qint64 m_shift = 0;
};

class ReconnectLive : public UnitFixture {
protected:
    void startStation(PageFile page)
    {
        page.autoReconnect = true;
        ASSERT_TRUE(dir.writeDownload(QStringLiteral("KM71"), 4660, {QStringLiteral(":10000100C2A5E1F01")}));
        ASSERT_TRUE(dir.writePage(1, page));
        port = dir.addServer(1, false);
        ASSERT_NE(port, 0);
        startRun(run, dir.path(), QStringLiteral(" ARX Succesful Connection"), 10000, clock);
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_TRUE(viewer.connectTo(port));
        viewer.send(QByteArray("\x04\xFE", 2)); // start the data
        ASSERT_TRUE(viewer.waitForBytes(2 * 108));
    }
    // The unit left and came back; the page waits out its first pause.
    void unitBack(const QStringList &simArgs)
    {
        sim.stop();
        ASSERT_TRUE(waitFor([&] { return run->page(1).reconnector().waiting(); }, 5000)) << run->messages();
        ASSERT_TRUE(sim.start(simArgs)) << "no simulator";
        EXPECT_TRUE(run->line(QStringLiteral("Reconnecting automatically")).isEmpty()) << "tried before the pause";
        run->station().messageLog().clear();
        clock.skip(Reconnector::kFirstWaitSeconds * 1000);
        ASSERT_TRUE(run->waitForLine(QStringLiteral("Reconnecting automatically (try 1)"), 5000)) << run->messages();
        ASSERT_TRUE(run->waitForLine(QStringLiteral("Reconnected automatically after 1 try"), 10000)) << run->messages();
        EXPECT_TRUE(run->line(QStringLiteral("Reconnecting automatically (try 1)")).startsWith(QLatin1String("STATUS(")));
        viewer.take();
        EXPECT_TRUE(viewer.waitForBytes(2 * 108)) << "the viewer that stayed gets records again";
        EXPECT_EQ(viewer.socket().state(), QAbstractSocket::ConnectedState);
    }

    ShiftedClock clock;
    std::unique_ptr<StationRun> run;
    Client viewer;
    quint16 port = 0;
};

} // namespace

TEST_F(ReconnectLive, TcpUnitThatComesBack)
{
    ASSERT_TRUE(sim.start({"--tcp", "0", "--loaded", "--trace", trace})) << "no simulator";
    const quint16 unitPort = sim.tcpPort();
    startStation(networkPage(unitPort));
    unitBack({"--tcp", QString::number(unitPort), "--loaded", "--trace", trace});
}

TEST_F(ReconnectLive, PtyUnitThatComesBack)
{
    const QStringList args{"--pty", "--link", dir.filePath(QStringLiteral("com1")), "--loaded", "--trace", trace};
    ASSERT_TRUE(sim.start(args)) << "no simulator";
    ASSERT_TRUE(dir.writeSerialPorts({dir.filePath(QStringLiteral("com1"))}));
    startStation(PageFile{});
    unitBack(args);
}
