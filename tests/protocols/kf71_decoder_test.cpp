// KF-71 frame decoding: parameter echoes in every form, the settings page with
// its seeding and refresh rules, the RDS page, the alarm table, the parameter
// values the commands carry, and frames of any bytes.
#include "protocols/kf71/kf71decoder.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

#include <initializer_list>
#include <optional>

namespace {

// A frame with the start marker, no echo and the given page.
struct KfFrame {
    QByteArray b;
    explicit KfFrame(int page = 99) : b(1501, '\0')
    {
        set(0, {0xFF, 0xFE, 0xFD});
        set(4, {0xFF});
        set(1250, {page});
    }
    KfFrame &set(int at, std::initializer_list<int> values)
    {
        for (int v : values)
            b[at++] = char(v);
        return *this;
    }
    KfFrame &echo(int number, int b6, int b7, int b8) { return set(4, {number, 0, b6, b7, b8}); }
};

void echo(Kf71Decoder &d, int number, int b6, int b7, int b8)
{
    d.decode(KfFrame().echo(number, b6, b7, b8).b);
}

} // namespace

// ---------------------------------------------------------------- echoes

TEST(Kf71Decoder, EchoFormsWriteOneSlotEach)
{
    struct Case {
        const char *what;
        int before = -1, beforeByte8 = 0;   // an earlier echo (direct 8-bit)
        int number, b6, b7, b8;
        int slot, value;
    };
    const Case cases[] = {
        {"direct 8-bit", -1, 0, 0, 0, 0x11, 0x7F, 0, 127},
        {"direct 16-bit", -1, 0, 15, 0, 0x12, 0x34, 2, 0x1234},
        {"signed 8-bit", -1, 0, 33, 0, 0, 0xFF, 11, -1},
        {"signed 16-bit", -1, 0, 37, 0, 0x80, 0x01, 14, -32767},
        {"selected 8-bit, selector set", -1, 0, 23, 0, 5, 1, 68, 5},
        {"selected 8-bit, selector 0", -1, 0, 23, 0, 5, 0, 67, 5},
        {"selected 8-bit, third of a run", -1, 0, 27, 0, 9, 0, 75, 9},
        {"selected 16-bit", -1, 0, 24, 0xAB, 0xCD, 2, 70, 0xABCD},
        {"selected 16-bit, selector 0", -1, 0, 32, 0x01, 0x02, 0, 85, 0x0102},
        {"dependent, slot 4 zero", 17, 0, 16, 0, 0, 7, 6, 7},
        {"dependent, slot 4 set", 17, 1, 16, 0, 0, 7, 5, 7},
        {"run of 8-bit: 78", -1, 0, 78, 0, 0, 3, 95, 3},
        {"run of 8-bit: 104", -1, 0, 104, 0, 0, 4, 94, 4},
        {"triplet signed word", -1, 0, 112, 0, 0xFF, 0xFE, 114, -2},
        {"triplet word", -1, 0, 113, 0, 0xFF, 0xFE, 115, 0xFFFE},
        {"triplet byte", -1, 0, 114, 0, 0xFF, 0xFE, 116, 0xFE},
        {"last triplet number", -1, 0, 153, 0, 0, 0x80, 155, 0x80},
    };
    for (const Case &c : cases) {
        Kf71Decoder d;
        if (c.before >= 0)
            echo(d, c.before, 0, 0, c.beforeByte8);
        Kf71Settings expected = d.settings();
        expected.slot[c.slot] = c.value;
        echo(d, c.number, c.b6, c.b7, c.b8);
        EXPECT_EQ(d.settings(), expected) << c.what;
        EXPECT_EQ(d.settings().slot[c.slot], c.value) << c.what;
    }
}

TEST(Kf71Decoder, NumbersOutsideTheTableAreIgnored)
{
    for (int number : {1, 14, 20, 105, 111, 128, 134, 137, 139, 152, 154, 254}) {
        Kf71Decoder d;
        echo(d, number, 0x55, 0x55, 0x55);
        EXPECT_EQ(d.settings(), Kf71Settings()) << number;
        EXPECT_EQ(d.parameterValue(number, 0), std::nullopt) << number;
    }
}

// ---------------------------------------------------------------- settings page

TEST(Kf71Decoder, SettingsImageSlots)
{
    KfFrame f(0);
    f.set(15, {0x42}).set(1252, {0x01, 0x02}).set(1255, {0xBE, 0xEF}).set(1475, {0x07});
    f.set(1267, {0xFF, 0xFE}).set(1272, {0x00, 0x01, 0x86, 0xA1}).set(1297, {0xFF, 0xFF, 0xFF, 0xFE});
    f.set(1340, {0x80, 0x00}).set(1390, {0x33}).set(1458, {0x80, 0x00, 0x12, 0x34, 0x56});
    Kf71Decoder d;
    d.decode(f.b);
    const Kf71Settings &img = d.settingsImage();
    const std::pair<int, int> expected[] = {
        {0, 0x42}, {1, 0x0102}, {2, 0xBEEF}, {3, 0xBEEF}, {7, 7}, {14, -2}, {69, 0x8000},
        {113, 0x33}, {153, -32768}, {154, 0x1234}, {155, 0x56}, {17, 0}, {156, 0},
    };
    for (const auto &[slot, value] : expected)
        EXPECT_EQ(img.slot[slot], value) << "slot " << slot;
    EXPECT_DOUBLE_EQ(img.real(18), 100.001);
    EXPECT_DOUBLE_EQ(img.real(36), -0.002);
    EXPECT_EQ(d.lastPage(), 0);
}

TEST(Kf71Decoder, FirstSettingsPageSeedsOncePerConnection)
{
    Kf71Decoder d;
    d.startConnection();
    d.decode(KfFrame(0).set(1257, {1}).b);
    EXPECT_FALSE(d.firstStatusPending());
    EXPECT_EQ(d.settings().slot[4], 1);

    d.decode(KfFrame(0).set(1257, {2}).b);
    EXPECT_EQ(d.settingsImage().slot[4], 2);
    EXPECT_EQ(d.settings().slot[4], 1) << "later pages change the image only";

    d.startConnection();
    EXPECT_TRUE(d.firstStatusPending());
    d.decode(KfFrame(0).set(1257, {3}).b);
    EXPECT_EQ(d.settings().slot[4], 3);
}

TEST(Kf71Decoder, RefreshRulesCopyTheirSlotsOncePerEcho)
{
    struct Rule {
        int echo, echoSlot;
        std::initializer_list<int> refreshed, other;
    };
    const Rule rules[] = {
        {38, 16, {18, 19, 36, 37, 54, 55}, {14, 33, 35, 50, 52}},
        {53, 35, {18, 19, 36, 37, 54, 55}, {14, 16, 33, 50, 52}},
        {67, 52, {18, 19, 36, 37, 54, 55}, {14, 16, 33, 35, 50}},
        {36, 15, {14, 16, 33, 35, 50, 52}, {18, 19, 36, 37, 54, 55}},
        {51, 34, {14, 16, 33, 35, 50, 52}, {18, 19, 36, 37, 54, 55}},
        {65, 51, {14, 16, 33, 35, 50, 52}, {18, 19, 36, 37, 54, 55}},
    };
    // A settings page where every image slot involved is non-zero.
    KfFrame changed(0);
    for (int at : {1267, 1270, 1272, 1292, 1295, 1297, 1316, 1319, 1321})
        changed.set(at, {0x01, 0x02, 0x03, 0x04});
    for (const Rule &r : rules) {
        Kf71Decoder d;
        d.decode(KfFrame(0).b);                  // seeds all zero
        echo(d, r.echo, 0, 0, 9);
        d.decode(changed.b);
        for (int s : r.refreshed)
            EXPECT_EQ(d.settings().slot[s], d.settingsImage().slot[s]) << r.echo << " slot " << s;
        for (int s : r.other)
            EXPECT_EQ(d.settings().slot[s], 0) << r.echo << " slot " << s;
        EXPECT_NE(d.settingsImage().slot[*r.refreshed.begin()], 0);
        EXPECT_EQ(d.settings().slot[r.echoSlot], 9) << r.echo;

        // Spent: the next page does not refresh again.
        const Kf71Settings before = d.settings();
        d.decode(KfFrame(0).b);
        EXPECT_EQ(d.settings(), before) << r.echo;
    }
}

// ---------------------------------------------------------------- other pages

TEST(Kf71Decoder, RdsPage)
{
    KfFrame f(1);
    f.set(1251, {'W', 'X', 'Y', 'Z'}).set(1259, {3, 4, 5}).set(1262, {'R', 'A', 'D', 'I', 'O'});
    f.set(1316, {'H', 'i', 0x0D, 0x0A, '!'}).set(1444, {0x80}).set(1493, {0x12, 0x34, 0xFF, 0xFF});
    Kf71Decoder d;
    d.decode(f.b);
    const Kf71RdsBasic &r = d.rdsBasic();
    EXPECT_EQ(r.text[1], "WXYZ");
    EXPECT_EQ(r.text[6], QString("RADIO") + QString(3, QChar(0)));
    EXPECT_EQ(r.value[3], 3);
    EXPECT_EQ(r.value[5], 5);
    EXPECT_EQ(r.value[18], 0x80);
    EXPECT_EQ(r.value[20], 0x1234);
    EXPECT_EQ(r.value[21], 0xFFFF);
    EXPECT_EQ(r.radioText1(), QString("Hi[CR][LF]!") + QString(59, QChar(0)));
    // Spaced texts keep their space even when the frame carries nothing.
    EXPECT_EQ(r.radioText2(), QString(" ") + QString(64, QChar(0)));
    EXPECT_EQ(r.text[19], QString(" ") + QString(48, QChar(0)));
    EXPECT_TRUE(r.text[14].isEmpty());

    // Rebuilt from scratch: line breaks in the second radiotext too.
    d.decode(KfFrame(1).set(1380, {0x0A, 0x0A}).b);
    EXPECT_EQ(d.rdsBasic().text[1], QString(4, QChar(0)));
    EXPECT_TRUE(d.rdsBasic().radioText2().startsWith(" [LF][LF]"));
}

TEST(Kf71Decoder, AlarmTableAndItsCopyOncePerConnection)
{
    KfFrame f(18);
    f.set(1251, {1, 2}).set(1273, {23, 24}).set(1275, {0x40}).set(1276, {5, 6}).set(1349, {0x99});
    Kf71Decoder d;
    d.startConnection();
    d.decode(f.b);
    const Kf71AlarmTable &t = d.alarmTable();
    EXPECT_EQ(t[0].header, 18) << "group 0's header is the page number";
    EXPECT_EQ(t[0].pair[0], (std::array<qint32, 2>{1, 2}));
    EXPECT_EQ(t[0].pair[11], (std::array<qint32, 2>{23, 24}));
    EXPECT_EQ(t[1].header, 0x40);
    EXPECT_EQ(t[1].pair[0], (std::array<qint32, 2>{5, 6}));
    EXPECT_EQ(t[3].pair[11][1], 0x99);
    EXPECT_EQ(d.alarmTableCopy(), t);

    d.decode(KfFrame(18).set(1251, {7}).b);
    EXPECT_EQ(d.alarmTable()[0].pair[0][0], 7);
    EXPECT_EQ(d.alarmTableCopy()[0].pair[0][0], 1);
    d.startConnection();
    d.decode(KfFrame(18).set(1251, {8}).b);
    EXPECT_EQ(d.alarmTableCopy()[0].pair[0][0], 8);
}

TEST(Kf71Decoder, HeaderAndTwelveBitArrays)
{
    KfFrame f;
    f.set(9, {0xAA}).set(13, {0x01, 0x02}).set(15, {0x33});
    f.set(17, {0x00, 0xFF, 0x78}).set(20, {0xFF, 0x00, 0x87});   // 0x800, 0x7FF; 0x7FF, 0x800
    f.set(250 + 3 * 254, {0x01, 0xEE, 0xF8});                      // last triple: one value
    Kf71Decoder d;
    d.decode(f.b);
    EXPECT_EQ(d.header().byte, 0xAA);
    EXPECT_EQ(d.header().word, 0x0102);
    EXPECT_EQ(d.statusByte(), 0x33);
    EXPECT_EQ(d.meters()[0], -2048);
    EXPECT_EQ(d.meters()[1], 2047);
    EXPECT_EQ(d.meters()[2], 2047);
    EXPECT_EQ(d.meters()[3], -2048);
    EXPECT_EQ(d.wideArray()[508], -2047);
    EXPECT_EQ(d.settingsImage(), Kf71Settings()) << "page 99 decodes no page body";
}

// ---------------------------------------------------------------- command values

TEST(Kf71Decoder, ParameterValuesFromTheSettings)
{
    Kf71Decoder d;
    for (const auto &[n, b6, b7, b8] : std::initializer_list<std::array<int, 4>>{
             {15, 0, 0x12, 0x34}, {33, 0, 0, 0xFF}, {37, 0, 0x80, 0x01}, {23, 0, 0x05, 1},
             {23, 0, 0x06, 0}, {24, 0xAB, 0xCD, 1}, {16, 0, 0, 0x2A}, {113, 0, 0xBE, 0xEF}})
        echo(d, n, b6, b7, b8);
    struct Case {
        int number, index;
        const char *value;
    };
    const Case cases[] = {
        {15, 0, "1234"}, {33, 0, "FF"}, {37, 0, "8001"}, {23, 1, "0501"}, {23, 0, "0600"},
        {24, 3, "ABCD03"}, {24, 0, "000000"}, {16, 0, "2A"}, {113, 0, "BEEF"}, {0, 0, "00"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(d.parameterValue(c.number, c.index), QByteArray(c.value)) << c.number;
    for (int number : {-1, 256, 1000})
        EXPECT_EQ(d.parameterValue(number, 0), std::nullopt) << number;
}

// ---------------------------------------------------------------- any bytes

TEST(Kf71Decoder, AnyBytesDecodeInsideTheFrameAndTheSameEveryTime)
{
    QRandomGenerator rng(71);
    Kf71Decoder a, b;
    for (int i = 0; i < 3000; ++i) {
        QByteArray f(1501 + int(rng.bounded(9)), '\0');
        for (char &c : f)
            c = char(rng.bounded(256));
        const int pages[] = {0, 1, 18, int(rng.bounded(256))};
        f[1250] = char(pages[rng.bounded(4)]);
        if (i % 500 == 0)
            a.startConnection(), b.startConnection();
        a.decode(f);
        b.decode(f);
        ASSERT_EQ(a.settings(), b.settings());
        ASSERT_EQ(a.rdsBasic().text, b.rdsBasic().text);
        for (qint32 v : a.wideArray())
            ASSERT_TRUE(v >= -2048 && v <= 2047);
        for (int n = 0; n < 256; ++n)
            (void)a.parameterValue(n, int(rng.bounded(256)));
    }
    const int page = a.lastPage();
    a.decode(QByteArray(1500, char(0xFF)));
    EXPECT_EQ(a.lastPage(), page) << "a short frame is ignored";
    a.decode(QByteArray());
    EXPECT_EQ(a.settings(), b.settings());
}
