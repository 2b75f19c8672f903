// The connected ARX page: poll clock, pending commands, frame cutting and
// filing, relay frames, the hardware list and the Disconnect button.
#include "arx_testpage.h"

#include "connection/measurementlog.h"
#include "core/datetime.h"

#include <QDir>
#include <QFile>
#include "protocols/arx/arxcommands.h"

namespace {

const QByteArray kPoll("\xFF", 1);

TEST_F(ArxPageTest, PollEveryHalfSecondAndPendingCommandsBetween)
{
    connectUnit();
    QList<int> pollTicks;
    for (int i = 1; i <= 21; ++i) {
        tick();
        if (link.takeSent() == kPoll)
            pollTicks << i;
    }
    EXPECT_EQ(pollTicks, (QList<int>{1, 11, 21}));

    // Queued in a tick that polls: out on the next tick.
    ticks(9);
    page->queueUnitCommand(arx::cmdTvSelect14(5));
    tick();
    EXPECT_EQ(link.takeSent(), kPoll);
    tick();
    EXPECT_EQ(link.takeSent(), arx::cmdTvSelect14(5));
    EXPECT_FALSE(record().pendingCommand.pending);

    // An out-of-range selection built nothing, and nothing goes out.
    page->queueUnitCommand(arx::cmdTvSelect14(50));
    tick();
    EXPECT_TRUE(link.sends().isEmpty());

    // Through midnight the time of day falls back by nearly a day: that polls.
    clock.set(QDateTime(QDate(2026, 12, 6), QTime(23, 59, 59, 950)));
    tick();
    EXPECT_EQ(link.takeSent(), kPoll);
}

// Between polls the page skips the ticks that would do nothing. Rounds of
// 50 ms are ticked every time, or only when the page's skip has run out
// (a queued command ends it, as the page's wake-up does): the same bytes
// go out in the same rounds, the same lines are logged, with far fewer ticks.
TEST_F(ArxPageTest, SkippedTicksAreTicksThatWouldDoNothing)
{
    struct Run {
        QList<QPair<int, QByteArray>> sends;
        std::vector<std::pair<int, std::string>> lines; // the round that logged each line
        int ticks = 0;
    };
    auto run = [&](bool skipping) {
        Run out;
        page = makePage(1, hardware::Arx, connection::Serial, link);
        clock.set(QDateTime(QDate(2026, 12, 7), QTime(10, 0)));
        connectUnit();
        log.clear();
        int due = 0;
        for (int round = 1; round <= 1000; ++round) {
            clock.advanceMs(50);
            link.advance();
            if (round == 123 || round == 124) {
                page->queueUnitCommand(arx::cmdTvSelect14(round - 118));
                due = qMin(due, round);
            }
            if (round == 305) {
                link.queue(arxFrame(), 0);
                page->session()->onSocketRead(); // the silence watch starts again
            }
            if (round < due)
                continue;
            page->tick();
            ++out.ticks;
            if (const QByteArray sent = link.takeSent(); !sent.isEmpty())
                out.sends << qMakePair(round, sent);
            if (log.count() > int(out.lines.size()))
                out.lines.emplace_back(round, log.line(0).toStdString());
            due = round + 1 + (skipping ? page->roundsToSkip() : 0);
        }
        return out;
    };
    const Run every = run(false);
    const Run skipping = run(true);
    EXPECT_EQ(skipping.sends, every.sends);
    EXPECT_EQ(skipping.lines, every.lines);
    ASSERT_EQ(every.lines.size(), 1);
    EXPECT_TRUE(QString::fromStdString(every.lines[0].second).endsWith(QStringLiteral(" ARX no data from the unit for 30 seconds")));
    EXPECT_EQ(every.sends.size(), 100 + 2); // a poll every ten rounds, and the two commands
    EXPECT_LT(skipping.ticks * 5, every.ticks);
}

TEST_F(ArxPageTest, UnitFramesAreStampedAndTakenOnePerTick)
{
    connectUnit();
    link.queue(arxFrame(0xFC, 0x11) + arxFrame(0xEC, 0x22));
    tick();
    const QByteArray stored = page->store().newest(RecordKind::Arx);
    EXPECT_EQ(stored, arxFrame(0xFC, 0x11) + datetime::stampOf(clock.now()));
    EXPECT_EQ(page->store().sequence(), 1u);
    EXPECT_EQ(record().state, state::Data);
    EXPECT_FALSE(record().newData); // decoded in the same tick
    tick();
    EXPECT_EQ(page->store().newest(RecordKind::Arx).left(100), arxFrame(0xEC, 0x22));
    EXPECT_EQ(record().framesSinceShown, 2);
}

TEST_F(ArxPageTest, NoiseIsDiscardedInBlocksOf99)
{
    connectUnit();
    link.queue(QByteArray(250, 0x33));
    tick();
    EXPECT_EQ(session().frameCutter().size(), 151);
    tick();
    EXPECT_EQ(session().frameCutter().size(), 52);
    tick();
    EXPECT_EQ(session().frameCutter().size(), 52);
    EXPECT_EQ(page->store().sequence(), 0u);

    // Noise ahead of a frame goes at once; an unknown descriptor is dropped.
    link.queue(QByteArray(30, 0x44) + arxFrame() + arxFrame(0x5C));
    ticks(2);
    EXPECT_EQ(page->store().sequence(), 1u);
    EXPECT_TRUE(session().frameCutter().isEmpty());
}

TEST_F(ArxPageTest, PartialFrameLeftBySilenceIsNotGluedToTheNext)
{
    connectUnit();
    link.queue(arxFrame(0xFC, 0x11).left(60));
    tick();
    ticks(50); // 2.5 s without a byte: the unit stopped mid-frame
    link.queue(arxFrame(0xEC, 0x22));
    tick();
    EXPECT_EQ(page->store().sequence(), 1u);
    EXPECT_EQ(page->store().newest(RecordKind::Arx).left(100), arxFrame(0xEC, 0x22));
}

class ArxNetworkTest : public ArxPageTest {
protected:
    int connectionType() const override { return connection::Network; }
};

TEST_F(ArxNetworkTest, RelayFramesAreKeptAsReceived)
{
    connectUnit("KM71", "SPASSWORD");
    const QByteArray frame = arxFrame() + datetime::stampOf(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)));
    const QByteArray odd = arxFrame() + QByteArray(8, char(0xFF)); // its stamp is no date
    link.queue(frame + odd);
    tick();
    EXPECT_EQ(page->store().newest(RecordKind::Arx), frame);
    tick();
    EXPECT_EQ(page->store().newest(RecordKind::Arx), odd);
}

// A far end replaying a recording across 04:00: its stamps go into the
// records unchanged, the daily file follows this station's clock.
TEST_F(ArxNetworkTest, RelayStampsDoNotRollTheLogOver)
{
    ASSERT_TRUE(QDir(base.path()).mkpath("LOG"));
    ConnectionSettings s = page->settings();
    s.logEnabled = true;
    page->setSettings(s);
    connectUnit("KM71", "SPASSWORD");
    page->openLog();
    QByteArray sent;
    for (const QTime &t : {QTime(3, 59, 58), QTime(4, 0, 1), QTime(3, 59, 59), QTime(4, 0, 2)}) {
        const QByteArray frame = arxFrame() + datetime::stampOf(QDateTime(QDate(2026, 1, 2), t));
        link.queue(frame);
        tick();
        sent += MeasurementLog::arxRecord(frame);
    }
    const QStringList files = QDir(base.path() + "/LOG").entryList(QDir::Files);
    ASSERT_EQ(files.size(), 1) << files.join('|').toStdString();
    QFile file(base.path() + "/LOG/" + files.first());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), sent);
}

TEST_F(ArxNetworkTest, FloodOfNoiseStaysBounded)
{
    connectUnit();
    link.queue(QByteArray(ConnectionPage::kNetworkReadLimit, 0x55));
    link.queue(QByteArray(ConnectionPage::kNetworkReadLimit, 0x55), 2);
    ticks(2);
    EXPECT_LE(session().frameCutter().size(), ArxSession::kFrameTextLimit);
    link.queue(arxFrame());
    tick();
    EXPECT_EQ(page->store().sequence(), 1u);
}

// A KS-71 configuration-and-identity message in the information block: the
// first valid one makes the module present and listed.
TEST_F(ArxPageTest, PresentModuleIsListed)
{
    connectUnit();
    link.queue(arxFrame());
    tick();
    EXPECT_EQ(page->hardwareRows(), (QList<HardwareRow>{{QStringLiteral("Arxon System"), QStringLiteral("N/A"),
                                                         QStringLiteral("N/A"), QStringLiteral("N/A")}}));
    QByteArray msg = bytes({0x20, 0, 0, 1, 0, 12, 'B', 12, 34}) + QByteArray(10, 'K');
    int sum = 0;
    for (int i = 2; i <= 18; ++i)
        sum += quint8(msg[i]);
    msg[1] = char(sum);
    link.queue(arxFrame(0xFC, 0).replace(75, msg.size(), msg));
    tick();
    EXPECT_EQ(record().unitsChanged & 0x02, 0x02u);
    ASSERT_EQ(page->hardwareRows().size(), 1);
    EXPECT_EQ(page->hardwareRows()[0].unit, QStringLiteral(" KS-71"));
    EXPECT_EQ(page->hardwareRows()[0].serial, QStringLiteral("351234"));
}

TEST_F(ArxPageTest, DisconnectLogsOffAndCloses)
{
    connectUnit();
    page->disconnectButton();
    EXPECT_EQ(link.takeSent(), bytes({0x02, 0xFE}));
    EXPECT_EQ(record().phase, 0);
    EXPECT_EQ(record().state, state::Disconnected);
    EXPECT_FALSE(record().portOpen);
}

TEST_F(ArxPageTest, SilentUnitIsReportedOnceAndItsReturnToo)
{
    connectUnit();
    const QString silent = QStringLiteral(" ARX no data from the unit for 30 seconds");
    while (clock.now() < QDateTime(QDate(2026, 12, 6), QTime(14, 5, 9)).addSecs(40) && !logged(silent))
        tick();
    EXPECT_TRUE(logged(silent));
    const int errors = errorCount();
    for (int i = 0; i < 1000; ++i) // polling goes on; no line per tick
        tick();
    EXPECT_EQ(errorCount(), errors);
    EXPECT_EQ(record().phase, 4);

    link.queue(arxFrame(0xFC, 0x11));
    tick();
    EXPECT_TRUE(logged(QStringLiteral(" ARX data received again"), LogLevel::Status));
}

} // namespace
