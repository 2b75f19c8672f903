// Frames of the streaming line units (HD, KF-71) and of ARX units on serial
// lines are filed, relayed and decoded when their bytes come, not at the
// next tick; a page with nothing to read costs no wake-ups.
#include "core/datetime.h"
#include "core/sharedtimer.h"
#include "protocols/arx_testpage.h"
#include "protocols/hd_testpage.h"

#include <QDir>

namespace {

// What a relay server would be handed, and when (by the fake clock).
class Recorder : public RelayStoreObserver {
public:
    void recordFiled(RecordKind, const QByteArray &record) override { records << record; }
    void storeGone(const RelayStore &) override {}
    QList<QByteArray> records;
};

class LineArrival : public LinePageTest {
protected:
    void TearDown() override
    {
        if (page)
            page->store().removeObserver(&viewer);
    }
    Recorder viewer;
};

TEST_F(LineArrival, FramesAreFiledAndDecodedWhenTheirBytesComeBeforeAnyTick)
{
    const struct {
        const char *name;
        int hardwareType;
        int connectionType;
        QByteArray ident;
    } cases[] = {
        {"KH-71 on TCP", hardware::Hd, connection::Network, "KH-71 LCD(1) SW(01.23 04.56) SN(123456) LAN(6.5.0.0)"},
        {"KH-71 on a serial line", hardware::Hd, connection::Serial, "KH-71 LCD(1) SW(01.23 04.56) SN(123456) LAN(6.5.0.0)"},
        {"KF-71 on TCP", hardware::Kf71, connection::Network, "KF-71 OPT(1) SW(01.18 01.18) SN(654321) LAN(6.1.0.0)"},
        {"KF-71 on a serial line", hardware::Kf71, connection::Serial, "KF-71 OPT(1) SW(01.18 01.18) SN(654321) LAN(6.1.0.0)"},
    };
    const QByteArray a = HdFrameBuilder(1).frame(), b = HdFrameBuilder(2).frame(), c = HdFrameBuilder(3).frame();
    for (const auto &k : cases) {
        if (page)
            page->store().removeObserver(&viewer);
        viewer.records.clear();
        makePage(k.hardwareType, k.connectionType);
        ASSERT_NO_FATAL_FAILURE(connectUnit(k.ident));
        page->store().addObserver(&viewer);
        const RecordKind kind = k.hardwareType == hardware::Hd ? RecordKind::Hd : RecordKind::Kf;
        const QDateTime at = clock.now(); // no tick, no time passes from here

        // Two whole frames and the start of a third in one read.
        link.queue(a + QByteArray(5, 0x44) + b + c.left(700), 0);
        page->linkReadable();
        ASSERT_EQ(viewer.records.size(), 2) << k.name;
        EXPECT_EQ(viewer.records[0], a + datetime::stampOf(at)) << k.name;
        EXPECT_EQ(viewer.records[1], b + datetime::stampOf(at)) << k.name;
        EXPECT_EQ(page->store().newest(kind), viewer.records[1]) << k.name;
        EXPECT_FALSE(record().newData) << k.name << ": decoded as it came";
        EXPECT_EQ(record().framesSinceShown, 2) << k.name;

        link.queue(c.mid(700), 0);
        page->linkReadable();
        ASSERT_EQ(viewer.records.size(), 3) << k.name;
        EXPECT_EQ(viewer.records[2].left(1501), c) << k.name;
        EXPECT_EQ(clock.now(), at);

        // The tick keeps its own steps and finds nothing more to file.
        EXPECT_TRUE(link.takeSent().isEmpty()) << k.name << ": nothing is sent on arrival";
        record().pendingCommand = {true, 99, "CC0F0001A5\r", 0, 0};
        ticks();
        EXPECT_EQ(link.takeSent(), QByteArray("CC0F0001A5\r")) << k.name;
        EXPECT_EQ(viewer.records.size(), 3) << k.name;
        EXPECT_EQ(page->interval(), 125) << k.name;
    }
}

// Before polling, the line reader owns what comes: detection still reads its replies.
TEST_F(LineArrival, BytesDuringDetectionAreLeftToTheTick)
{
    link.answer("SC\r", "PASSWORD\r");
    page->openLink();
    ticks(3);
    ASSERT_EQ(record().phase, Phase::Detect);
    page->linkReadable();
    EXPECT_EQ(record().bytesReceived, 0u);
    tickWhile(Phase::Detect, 3);
    EXPECT_TRUE(link.sends().contains("SECRET\r"));
}

class ArxSerialArrival : public ArxPageTest {};

TEST_F(ArxSerialArrival, FramesOfASerialUnitAreFiledWhenTheirBytesCome)
{
    ASSERT_NO_FATAL_FAILURE(connectUnit());
    Recorder viewer;
    page->store().addObserver(&viewer);
    link.queue(arxFrame(0xFC, 0x21) + arxFrame(0xEC, 0x22), 0);
    page->linkReadable();
    ASSERT_EQ(viewer.records.size(), 2);
    EXPECT_EQ(viewer.records[1], arxFrame(0xEC, 0x22) + datetime::stampOf(clock.now()));
    EXPECT_FALSE(record().newData);
    EXPECT_TRUE(link.takeSent().isEmpty()) << "the poll stays the tick's";
    page->store().removeObserver(&viewer);
}

// A page with nothing to read or do is not woken: the arrival event reads
// nothing, and an idle page's timer rests until it is given work.
class QuietPage : public ScriptedPageTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir(base.path()).mkpath(QStringLiteral("CONFIG")));
        page = makePage(1, hardware::Arx, connection::Serial, link);
        const ConnectionSettings chosen = page->settings();
        QString error;
        ASSERT_TRUE(page->loadSettings(&error)) << error.toStdString(); // starts the timer
        page->setSettings(chosen);
        ASSERT_EQ(record().phase, 0);
    }
};

TEST_F(QuietPage, IdlePageRestsUntilItIsGivenWork)
{
    const int groups = SharedTimer::groupsRunning();
    EXPECT_FALSE(page->timerResting());
    ticks();
    EXPECT_TRUE(page->timerResting());
    EXPECT_TRUE(page->timerActive()) << "resting is not stopped";
    EXPECT_EQ(SharedTimer::groupsRunning(), groups - 1) << "the page's timer group no longer fires";

    page->linkReadable(); // no link open: nothing happens, nothing wakes
    EXPECT_TRUE(page->timerResting());

    const struct {
        const char *name;
        std::function<void()> act;
    } wakers[] = {
        {"open link", [&] { page->openLink(); }},
        {"Connect", [&] { page->connectButton(); }},
        {"Disconnect", [&] { page->disconnectButton(); }},
        {"shut-down", [&] { page->requestShutdown(); }},
        {"new settings", [&] { page->setSettings(page->settings()); }},
    };
    for (const auto &w : wakers) {
        page->closeLink();
        ticks();
        ASSERT_TRUE(page->timerResting()) << w.name;
        w.act();
        EXPECT_FALSE(page->timerResting()) << w.name;
    }
    page->stopTimer();
    EXPECT_FALSE(page->timerActive());
}

TEST_F(QuietPage, PollingPageWithNothingToReadTakesNothing)
{
    link.answer(bytes({0x01, 0xFE}), marked("PASSWORD"));
    link.answer("SECRET\xFE", marked("SUPERVISOR"));
    link.answer(bytes({0x07, 0xFE}), marked("KS71"));
    page->openLink();
    for (int i = 0; i < 100 && record().phase != 4; ++i)
        ticks();
    ASSERT_EQ(record().phase, 4);
    link.takeSent();
    const quint64 bytes = record().bytesReceived;
    for (int i = 0; i < 3; ++i)
        page->linkReadable();
    EXPECT_EQ(record().bytesReceived, bytes);
    EXPECT_EQ(page->store().sequence(), 0u);
    EXPECT_TRUE(link.takeSent().isEmpty());
    EXPECT_EQ(page->interval(), 50) << "the poll tick is as it was";
    EXPECT_FALSE(page->timerResting());
}

} // namespace
