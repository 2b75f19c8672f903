// The frame cutter every family uses: one table of byte streams and the
// frames (and leftovers) each must give.
#include "protocols/framecutter.h"

#include <gtest/gtest.h>

namespace {

const QByteArray kSync("\xFF\xFE\xFD", 3);

QByteArray frame(int length, char fill)
{
    return kSync + QByteArray(length - kSync.size(), fill);
}

FrameFormat format(int length, FrameFormat::NoSync noSync = FrameFormat::NoSync::Drop, qint64 staleMs = 0)
{
    FrameFormat f;
    f.sync = kSync;
    f.length = length;
    f.noSync = noSync;
    f.staleMs = staleMs;
    f.limit = 4096;
    return f;
}

struct Chunk {
    QByteArray bytes;
    qint64 at = 0;
};

struct Case {
    const char *name;
    FrameFormat format;
    std::vector<Chunk> input;
    std::vector<QByteArray> frames; // in order, all that cut() gives
    qsizetype left;                 // bytes still waiting afterwards
};

} // namespace

TEST(FrameCutter, CutsTheStreamsOfEveryFamily)
{
    const QByteArray f20 = frame(20, 'a'), g20 = frame(20, 'b');
    const QByteArray hd = frame(1501, 'h'), relay = frame(1509, 'r');
    const Case cases[] = {
        {"whole frame", format(20), {{f20}}, {f20}, 0},
        {"noise before a frame is dropped", format(20), {{"xyz" + f20}}, {f20}, 0},
        {"two frames in one read come out one per cut", format(20), {{f20 + g20}}, {f20, g20}, 0},
        {"frame split over reads", format(20), {{f20.left(7), 0}, {f20.mid(7), 10}}, {f20}, 0},
        {"sync split over reads", format(20), {{"noise" + kSync.left(2), 0}, {f20.mid(2), 10}}, {f20}, 0},
        {"noise alone leaves only a possible sync start", format(20), {{QByteArray(300, 'n') + "\xFF"}}, {}, 1},
        {"noise ending in an unrelated FF FD is dropped", format(20), {{QByteArray("nn\xFF\xFD", 4)}}, {}, 0},
        {"HD frame", format(1501), {{hd.left(1000), 0}, {hd.mid(1000) + g20.left(3), 50}}, {hd}, 3},
        {"relayed HD record with its stamp", format(1509), {{"zz" + relay}}, {relay}, 0},
        {"stale partial frame dropped after silence", format(20, FrameFormat::NoSync::Drop, 2000),
         {{f20.left(12), 0}, {g20, 2500}}, {g20}, 0},
        {"whole frames waiting through a silence stay, the partial one goes",
         format(20, FrameFormat::NoSync::Drop, 2000), {{f20 + g20 + f20.left(5), 0}, {g20, 2500}}, {f20, g20, g20}, 0},
        {"a pause shorter than the limit keeps the partial frame", format(20, FrameFormat::NoSync::Drop, 2000),
         {{f20.left(12), 0}, {f20.mid(12), 1500}}, {f20}, 0},
        {"no sync: blocks of length - 1 handed out", format(20, FrameFormat::NoSync::CutBlock),
         {{QByteArray(45, 'n')}}, {QByteArray(20, 'n'), QByteArray(20, 'n')}, 7},
        {"no sync, fewer than length - 1 bytes: wait", format(20, FrameFormat::NoSync::CutBlock),
         {{QByteArray(18, 'n')}}, {}, 18},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FrameCutter cutter(c.format);
        for (const Chunk &chunk : c.input)
            cutter.append(chunk.bytes, chunk.at);
        std::vector<QByteArray> got;
        while (auto f = cutter.cut())
            got.push_back(*f);
        EXPECT_EQ(got, c.frames);
        EXPECT_EQ(cutter.size(), c.left);
    }
}

TEST(FrameCutter, FloodStaysWithinTheLimitAndAFrameStillGetsThrough)
{
    FrameCutter cutter(format(20));
    FrameCutter blocks(format(20, FrameFormat::NoSync::CutBlock));
    for (int i = 0; i < 100; ++i) {
        cutter.append(QByteArray(1000, char(0xFF)), i);
        blocks.append(QByteArray(1000, 'n'), i);
        EXPECT_LE(cutter.size(), 4096);
        EXPECT_LE(blocks.size(), 4096);
    }
    const QByteArray f20 = frame(20, 'a');
    cutter.append(f20, 200);
    // FF FF ... FF FE FD: the sync starts at the last two FF bytes' first.
    std::optional<QByteArray> got;
    while (auto f = cutter.cut())
        got = f;
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, f20);
}
