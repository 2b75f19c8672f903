// The connected line session: receive step, pending commands, text log, and
// the connect, disconnect and exit machines.
#include "hd_testpage.h"

#include "core/datetime.h"
#include "protocols/hd/hddecoder.h"

#include <QDir>

namespace {

class LineSessionTest : public LinePageTest {
protected:
    const RelayStore &store() { return page->store(); }
    QByteArray newest(RecordKind kind = RecordKind::Hd) { return store().newest(kind); }
};

TEST_F(LineSessionTest, StreamIsCutIntoFramesOnePerTick)
{
    connectUnit();
    const QByteArray a = HdFrameBuilder(1).frame(), b = HdFrameBuilder(2).frame();
    const struct {
        const char *name;
        QList<QByteArray> reads; // one per tick
        QList<QByteArray> filed;
    } cases[] = {
        {"noise before a frame", {QByteArray(3, 0x11) + a}, {a}},
        {"no marker at all", {QByteArray(1600, 0x11)}, {}},
        {"marker split over two reads", {QByteArray(40, 0x33) + a.left(2), a.mid(2)}, {a}},
        {"two frames in one read", {a + b, {}}, {a, b}},
        {"noise between frames", {a + QByteArray(7, 0x44) + b, {}}, {a, b}},
    };
    for (const auto &c : cases) {
        QList<QByteArray> filed;
        for (const QByteArray &read : c.reads) {
            const quint64 before = store().sequence();
            link.queue(read, 0);
            ticks();
            if (store().sequence() != before) {
                filed << newest();
                EXPECT_EQ(newest().mid(1501), datetime::stampOf(clock.now())) << c.name;
            }
        }
        ASSERT_EQ(filed.size(), c.filed.size()) << c.name;
        for (int i = 0; i < filed.size(); ++i)
            EXPECT_EQ(filed[i].left(1501), c.filed[i]) << c.name;
        EXPECT_LT(session().frameCutter().size(), 3) << c.name; // at most a marker's start waits
    }
    EXPECT_TRUE(store().mark(1));
    EXPECT_EQ(record().framesSinceShown, 6);
}

// Frames come with their read event and commands wake the page, so a
// polling page with nothing waiting skips its ticks; anything waiting to be
// sent or cut, and detection, tick on.
TEST_F(LineSessionTest, APollingPageWithNothingWaitingSkipsItsTicks)
{
    page->openLink();
    ticks();
    EXPECT_EQ(page->roundsToSkip(), 0);
    connectUnit();
    ticks();
    const int longest = int(LineSession::kQuietPollingMs - 1) / page->interval();
    EXPECT_EQ(page->roundsToSkip(), longest);

    page->queueUnitCommand("XX\r");
    EXPECT_EQ(page->roundsToSkip(), 0);
    ticks();
    EXPECT_EQ(link.takeSent(), "XX\r");
    EXPECT_EQ(page->roundsToSkip(), longest);

    const QByteArray frame = HdFrameBuilder().frame();
    link.queue(frame.left(700), 0);
    page->session()->onSocketRead();
    EXPECT_EQ(page->roundsToSkip(), 0);
    link.queue(frame.mid(700), 0);
    page->session()->onSocketRead();
    EXPECT_EQ(newest().left(1501), frame);
    EXPECT_EQ(page->roundsToSkip(), longest);
}

TEST_F(LineSessionTest, RelayFramesAreFiledAsReceivedAndModemLinksAreRead)
{
    connectUnit("KH-72", "SPASSWORD\r");
    const QByteArray relayed = HdFrameBuilder().frame() + "12345678";
    link.queue(relayed.left(1000), 0);
    ticks();
    EXPECT_EQ(store().sequence(), 0u);
    link.queue(relayed.mid(1000), 0);
    ticks();
    EXPECT_EQ(newest(), relayed);

    makePage(hardware::Hd, connection::Modem);
    connectUnit();
    link.queue(HdFrameBuilder().frame(), 0);
    ticks();
    EXPECT_EQ(newest().left(1501), HdFrameBuilder().frame());
}

TEST_F(LineSessionTest, PendingCommandsAreSentByKind)
{
    connectUnit();
    // The first settings page seeds the settings: parameter 16 (byte 1207) = 1.
    link.queue(HdFrameBuilder(0).u8(1207, 1).frame(), 0);
    ticks();
    const struct {
        int kind, number;
        quint8 value;
        QByteArray text, sent;
    } cases[] = {
        {0, 16, 0, {}, "CC100148\r"},      {0, 40, 0, {}, "CC28F0\r"},
        {1, 205, 0xFF, {}, "PBCDFFA5\r"},  {99, 0, 0, "CC1000xx\r", "CC1000xx\r"},
        {7, 16, 0, "an unknown kind", ""},
    };
    for (const auto &c : cases) {
        record().pendingCommand = PendingCommand{true, c.kind, c.text, c.number, c.value};
        ticks();
        EXPECT_EQ(link.takeSent(), c.sent);
        EXPECT_FALSE(record().pendingCommand.pending);
    }
    page->queueUnitCommand("PBD107\r"); // a relay client's line
    ticks();
    EXPECT_EQ(link.takeSent(), QByteArray("PBD107\r"));
}

// Eight frames a second: one line a second with the peak, average and
// minimum of the total level since the line before.
TEST_F(LineSessionTest, TextLogWritesOneLineASecond)
{
    ConnectionSettings s = page->settings();
    s.logEnabled = true;
    page->setSettings(s);
    connectUnit();
    ticks(); // the poll interval is in force
    clock.set(QDateTime(QDate(2026, 12, 6), QTime(14, 10, 0)));
    page->openLog();
    for (int k = 1; k <= 24; ++k) {
        link.queue(HdFrameBuilder().u16(253, 10 * k).frame(), 0);
        ticks();
    }
    const QStringList files = QDir(base.path()).entryList({QStringLiteral("*.TXT")});
    ASSERT_EQ(files.size(), 1);
    QFile file(base.path() + QLatin1Char('/') + files.first());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("DATE,TIME,TOTAL PEAK,TOTAL AVE,TOTAL MIN\r\n"
                                         "12/6/2026,14:10:00,10,10.0,10\r\n"
                                         "12/6/2026,14:10:01,80,50.0,20\r\n"
                                         "12/6/2026,14:10:02,160,125.0,90\r\n"
                                         "12/6/2026,14:10:03,240,205.0,170\r\n"));
}

TEST_F(LineSessionTest, ConnectEndsTheUnitSessionThenDetectsAgain)
{
    connectUnit();
    page->connectButton();
    ticks(3);
    EXPECT_EQ(link.sends(), (QList<QByteArray>{"HD\r", "EC\r"}));
    EXPECT_EQ(page->interval(), 100);
    ticks(22);
    EXPECT_EQ(record().phase, Phase::ConnectReset);
    EXPECT_EQ(record().state, state::Disconnected);
    ticks();
    EXPECT_EQ(record().phase, Phase::WaitLink);
    EXPECT_TRUE(session().connectDone());

    // With the link closed, Connect opens it at once.
    page->closeLink();
    link.takeSent();
    page->connectButton();
    ticks(2);
    EXPECT_EQ(record().phase, Phase::WaitLink);
    EXPECT_TRUE(link.sent().isEmpty());
}

TEST_F(LineSessionTest, DisconnectAndExitEndTheUnitSessionBeforeClosing)
{
    const struct {
        int hardwareType;
        bool exiting;
    } cases[] = {{hardware::Hd, false}, {hardware::Hd, true}, {hardware::Kf71, true}};
    for (const auto &c : cases) {
        makePage(c.hardwareType);
        connectUnit(c.hardwareType == hardware::Hd ? "KH-72" : "KF-71", "VALID SUPERVISOR\r");
        log.clear();
        c.exiting ? page->requestShutdown() : page->disconnectButton();
        ticks(23);
        EXPECT_EQ(link.sends(), (QList<QByteArray>{"HD\r", "EC\r"}));
        EXPECT_EQ(record().phase, c.exiting ? Phase::Exit : Phase::DisconnectReset);
        ticks();
        EXPECT_EQ(record().phase, Phase::Idle);
        EXPECT_EQ(record().state, state::Disconnected);
        EXPECT_TRUE(c.exiting ? record().exitDone : session().disconnectDone());
        const int traces[] = {count(" Exit 0", LogLevel::Debug), count(" Exit 0-1", LogLevel::Debug),
                              count(" Exit 0-1-2", LogLevel::Debug), count(" Exit 0-1-2-3", LogLevel::Debug)};
        EXPECT_EQ(std::vector<int>(traces, traces + 4),
                  (c.exiting ? std::vector<int>{1, 1, 21, 1} : std::vector<int>{0, 0, 0, 0}));
    }
    connectUnit("KF-71", "VALID SUPERVISOR\r"); // the KF-71 files into its own ring
    link.queue(HdFrameBuilder(1).frame(), 0);
    ticks();
    EXPECT_EQ(newest(RecordKind::Kf).left(1501), HdFrameBuilder(1).frame());
    EXPECT_TRUE(newest(RecordKind::Hd).isEmpty());
}

} // namespace
