// Arxon frame decoding: recognition, setting echoes, status bytes, KC-71
// channel values, interleaved frames, the history table and hostile input.
#include "protocols/arx/arxdecoder.h"
#include "protocols/arx_frame_builder.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

#include <algorithm>
#include <array>
#include <initializer_list>

namespace {

// Checksum slot = sum of slots first..last modulo 256.
void seal(QByteArray &f, int first, int last, int checksumSlot)
{
    int sum = 0;
    for (int i = first; i <= last; ++i)
        sum += quint8(f[i]);
    f[checksumSlot] = char(sum & 0xFF);
}

// An FM frame whose information byte names no message.
QByteArray fmFrame()
{
    QByteArray f = arxFrame(0xFC);
    f[75] = char(0xFF);
    return f;
}

void feed(ArxDecoder &d, const QByteArray &f, int unitType, int amSubType = 0)
{
    d.fileFrame(f, unitType, amSubType);
    d.decodePending();
}

// {row, value} pairs of one history column.
void expectColumn(const ArxDecoder &d, int column, std::initializer_list<std::pair<int, int>> rows)
{
    for (const auto &[row, value] : rows)
        EXPECT_EQ(d.history(row, column), value) << "row " << row << " column " << column;
}

} // namespace

TEST(ArxDecoder, RecognisesTheThreeSignatures)
{
    int layout = 0, sub = 0;
    EXPECT_TRUE(ArxDecoder::recognise(QByteArray::fromHex("fffefdfc"), &layout, &sub));
    EXPECT_EQ(layout, 1);
    EXPECT_EQ(sub, 12);
    EXPECT_TRUE(ArxDecoder::recognise(QByteArray::fromHex("fffefde3"), &layout, &sub));
    EXPECT_EQ(layout, 2);
    EXPECT_EQ(sub, 3);
    EXPECT_TRUE(ArxDecoder::recognise(QByteArray::fromHex("fffefdc1"), &layout, &sub));
    EXPECT_EQ(layout, 3);
    EXPECT_EQ(sub, 1);

    EXPECT_FALSE(ArxDecoder::recognise(QByteArray::fromHex("fffefdd0"), &layout, &sub));
    EXPECT_FALSE(ArxDecoder::recognise(QByteArray::fromHex("fffefd0c"), &layout, &sub));
    EXPECT_FALSE(ArxDecoder::recognise(QByteArray::fromHex("fffdfdfc"), &layout, &sub));
    EXPECT_FALSE(ArxDecoder::recognise(QByteArray::fromHex("fffefd"), &layout, &sub));
}

TEST(ArxDecoder, ShortOrForeignFramesAreIgnored)
{
    ArxDecoder d;
    QByteArray f = fmFrame();
    put(f, 26, {1, 0x34, 0x12});
    d.fileFrame(f.left(99), arxunit::Km71, 0);
    EXPECT_FALSE(d.currentDue());
    QByteArray foreign = f;
    foreign[3] = char(0x9C);
    d.fileFrame(foreign, arxunit::Km71, 0);
    EXPECT_FALSE(d.currentDue());
    d.decodePending();
    EXPECT_EQ(d.mirror(ArxModule::Km71).slot[1], 0);

    // A time-stamped 108-byte frame decodes like the 100 bytes before the stamp.
    QByteArray stamped = f + QByteArray(8, char(0x5A));
    feed(d, stamped, arxunit::Km71);
    EXPECT_EQ(d.mirror(ArxModule::Km71).slot[1], 0x1234);
}

TEST(ArxDecoder, HistoryLayout1ValueForms)
{
    ArxDecoder d;
    QByteArray f = fmFrame();
    // Block A (slots 4-24): words, ×5, bytes, half-scale; status bit 0 marks history.
    put(f, 4, {0x34, 0x12, 1, 0, 0, 1, 0xFF, 0xFF});
    put(f, 12, {200, 1, 2, 9, 8, 0, 255, 3, 1, 1});
    f[24] = 0x01;
    seal(f, 4, 24, 25);
    // Block B (slots 29-49).
    put(f, 29, {7, 25});
    put(f, 44, {9, 4, 11, 12, 6});
    seal(f, 29, 49, 50);
    feed(d, f, arxunit::Km71);

    ASSERT_EQ(d.historyBatchSize(), 1);
    expectColumn(d, 1, {{0, 4660}, {1, 1}, {2, 256}, {3, 65535}, {4, 1000}, {5, 5}, {6, 10}, {7, 9}, {8, 8},
                        {9, 170}, {10, 805}, {11, 15}, {12, 257}, {25, 70}, {26, 250}, {40, 9}, {41, 40},
                        {42, 11}, {43, 12}, {44, 6}});
    EXPECT_EQ(d.queuedHistory(), 0);
}

TEST(ArxDecoder, HistoryChecksumDecidesBetweenValuesAndZeros)
{
    ArxDecoder d;
    // KS-71 frames: the history bit is bit 7 of block B's status (slot 49).
    QByteArray zeros = fmFrame();
    zeros[29] = 3;
    zeros[49] = char(0x80);
    seal(zeros, 29, 49, 50);
    d.fileFrame(zeros, arxunit::Ks71, 0);

    // Block A sums past 256: 200 + 100 = 300, checksum 44 is valid.
    QByteArray wrap = zeros;
    put(wrap, 4, {200, 100});
    wrap[25] = 44;
    d.fileFrame(wrap, arxunit::Ks71, 0);

    QByteArray bad = zeros;
    put(bad, 4, {200, 100});
    bad[25] = 45;
    d.fileFrame(bad, arxunit::Ks71, 0);
    d.decodePending();

    ASSERT_EQ(d.historyBatchSize(), 3);
    // An all-zero block with checksum 0 is valid: half-scale rows read 170.
    expectColumn(d, 1, {{0, 0}, {9, 170}, {10, 170}});
    expectColumn(d, 2, {{0, 25800}, {9, 170}});
    // A failed block reads zero everywhere, while its neighbours still decode.
    expectColumn(d, 3, {{0, 0}, {9, 0}, {10, 0}, {25, 30}});
    EXPECT_EQ(d.history(25, 1), 30);
    // Columns past the batch and column 0 stay empty.
    EXPECT_EQ(d.history(9, 4), 0);
    EXPECT_EQ(d.history(9, 0), 0);
}

TEST(ArxDecoder, SignedStatusOfBlockC)
{
    struct Case {
        int flags;
        int expected;
        bool valid;
    };
    const Case cases[] = {
        {0x05, 5, true}, {0x85, -5, true}, {0x40, 127, false}, {0xC0, -127, false},
        {0x20, -255, false}, {0x25, -255, false}, {0x1F, 31, true}, {0x60, -255, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.flags);
        ArxDecoder d;
        QByteArray f = fmFrame();
        // KR-71 block C (slots 53-59): history bit is bit 7 of its status.
        put(f, 53, {12, 3, c.flags, 4, 0x10, 0x01, 0x80});
        seal(f, 53, 59, 60);
        feed(d, f, arxunit::Kr71);
        ASSERT_EQ(d.historyBatchSize(), 1);
        expectColumn(d, 1, {{75, 120}, {76, 3}, {77, c.expected}, {78, 4}, {79, 272}});
        EXPECT_EQ(d.readingValid(), c.valid);
    }
}

TEST(ArxDecoder, HistoryTriggerFollowsTheUnitType)
{
    ArxDecoder d;
    QByteArray f = fmFrame();
    f[24] = 0x01; // KM-71's history bit
    seal(f, 4, 24, 25);
    feed(d, f, arxunit::Ks71);
    EXPECT_EQ(d.historyBatchSize(), 0);
    feed(d, f, 99);
    EXPECT_EQ(d.historyBatchSize(), 0);
    feed(d, f, arxunit::Km71);
    EXPECT_EQ(d.historyBatchSize(), 1);
}

TEST(ArxDecoder, HistoryQueueKeepsTheNewestTen)
{
    ArxDecoder d;
    for (int i = 1; i <= 12; ++i) {
        QByteArray f = fmFrame();
        put(f, 4, {i, 0});
        f[24] = 0x01;
        seal(f, 4, 24, 25);
        d.fileFrame(f, arxunit::Km71, 0);
    }
    EXPECT_EQ(d.queuedHistory(), 10);
    d.decodePending();
    ASSERT_EQ(d.historyBatchSize(), 10);
    EXPECT_EQ(d.history(0, 1), 3);
    EXPECT_EQ(d.history(0, 10), 12);
    EXPECT_EQ(d.queuedHistory(), 0);
}

TEST(ArxDecoder, HistoryOtherLayouts)
{
    ArxDecoder d;
    QByteArray tv = arxFrame(0xEC);
    tv[76] = char(0xFF);
    // KV-73 block A (slots 4-30); history bit 7 of slot 30.
    put(tv, 4, {1, 2});
    put(tv, 22, {5, 6, 7, 8, 0x00, 0x02, 0x10, 0x00});
    tv[30] = char(0x80);
    seal(tv, 4, 30, 31);
    // KV-75 block B (slots 34-40) with a failed checksum.
    put(tv, 34, {3, 3, 3, 3, 3, 3, 0});
    tv[41] = 1;
    feed(d, tv, arxunit::Kv73);
    ASSERT_EQ(d.historyBatchSize(), 1);
    expectColumn(d, 1, {{25, 10}, {26, 20}, {43, 5}, {46, 8}, {47, 512}, {48, 16}, {50, 0}});

    QByteArray am = arxFrame(0xC0);
    am[70] = char(0xFF);
    // KA-72 block A (slots 4-27); history bit 0 of slot 27.
    put(am, 4, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0x22, 0x11, 1, 0, 0, 1});
    am[27] = 0x01;
    seal(am, 4, 27, 28);
    feed(d, am, arxunit::Ka72, 2);
    ASSERT_EQ(d.historyBatchSize(), 1);
    expectColumn(d, 1, {{0, 10}, {3, 4}, {7, 8}, {11, 120}, {12, 13}, {13, 14}, {14, 0x1122}, {15, 1},
                        {16, 256}});
}

TEST(ArxDecoder, SettingEchoesOfKm71)
{
    ArxDecoder d;
    auto echo = [&](int code, int low, int high, bool validBlock = true) {
        QByteArray f = fmFrame();
        put(f, 26, {code, low, high});
        f[25] = validBlock ? 0 : 1;
        feed(d, f, arxunit::Km71);
    };
    const ArxMirror &m = d.mirror(ArxModule::Km71);

    echo(1, 0x34, 0x12);
    EXPECT_EQ(m.slot[1], 0x1234);
    echo(44, 7, 0);
    EXPECT_EQ(m.slot[44], 7);
    echo(1, 0xFF, 0xFF); // no value: the code alone is kept
    EXPECT_EQ(m.slot[1], 0x1234);
    EXPECT_EQ(m.lastCodeWithoutValue, 1);
    echo(255, 5, 0); // no echo at all
    EXPECT_EQ(m.slot[1], 0x1234);
    EXPECT_EQ(m.lastCodeWithoutValue, 1);
    echo(6, 9, 0); // not a KM-71 code
    EXPECT_EQ(m.slot[6], 0);
    echo(1, 1, 0, false); // failed checksum
    EXPECT_EQ(m.slot[1], 0x1234);

    echo(3, 0, 1); // 16-bit value 256 is non-zero
    EXPECT_TRUE(m.flag(0, 0));
    echo(40, 1, 0);
    EXPECT_TRUE(m.flag(0, 5));
    EXPECT_EQ(m.flagWord[0], 0x21);
    echo(3, 0, 0);
    EXPECT_FALSE(m.flag(0, 0));
    EXPECT_EQ(m.flagWord[0], 0x20);
}

TEST(ArxDecoder, PairRuleAndOtherFlagForms)
{
    ArxDecoder d;
    auto ks = [&](int code, int value) {
        QByteArray f = fmFrame();
        put(f, 51, {code, value});
        feed(d, f, arxunit::Ks71);
    };
    const ArxMirror &m = d.mirror(ArxModule::Ks71);
    ks(15, 0);
    EXPECT_TRUE(m.pairFirst);
    EXPECT_TRUE(m.pairSecond);
    EXPECT_EQ(m.slot[15], 0);
    ks(16, 0);
    EXPECT_FALSE(m.flag(0, 2));
    EXPECT_TRUE(m.pairFirst);
    EXPECT_FALSE(m.pairSecond);
    ks(16, 3);
    EXPECT_TRUE(m.flag(0, 2));
    EXPECT_TRUE(m.pairSecond);
    ks(15, 7);
    EXPECT_EQ(m.slot[15], 7);
    EXPECT_FALSE(m.pairFirst);
    EXPECT_FALSE(m.pairSecond);
    ks(9, 1);
    EXPECT_EQ(m.flagWord[0], 0x14);
    ks(255, 0); // byte value 255 and code 255 change nothing
    ks(17, 255);
    EXPECT_EQ(m.flagWord[0], 0x14);
    EXPECT_EQ(m.lastCodeWithoutValue, 17);

    // KV-75 bits that only the value 1 sets.
    auto kv75 = [&](int code, int value) {
        QByteArray f = arxFrame(0xEC);
        f[76] = char(0xFF);
        put(f, 42, {code, value});
        feed(d, f, arxunit::Kv75);
    };
    const ArxMirror &v = d.mirror(ArxModule::Kv75);
    kv75(11, 2);
    EXPECT_FALSE(v.flag(0, 3));
    kv75(11, 1);
    EXPECT_TRUE(v.flag(0, 3));
    kv75(19, 1);
    EXPECT_TRUE(v.flag(1, 0));
    kv75(20, 33);
    EXPECT_EQ(v.slot[20], 33);

    // KA-72 code 46 copies the first flag word into the third.
    auto ka72 = [&](int code, int value) {
        QByteArray f = arxFrame(0xC2);
        f[70] = char(0xFF);
        put(f, 29, {code, value, 0});
        feed(d, f, arxunit::Ka72, 2);
    };
    const ArxMirror &a = d.mirror(ArxModule::Ka72);
    ka72(42, 1);
    ka72(46, 1);
    EXPECT_EQ(a.flagWord[2], 0x05);
    ka72(46, 0);
    EXPECT_EQ(a.flagWord[2], 0x04);
    ka72(50, 210);
    EXPECT_EQ(a.slot[50], 210);
    EXPECT_EQ(d.mirror(ArxModule::Ka71).slot[50], 0);
}

TEST(ArxDecoder, StatusBytesAndFields)
{
    ArxDecoder d;
    QByteArray f = fmFrame();
    put(f, 22, {0x10, 0x27, 0x0E}); // KM-71 word 10000, status 0x0E
    seal(f, 4, 24, 25);
    f[59] = char(0xC3);              // KR-71 status: only bit 6 is kept
    seal(f, 53, 59, 60);
    feed(d, f, arxunit::Km71);
    const ArxModuleStatus &km = d.status(ArxModule::Km71);
    EXPECT_EQ(km.status, 0x0E);
    EXPECT_TRUE(km.bit[1]);
    EXPECT_FALSE(km.bit[2]);
    EXPECT_EQ(km.field, 3);
    EXPECT_EQ(km.word, 10000);
    const ArxModuleStatus &kr = d.status(ArxModule::Kr71);
    EXPECT_EQ(kr.status, 0xC3);
    EXPECT_TRUE(kr.bit[6]);
    EXPECT_FALSE(kr.bit[7]);
    EXPECT_FALSE(kr.bit[0]);

    QByteArray am = arxFrame(0xC1);
    am[28] = char(0xFF);
    put(am, 20, {0x01, 0x02, 77, 0x02});
    seal(am, 4, 23, 24);
    feed(d, am, arxunit::Ka71, 1);
    const ArxModuleStatus &ka = d.status(ArxModule::Ka71);
    EXPECT_EQ(ka.word, 0x0201);
    EXPECT_EQ(ka.extra, 77);
    EXPECT_TRUE(ka.bit[1]);
}

TEST(ArxDecoder, Kc71ChannelValues)
{
    ArxDecoder d;
    QByteArray ch0 = fmFrame();
    put(ch0, 63, {'0', 1, 2, 3, 4, 5, 0x80});
    seal(ch0, 63, 69, 70);
    feed(d, ch0, arxunit::Kc71);
    EXPECT_EQ(d.channelValues(0), (ArxDecoder::ChannelValues{10, 20, 30, 4, 5}));

    // Status bit 7 clear: the channel keeps what it had.
    QByteArray quiet = fmFrame();
    put(quiet, 63, {'0', 9, 9, 9, 9, 9, 0x00});
    seal(quiet, 63, 69, 70);
    feed(d, quiet, arxunit::Kc71);
    EXPECT_EQ(d.channelValues(0), (ArxDecoder::ChannelValues{10, 20, 30, 4, 5}));

    // Any other channel byte is channel 1; a failed block zeroes its values.
    QByteArray ch1 = fmFrame();
    put(ch1, 63, {'1', 6, 7, 8, 9, 10, 0x80});
    seal(ch1, 63, 69, 70);
    feed(d, ch1, arxunit::Kc71);
    EXPECT_EQ(d.channelValues(1), (ArxDecoder::ChannelValues{60, 70, 80, 9, 10}));
    ch1[70] = char(ch1[70] + 1);
    feed(d, ch1, arxunit::Kc71);
    EXPECT_EQ(d.channelValues(1), (ArxDecoder::ChannelValues{0, 0, 0, 0, 0}));
    EXPECT_EQ(d.channelValues(0), (ArxDecoder::ChannelValues{10, 20, 30, 4, 5}));

    // Echo of channel 0 lands in channel 0's mirror; history rows copy the values.
    QByteArray echo = ch0;
    put(echo, 71, {12, 44});
    echo[69] = char(0x80 | 0x00);
    feed(d, echo, arxunit::Kc71);
    EXPECT_EQ(d.mirror(ArxModule::Kc71Ch0).slot[12], 44);
    EXPECT_EQ(d.mirror(ArxModule::Kc71Ch1).slot[12], 0);
    ASSERT_EQ(d.historyBatchSize(), 1);
    expectColumn(d, 1, {{100, 10}, {104, 5}, {125, 0}});
}

TEST(ArxDecoder, InterleavedRecordIsDecodedOnceAfterItsSecondHalf)
{
    // The logical record: KM-71 history bit, echo of code 1 = 1337.
    QByteArray logical(100, '\0');
    put(logical, 24, {0x01, 0x01, 1, 0x39, 0x05});
    logical[75] = char(0xFF);
    QByteArray first = arxFrame(0xFB);
    QByteArray second = arxFrame(0xFA);
    for (int k = 0; k < 48; ++k) {
        first[4 + 2 * k] = logical[4 + k];
        first[5 + 2 * k] = char(k + 1);
        second[4 + 2 * k] = logical[52 + k];
        second[5 + 2 * k] = char(0xA0 + k);
    }

    ArxDecoder d;
    d.fileFrame(first, arxunit::Km71, 0);
    EXPECT_FALSE(d.currentDue());
    EXPECT_TRUE(d.auxDue());
    EXPECT_EQ(d.queuedHistory(), 0);
    d.decodePending();
    EXPECT_EQ(d.mirror(ArxModule::Km71).slot[1], 0);
    EXPECT_EQ(d.historyBatchSize(), 0);
    EXPECT_EQ(d.auxValues()[0], 0x0102);
    EXPECT_EQ(d.auxValues()[23], 0x2F30);

    d.fileFrame(second, arxunit::Km71, 0);
    EXPECT_TRUE(d.currentDue());
    EXPECT_EQ(d.queuedHistory(), 1);
    d.decodePending();
    EXPECT_EQ(d.mirror(ArxModule::Km71).slot[1], 1337);
    EXPECT_EQ(d.historyBatchSize(), 1);
    EXPECT_EQ(d.auxValues()[0], 0xA0A1);
    EXPECT_EQ(d.auxValues()[23], 0xCECF);
    EXPECT_FALSE(d.currentDue());

    // A second half with no first half before it makes no record.
    d.fileFrame(second, arxunit::Km71, 0);
    EXPECT_FALSE(d.currentDue());
    EXPECT_EQ(d.queuedHistory(), 0);
    EXPECT_TRUE(d.auxDue());

    // Layout 1 knows no sub-type but 10, 11 and 12.
    QByteArray odd = fmFrame();
    odd[3] = char(0xF5);
    d.fileFrame(odd, arxunit::Km71, 0);
    EXPECT_FALSE(d.currentDue());
}

TEST(ArxDecoder, ResetForgetsEverything)
{
    ArxDecoder d;
    QByteArray f = fmFrame();
    put(f, 24, {0x01, 0x01, 1, 5, 0});
    put(f, 75, {0x20, 0});
    seal(f, 77, 93, 76);
    feed(d, f, arxunit::Km71);
    ASSERT_TRUE(d.isPresent(ArxModule::Ks71));
    d.fileFrame(f, arxunit::Km71, 0);
    d.reset();
    EXPECT_EQ(d.unitsChanged(), 0u);
    EXPECT_FALSE(d.isPresent(ArxModule::Ks71));
    EXPECT_EQ(d.queuedHistory(), 0);
    EXPECT_FALSE(d.currentDue());
    EXPECT_EQ(d.mirror(ArxModule::Km71).slot[1], 0);
}

TEST(ArxDecoder, HostileFramesNeverBreakTheDecoder)
{
    QRandomGenerator rng(20261207);
    const int unitTypes[] = {0, 1, 2, 4, 8, 17, 18, 19, 33, 34, 255, -1};
    const quint8 layouts[] = {0xF0, 0xE0, 0xC0};
    ArxDecoder d;
    for (int i = 0; i < 20000; ++i) {
        QByteArray f(int(rng.bounded(0, 120)), '\0');
        for (auto &c : f)
            c = char(rng.bounded(256));
        if (f.size() >= 4) {
            put(f, 0, {0xFF, 0xFE, 0xFD, layouts[rng.bounded(3)] | int(rng.bounded(16))});
            if (rng.bounded(2) && f.size() >= 100) {
                // Give the information message a good checksum over a random range.
                const int start = std::array{75, 76, 28, 70}[rng.bounded(4)];
                seal(f, start + 2, std::min(start + int(rng.bounded(10, 27)), 99), start + 1);
                if (rng.bounded(2))
                    f[start + 2] = 0;
            }
        }
        d.fileFrame(f, unitTypes[rng.bounded(int(std::size(unitTypes)))], int(rng.bounded(4)));
        if (rng.bounded(3))
            d.decodePending();
        ASSERT_LE(d.queuedHistory(), 10);
        ASSERT_LE(d.historyBatchSize(), 10);
    }
    EXPECT_EQ(d.unitsChanged() & ~0x9Fu, 0u);
}
