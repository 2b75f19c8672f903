// The connected ARX page: poll clock, pending commands, frame cutting,
// filing, relay frames and the buttons.
#include "arx_testpage.h"

#include "core/datetime.h"
#include "protocols/arx/arxcommands.h"
#include "protocols/arx/arxdecoder.h"

namespace {

const QByteArray kPoll("\xFF", 1);

TEST_F(ArxPageTest, PollGoesOutEveryHalfSecond)
{
    connectUnit();
    QList<int> pollTicks;
    for (int i = 1; i <= 25; ++i) {
        tick();
        if (link.takeSent() == kPoll)
            pollTicks << i;
    }
    EXPECT_EQ(pollTicks, (QList<int>{1, 11, 21}));
}

TEST_F(ArxPageTest, PollAcrossMidnightIsNotHeldBack)
{
    connectUnit();
    clock.set(QDateTime(QDate(2026, 12, 6), QTime(23, 59, 59, 700)));
    tick(); // .750: first poll
    EXPECT_EQ(link.takeSent(), kPoll);
    ticks(4); // .800 ... .950
    EXPECT_TRUE(link.takeSent().isEmpty());
    tick(); // 00:00:00.000: the time of day went back by nearly a day
    EXPECT_EQ(link.takeSent(), kPoll);
}

TEST_F(ArxPageTest, PendingCommandWaitsForTheTickAfterAPoll)
{
    connectUnit();
    const QByteArray command = arx::cmdTvSelect14(5);
    EXPECT_TRUE(page->queueUnitCommand(command));
    tick(); // first tick polls; the command must wait
    EXPECT_EQ(link.takeSent(), kPoll);
    EXPECT_TRUE(record().pendingCommand.pending);
    tick();
    EXPECT_EQ(link.takeSent(), command);
    EXPECT_FALSE(record().pendingCommand.pending);
    tick();
    EXPECT_TRUE(link.takeSent().isEmpty());

    // A selection out of range built nothing: nothing goes out for it.
    page->queueUnitCommand(arx::cmdTvSelect14(50));
    tick();
    EXPECT_FALSE(record().pendingCommand.pending);
    EXPECT_TRUE(link.sends().isEmpty());
}

TEST_F(ArxPageTest, UnitFrameIsStampedFiledAndCounted)
{
    connectUnit();
    const QByteArray frame = arxFrame();
    link.queue(frame);
    tick();
    const QByteArray stored = page->store().newest(RecordKind::Arx);
    ASSERT_EQ(stored.size(), 108);
    EXPECT_EQ(stored.left(100), frame);
    EXPECT_EQ(stored.mid(100), datetime::stampOf(clock.now()));
    EXPECT_EQ(page->store().sequence(), 1u);
    EXPECT_TRUE(page->store().mark(0));
    EXPECT_TRUE(page->store().mark(10));
    EXPECT_EQ(record().state, state::Data);
    EXPECT_EQ(record().framesSinceShown, 1);
    EXPECT_FALSE(record().newData); // decoded in the same tick
    EXPECT_TRUE(record().frameText.isEmpty());
}

TEST_F(ArxPageTest, TwoFramesInOneReadAreTakenOnTwoTicks)
{
    connectUnit();
    link.queue(arxFrame(0xFC, 0x11) + arxFrame(0xEC, 0x22));
    tick();
    EXPECT_EQ(page->store().sequence(), 1u);
    EXPECT_EQ(page->store().newest(RecordKind::Arx).at(4), 0x11);
    EXPECT_EQ(record().frameText.size(), 100);
    tick();
    EXPECT_EQ(page->store().sequence(), 2u);
    EXPECT_EQ(page->store().newest(RecordKind::Arx).at(4), 0x22);
    EXPECT_EQ(record().framesSinceShown, 2);
}

TEST_F(ArxPageTest, NoiseIsDiscardedInBlocksOf99)
{
    connectUnit();
    link.queue(QByteArray(250, 0x33));
    tick();
    EXPECT_EQ(record().frameText.size(), 151);
    tick();
    EXPECT_EQ(record().frameText.size(), 52);
    tick();
    EXPECT_EQ(record().frameText.size(), 52);
    EXPECT_EQ(page->store().sequence(), 0u);
    EXPECT_NE(record().state, state::Data);

    // Noise ahead of a frame is skipped at once.
    link.queue(QByteArray(30, 0x44) + arxFrame());
    tick();
    EXPECT_EQ(page->store().sequence(), 1u);
    EXPECT_TRUE(record().frameText.isEmpty());
}

TEST_F(ArxPageTest, FrameWithUnknownDescriptorIsDropped)
{
    connectUnit();
    link.queue(arxFrame(0x5C));
    tick();
    EXPECT_EQ(page->store().sequence(), 0u);
    EXPECT_TRUE(record().frameText.isEmpty());
    EXPECT_EQ(errorCount(), 0);
}

class ArxNetworkTest : public ArxPageTest {
protected:
    int connectionType() const override { return connection::Network; }
};

TEST_F(ArxNetworkTest, RelayFrameKeepsItsOwnStamp)
{
    connectUnit("KM71", "SPASSWORD");
    ASSERT_TRUE(record().viaRelay);
    const QDateTime sent(QDate(2026, 1, 2), QTime(3, 4, 5));
    const QByteArray frame = arxFrame() + datetime::stampOf(sent);
    link.queue(frame);
    tick();
    EXPECT_EQ(page->store().newest(RecordKind::Arx), frame);

    // A relay frame's stamp is not a date: the frame is still kept as it came.
    const QByteArray odd = arxFrame() + QByteArray(8, char(0xFF));
    link.queue(odd);
    tick();
    EXPECT_EQ(page->store().newest(RecordKind::Arx), odd);
}

TEST_F(ArxNetworkTest, FloodOfNoiseStaysBounded)
{
    connectUnit();
    link.queue(QByteArray(ConnectionPage::kNetworkReadLimit, 0x55));
    link.queue(QByteArray(ConnectionPage::kNetworkReadLimit, 0x55), 2);
    tick();
    tick();
    EXPECT_LE(record().frameText.size(), ArxSession::kFrameTextLimit);
    link.queue(arxFrame());
    tick();
    EXPECT_EQ(page->store().sequence(), 1u);
}

TEST_F(ArxPageTest, DisconnectLogsOffAndCloses)
{
    connectUnit();
    page->disconnectButton();
    EXPECT_EQ(link.takeSent(), arxBytes({0x02, 0xFE}));
    EXPECT_EQ(record().phase, 0);
    EXPECT_EQ(record().state, state::Disconnected);
    EXPECT_FALSE(record().portOpen);
}

TEST_F(ArxPageTest, ConnectRestartsDetection)
{
    connectUnit();
    scriptLogin();
    page->connectButton();
    EXPECT_EQ(record().phase, 1);
    EXPECT_EQ(record().detectStep, 0);
    ticks(2);
    EXPECT_EQ(link.sends().value(0), arxBytes({0x03, 0xFE}));
    EXPECT_TRUE(tickUntilPhase(4));
}

TEST_F(ArxPageTest, NoModulePresentShowsTheCaptionRow)
{
    connectUnit();
    link.queue(arxFrame());
    tick();
    const QList<HardwareRow> rows = page->hardwareRows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0], (HardwareRow{QStringLiteral("Arxon System"), QStringLiteral("N/A"), QStringLiteral("N/A"),
                                    QStringLiteral("N/A")}));
}

// A KS-71 configuration-and-identity message (layout 1, block at slot 75):
// the first valid one makes the module present.
TEST_F(ArxPageTest, PresentModuleIsListed)
{
    connectUnit();
    QByteArray frame = arxFrame(0xFC, 0x00);
    QByteArray msg(19, '\0');
    msg[0] = char(0x20);
    msg[2] = 0;   // must be 0
    msg[5] = 12;  // version 1.2
    msg[6] = 'B';
    msg[7] = 12;  // serial 35 + 12*100 + 34 = "351234"
    msg[8] = 34;
    for (int i = 9; i < 19; ++i)
        msg[i] = 'K';
    int sum = 0;
    for (int i = 2; i <= 18; ++i)
        sum += quint8(msg[i]);
    msg[1] = char(sum & 0xFF);
    frame.replace(75, msg.size(), msg);
    link.queue(frame);
    tick();
    EXPECT_EQ(record().unitsChanged & 0x02, 0x02u);
    const QList<HardwareRow> rows = page->hardwareRows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].hardware, QStringLiteral("Arxon System"));
    EXPECT_EQ(rows[0].unit, QStringLiteral(" KS-71"));
    EXPECT_EQ(rows[0].serial, QStringLiteral("351234"));
}

} // namespace
