// The measurement log of an ARX page fed by the simulated unit, and the
// ways a log-in or a download ends in failure against it.
#include "station_support.h"
#include "unitsim_support.h"

#include <gtest/gtest.h>

using namespace stationtest;

// Simulator arguments as they would be typed, in test names and messages.
void PrintTo(const QStringList &args, std::ostream *out)
{
    *out << '"' << args.join(' ').toStdString() << '"';
}

namespace {

constexpr double kSecond = 1.0 / 86400.0;

class ArxUnitOnTcp : public UnitFixture {
protected:
    void start(const QStringList &simArgs, PageFile page)
    {
        ASSERT_TRUE(sim.start(QStringList{"--tcp", "0", "--trace", trace} + simArgs)) << "no simulator";
        ASSERT_NE(sim.tcpPort(), 0) << sim.line().toStdString();
        page.connectionType = connection::Network;
        page.ipAddress = QStringLiteral("127.0.0.1");
        page.portNumber = sim.tcpPort();
        ASSERT_TRUE(dir.writePage(1, page));
        startRun(run, dir.path());
    }
    // The page failed with this ERROR line and logged off the unit: FE, then 02 FE.
    void expectFailedAndLoggedOff(const QString &message)
    {
        ASSERT_TRUE(run->waitForLine(message, 15000)) << run->messages();
        EXPECT_TRUE(run->line(message).startsWith(QLatin1String("ERROR (")));
        EXPECT_TRUE(run->line(message).endsWith(message)) << "blanks kept";
        EXPECT_EQ(run->page(1).record().state, state::Error);
        run->page(1).showState(); // the main window's refresh
        EXPECT_EQ(run->page(1).stateText(), QStringLiteral("Error"));
        ASSERT_TRUE(waitFor([&] { return traceReceived(trace, QByteArray("\x02\xFE", 2)); }, 3000));
        QList<QByteArray> rx;
        for (const TraceLine &l : traceOf(readTrace(trace), QStringLiteral("RX")))
            rx << l.bytes;
        ASSERT_GE(rx.size(), 2);
        EXPECT_EQ(rx.mid(rx.size() - 2), (QList<QByteArray>{QByteArray("\xFE", 1), QByteArray("\x02\xFE", 2)}));
        EXPECT_TRUE(run->line(QStringLiteral(" ARX Succesful Connection")).isEmpty());
    }

    std::unique_ptr<StationRun> run;
};

class ArxLogged : public ArxUnitOnTcp, public ::testing::WithParamInterface<QStringList> {};

TEST_P(ArxLogged, LogRecordsAreTheFramesTheUnitSentWithTheirReceptionTimes)
{
    PageFile page;
    page.logEnabled = true;
    ASSERT_TRUE(dir.writeDownload(QStringLiteral("KM71"), 4660, {QStringLiteral(":10000100C2A5E1F01")}));
    start(QStringList{"--loaded"} + GetParam(), page);
    ASSERT_TRUE(waitFor([&] { return dir.arxLogRecords(1).size() >= 5; }, 10000)) << run->messages();

    const QString file = run->page(1).measurementLog().fileName();
    EXPECT_TRUE(QFileInfo(file).fileName().startsWith(QLatin1String("Connect1-Date..")));
    EXPECT_TRUE(file.endsWith(QLatin1String(".LW1")));

    const QList<QByteArray> records = dir.arxLogRecords(1);
    const QList<TraceLine> frames = traceOf(readTrace(trace), QStringLiteral("FRAME"));
    ASSERT_GE(frames.size(), records.size());
    // The page may be one poll's answer (two frames when interleaved) behind the trace.
    EXPECT_LE(frames.size() - records.size(), 2);
    for (qsizetype i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(i);
        const QByteArray &r = records[i];
        ASSERT_EQ(r.size(), 109);
        EXPECT_EQ(quint8(r[0]), 0x6C);
        EXPECT_EQ(r.mid(1, 100), frames[i].bytes);
        EXPECT_NEAR(stampDays(r.mid(101, 8)), frames[i].days, kSecond);
    }
    // The relay store holds the newest of them, stamp and all.
    ASSERT_TRUE(waitFor([&] { return run->page(1).store().newest(RecordKind::Arx) == dir.arxLogRecords(1).last().mid(1); },
                        2000));
}

// A plain KM-71, and one with more modules that sends two frames per poll.
INSTANTIATE_TEST_SUITE_P(ArxUnits, ArxLogged,
                         ::testing::Values(QStringList{}, QStringList{"--interleave", "--modules", "ks71,kc71,option"}),
                         [](const ::testing::TestParamInfo<QStringList> &info) {
                             return std::string(info.param.isEmpty() ? "PlainFrames" : "InterleavedFrames");
                         });

// A log directory that is not there: one report, and the page goes on
// taking frames for the relay servers.
TEST_F(ArxUnitOnTcp, LogThatCannotBeCreatedIsReportedOnce)
{
    PageFile page;
    page.logEnabled = true;
    page.logDirectory = dir.filePath(QStringLiteral("missing")) + QLatin1Char('/');
    ASSERT_TRUE(dir.writeDownload(QStringLiteral("KM71"), 4660, {QStringLiteral(":10000100C2A5E1F01")}));
    start({"--loaded"}, page);
    const quint64 first = run->page(1).store().sequence();
    ASSERT_TRUE(waitFor([&] { return run->page(1).store().sequence() >= first + 3; }, 5000)) << run->messages();
    int reports = 0;
    for (const QString &l : run->station().messageLog().lines())
        reports += l.contains(QLatin1String("Log file error"));
    EXPECT_EQ(reports, 1) << run->messages();
    EXPECT_FALSE(QFileInfo::exists(page.logDirectory));
}

TEST_F(ArxUnitOnTcp, WrongPasswordFailsAndLogsOff)
{
    PageFile page;
    page.password = QStringLiteral("WRONG1");
    start({}, page);
    expectFailedAndLoggedOff(QStringLiteral(" ARX INVAILD PASSWORD             "));
    EXPECT_TRUE(traceReceived(trace, "WRONG1\xFE"));
    EXPECT_FALSE(traceReceived(trace, QByteArray("\x07\xFE", 2))) << "no identify after a refusal";
}

TEST_F(ArxUnitOnTcp, FourRefusalsOfOneProgramLineFailTheDownload)
{
    ASSERT_TRUE(dir.writeDownload(QStringLiteral("KM71"), 4660, {QStringLiteral(":10000100C2A5E1F01")}));
    start({"--bad-checksums", "4"}, PageFile{});
    expectFailedAndLoggedOff(QStringLiteral(" ARX Download Failed - BAD CHECKSUMS"));
    int sent = 0;
    for (const TraceLine &l : traceOf(readTrace(trace), QStringLiteral("RX")))
        sent += l.bytes == QByteArray("\t:10000100C2A5E1F01\xFE");
    EXPECT_EQ(sent, 4);
    // The page stays idle: no poll follows the failure.
    EXPECT_FALSE(traceReceived(trace, QByteArray(1, '\xFF')));
}

} // namespace
