// The HD decoder against frames written out field by field.
#include "hd_frame_builder.h"

#include "protocols/hd/hddecoder.h"

#include <gtest/gtest.h>

namespace {

class HdDecoderTest : public ::testing::Test {
protected:
    void decode(const HdFrameBuilder &b) { d.decode(b.frame()); }
    HdDecoder d;
};

TEST_F(HdDecoderTest, BlocksOfEveryFrame)
{
    HdFrameBuilder b;
    b.u16(9, 0xBEEF).be32(11, 0x01020304).u8(17, 101).u8(26, 118).u8(34, 127).u8(42, 131);
    b.text(35, "AB12").u16(40, 10170).u16(47, 0xFFFE).u8(49, 7).be32(54, 0xFFFFFFFF).u8(59, 9);
    const int levels[] = {0x8000, 0x8001, 0xFFFF, 0x7FFF, 0};
    for (int i = 0; i < 5; ++i)
        b.u16(253 + 2 * i, levels[i]);
    b.be32(263, 5).be32(291, 0x80000000u);
    // 12-bit edges at even and odd places, and the last value of each array.
    const struct { int index, raw, value; } twelve[] = {{0, 0x800, -2048}, {1, 0x7FF, 2047}, {2, 0xFFF, -1},
                                                        {3, 0x001, 1}, {125, 0x9AB, 0x9AB - 4096}};
    for (const auto &t : twelve)
        b.twelve(60, t.index, t.raw).twelve(295, t.index == 125 ? 508 : t.index, t.raw);
    decode(b);

    EXPECT_EQ(d.header().word, 0xBEEF);
    EXPECT_EQ(d.header().longWord, 0x01020304u);
    const HdMain &m = d.main();
    EXPECT_EQ((std::array<qint32, 5>{m.field[1], m.field[18], m.field[27], m.field[31], m.field[2]}),
              (std::array<qint32, 5>{101, 118, 127, 131, 0}));
    EXPECT_EQ(m.text28, QByteArray("AB12"));
    EXPECT_DOUBLE_EQ(m.real30, 101.70);
    EXPECT_EQ(m.word34, 0xFFFE);
    EXPECT_EQ(d.stationInfo().number, (std::array<qint32, 8>{7, 0, 0, 0, 0, -1, 0, 9}));
    EXPECT_EQ(d.levels().level, (std::array<qint32, 5>{32768, -32767, -1, 32767, 0}));
    EXPECT_EQ(quint32(d.counters()[7]), 0x80000000u);
    for (const auto &t : twelve) {
        EXPECT_EQ(d.meters()[size_t(t.index)], t.value) << t.index;
        EXPECT_EQ(d.wideArray()[size_t(t.index == 125 ? 508 : t.index)], t.value) << t.index;
    }
    EXPECT_EQ(d.logSample(), 32768);
}

TEST_F(HdDecoderTest, SettingsImageSeedsTheSettingsOncePerConnection)
{
    HdFrameBuilder b(0);
    b.u16(1202, 0xABCD).u16(1205, 515).u8(1211, 0xFF).u16(1214, 0xFFFE).be32(1219, 12345).u8(1288, 62)
        .u8(1312, 86).u16(1315, 0x8000).u16(1317, 0x8000).u8(1319, 89).u8(1424, 152).u16(1430, 158)
        .u8(1441, 168).u8(1443, 169);
    d.startConnection();
    decode(b);
    const HdSettings &image = d.settingsImage();
    const struct { int slot, value; } expected[] = {{0, 0xABCD}, {1, 515}, {2, 515}, {6, 255}, {9, -2},
        {62, 62}, {86, 86}, {87, -32768}, {88, 32768}, {89, 89}, {152, 152}, {158, 158}, {168, 168}, {169, 169}};
    for (const auto &s : expected)
        EXPECT_EQ(image.slot[size_t(s.slot)], s.value) << s.slot;
    EXPECT_DOUBLE_EQ(image.real(12), 12.345);
    EXPECT_EQ(d.settings(), image);
    EXPECT_FALSE(d.firstStatusPending());

    // Later page-0 frames change the image only; the next connection seeds again.
    decode(b.u16(1202, 1));
    EXPECT_EQ(d.settingsImage().slot[0], 1);
    EXPECT_EQ(d.settings().slot[0], 0xABCD);
    d.startConnection();
    decode(b);
    EXPECT_EQ(d.settings().slot[0], 1);
}

TEST_F(HdDecoderTest, EchoesKeepTheSettingsAndFeedTheParameterCommand)
{
    // Parameter 20 is signed in the echo, unsigned in the image.
    decode(HdFrameBuilder().echo(20, 0x12, 0xFF));
    EXPECT_EQ(d.settings().slot[6], -1);
    EXPECT_EQ(d.parameterValue(20, 0), QByteArray("FF"));

    // Parameter 30 lands in slot 19 while parameter 16 is 0, in slot 20 after.
    decode(HdFrameBuilder().echo(30, 0xFF, 0x9C));
    EXPECT_EQ(d.settings().slot[19], -100);
    EXPECT_EQ(d.parameterValue(30, 0), QByteArray("FF9C"));
    decode(HdFrameBuilder().echo(16, 0, 1));
    decode(HdFrameBuilder().echo(30, 0x01, 0x00));
    EXPECT_EQ(d.settings().slot[19], -100);
    EXPECT_EQ(d.settings().slot[20], 256);
    EXPECT_EQ(d.parameterValue(30, 0), QByteArray("0100"));

    const struct { int number, byte7, byte8, slot, value; const char *command; } echoes[] = {
        {15, 0xFF, 0xFE, 1, 65534, "FFFE"}, {24, 0x80, 0x00, 9, -32768, "8000"}, {88, 0x00, 0x08, 69, 8, "08"},
        {96, 0xFF, 0xFF, 87, -1, "FFFF"},   {161, 0x00, 0x09, 152, 9, "09"},     {208, 0x00, 0x0C, 156, 12, "0C"},
    };
    for (const auto &e : echoes) {
        decode(HdFrameBuilder().echo(e.number, e.byte7, e.byte8));
        EXPECT_EQ(d.settings().slot[size_t(e.slot)], e.value) << e.number;
        EXPECT_EQ(d.parameterValue(e.number, 0), QByteArray(e.command)) << e.number;
    }

    // The indexed parameter: value from byte 7, slot index from byte 8.
    decode(HdFrameBuilder().echo(162, 0x42, 3));
    EXPECT_EQ(d.settings().slot[162], 0x42);
    EXPECT_EQ(d.parameterValue(162, 3), QByteArray("4203"));
    const HdSettings before = d.settings();
    decode(HdFrameBuilder().echo(162, 0x42, 9)); // no tenth slot
    decode(HdFrameBuilder().echo(40, 1, 1));
    decode(HdFrameBuilder().echo(209, 1, 1));
    EXPECT_EQ(d.settings(), before);
    EXPECT_EQ(d.parameterValue(40, 0), std::nullopt);
    EXPECT_EQ(d.parameterValue(162, 9), std::nullopt);
}

TEST_F(HdDecoderTest, PagesFillStationProgrammeAndAlarmRecords)
{
    decode(HdFrameBuilder(1).text(1201, "WXYZFM").text(1213, "40|26.767 N").text(1225, "079|58.933 W")
               .text(1244, "The Voice"));
    EXPECT_EQ(d.stationInfo().stationId, QByteArray("WXYZFM"));
    EXPECT_EQ(d.stationInfo().latitude, QByteArray("40\xB0" "26.767 N") + QByteArray(1, '\0'));
    EXPECT_EQ(d.stationInfo().longitude, QByteArray("079\xB0" "58.933 W"));
    EXPECT_EQ(d.stationInfo().slogan, QByteArray("The Voice") + QByteArray(47, '\0'));

    for (const int page : {2, 10}) {
        decode(HdFrameBuilder(page).u8(1201, page).u16(1208, 0x1234).text(1211, "Song title").text(1299, "Album"));
        const HdProgrammeData &p = d.programmeData();
        const size_t e = size_t(page - 1);
        EXPECT_EQ(p.number[0][e] + p.number[5][e], page + 0x1234);
        EXPECT_EQ(p.text[0][e], QByteArray("Song title") + QByteArray(34, '\0'));
        EXPECT_EQ(p.text[1][e], QByteArray(" ")); // first byte 0
        EXPECT_EQ(p.text[2][e].left(5), QByteArray("Album"));
    }

    // Group 0's header is the page number itself.
    HdFrameBuilder alarms(18);
    alarms.u8(1201, 1).u8(1224, 24).u8(1225, 0x33).u8(1299, 99);
    d.startConnection();
    decode(alarms);
    const HdAlarmTable &t = d.alarmTable();
    EXPECT_EQ((std::array<qint32, 5>{t[0].header, t[0].pair[0][0], t[0].pair[11][1], t[1].header, t[3].pair[11][1]}),
              (std::array<qint32, 5>{18, 1, 24, 0x33, 99}));
    EXPECT_EQ(d.alarmTableCopy(), t);
    decode(alarms.u8(1201, 2));
    EXPECT_EQ(t[0].pair[0][0], 2);
    EXPECT_EQ(d.alarmTableCopy()[0].pair[0][0], 1);
}

TEST_F(HdDecoderTest, ShortFramesAndUnknownPagesChangeNothing)
{
    d.decode(HdFrameBuilder(1).text(1201, "ABCDEF").frame().left(1500));
    EXPECT_EQ(d.framesDecoded(), 0);
    decode(HdFrameBuilder(11).text(1201, "ABCDEF"));
    EXPECT_TRUE(d.stationInfo().stationId.isEmpty());
}

} // namespace
