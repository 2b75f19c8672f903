// A station's ARX page against the simulated unit on a pseudo-terminal, on
// TCP and behind the simulated modem: log-in, the module program download
// with refused lines, and the poll rate.
#include "station_support.h"
#include "unitsim_support.h"

#include "protocols/arx/arxsession.h"

#include <gtest/gtest.h>

using namespace stationtest;

namespace {

const QString kConnected = QStringLiteral(" ARX Succesful Connection");
const QStringList kProgram{QStringLiteral(":10000100C2A5E1F01"), QStringLiteral(":10000200C2A5E1F02"),
                           QStringLiteral(":10000300C2A5E1F03")};

class ArxConnect : public UnitFixture {
protected:
    void SetUp() override
    {
        UnitFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        ASSERT_TRUE(dir.writeDownload(QStringLiteral("KM71"), 4660, kProgram));
    }
    // The simulator on a pty reached as COM1 through a fixed link.
    void startPtyUnit(QStringList extra)
    {
        const QString link = dir.filePath(QStringLiteral("com1"));
        ASSERT_TRUE(sim.start(QStringList{"--pty", "--link", link, "--trace", trace} + extra)) << "no simulator";
        ASSERT_FALSE(sim.ptyPath().isEmpty()) << sim.line().toStdString();
        ASSERT_TRUE(dir.writeSerialPorts({link}));
    }
    void expectConnected(int ms)
    {
        ASSERT_TRUE(run->waitForLine(kConnected, ms)) << run->messages();
        EXPECT_TRUE(run->line(kConnected).startsWith(QLatin1String("STATUS(")));
        EXPECT_TRUE(waitFor([&] { return run->page(1).record().state == state::Data; }, 3000)) << run->messages();
        EXPECT_FALSE(run->page(1).record().viaRelay);
    }
    // Every program line went out three times (two refusals, then the
    // acceptance), lines in file order, and nothing else was sent as a line.
    void expectDownloadWithRefusals()
    {
        const QList<TraceLine> t = readTrace(trace);
        QList<QByteArray> sentLines;
        QStringList answers;
        for (qsizetype i = 0; i < t.size(); ++i) {
            if (t[i].kind != QLatin1String("RX") || !t[i].bytes.startsWith('\t'))
                continue;
            sentLines << t[i].bytes;
            for (qsizetype j = i + 1; j < t.size(); ++j)
                if (t[j].kind == QLatin1String("TX")) {
                    // Answers end in F0 F1 or, with some units, in FF.
                    answers << QString::fromLatin1(t[j].bytes).remove(QRegularExpression("[\\xF0\\xF1\\xFF]+$"));
                    break;
                }
        }
        QList<QByteArray> expected;
        QStringList expectedAnswers;
        for (const QString &line : kProgram)
            for (int k = 0; k < 3; ++k) {
                expected << '\t' + line.toLatin1() + '\xFE';
                expectedAnswers << (k < 2 ? QStringLiteral("BAD CHECKSUM") : QStringLiteral("GOOD CHECKSUM"));
            }
        EXPECT_EQ(sentLines, expected);
        EXPECT_EQ(answers, expectedAnswers);
        // The check before and after the download carries the file's value (4660 = 0x1234).
        int checks = 0;
        for (const TraceLine &l : traceOf(t, QStringLiteral("RX")))
            checks += l.bytes == QByteArray("\x05" "1234\xFE");
        EXPECT_EQ(checks, 2);
    }
    // The station connects, downloads the program and polls twice a second.
    void expectDownloadAndPolls()
    {
        ASSERT_NO_FATAL_FAILURE(startRun(run, dir.path()));
        expectConnected(15000);
        expectDownloadWithRefusals();
        const QTime from = QTime::currentTime();
        QTest::qWait(2000); // a rate is measured over a span, there is no condition to wait for
        const QTime to = QTime::currentTime();
        int polls = 0;
        for (const TraceLine &l : traceOf(readTrace(trace), QStringLiteral("RX")))
            polls += l.bytes == QByteArray(1, '\xFF') && l.time >= from && l.time < to;
        EXPECT_GE(polls, 3);
        EXPECT_LE(polls, 5);
    }

    std::unique_ptr<StationRun> run;
};

TEST_F(ArxConnect, SerialPtyDownloadsProgramAndPollsTwiceASecond)
{
    startPtyUnit({"--bad-checksums", "2"});
    ASSERT_TRUE(dir.writePage(1, PageFile{}));
    expectDownloadAndPolls();
    EXPECT_GT(run->page(1).store().sequence(), 0u);
}

// This unit ends its answers with FF instead of F0 F1.
TEST_F(ArxConnect, NetworkUnitDownloadsProgramAndPolls)
{
    ASSERT_TRUE(sim.start({"--tcp", "0", "--trace", trace, "--bad-checksums", "2", "--reply-end", "ff"})) << "no simulator";
    ASSERT_NE(sim.tcpPort(), 0) << sim.line().toStdString();
    ASSERT_TRUE(dir.writePage(1, networkPage(sim.tcpPort())));
    expectDownloadAndPolls();
}

// Disconnect logs off before the link closes; Connect logs in again, and the
// unit, which kept its program, needs no second download.
TEST_F(ArxConnect, DisconnectLogsOffAndConnectStartsAgain)
{
    for (const bool serial : {true, false}) {
        SCOPED_TRACE(serial ? "pty" : "tcp");
        sim.stop();
        run.reset();
        QFile::remove(trace);
        PageFile p;
        if (serial) {
            startPtyUnit({});
        } else {
            ASSERT_TRUE(sim.start({"--tcp", "0", "--trace", trace})) << "no simulator";
            p = networkPage(sim.tcpPort());
        }
        ASSERT_TRUE(dir.writePage(1, p));
        ASSERT_NO_FATAL_FAILURE(startRun(run, dir.path()));
        expectConnected(10000);

        run->page(1).disconnectButton();
        EXPECT_TRUE(waitFor([&] { return traceReceived(trace, QByteArray("\x02\xFE", 2)); }, 3000))
            << "the log-off reached the unit before the link closed";
        EXPECT_FALSE(run->page(1).record().portOpen);
        const int polls = int(traceOf(readTrace(trace), QStringLiteral("FRAME")).size());

        run->page(1).connectButton();
        ASSERT_TRUE(waitFor([&] { return traceOf(readTrace(trace), QStringLiteral("FRAME")).size() > polls + 2; }, 10000))
            << run->messages();
        int checks = 0, lines = 0;
        for (const TraceLine &l : traceOf(readTrace(trace), QStringLiteral("RX"))) {
            checks += l.bytes.startsWith('\x05');
            lines += l.bytes.startsWith('\t');
        }
        EXPECT_EQ(checks, 3) << "check, final check, then one check that finds the program";
        EXPECT_EQ(lines, int(kProgram.size()));
        EXPECT_EQ(run->page(1).record().state, state::Data);
    }
}

TEST_F(ArxConnect, ModemDialsThenLogsIn)
{
    startPtyUnit({"--modem", "--loaded"});
    PageFile p;
    p.connectionType = connection::Modem;
    p.modemPort = 0;
    p.phoneNumber = QStringLiteral("5551234");
    ASSERT_TRUE(dir.writePage(1, p));
    ASSERT_NO_FATAL_FAILURE(startRun(run, dir.path()));
    expectConnected(20000);

    // The modem saw the reset first and the dial with the page's number later.
    QStringList modemLines;
    for (const TraceLine &l : traceOf(readTrace(trace), QStringLiteral("RX")))
        if (l.name.startsWith(QLatin1String("modem ")))
            modemLines << l.name.mid(6);
    ASSERT_FALSE(modemLines.isEmpty());
    EXPECT_EQ(modemLines.first(), QStringLiteral("ATZ"));
    const qsizetype dial = modemLines.indexOf(QStringLiteral("ATDT5551234"));
    EXPECT_GT(dial, 0) << modemLines.join(' ').toStdString();
    EXPECT_EQ(dial, modemLines.size() - 1) << "nothing reaches the modem as a command once on line";
}

// The unit on the serial line goes away (its pty with it): the page reports
// it once, stops, and polls no more.
TEST_F(ArxConnect, SerialUnitGoneIsReportedOnce)
{
    startPtyUnit({"--loaded"});
    ASSERT_TRUE(dir.writePage(1, PageFile{}));
    ASSERT_NO_FATAL_FAILURE(startRun(run, dir.path()));
    expectConnected(10000);
    const int linesBefore = run->station().messageLog().count();
    sim.stop();
    ASSERT_TRUE(waitFor([&] { return run->station().messageLog().count() > linesBefore; }, 3000));
    QTest::qWait(1000); // two poll periods on a port that is gone
    EXPECT_EQ(run->station().messageLog().count(), linesBefore + 1) << run->messages();
    EXPECT_TRUE(run->station().messageLog().line(0).startsWith(QLatin1String("ERROR ("))) << run->messages();
    EXPECT_EQ(run->page(1).record().state, state::Error);
    EXPECT_FALSE(run->page(1).record().portOpen);
}

// The supervisor password changed through the page holds at the unit: the
// next log-in with the new password succeeds, with the old one it is refused.
TEST_F(ArxConnect, PasswordChangeHoldsForTheNextLogIn)
{
    ASSERT_TRUE(sim.start({"--tcp", "0", "--loaded", "--trace", trace})) << "no simulator";
    ASSERT_TRUE(dir.writePage(1, networkPage(sim.tcpPort())));
    ASSERT_NO_FATAL_FAILURE(startRun(run, dir.path()));
    expectConnected(10000);

    ConnectionPage &page = run->page(1);
    auto *session = dynamic_cast<ArxSession *>(page.session());
    ASSERT_NE(session, nullptr);
    session->setNewPassword("fresh7");
    page.startPasswordChange();
    ASSERT_TRUE(run->waitForLine(QStringLiteral(" ARX Succesful Password Change"), 20000)) << run->messages();
    EXPECT_TRUE(traceReceived(trace, "FRESH7\xFE"));
    // Polling resumes.
    const qsizetype frames = traceFrames(trace).size();
    EXPECT_TRUE(waitFor([&] { return traceFrames(trace).size() >= frames + 2; }, 3000));

    page.disconnectButton();
    ConnectionSettings s = page.settings();
    s.password = QStringLiteral("FRESH7");
    page.setSettings(s);
    run->station().messageLog().clear();
    page.connectButton();
    expectConnected(10000);

    page.disconnectButton();
    s.password = QStringLiteral("KELPO4");
    page.setSettings(s);
    page.connectButton();
    EXPECT_TRUE(run->waitForLine(QStringLiteral(" ARX INVAILD PASSWORD"), 10000)) << run->messages();
}

// The modules' identities come in with the frames; Connect on a page that
// is connected closes the port, opens it again and logs in afresh.
TEST_F(ArxConnect, ConnectWhileConnectedStartsOver)
{
    startPtyUnit({"--loaded", "--modules", "ks71"});
    ASSERT_TRUE(dir.writePage(1, PageFile{}));
    ASSERT_NO_FATAL_FAILURE(startRun(run, dir.path()));
    expectConnected(10000);
    const auto shown = [&](const QString &unit) {
        for (const HardwareRow &r : run->page(1).hardwareRows())
            if (r.unit == unit && r.hardware == QLatin1String("Arxon System") && !r.id.isEmpty() && !r.serial.isEmpty())
                return true;
        return false;
    };
    EXPECT_TRUE(waitFor([&] { return shown(QStringLiteral(" KM-71")) && shown(QStringLiteral(" KS-71")); }, 10000));

    run->station().messageLog().clear();
    const auto wakes = [&] {
        int n = 0;
        for (const TraceLine &l : traceOf(readTrace(trace), QStringLiteral("RX")))
            n += l.bytes == unitsim::kWake;
        return n;
    };
    const int before = wakes();
    run->page(1).connectButton();
    expectConnected(10000);
    EXPECT_EQ(wakes(), before + 1) << "detection starts again from the wake-up";
}

} // namespace
