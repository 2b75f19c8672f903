// Stations with the simulated HD monitors and KF-71 on a pseudo-terminal and
// on TCP: detection, the frames filed as the unit sent them, what the
// decoders made of them, the HD text log, remote viewers of a relay server
// and a second station chained to the first.
#include "station_support.h"
#include "unitsim_support.h"

#include "protocols/hd/hddecoder.h"
#include "protocols/hd/linesession.h"
#include "protocols/kf71/kf71decoder.h"
#include "server/relayservers.h"

#include <gtest/gtest.h>

using namespace stationtest;

namespace {

const QString kHdConnected = QStringLiteral(" HD Succesful Connection");
const QString kKfConnected = QStringLiteral(" KF71 Succesful Connection");
constexpr int kFrame = 1501;
constexpr double kSecond = 1.0 / 86400.0;

LineSession *lineSession(ConnectionPage &p) { return dynamic_cast<LineSession *>(p.session()); }

template <typename Decoder>
const Decoder *decoderOf(ConnectionPage &p)
{
    LineSession *s = lineSession(p);
    return s ? dynamic_cast<const Decoder *>(s->decoder()) : nullptr;
}

// The frame the unit sent whose bytes match `record` outside the parameter
// echo (bytes 4..8, where a relay server may write another viewer's change);
// empty when the unit never sent it.
QByteArray sentFrame(const QList<QByteArray> &frames, const QByteArray &record)
{
    for (const QByteArray &f : frames) {
        if (f.size() == kFrame && f.left(4) == record.left(4) && f.mid(9) == record.mid(9, kFrame - 9))
            return f;
    }
    return QByteArray();
}

// Data lines of the page's HD text log: date, time, peak, average, minimum.
QList<QStringList> hdLogLines(ConnectionPage &page)
{
    QList<QStringList> out;
    QFile f(page.measurementLog().fileName());
    if (!f.open(QIODevice::ReadOnly))
        return out;
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines[i].endsWith('\r'))
            out << QString::fromLatin1(lines[i].chopped(1)).split(QLatin1Char(','));
    }
    return out;
}

class HdStation : public UnitFixture {
protected:
    void startUnit(const QStringList &args)
    {
        ASSERT_TRUE(sim.start(QStringList{"--tcp", "0", "--trace", trace} + args)) << "no simulator";
        ASSERT_NE(sim.tcpPort(), 0) << sim.line().toStdString();
    }
    PageFile unitPage(int hardwareType, bool log = false)
    {
        PageFile p = networkPage(sim.tcpPort());
        p.hardwareType = hardwareType;
        p.logEnabled = log;
        return p;
    }
    bool filed(int n, int ms = 10000)
    {
        return waitFor([&] { return run->page(1).store().sequence() >= quint64(n); }, ms);
    }

    std::unique_ptr<StationRun> run;
};

// A KH-71 with LCD as COM1: every page decoded, records as the unit sent
// them with the page's own stamp, and a text log line a second whose level
// columns hold what the unit sent.
TEST_F(HdStation, Kh71OnSerialPortIsDecodedAndLogged)
{
    const QString link = dir.filePath(QStringLiteral("com1"));
    ASSERT_TRUE(sim.start({"--pty", "--link", link, "--unit", "kh71", "--rate", "8", "--trace", trace}));
    ASSERT_TRUE(dir.writeSerialPorts({link}));
    PageFile page;
    page.hardwareType = 2;
    page.baudIndex = 0; // 57600, the first of an HD page's two rates
    page.logEnabled = true;
    ASSERT_TRUE(dir.writePage(1, page));
    ASSERT_NO_FATAL_FAILURE(startRun(run, dir.path(), kHdConnected, 15000));
    ASSERT_TRUE(filed(13)) << run->messages();

    const LineIdentity &id = lineSession(run->page(1))->identity();
    EXPECT_TRUE(id.hasLcd);
    EXPECT_EQ(id.serial, QByteArray("710123"));
    EXPECT_FALSE(run->page(1).record().viaRelay);

    const QByteArray record = run->page(1).store().newest(RecordKind::Hd);
    ASSERT_EQ(record.size(), kFrame + 8);
    const QList<TraceLine> frames = traceOf(readTrace(trace), QStringLiteral("FRAME"));
    const auto sent = std::find_if(frames.begin(), frames.end(), [&](const TraceLine &t) { return t.bytes == record.left(kFrame); });
    ASSERT_NE(sent, frames.end()) << "a record the unit never sent";
    EXPECT_NEAR(stampDays(record.mid(kFrame)), sent->days, 2 * kSecond);

    const HdDecoder *d = decoderOf<HdDecoder>(run->page(1));
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->stationInfo().callSign, QByteArray("WTLV-FM"));
    EXPECT_EQ(d->stationInfo().latitude, QByteArray("40\xB0" "26.770 N "));
    EXPECT_EQ(d->programmeData().text[4][9], QByteArray(" ")) << "programme 9's empty comment";
    EXPECT_DOUBLE_EQ(d->main().real30, 98.70);
    // Parameter 20's byte is 255 in the settings page and -1 in its echo,
    // which came after the page seeded the settings.
    EXPECT_EQ(d->settingsImage().slot[6], 255);
    EXPECT_EQ(d->settings().slot[6], -1);

    // The log's level columns: the unit's total level runs from -4.90 to -3.00 dB.
    ASSERT_TRUE(waitFor([&] { return hdLogLines(run->page(1)).size() >= 2; }, 5000)) << run->messages();
    for (const QStringList &l : hdLogLines(run->page(1))) {
        ASSERT_EQ(l.size(), 5) << l.join(',').toStdString();
        EXPECT_LE(l[2].toInt(), -300);
        EXPECT_GE(l[4].toInt(), -490);
        EXPECT_LE(l[4].toDouble(), l[3].toDouble());
        EXPECT_LE(l[3].toDouble(), l[2].toDouble());
    }
}

TEST_F(HdStation, Kf71OnTcpIsDecoded)
{
    startUnit({"--unit", "kf71", "--option", "basic", "--rate", "8"});
    ASSERT_TRUE(dir.writePage(1, unitPage(3, true)));
    ASSERT_NO_FATAL_FAILURE(startRun(run, dir.path(), kKfConnected, 15000));
    ASSERT_TRUE(filed(4)) << run->messages();

    const LineIdentity &id = lineSession(run->page(1))->identity();
    EXPECT_EQ(id.option, QByteArray("Basic"));
    EXPECT_EQ(lineSession(run->page(1))->hardwareThirdColumn(), QStringLiteral("Option"));
    const QByteArray record = run->page(1).store().newest(RecordKind::Kf);
    ASSERT_EQ(record.size(), kFrame + 8);
    EXPECT_TRUE(traceFrames(trace).contains(record.left(kFrame))) << "a record the unit never sent";

    const Kf71Decoder *d = decoderOf<Kf71Decoder>(run->page(1));
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->rdsBasic().radioText1().startsWith(QStringLiteral("Now playing: Song ")));
    EXPECT_TRUE(d->rdsBasic().radioText1().contains(QStringLiteral("[CR][LF]by The Tolvas")));
    EXPECT_EQ(d->statusByte(), 0x21);
    EXPECT_TRUE(QDir(dir.logDirectory()).entryList(QDir::Files).isEmpty()) << "a KF-71 page writes no file";
}

// A KH-71 without LCD is found but not started: the page wants its firmware
// updated first.
TEST_F(HdStation, Kh71WithoutLcdIsNotStarted)
{
    startUnit({"--unit", "kh71", "--no-lcd"});
    ASSERT_TRUE(dir.writePage(1, unitPage(2)));
    ASSERT_NO_FATAL_FAILURE(startRun(run, dir.path(), kHdConnected, 15000));
    ASSERT_TRUE(waitFor([&] { return lineSession(run->page(1))->updateDialogNeeded(); }, 3000));
    EXPECT_EQ(lineSession(run->page(1))->identity().software[1], QByteArray("2.10.05"));
    EXPECT_FALSE(traceReceived(trace, "SD\r"));
    EXPECT_EQ(run->page(1).store().sequence(), 0u);
}

// Two viewers of a KH-72 through relay server 1: the identification line,
// the records as the unit sent them, and one viewer's change reaching the
// unit and shown to the other viewer before the unit echoes it.
TEST_F(HdStation, RelayViewersSeeRecordsIdentAndEachOthersChanges)
{
    startUnit({"--unit", "kh72", "--rate", "8"});
    ASSERT_TRUE(dir.writePage(1, unitPage(2)));
    const quint16 port = dir.addServer(1, false);
    ASSERT_NE(port, 0);
    ASSERT_NO_FATAL_FAILURE(startRun(run, dir.path(), kHdConnected, 15000));

    Client a, b;
    for (Client *c : {&a, &b}) {
        ASSERT_TRUE(c->connectTo(port));
        c->send("SC\r");
        ASSERT_TRUE(c->waitForEnding("SVALID SUPERVISOR\r"));
        c->take();
    }
    a.send("UI\r");
    ASSERT_TRUE(a.waitForEnding("\r"));
    EXPECT_EQ(a.take(), QByteArray("KH-72 SN(720456) SW(03.01,01.02) LAN(6.5.0.7)\r"));
    a.send("SD\r");
    b.send("SD\r");
    ASSERT_TRUE(a.waitForBytes(2 * (kFrame + 8), 5000));

    // Parameter 15 (two bytes) to 0x2710, as a viewer's own program builds it.
    const QByteArray change("CC0F2710C6\r");
    const qsizetype aBefore = a.received().size();
    b.send(change);
    ASSERT_TRUE(waitFor([&] { return traceReceived(trace, change); }, 4000)) << "the unit never got the line";
    const QByteArray overlay("\x0F\x00\x00\x27\x10", 5);
    const auto unitEchoed = [&] {
        for (const QByteArray &f : traceFrames(trace))
            if (f.mid(4, 5) == overlay)
                return true;
        return false;
    };
    ASSERT_TRUE(waitFor(unitEchoed, 4000)) << "the unit did not echo the change";
    // Whole records only, three of them sent to A after the change was queued
    // for it; every one of them left the unit before the trace is read.
    ASSERT_TRUE(waitFor([&] {
        return a.received().size() >= aBefore + 3 * (kFrame + 8) && a.received().size() % (kFrame + 8) == 0;
    }, 4000));
    const QList<QByteArray> recordsA = cut(a.take(), kFrame + 8);
    ASSERT_TRUE(waitFor([&] { return b.received().size() % (kFrame + 8) == 0; }, 2000));
    const QList<QByteArray> recordsB = cut(b.take(), kFrame + 8);
    const QList<QByteArray> sent = traceFrames(trace);

    // Records go out as the unit's bytes come, so the record that carries
    // the queued change may be one the unit sent after it took the change
    // (the page's tick forwards it): the overlay then equals the unit's own
    // echo. Either way A sees the change, and no other bytes are altered.
    bool overlaid = false;
    bool shown = false;
    for (const QByteArray &r : recordsA) {
        const QByteArray f = sentFrame(sent, r);
        ASSERT_FALSE(f.isEmpty()) << "a record the unit never sent";
        shown = shown || r.mid(4, 5) == overlay;
        if (r.mid(4, 5) != f.mid(4, 5)) {
            EXPECT_EQ(r.mid(4, 5), overlay);
            EXPECT_FALSE(overlaid) << "one change, overlaid once";
            overlaid = true;
        }
    }
    EXPECT_TRUE(shown) << "the other viewer's change was not shown";
    for (const QByteArray &r : recordsB)
        EXPECT_EQ(r.left(kFrame), sentFrame(sent, r)) << "a viewer got its own change back";
}

// A streaming unit's records reach the viewers as the unit's bytes come, not
// on the page's tick: with the page's timer stopped once it polls, records
// keep coming, each one a frame the unit sent (pseudo-terminal and TCP).
TEST_F(HdStation, RecordsReachViewersWithoutThePagesTick)
{
    const struct {
        const char *name;
        bool serial;
        int hardwareType;
        const char *unit;
        QString connected;
    } cases[] = {
        {"KH-71 on a serial line", true, 2, "kh71", kHdConnected},
        {"KF-71 on TCP", false, 3, "kf71", kKfConnected},
    };
    for (const auto &k : cases) {
        run.reset();
        sim.stop();
        const QString link = dir.filePath(QStringLiteral("com1"));
        if (k.serial) {
            ASSERT_TRUE(sim.start({"--pty", "--link", link, "--unit", k.unit, "--rate", "8", "--trace", trace})) << k.name;
            ASSERT_TRUE(dir.writeSerialPorts({link}));
            PageFile page;
            page.hardwareType = k.hardwareType;
            page.baudIndex = 0;
            ASSERT_TRUE(dir.writePage(1, page));
        } else {
            startUnit({"--unit", k.unit, "--rate", "8"});
            ASSERT_TRUE(dir.writePage(1, unitPage(k.hardwareType)));
        }
        const quint16 port = dir.addServer(1, false);
        ASSERT_NE(port, 0);
        ASSERT_NO_FATAL_FAILURE(startRun(run, dir.path(), k.connected, 15000));
        ASSERT_TRUE(filed(1)) << k.name;

        run->page(1).stopTimer(); // no tick from here on
        ASSERT_FALSE(run->page(1).timerActive());
        Client viewer;
        ASSERT_TRUE(viewer.connectTo(port));
        viewer.send("SC\r");
        ASSERT_TRUE(viewer.waitForEnding("SVALID SUPERVISOR\r")) << k.name;
        viewer.take();
        viewer.send("SD\r");
        ASSERT_TRUE(viewer.waitForBytes(3 * (kFrame + 8), 5000)) << k.name << ": records stopped with the tick";
        const QList<QByteArray> sent = traceFrames(trace);
        for (const QByteArray &r : cut(viewer.take(), kFrame + 8))
            EXPECT_EQ(r.left(kFrame), sentFrame(sent, r)) << k.name << ": a record the unit never sent";
        EXPECT_EQ(run->page(1).record().phase, int(LineSession::Polling)) << k.name;
    }
}

// Station B's page is a viewer of station A's relay server: it logs in,
// takes A's records with A's stamps and writes its own HD text log.
TEST_F(HdStation, SecondStationTakesTheFirstStationsRecords)
{
    startUnit({"--unit", "kh71", "--rate", "8"});
    ASSERT_TRUE(dir.writePage(1, unitPage(2)));
    const quint16 port = dir.addServer(1, true, {{"remote", "secret", "Observer"}});
    ASSERT_NE(port, 0);
    ASSERT_NO_FATAL_FAILURE(startRun(run, dir.path(), kHdConnected, 15000));

    StationDir dirB;
    PageFile viewer = networkPage(port, QStringLiteral("remote:secret"));
    viewer.hardwareType = 2;
    viewer.logEnabled = true;
    ASSERT_TRUE(dirB.writePage(1, viewer));
    std::unique_ptr<StationRun> runB;
    ASSERT_NO_FATAL_FAILURE(startRun(runB, dirB.path(), kHdConnected, 15000));
    StationRun &b = *runB;
    EXPECT_TRUE(b.page(1).record().viaRelay);
    EXPECT_EQ(lineSession(b.page(1))->accessLevel(), 1);
    EXPECT_TRUE(lineSession(b.page(1))->identity().hasLcd);
    ASSERT_TRUE(waitFor([&] { return b.page(1).store().sequence() >= 3; }, 5000)) << b.messages();

    const QByteArray inB = b.page(1).store().newest(RecordKind::Hd);
    ASSERT_EQ(inB.size(), kFrame + 8);
    bool inA = false;
    for (int i = 0; i < 10; ++i)
        inA = inA || run->page(1).store().ringEntry(RecordKind::Hd, i) == inB;
    EXPECT_TRUE(inA) << "B's record is not one of A's, stamp included";
    EXPECT_TRUE(waitFor([&] { return decoderOf<HdDecoder>(b.page(1))->stationInfo().callSign == "WTLV-FM"; }, 5000))
        << "B decodes what it takes";
    ASSERT_TRUE(waitFor([&] { return hdLogLines(b.page(1)).size() >= 1; }, 5000)) << b.messages();
    EXPECT_EQ(hdLogLines(b.page(1)).first().size(), 5);
}

} // namespace
