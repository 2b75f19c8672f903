// The running KX-71: frames cut from the stream, filed by kind, decoded, and
// the next one asked for by data mode; the watchdog; one page apart from another.
#include "kx71_testpage.h"

namespace {

class Kx71Arrivals : public Kx71PageTest, public ::testing::WithParamInterface<int> {
protected:
    int connectionType() const override { return GetParam(); }
};

// Splits, glued frames and noise, the same on a serial line, a modem and a socket.
TEST_P(Kx71Arrivals, FramesAreCutFromTheStream)
{
    const QByteArray a = kxFrame(0, 0, 1), b = kxFrame(1, 0, 2), noise = bytes({0x00, 0xFF, 0xFE, 0x13, 0xFF});
    const struct { const char *name; QList<QByteArray> reads; int frames; } cases[] = {
        {"split in three", {a.left(3), a.mid(3, 200), a.mid(203)}, 1},
        {"split in the sync", {noise + a.left(2), a.mid(2) + b.left(300), b.mid(300)}, 2},
        {"glued with noise between", {a + noise + b + noise}, 2},
        {"noise before, more than a frame waiting", {noise + noise + a + a.left(40)}, 1},
    };
    connectUnit();
    for (const auto &c : cases) {
        const int before = session().store().accepted();
        for (const QByteArray &r : c.reads)
            deliver(r);
        EXPECT_EQ(session().store().accepted() - before, c.frames) << c.name;
    }
    ticks();
    EXPECT_EQ(session().badChecksums(), 0);
    EXPECT_EQ(record().state, state::Data);
    EXPECT_EQ(session().store().record(session().store().frameIndex()).left(356), a);
    EXPECT_TRUE(link.sent().endsWith("D2\r"));
}

INSTANTIATE_TEST_SUITE_P(SerialModemNetwork, Kx71Arrivals,
                         ::testing::Values(int(connection::Serial), int(connection::Modem), int(connection::Network)));

TEST_F(Kx71PageTest, BadChecksumIsDecodedButNotFiledByKind)
{
    connectUnit();
    QByteArray bad = kxFrame(1, 1, 3, false);
    bad.replace(7, 2, bytes({0x12, 0x34}));
    bad[23] = char(0x33);
    deliver(bad);
    EXPECT_EQ(session().badChecksums(), 1);
    const Kx71Values &v = session().values();
    EXPECT_TRUE(v.word7 == 0x1234 && v.flag23bit0 && v.flag23bit1 && v.field23bits45 == 3 && v.dataMode == 1);
    EXPECT_EQ(page->kxStoredFrame('3'), QByteArray(Kx71Store::kTraceBytes, '\0')); // still the empty store

    const QList<QByteArray> good = {kxFrame(0, 0, 4), kxFrame(1, 0, 5), kxFrame(2, 0, 6), kxFrame(1, 0, 7)};
    for (const QByteArray &f : good)
        deliver(f);
    const struct { char digit; QByteArray frame; } selected[] = {
        {'1', good[0]}, {'2', good[0]}, {'3', good[3]}, {'4', good[2]}, {'5', {}}};
    for (const auto &s : selected)
        EXPECT_EQ(page->kxStoredFrame(s.digit).left(356), s.frame) << s.digit;
    EXPECT_EQ(page->kxStoredFrame('4').size(), Kx71Store::kTraceBytes);
}

TEST_F(Kx71PageTest, NextRequestFollowsTheDataModeAndCarriesThePendingCommand)
{
    connectUnit();
    // A client's flood is no analyzer command: refused, the plain request goes.
    EXPECT_FALSE(page->queueUnitCommand("M" + QByteArray(100, 'x') + "\r"));
    const struct { int mode; QByteArray pending, sent; } cases[] = {
        {0, {}, "D2\r"}, {1, {}, "D3\r"}, {2, {}, "D4\r"}, {5, {}, "D4\r"},
        {1, "M\r", "M3\r"}, {0, "Vx\r", "V2x\r"}, {7, "H12\r", "H412\r"},
    };
    for (const auto &c : cases) {
        if (!c.pending.isEmpty())
            page->queueUnitCommand(c.pending);
        deliver(kxFrame(0, c.mode));
        EXPECT_EQ(link.takeSent(), c.sent) << c.mode << ' ' << c.pending.constData();
        EXPECT_FALSE(record().pendingCommand.pending);
    }
}

TEST_F(Kx71PageTest, WatchdogAsksAgainOnTheEleventhTick)
{
    connectUnit();
    // The first frame after the start is lost: asked for again all the same.
    ticks(10);
    EXPECT_TRUE(link.sent().isEmpty());
    ticks();
    EXPECT_EQ(link.takeSent(), QByteArray("D1\r"));
    deliver(kxFrame(0, 1)); // decoded in this tick: counts as the first
    EXPECT_EQ(link.takeSent(), QByteArray("D3\r"));
    ticks(9);
    EXPECT_TRUE(link.sent().isEmpty());
    ticks();
    EXPECT_EQ(link.takeSent(), QByteArray("D1\r"));
    EXPECT_EQ(session().retries(), 2);
    EXPECT_EQ(page->interval(), Kx71Session::kRunTick);
}

TEST_F(Kx71PageTest, TwoPagesKeepTheirOwnValuesAndFrames)
{
    ScriptedLink otherLink;
    std::unique_ptr<ConnectionPage> other = makePage(2, otherLink);
    connectUnit();
    connectUnit(kxMarked("KX"), other.get(), &otherLink);
    const QByteArray mine = kxFrame(0, 0, 8), theirs = kxFrame(0, 1, 9);
    ASSERT_NE(mine[14], theirs[14]);
    deliver(mine);
    otherLink.queue(theirs, 0);
    other->tick();
    const auto &otherSession = *static_cast<Kx71Session *>(other->session());
    EXPECT_EQ(session().values().byte14, quint8(mine[14]));
    EXPECT_EQ(otherSession.values().byte14, quint8(theirs[14]));
    EXPECT_EQ(page->kxStoredFrame('1').left(356), mine);
    EXPECT_EQ(other->kxStoredFrame('1').left(356), theirs);
}

} // namespace
