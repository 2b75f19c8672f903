// The connected line session: receive step, pending commands, and the
// connect, disconnect and exit machines.
#include "hd_frame_builder.h"
#include "hd_testpage.h"

#include "core/datetime.h"
#include "protocols/hd/hddecoder.h"

#include <QDir>

namespace {

using Phase = LineSession::Phase;

class HdSessionTest : public LinePageTest {
protected:
    const RelayStore &store() { return page->store(); }
    QByteArray newest() { return store().newest(RecordKind::Hd); }
};

TEST_F(HdSessionTest, StreamIsCutIntoFramesOnePerTick)
{
    connectUnit();
    const QByteArray a = hdFrame(0x55, 0x21), b = hdFrame(0x55, 0x22);
    const struct {
        const char *name;
        QList<QByteArray> reads; // one per tick
        QList<QByteArray> filed; // frames filed, in order
    } cases[] = {
        {"noise before a frame", {bytes({1, 2, 3}) + a}, {a}},
        {"no marker at all", {QByteArray(1600, 0x11)}, {}},
        {"marker split over two reads", {QByteArray(40, 0x33) + a.left(2), a.mid(2)}, {a}},
        {"two frames in one read", {a + b, {}}, {a, b}},
        {"noise between frames", {a + QByteArray(7, 0x44) + b, {}}, {a, b}},
    };
    for (const auto &c : cases) {
        record().frameCutter.clear();
        QList<QByteArray> filed;
        for (const QByteArray &read : c.reads) {
            const quint64 before = store().sequence();
            link.queue(read, 0);
            tick();
            if (store().sequence() != before) {
                filed << newest();
                EXPECT_EQ(newest().mid(1501), datetime::stampOf(clock.now())) << c.name;
            }
        }
        ASSERT_EQ(filed.size(), c.filed.size()) << c.name;
        for (int i = 0; i < filed.size(); ++i) {
            EXPECT_EQ(filed[i].size(), 1509) << c.name;
            EXPECT_EQ(filed[i].left(1501), c.filed[i]) << c.name;
        }
        EXPECT_LT(record().frameCutter.size(), 3) << c.name; // nothing but a possible marker start waits
    }
    EXPECT_TRUE(store().mark(1));
    EXPECT_EQ(record().framesSinceShown, 6);
}

TEST_F(HdSessionTest, RelayFramesAreFiledAsReceivedStampIncluded)
{
    connectUnit("KH-72", "SPASSWORD\r");
    const QByteArray relayed = hdFrame() + bytes({1, 2, 3, 4, 5, 6, 7, 8});
    link.queue(relayed.left(1000), 0);
    tick();
    EXPECT_EQ(store().sequence(), 0u);
    link.queue(relayed.mid(1000), 0);
    tick();
    EXPECT_EQ(newest(), relayed);
}

TEST_F(HdSessionTest, ModemLinkDeliversItsFrames)
{
    makePage(hardware::Hd, connection::Modem);
    connectUnit();
    link.queue(hdFrame(), 0);
    tick();
    EXPECT_EQ(newest().left(1501), hdFrame());
}

TEST_F(HdSessionTest, PendingCommandsAreSentByKind)
{
    connectUnit();
    // A page-0 frame seeds the settings: parameter 16 (slot 3, byte 1207) = 1.
    QByteArray settings = hdFrame(0);
    settings[1207] = 1;
    link.queue(settings, 0);
    tick();
    ASSERT_EQ(static_cast<const HdDecoder *>(session().decoder())->settings().slot[3], 1);

    const struct {
        int kind, number;
        quint8 value;
        QByteArray text, sent;
    } cases[] = {
        {0, 16, 0, {}, "CC100148\r"},
        {0, 40, 0, {}, "CC28F0\r"},
        {1, 205, 0xFF, {}, "PBCDFFA5\r"},
        {99, 0, 0, "CC1000xx\r", "CC1000xx\r"},
        {7, 16, 0, "ignored", ""},
    };
    for (const auto &c : cases) {
        record().pendingCommand = PendingCommand{true, c.kind, c.text, c.number, c.value};
        tick();
        EXPECT_EQ(link.takeSent(), c.sent);
        EXPECT_FALSE(record().pendingCommand.pending);
    }
    page->queueUnitCommand("PBD107\r"); // a relay client's line
    tick();
    EXPECT_EQ(link.takeSent(), QByteArray("PBD107\r"));
}

// Eight frames a second: one line a second with the peak, average and
// minimum of the total level since the line before.
TEST_F(HdSessionTest, TextLogWritesOneLineASecond)
{
    ConnectionSettings s = page->settings();
    s.logEnabled = true;
    page->setSettings(s);
    connectUnit();
    tick(); // the poll interval is in force
    clock.set(QDateTime(QDate(2026, 12, 6), QTime(14, 10, 0)));
    page->openLog();
    for (int k = 1; k <= 24; ++k) {
        link.queue(HdFrameBuilder().u16(253, 10 * k).frame(), 0);
        tick();
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

TEST_F(HdSessionTest, ConnectResetsTheUnitSessionThenDetectsAgain)
{
    connectUnit();
    page->connectButton();
    ticks(3);
    EXPECT_EQ(link.sends(), (QList<QByteArray>{"HD\r", "EC\r"}));
    EXPECT_EQ(page->interval(), 100);
    ticks(21);
    EXPECT_EQ(session().connectStep(), 4);
    tick();
    EXPECT_EQ(record().phase, Phase::ConnectReset);
    EXPECT_EQ(record().state, state::Disconnected);
    tick();
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

TEST_F(HdSessionTest, DisconnectAndExitEndTheUnitSessionBeforeClosing)
{
    for (const bool exiting : {false, true}) {
        connectUnit();
        log.clear();
        exiting ? page->requestShutdown() : page->disconnectButton();
        EXPECT_FALSE(record().exitDone);
        ticks(2);
        EXPECT_EQ(link.sends(), (QList<QByteArray>{"HD\r", "EC\r"}));
        ticks(21);
        EXPECT_EQ(record().phase, exiting ? Phase::Exit : Phase::DisconnectReset);
        tick();
        EXPECT_EQ(record().phase, Phase::Idle);
        EXPECT_EQ(record().state, state::Disconnected);
        EXPECT_EQ(exiting ? record().exitDone : session().disconnectDone(), true);
        EXPECT_EQ(count(QStringLiteral(" Exit 0"), LogLevel::Debug), exiting ? 1 : 0);
        EXPECT_EQ(count(QStringLiteral(" Exit 0-1"), LogLevel::Debug), exiting ? 1 : 0);
        EXPECT_EQ(count(QStringLiteral(" Exit 0-1-2"), LogLevel::Debug), exiting ? 21 : 0);
        EXPECT_EQ(count(QStringLiteral(" Exit 0-1-2-3"), LogLevel::Debug), exiting ? 1 : 0);
    }
}

TEST_F(HdSessionTest, Kf71FramesGoToItsOwnRingAndItsExitRunsToo)
{
    makePage(hardware::Kf71);
    connectUnit("KF-71 OPT(1) SN(000001)", "VALID SUPERVISOR\r");
    link.queue(hdFrame(1), 0);
    tick();
    EXPECT_EQ(store().newest(RecordKind::Kf).left(1501), hdFrame(1));
    EXPECT_TRUE(newest().isEmpty());
    page->requestShutdown();
    ticks(24);
    EXPECT_TRUE(record().exitDone);
    EXPECT_EQ(link.sends(), (QList<QByteArray>{"HD\r", "EC\r"}));
}

} // namespace
