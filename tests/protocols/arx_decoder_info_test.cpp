// Arxon information messages: identities, configurations, option module
// texts and labels, and the presence of modules they lead to.
#include "protocols/arx/arxdecoder.h"
#include "protocols/arx_frame_builder.h"

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>

namespace {

void putText(QByteArray &f, int slot, const char *text)
{
    while (*text)
        f[slot++] = *text++;
}

// Message byte `checksumByte` = sum of message bytes first..last modulo 256.
void sealMessage(QByteArray &f, int start, int first, int last, int checksumByte)
{
    int sum = 0;
    for (int i = first; i <= last; ++i)
        sum += quint8(f[start + i]);
    f[start + checksumByte] = char(sum & 0xFF);
}

// A frame of `descriptor` with an information message at `at`: its bytes, a
// text from message byte textAt, and the checksum of bytes first..last at
// the message byte `seal[2]`.
QByteArray infoFrame(quint8 descriptor, int at, std::initializer_list<int> values, std::array<int, 3> seal,
                     int textAt = 0, const char *text = "")
{
    QByteArray f = arxFrame(descriptor);
    put(f, at, values);
    putText(f, at + textAt, text);
    sealMessage(f, at, seal[0], seal[1], seal[2]);
    return f;
}

constexpr int fmInfo = 75;
constexpr int tvInfo = 76;
constexpr int ka71Info = 28;
constexpr int ka72Info = 70;

QByteArray km71Identity()
{
    return infoFrame(0xFC, fmInfo, {0x00, 0, 23, 'B', 12, 34, 7}, {2, 19, 1}, 10, "KM71 FM TX");
}

QByteArray km71Configuration(int byte2 = 0)
{
    return infoFrame(0xFC, fmInfo, {0x01, 0, byte2, 9, 0x10, 0x27, 1, 0, 2, 3, 0, 1, 4, 5, 6, 0xFF, 8, 9, 10}, {2, 18, 1});
}

QByteArray kc71Configuration(int nibble, int byte4, int byte16)
{
    return infoFrame(0xFC, fmInfo, {nibble << 4 | 1, 0, 0, 0, byte4, 18, 19, 0xFF, 1, 2, 3, 4, 5, 6, 0xA3, 50, byte16}, {2, 16, 1});
}

void feed(ArxDecoder &d, const QByteArray &f, int unitType = arxunit::Km71, int amSubType = 0)
{
    d.fileFrame(f, unitType, amSubType);
    d.decodePending();
}

} // namespace

TEST(ArxDecoderInfo, Km71IdentityThenConfigurationMakesItPresent)
{
    ArxDecoder d;
    feed(d, km71Identity());
    const ArxModuleIdentity &km = d.identity(ArxModule::Km71);
    EXPECT_TRUE(km.identified);
    EXPECT_FALSE(km.present);
    EXPECT_DOUBLE_EQ(km.version, 2.3);
    EXPECT_EQ(km.revision, QChar('B'));
    EXPECT_EQ(km.serial, QStringLiteral("301234"));
    EXPECT_EQ(km.name, QStringLiteral("KM71 FM TX"));
    EXPECT_EQ(km.idText, QStringLiteral("2.3B"));
    EXPECT_EQ(km.extra, 7);
    EXPECT_EQ(d.unitsChanged(), 0u);

    feed(d, km71Configuration());
    EXPECT_TRUE(km.present);
    EXPECT_EQ(d.unitsChanged(), 0x01u);
    const ArxConfig &c = d.configuration(ArxModule::Km71);
    EXPECT_EQ(c.values, (QList<int>{9, 10000, 1, 2, 3, 256, 4, 5, 6, 255, 8, 9, 10}));
    EXPECT_EQ(c.flags, 0x3F);
    EXPECT_EQ(d.mirror(ArxModule::Km71).config, c);
}

TEST(ArxDecoderInfo, Km71NeedsItsIdentityFirstAndSoundMessages)
{
    ArxDecoder d;
    feed(d, km71Configuration());
    EXPECT_TRUE(d.configuration(ArxModule::Km71).received);
    EXPECT_FALSE(d.isPresent(ArxModule::Km71));

    // A wrong checksum or a non-zero byte 2 leaves everything as it was.
    QByteArray badId = km71Identity();
    badId[fmInfo + 1] = char(badId[fmInfo + 1] + 1);
    feed(d, badId);
    EXPECT_FALSE(d.identity(ArxModule::Km71).identified);

    feed(d, km71Identity());
    EXPECT_FALSE(d.isPresent(ArxModule::Km71));
    ArxDecoder fresh;
    feed(fresh, km71Identity());
    feed(fresh, km71Configuration(5));
    EXPECT_FALSE(fresh.configuration(ArxModule::Km71).received);
    EXPECT_FALSE(fresh.isPresent(ArxModule::Km71));

    feed(d, km71Configuration());
    EXPECT_TRUE(d.isPresent(ArxModule::Km71));

    // Serial digits are zero-padded to four.
    QByteArray small = km71Identity();
    put(small, fmInfo + 4, {0, 5});
    sealMessage(small, fmInfo, 2, 19, 1);
    feed(d, small);
    EXPECT_EQ(d.identity(ArxModule::Km71).serial, QStringLiteral("300005"));
}

TEST(ArxDecoderInfo, OptionModuleIdentityTextAndLabels)
{
    ArxDecoder d;
    const QByteArray text = infoFrame(0xFC, fmInfo, {0x10, 'O', 'P', 'T', 'I', 'O', 'N', ' ', 'T', 'E', 'X', 'T', '1', 5},
                                      {1, 13, 14});
    feed(d, text);
    EXPECT_FALSE(d.isPresent(ArxModule::Option));
    EXPECT_EQ(d.optionModule().text, QStringLiteral("OPTION TEXT1"));

    const QByteArray id = infoFrame(0xFC, fmInfo, {0x11, 'S', 'T', 'E', 'R', 'E', 'O', 100 + 0x12, 100 + 0x34, 'A', 'B', 'C', 'D'},
                                    {1, 22, 23}, 13, "V2.1 RDS  ");
    feed(d, id);
    const ArxModuleIdentity &opt = d.identity(ArxModule::Option);
    EXPECT_EQ(opt.name, QStringLiteral("STEREO"));
    EXPECT_EQ(opt.serial, QStringLiteral("311234"));
    EXPECT_EQ(opt.idText, QStringLiteral("V2.1 RDS  "));
    EXPECT_EQ(d.optionModule().shortText, QStringLiteral("ABCD"));
    EXPECT_FALSE(opt.present);

    feed(d, text);
    EXPECT_TRUE(opt.present);
    EXPECT_EQ(d.unitsChanged(), 0x80u);
    EXPECT_EQ(d.optionModule().value, 5);

    QByteArray label = infoFrame(0xFC, fmInfo, {0x12, '3'}, {2, 13, 14}, 2, "LABEL THREE ");
    feed(d, label);
    EXPECT_EQ(d.optionModule().labels[3], QStringLiteral("LABEL THREE "));
    label[fmInfo + 1] = 'X';
    putText(label, fmInfo + 2, "LABEL OTHER ");
    sealMessage(label, fmInfo, 2, 13, 14);
    feed(d, label);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(d.optionModule().labels[i], i == 3 ? QStringLiteral("LABEL THREE ") : QString());
}

TEST(ArxDecoderInfo, Ks71AndKr71ArePresentOnTheirFirstMessage)
{
    ArxDecoder d;
    QByteArray ks = infoFrame(0xFC, fmInfo, {0x20, 0, 0, 44, 0xFF, 15, 'A', 1, 2}, {2, 18, 1}, 9, "KS71 STERE");
    feed(d, ks);
    const ArxModuleIdentity &id = d.identity(ArxModule::Ks71);
    EXPECT_TRUE(id.present);
    EXPECT_DOUBLE_EQ(id.version, 1.5);
    EXPECT_EQ(id.serial, QStringLiteral("350102"));
    EXPECT_EQ(id.name, QStringLiteral("KS71 STERE"));
    EXPECT_EQ(d.configuration(ArxModule::Ks71).values, (QList<int>{44}));
    EXPECT_EQ(d.configuration(ArxModule::Ks71).flags, 0x3F);
    EXPECT_EQ(d.unitsChanged(), 0x02u);

    QByteArray kr = ks;
    kr[fmInfo] = 0x30;
    feed(d, kr);
    EXPECT_TRUE(d.isPresent(ArxModule::Kr71));
    EXPECT_EQ(d.identity(ArxModule::Kr71).serial, QStringLiteral("360102"));
    EXPECT_EQ(d.configuration(ArxModule::Kr71).flags, 0x0F);
    EXPECT_EQ(d.unitsChanged(), 0x06u);
}

TEST(ArxDecoderInfo, Kc71ChannelPresentAfterTwoAgreeingConfigurations)
{
    ArxDecoder d;
    feed(d, kc71Configuration(4, 17, 0xB4));
    EXPECT_FALSE(d.isPresent(ArxModule::Kc71Ch0));
    const ArxConfig &c = d.configuration(ArxModule::Kc71Ch0);
    EXPECT_EQ(c.values, (QList<int>{17, 18, 19, 1, 2, 3, 4, 5, 6, 163, 50}));
    EXPECT_EQ(c.flags, 0x0F);
    EXPECT_EQ(c.fields, (QList<int>{5, 3, 1, 1, 1, 1, 1}));
    EXPECT_EQ(d.mirror(ArxModule::Kc71Ch0).config, c);

    feed(d, kc71Configuration(4, 17, 0xB4));
    EXPECT_TRUE(d.isPresent(ArxModule::Kc71Ch0));
    EXPECT_EQ(d.unitsChanged(), 0x08u);

    // Channel 1: byte 4 and bit 7 of byte 16 must both repeat.
    feed(d, kc71Configuration(5, 17, 0x80));
    feed(d, kc71Configuration(5, 18, 0x80));
    feed(d, kc71Configuration(5, 18, 0x00));
    EXPECT_FALSE(d.isPresent(ArxModule::Kc71Ch1));
    feed(d, kc71Configuration(5, 18, 0x0C));
    EXPECT_TRUE(d.isPresent(ArxModule::Kc71Ch1));
    EXPECT_EQ(d.unitsChanged(), 0x18u);
    EXPECT_EQ(d.configuration(ArxModule::Kc71Ch1).fields.last(), 2);

    QByteArray id = infoFrame(0xFC, fmInfo, {0x50, 0, 0, 12, 'C', 0, 99}, {2, 16, 1}, 7, "KC71 CH 1 ");
    feed(d, id);
    EXPECT_EQ(d.identity(ArxModule::Kc71Ch1).serial, QStringLiteral("290099"));
    EXPECT_DOUBLE_EQ(d.identity(ArxModule::Kc71Ch1).version, 1.2);
    EXPECT_EQ(d.identity(ArxModule::Kc71Ch1).name, QStringLiteral("KC71 CH 1 "));
}

TEST(ArxDecoderInfo, TvModules)
{
    ArxDecoder d;
    QByteArray id = infoFrame(0xEC, tvInfo, {0x20, 0, 31, 'D', 5, 6}, {2, 15, 1}, 6, "KV73 VIDEO");
    feed(d, id, arxunit::Kv73);
    EXPECT_EQ(d.identity(ArxModule::Kv73).serial, QStringLiteral("230506"));

    QByteArray cfg = infoFrame(0xEC, tvInfo, {0x21, 0, 0, 1, 0xA5, 3, 10, 11, 12, 13, 14, 15, 16, 17}, {2, 13, 1});
    feed(d, cfg, arxunit::Kv73);
    EXPECT_TRUE(d.isPresent(ArxModule::Kv73));
    EXPECT_EQ(d.unitsChanged(), 0x02u);
    EXPECT_EQ(d.configuration(ArxModule::Kv73).values, (QList<int>{1, 10, 11, 12, 13, 14, 15, 16, 17}));
    EXPECT_EQ(d.configuration(ArxModule::Kv73).flags, 0xA5);
    EXPECT_EQ(d.configuration(ArxModule::Kv73).fields, (QList<int>{1}));

    auto kv75 = [&](int mode, int last) {
        QByteArray f = infoFrame(0xEC, tvInfo, {0x31, 0, 0, 2, 0xFF, 20, 21, 22, mode, 23, 24, 25, last}, {2, 12, 1});
        feed(d, f, arxunit::Kv75);
        return d.configuration(ArxModule::Kv75);
    };
    ArxConfig c = kv75(0x1E, 0x02);
    EXPECT_EQ(c.values, (QList<int>{2, 20, 21, 22, 23, 24, 25}));
    EXPECT_EQ(c.flags, 0x3F);
    EXPECT_EQ(c.fields, (QList<int>{1, 2, 1, 1, 1, 1}));
    EXPECT_EQ(kv75(0x3B, 0x04).fields, (QList<int>{3, 0, 0, 1, 2, 0}));
    EXPECT_EQ(kv75(0x10, 0x01).fields, (QList<int>{1, 0, 0, 1, 0, 1}));
    EXPECT_EQ(kv75(0x23, 0x00).fields, (QList<int>{2, 3, 0, 0, 0, 0}));
    // No identity yet: configuration alone does not list the KV-75.
    EXPECT_FALSE(d.isPresent(ArxModule::Kv75));
}

TEST(ArxDecoderInfo, AmModulesOnlyTakeModuleNibbleZero)
{
    ArxDecoder d;
    QByteArray id = infoFrame(0xC0, ka71Info, {0x00, 0, 40, 'E', 99, 99}, {2, 19, 1}, 10, "KA71 AM RX");
    feed(d, id, arxunit::Ka71, 1);
    EXPECT_EQ(d.identity(ArxModule::Ka71).serial, QStringLiteral("359999"));
    EXPECT_DOUBLE_EQ(d.identity(ArxModule::Ka71).version, 4.0);

    // A KS-71 message shape in an AM frame is not taken.
    QByteArray foreign = infoFrame(0xC0, ka71Info, {0x20, 0, 0, 44, 0xFF, 15, 'A', 1, 2}, {2, 18, 1});
    feed(d, foreign, arxunit::Ka71, 1);
    EXPECT_FALSE(d.isPresent(ArxModule::Ks71));
    EXPECT_EQ(d.unitsChanged(), 0u);

    const QByteArray cfg = infoFrame(0xC0, ka71Info, {0x01, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19},
                                     {2, 21, 1});
    feed(d, cfg, arxunit::Ka71, 1);
    EXPECT_TRUE(d.isPresent(ArxModule::Ka71));
    EXPECT_FALSE(d.isPresent(ArxModule::Ka72));
    EXPECT_EQ(d.unitsChanged(), 0x01u);
    EXPECT_EQ(d.configuration(ArxModule::Ka71).values.size(), 19);
    EXPECT_EQ(d.configuration(ArxModule::Ka71).values.last(), 19);
    EXPECT_EQ(d.configuration(ArxModule::Ka71).flags, 19);

    // KA-72: the message sits at slot 70.
    ArxDecoder d2;
    QByteArray id2 = infoFrame(0xC0, ka72Info, {0x00, 0, 12, 'F', 1, 0}, {2, 19, 1}, 10, "KA72 AM RX");
    feed(d2, id2, arxunit::Ka72, 2);
    const QByteArray cfg2 = infoFrame(0xC0, ka72Info, {0x01, 0, 0, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113,
                                                       114, 115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126},
                                      {2, 26, 1});
    feed(d2, cfg2, arxunit::Ka72, 2);
    EXPECT_TRUE(d2.isPresent(ArxModule::Ka72));
    EXPECT_EQ(d2.identity(ArxModule::Ka72).serial, QStringLiteral("350100"));
    EXPECT_EQ(d2.configuration(ArxModule::Ka72).values.size(), 24);
    EXPECT_EQ(d2.configuration(ArxModule::Ka72).values.first(), 103);
    EXPECT_EQ(d2.configuration(ArxModule::Ka72).values.last(), 126);
    EXPECT_EQ(d2.unitsChanged(), 0x01u);
}

// A module's configuration seeds its setting mirror when it becomes present:
// values into the slots of the codes it echoes, flags into the flag words.
TEST(ArxDecoderInfo, ConfigurationSeedsTheSettingMirror)
{
    ArxDecoder d;
    feed(d, km71Identity());
    feed(d, km71Configuration());
    const ArxMirror &km = d.mirror(ArxModule::Km71);
    const std::pair<int, int> seeded[] = {{1, 9},  {2, 10000}, {5, 1},  {7, 2},  {8, 3},  {9, 256},
                                         {14, 4}, {15, 5},    {19, 6}, {42, 8}, {43, 9}, {44, 10}};
    for (const auto &[code, value] : seeded)
        EXPECT_EQ(km.slot[size_t(code)], value) << "code " << code;
    EXPECT_EQ(km.flagWord[0], 0x3F);

    // KC-71: the flag byte and byte 16's bits 4, 5, 7 in the first word, byte
    // 12's bit 0 in the second; its values do not pair with its echo codes.
    feed(d, kc71Configuration(4, 17, 0xB4));
    feed(d, kc71Configuration(4, 17, 0xB4));
    const ArxMirror &kc = d.mirror(ArxModule::Kc71Ch0);
    EXPECT_EQ(kc.flagWord[0], 0x0F | 0x10 | 0x20 | 0x80);
    EXPECT_EQ(kc.flagWord[1], 0x01);
    EXPECT_EQ(kc.slot[2], 0);
}
