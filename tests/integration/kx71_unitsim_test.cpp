// A KX-71 page on the simulated analyzer over a pseudo-terminal and over TCP,
// and a remote KX-71 client fetching its traces through a relay server.
#include "protocols/kx71/kx71session.h"
#include "station_support.h"

using namespace stationtest;

namespace {

const QByteArray kEnd("\xF0\xF1");
const QByteArray kVersion("KX HC11 01.23    DSP  04.56");

class Kx71Station : public UnitFixture {
protected:
    // The station with page 1 on the analyzer; relay server 1 serves it.
    void start(const PageFile &page)
    {
        PageFile p = page;
        p.hardwareType = 1;
        p.baudIndex = 0;
        ASSERT_TRUE(dir.writePage(1, p));
        ASSERT_TRUE(StationDir::write(dir.filePath(QStringLiteral("DLD/KXHC11.DLD")),
                                      crlfLines({QStringLiteral("812"), QStringLiteral("KXHC11"), QStringLiteral("01.23")})));
        // Authentication asked for, yet the analyzer's dialect has no log-in:
        // server 1 serves data only. Server 2, without, passes settings on.
        port = dir.addServer(1, true);
        ASSERT_NE(port, 0);
        openPort = dir.addServer(2, false);
        ASSERT_NE(openPort, 0);
        startRun(run, dir.path(), QStringLiteral(" KX-71 Succesful Connection"), 20000);
    }
    Kx71Session &session() { return *static_cast<Kx71Session *>(run->page(1).session()); }
    // Waits until every kind has a stored trace (the stores start as zeros).
    bool allKindsStored()
    {
        const QByteArray empty(Kx71Store::kTraceBytes, '\0');
        return waitFor([&] { return session().store().trace(0) != empty && session().store().trace(1) != empty
                                    && session().store().trace(2) != empty; }, 10000);
    }
    // A stored trace is a frame the analyzer sent, of its kind, with a sound checksum.
    void expectSentFrame(const QByteArray &frame, int kind)
    {
        ASSERT_EQ(frame.size(), 356);
        EXPECT_EQ(quint8(frame[49]) & 0x0F, kind);
        EXPECT_EQ(unitsim::sum(frame, 0, 352), quint8(frame[353]));
        EXPECT_TRUE(traceFrames(trace).contains(frame));
    }

    std::unique_ptr<StationRun> run;
    quint16 port = 0;
    quint16 openPort = 0;
};

TEST_F(Kx71Station, SerialPageFindsProgramsAndStreams)
{
    ASSERT_TRUE(sim.start({"--pty", "--unit", "kx71", "--trace", trace})) << "no simulator";
    ASSERT_FALSE(sim.ptyPath().isEmpty()) << sim.line().toStdString();
    ASSERT_TRUE(dir.writeSerialPorts({sim.ptyPath()}));
    start(PageFile());
    EXPECT_EQ(session().microHead().text, QStringLiteral("KXHC11 01.23"));
    EXPECT_FALSE(run->line(QStringLiteral("File not found:") + dir.path() + QStringLiteral("/DLD/KXDSP.DLD")).isEmpty());
    EXPECT_EQ(run->page(1).record().kxVersionReply, kVersion);
    ASSERT_TRUE(allKindsStored()) << run->messages();
    for (int kind = 0; kind < 3; ++kind)
        expectSentFrame(session().store().trace(kind).left(356), kind);

    // What the analyzer was told, in order: stop, type, version, start, requests.
    QList<QByteArray> got;
    for (const TraceLine &t : traceOf(readTrace(trace), QStringLiteral("RX")))
        got << t.bytes;
    EXPECT_EQ(got.mid(0, 5), (QList<QByteArray>{"D0\r", "T\r", "U\r", "D1\r", "D2\r"}));
}

TEST_F(Kx71Station, RemoteClientFetchesTracesAndRepliesThroughTheRelay)
{
    ASSERT_TRUE(sim.start({"--tcp", "0", "--unit", "kx71", "--kx-bad-checksum", "4", "--trace", trace}))
        << "no simulator";
    ASSERT_NE(sim.tcpPort(), 0) << sim.line().toStdString();
    start(networkPage(sim.tcpPort()));
    ASSERT_TRUE(allKindsStored()) << run->messages();
    // Every fourth frame is spoilt: counted, never stored as a trace.
    EXPECT_TRUE(waitFor([&] { return session().badChecksums() > 0; }, 5000));

    Client c;
    ASSERT_TRUE(c.connectTo(port));
    c.send("T\r");
    ASSERT_TRUE(c.waitForEnding(kEnd));
    EXPECT_EQ(c.take(), QByteArray("KX-71") + kEnd);
    c.send("U\r");
    ASSERT_TRUE(c.waitForEnding(kEnd));
    EXPECT_EQ(c.take(), kVersion + kEnd);

    const struct { const char *request; int kind; } requests[] = {{"D1\r", 0}, {"D2\r", 0}, {"D3\r", 1}, {"D4\r", 2}};
    for (const auto &r : requests) {
        c.send(r.request);
        ASSERT_TRUE(c.waitForBytes(356)) << r.request;
        expectSentFrame(c.take(), r.kind);
    }
    // With authentication on, a setting is answered with data and goes no
    // further: by the page's next requests it has not reached the analyzer.
    c.send("M4cd\r");
    ASSERT_TRUE(c.waitForBytes(356));
    expectSentFrame(c.take(), 2);
    EXPECT_TRUE(waitFor([&] { return !run->line(QStringLiteral("may not change the analyzer's settings")).isEmpty(); },
                        3000));
    const qsizetype before = traceOf(readTrace(trace), QStringLiteral("RX")).size();
    EXPECT_TRUE(waitFor([&] { return traceOf(readTrace(trace), QStringLiteral("RX")).size() >= before + 3; }, 10000));
    EXPECT_FALSE(traceReceived(trace, "M2cd\r"));

    // Without, it goes to the analyzer with the page's own data-mode digit.
    Client open;
    ASSERT_TRUE(open.connectTo(openPort));
    open.send("M4ab\r");
    ASSERT_TRUE(open.waitForBytes(356));
    expectSentFrame(open.take(), 2);
    EXPECT_TRUE(waitFor([&] { return traceReceived(trace, "M2ab\r"); }, 3000));
}

} // namespace
