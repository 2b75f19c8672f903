#pragma once
// Fixed positions of the KF-71 data frame and the tables that map its
// settings page, its parameter echoes and its RDS page onto the decoded
// records. Every offset the decoder reads comes from here, and the static
// checks at the end keep all of them inside a frame and every slot inside the
// settings record.
#include <QtGlobal>

#include <cstddef>
#include <iterator>

namespace kf71layout {

// ---------------------------------------------------------------- frame

inline constexpr int frameLength = 1501;
inline constexpr int settingsSlots = 162;

inline constexpr int echoNumber = 4;         // 0xFF: nothing echoed
inline constexpr int noEcho = 0xFF;
inline constexpr int echoWordHigh = 6;       // selected 16-bit: value at 6..7
inline constexpr int echoValue = 7;          // 16-bit values at 7..8; selected 8-bit value
inline constexpr int echoLow = 8;            // 8-bit value; selector of the selected forms

inline constexpr int headerByte = 9;
inline constexpr int headerWord = 13;
inline constexpr int statusAt = 15;

inline constexpr int metersAt = 17;
inline constexpr int meterCount = 100;
inline constexpr int wideAt = 250;
inline constexpr int wideCount = 509;        // 255 triples; the last one carries one value

inline constexpr int pageNumber = 1250;
inline constexpr int pageBody = 1251;
inline constexpr int settingsPage = 0;
inline constexpr int rdsPage = 1;
inline constexpr int alarmPage = 18;

// ---------------------------------------------------------------- settings image (page 0)

enum class Width : quint8 {
    U8,
    U16,
    S16,      // bit 15 set: negative
    Real,     // BE32 / 1000 as a double over two slots
};

constexpr int widthBytes(Width w)
{
    return w == Width::U8 ? 1 : w == Width::Real ? 4 : 2;
}

// `count` slots from `slot` on, `slotStep` apart, read from `offset` on,
// `byteStep` apart (0: packed, one width after the other).
struct ImageField {
    quint8 slot;
    quint8 count;
    Width width;
    quint16 offset;
    quint8 slotStep = 1;
    quint8 byteStep = 0;
};

using W = Width;

inline constexpr ImageField imageFields[] = {
    {0, 1, W::U8, statusAt},
    {1, 1, W::U16, 1252},
    {2, 1, W::U16, 1255}, {3, 1, W::U16, 1255},      // slot 3 mirrors slot 2
    {4, 3, W::U8, 1257},
    {7, 1, W::U8, 1475},
    {8, 2, W::U8, 1260},
    {10, 1, W::U16, 1262},
    {11, 3, W::U8, 1264},
    {14, 1, W::S16, 1267},
    {15, 1, W::U8, 1269},
    {16, 1, W::S16, 1270},
    {18, 1, W::Real, 1272},
    {20, 1, W::U16, 1276},
    {21, 1, W::S16, 1278},
    {22, 3, W::U8, 1280},
    {25, 1, W::S16, 1283},
    {26, 7, W::U8, 1285},
    {33, 1, W::S16, 1292},
    {34, 1, W::U8, 1294},
    {35, 1, W::S16, 1295},
    {36, 1, W::Real, 1297},
    {38, 1, W::U16, 1301},
    {39, 1, W::S16, 1303},
    {40, 3, W::U8, 1305},
    {43, 1, W::S16, 1308},
    {44, 6, W::U8, 1310},
    {50, 1, W::S16, 1316},
    {51, 1, W::U8, 1318},
    {52, 1, W::S16, 1319},
    {54, 1, W::Real, 1321},
    {56, 3, W::U8, 1325},
    {59, 1, W::S16, 1328},
    {60, 3, W::U8, 1330},
    {63, 1, W::S16, 1333},
    {64, 5, W::U8, 1335},
    {69, 2, W::U16, 1340},
    {71, 10, W::U8, 1344},
    {81, 2, W::U16, 1354},
    {83, 2, W::U8, 1358},
    {85, 2, W::U16, 1360},
    {87, 27, W::U8, 1364},
    // Fourteen triplets: signed word, word, byte in five bytes each.
    {114, 14, W::S16, 1393, 3, 5},
    {115, 14, W::U16, 1395, 3, 5},
    {116, 14, W::U8, 1397, 3, 5},
};

// The slot pairs that hold a real.
inline constexpr int realSlots[] = {18, 36, 54};

// ---------------------------------------------------------------- parameter echoes

enum class Echo : quint8 {
    Direct8,      // byte 8
    Direct16,     // bytes 7..8
    Signed8,      // byte 8 as -128..127
    Signed16,     // bytes 7..8, bit 15 set: negative
    Selected8,    // byte 7 into slot A when byte 8 is not 0, else slot B
    Selected16,   // bytes 6..7 into slot A when byte 8 is not 0, else slot B
    Dependent,    // byte 8 into slot A when settings slot `selector` is not 0, else slot B
    Triplet,      // slot = number + 2; the form follows the slot's place in its triplet
};

// Numbers first..last; the n-th number of the row goes to slotA + n × slotStep
// (and slotB + n × slotStep).
struct EchoRow {
    quint8 first;
    quint8 last;
    Echo form;
    quint8 slotA;
    quint8 slotB = 0;
    quint8 selector = 0;
    quint8 slotStep = 1;
};

using E = Echo;

inline constexpr EchoRow echoRows[] = {
    {0, 0, E::Direct8, 0},
    {15, 15, E::Direct16, 2},
    {16, 16, E::Dependent, 5, 6, 4},
    {17, 17, E::Direct8, 4},
    {18, 19, E::Direct8, 7},
    {21, 21, E::Direct8, 9},
    {22, 22, E::Direct16, 10},
    {23, 23, E::Selected8, 68, 67},
    {24, 24, E::Selected16, 70, 69},
    {25, 29, E::Selected8, 72, 71, 0, 2},
    {30, 30, E::Selected16, 82, 81},
    {31, 31, E::Selected8, 84, 83},
    {32, 32, E::Selected16, 86, 85},
    {33, 33, E::Signed8, 11},
    {34, 35, E::Direct8, 12},
    {36, 36, E::Direct8, 15},
    {37, 37, E::Signed16, 14},
    {38, 38, E::Signed16, 16},
    {39, 39, E::Direct16, 20},
    {40, 42, E::Direct8, 22},
    {43, 43, E::Signed16, 25},
    {44, 47, E::Direct8, 26},
    {48, 48, E::Signed8, 30},
    {49, 50, E::Direct8, 31},
    {51, 51, E::Direct8, 34},
    {52, 52, E::Signed16, 33},
    {53, 53, E::Signed16, 35},
    {54, 54, E::Direct16, 38},
    {55, 57, E::Direct8, 40},
    {58, 58, E::Signed16, 43},
    {59, 61, E::Direct8, 44},
    {62, 62, E::Signed8, 47},
    {63, 64, E::Direct8, 48},
    {65, 65, E::Direct8, 51},
    {66, 66, E::Signed16, 50},
    {67, 67, E::Signed16, 52},
    {68, 70, E::Direct8, 56},
    {71, 73, E::Direct8, 60},
    {74, 74, E::Signed16, 63},
    {75, 77, E::Direct8, 64},
    {78, 96, E::Direct8, 95},
    {97, 104, E::Direct8, 87},
    {112, 127, E::Triplet, 114},
    {129, 133, E::Triplet, 131},
    {135, 136, E::Triplet, 137},
    {138, 138, E::Triplet, 140},
    {141, 142, E::Triplet, 143},
    {144, 145, E::Triplet, 146},
    {147, 148, E::Triplet, 149},
    {150, 151, E::Triplet, 152},
    {153, 153, E::Triplet, 155},
};

inline constexpr int tripletFirstSlot = 114;

// The plain form of a triplet slot: signed word, word, byte.
constexpr Echo tripletForm(int slot)
{
    switch ((slot - tripletFirstSlot) % 3) {
    case 0:
        return Echo::Signed16;
    case 1:
        return Echo::Direct16;
    default:
        return Echo::Direct8;
    }
}

// An echo resolved for one number: its plain form and the slots it may write.
struct EchoTarget {
    Echo form;
    int slotA;
    int slotB;
    int selector;
};

// The row of `number`, resolved; form Triplet never comes out.
constexpr bool findEcho(int number, EchoTarget *target)
{
    for (const EchoRow &row : echoRows) {
        if (number < row.first || number > row.last)
            continue;
        const int n = number - row.first;
        const int a = row.slotA + n * row.slotStep;
        const int b = row.slotB + n * row.slotStep;
        *target = {row.form == Echo::Triplet ? tripletForm(a) : row.form, a, b, row.selector};
        return true;
    }
    return false;
}

// An echo of one of `echoes` has the next settings page copy `copied` again
// from the image.
struct RefreshRule {
    quint8 echoes[3];
    quint8 copied[6];
};

inline constexpr RefreshRule refreshRules[] = {
    {{38, 53, 67}, {18, 19, 36, 37, 54, 55}},
    {{36, 51, 65}, {14, 16, 33, 35, 50, 52}},
};

// ---------------------------------------------------------------- RDS page (page 1)

enum class RdsKind : quint8 {
    Text,         // bytes as characters
    Byte,
    Word,
    RadioText,    // a space first when `spaced`; LF and CR written "[LF]", "[CR]"
    SpacedText,   // a space, then the bytes as characters
};

struct RdsField {
    quint8 field;     // number in record order, 1..21
    RdsKind kind;
    quint16 offset;
    quint8 length = 1;
    bool spaced = false;
};

using R = RdsKind;

inline constexpr int rdsFieldCount = 21;

inline constexpr RdsField rdsFields[] = {
    {1, R::Text, 1251, 4},
    {2, R::Text, 1255, 4},
    {3, R::Byte, 1259},
    {4, R::Byte, 1260},
    {5, R::Byte, 1261},
    {6, R::Text, 1262, 8},
    {7, R::Text, 1270, 8},
    {8, R::Text, 1278, 8},
    {9, R::Text, 1286, 2},
    {10, R::Text, 1288, 9},
    {11, R::Text, 1297, 2},
    {12, R::Text, 1299, 8},
    {13, R::Text, 1307, 8},
    // field 14 is not carried by the frame
    {15, R::Byte, 1315},
    {16, R::RadioText, 1316, 64},
    {17, R::RadioText, 1380, 64, true},
    {18, R::Byte, 1444},
    {19, R::SpacedText, 1445, 48},
    {20, R::Word, 1493, 2},
    {21, R::Word, 1495, 2},
};

// ---------------------------------------------------------------- alarm table (page 18)

inline constexpr int alarmGroups = 4;
inline constexpr int alarmPairs = 12;
inline constexpr int alarmGroupStride = 25;   // group g: header at pageNumber + 25g

// ---------------------------------------------------------------- static checks

constexpr bool imageFits()
{
    bool written[settingsSlots] = {};
    for (const ImageField &f : imageFields) {
        const int step = f.byteStep ? f.byteStep : widthBytes(f.width);
        const int slotsEach = f.width == Width::Real ? 2 : 1;
        for (int i = 0; i < f.count; ++i) {
            const int slot = f.slot + i * f.slotStep;
            const int last = f.offset + i * step + widthBytes(f.width) - 1;
            if (slot + slotsEach > settingsSlots || last >= frameLength)
                return false;
            for (int s = slot; s < slot + slotsEach; ++s) {
                if (written[s])
                    return false;
                written[s] = true;
            }
        }
    }
    return true;
}

constexpr bool echoesFit()
{
    int previousLast = -1;
    for (const EchoRow &row : echoRows) {
        if (row.first > row.last || row.first <= previousLast || row.selector >= settingsSlots)
            return false;
        previousLast = row.last;
        for (int number = row.first; number <= row.last; ++number) {
            EchoTarget t{};
            if (!findEcho(number, &t) || t.slotA >= settingsSlots || t.slotB >= settingsSlots)
                return false;
            if (row.form == Echo::Triplet && t.slotA != number + 2)
                return false;
        }
    }
    for (const RefreshRule &r : refreshRules)
        for (quint8 s : r.copied)
            if (s >= settingsSlots)
                return false;
    return true;
}

constexpr bool rdsFits()
{
    for (const RdsField &f : rdsFields)
        if (f.field < 1 || f.field > rdsFieldCount || f.offset < pageBody
            || f.offset + f.length > frameLength)
            return false;
    return true;
}

static_assert(imageFits(), "a KF-71 settings image field falls outside the frame or the record");
static_assert(echoesFit(), "a KF-71 parameter echo targets a slot outside the settings record");
static_assert(rdsFits(), "a KF-71 RDS field falls outside the page body");
static_assert(wideAt + 3 * ((wideCount + 1) / 2) <= frameLength);
static_assert(metersAt + 3 * (meterCount / 2) <= wideAt);
static_assert(pageNumber + alarmGroupStride * (alarmGroups - 1) + 2 * alarmPairs + 1 < frameLength);
static_assert(realSlots[std::size(realSlots) - 1] + 1 < settingsSlots);

} // namespace kf71layout
