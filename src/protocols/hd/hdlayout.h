#pragma once
// Fixed positions and tables of the HD monitors' data frame: byte offsets
// from the first byte of the frame, numbers big-endian. Every offset the
// decoder reads comes from here; the checks at the end keep all of them
// inside the checked part of the frame.
#include <QtGlobal>

namespace hdlayout {

inline constexpr int frameLength = 1501;
inline constexpr int stampLength = 8;
inline constexpr int checkValue = 1499; // sum of bytes 0..1498, not checked

// ---------------------------------------------------------------- sections

inline constexpr int echoNumber = 4;    // 0xFF: no echo in this frame
inline constexpr int echoHigh = 7;      // 16-bit values: bytes 7..8
inline constexpr int echoLow = 8;       // 8-bit values: byte 8
inline constexpr quint8 noEcho = 0xFF;

inline constexpr int headerWord = 9;    // u16
inline constexpr int headerLong = 11;   // BE32
inline constexpr int mainBlock = 17;
inline constexpr int stationNumbers = 49;
inline constexpr int meters = 60;       // 126 values in 63 triples
inline constexpr int meterCount = 126;
inline constexpr int levels = 249;
inline constexpr int counters = 263;    // eight BE32
inline constexpr int counterCount = 8;
inline constexpr int wideArray = 295;   // 509 values in 255 triples
inline constexpr int wideCount = 509;
inline constexpr int pageNumber = 1200;
inline constexpr int pageBody = 1201;

// ---------------------------------------------------------------- main block

enum class Width : quint8 { U8, S8, U16, S16, U16Twice, Real1000 };

// Integer fields of the main block read from one byte each: field, offset.
struct ByteField {
    quint8 field;
    quint16 offset;
};
inline constexpr ByteField mainBytes[] = {
    {1, 17}, {4, 18}, {6, 19}, {8, 20}, {10, 21}, {11, 22}, {12, 23}, {14, 24}, {16, 25}, {18, 26},
    {20, 27}, {21, 28}, {22, 29}, {23, 30}, {24, 31}, {25, 32}, {26, 33}, {27, 34}, {29, 39}, {31, 42},
};
inline constexpr int mainText28 = 35;   // 4 characters
inline constexpr int mainReal30 = 40;   // u16 / 100
inline constexpr int mainReal32 = 43;   // u16 / 100
inline constexpr int mainWord33 = 45;
inline constexpr int mainWord34 = 47;

// Station information numbers, in record order: offset and width (4: BE32).
struct NumberField {
    quint16 offset;
    quint8 size;
};
inline constexpr NumberField stationNumberFields[] = {{49, 1}, {50, 1}, {51, 1}, {52, 1}, {53, 1},
                                                      {54, 4}, {58, 1}, {59, 1}};

// ---------------------------------------------------------------- levels

inline constexpr int levelByte0 = 249;
inline constexpr int levelByte1 = 250;
inline constexpr int levelWord = 251;
inline constexpr int levelValues = 253; // five 16-bit values, 2 bytes apart
inline constexpr int levelCount = 5;
// The level the text log takes its per-second peak, average and minimum of.
inline constexpr int totalLevel = 0;

// ---------------------------------------------------------------- pages

inline constexpr int pageSettings = 0;
inline constexpr int pageStation = 1;
inline constexpr int pageFirstProgramme = 2;
inline constexpr int pageLastProgramme = 10;
inline constexpr int pageAlarms = 18;

// Station texts of page 1, in record order: offset, length.
struct TextField {
    quint16 offset;
    quint8 length;
};
inline constexpr TextField stationTexts[] = {{1201, 6}, {1207, 2}, {1209, 4}, {1213, 12},
                                             {1225, 12}, {1237, 7}, {1244, 56}};
inline constexpr int latitudeText = 3;  // indices into stationTexts whose '|' is a degree sign
inline constexpr int longitudeText = 4;

// Programme data of pages 2..10: seven numbers, then five 44-byte texts.
inline constexpr NumberField programmeNumbers[] = {{1201, 1}, {1202, 1}, {1203, 1}, {1204, 2},
                                                   {1206, 2}, {1208, 2}, {1210, 1}};
inline constexpr int programmeTexts = 1211;
inline constexpr int programmeTextLength = 44;
inline constexpr int programmeTextCount = 5;

// Alarm tables of page 18: group g's header at 1200 + 25g (group 0's is the
// page number itself), its twelve pairs from 1201 + 25g.
inline constexpr int alarmGroups = 4;
inline constexpr int alarmPairs = 12;
inline constexpr int alarmBase = 1200;
inline constexpr int alarmGroupStride = 25;

// ---------------------------------------------------------------- settings image

// Slots first..first + (count - 1) * slotStep from offset, offset + offsetStep, ...
struct ImageRule {
    quint8 slot;
    quint8 count;
    quint8 slotStep;
    quint16 offset;
    quint8 offsetStep;
    Width width;
};
using W = Width;
inline constexpr ImageRule settingsImage[] = {
    {0, 1, 1, 1202, 0, W::U16},     {1, 1, 1, 1205, 0, W::U16Twice}, {3, 2, 1, 1207, 1, W::U8},
    {5, 1, 1, 1209, 0, W::U16},     {6, 3, 1, 1211, 1, W::U8},       {9, 1, 1, 1214, 0, W::S16},
    {10, 1, 1, 1216, 0, W::U8},     {11, 1, 1, 1217, 0, W::S16},     {12, 1, 1, 1219, 0, W::Real1000},
    {14, 1, 1, 1223, 0, W::U16},    {15, 1, 1, 1225, 0, W::S16},     {16, 3, 1, 1227, 1, W::U8},
    {19, 2, 1, 1230, 2, W::S16},    {21, 3, 1, 1234, 1, W::U8},      {24, 2, 1, 1237, 2, W::S16},
    {26, 4, 1, 1241, 1, W::U8},     {30, 1, 1, 1245, 0, W::S16},     {31, 1, 1, 1247, 0, W::U8},
    {32, 1, 1, 1248, 0, W::S16},    {34, 1, 1, 1250, 0, W::Real1000}, {36, 1, 1, 1254, 0, W::U16},
    {37, 1, 1, 1256, 0, W::S16},    {38, 3, 1, 1258, 1, W::U8},      {41, 1, 1, 1261, 0, W::S16},
    {42, 6, 1, 1263, 1, W::U8},     {48, 1, 1, 1269, 0, W::S16},     {49, 1, 1, 1271, 0, W::U8},
    {50, 1, 1, 1272, 0, W::S16},    {52, 1, 1, 1274, 0, W::Real1000}, {54, 3, 1, 1278, 1, W::U8},
    {57, 1, 1, 1281, 0, W::S16},    {58, 3, 1, 1283, 1, W::U8},      {61, 1, 1, 1286, 0, W::S16},
    {62, 25, 1, 1288, 1, W::U8},    {87, 22, 3, 1315, 5, W::S16},    {88, 22, 3, 1317, 5, W::U16},
    {89, 22, 3, 1319, 5, W::U8},    {153, 5, 1, 1425, 1, W::U8},     {158, 1, 1, 1430, 0, W::U16},
    {159, 10, 1, 1432, 1, W::U8},   {169, 1, 1, 1443, 0, W::U8},
};

// ---------------------------------------------------------------- parameter table

// Numbers first..last (every step-th) echo into slot + (number - first).
struct ParameterRule {
    quint8 first;
    quint8 last;
    quint8 step;
    quint8 slot;
    Width width;
};
inline constexpr ParameterRule parameters[] = {
    {15, 15, 1, 1, W::U16},   {16, 16, 1, 3, W::U8},    {17, 17, 1, 169, W::U8},  {18, 18, 1, 4, W::U8},
    {19, 19, 1, 5, W::U16},   {20, 20, 1, 6, W::S8},    {21, 22, 1, 7, W::U8},    {23, 23, 1, 10, W::U8},
    {24, 24, 1, 9, W::S16},   {25, 25, 1, 11, W::S16},  {26, 26, 1, 14, W::U16},  {27, 29, 1, 16, W::U8},
    {30, 30, 1, 19, W::S16},  {31, 33, 1, 21, W::U8},   {34, 35, 1, 24, W::S16},  {36, 36, 1, 26, W::U8},
    {67, 83, 1, 70, W::U8},   {84, 88, 1, 65, W::U8},   {96, 159, 3, 87, W::S16}, {97, 160, 3, 88, W::U16},
    {98, 161, 3, 89, W::U8},  {162, 162, 1, 159, W::U8}, {163, 163, 1, 168, W::U8}, {202, 202, 1, 153, W::U8},
    {205, 205, 1, 153, W::U8}, {206, 208, 1, 154, W::U8},
};
// Parameter 30 goes to the next slot once parameter 16 (slot 3) is set.
inline constexpr int parameterSwitched = 30;
inline constexpr int switchSlot = 3;
// Parameter 162 is indexed: slot 159 + index (0..8), its value in byte 7.
inline constexpr int parameterIndexed = 162;
inline constexpr int indexedSlots = 9;

// ---------------------------------------------------------------- checks

constexpr int widthBytes(Width w)
{
    switch (w) {
    case W::U8: case W::S8: return 1;
    case W::U16: case W::S16: case W::U16Twice: return 2;
    case W::Real1000: return 4;
    }
    return 0;
}
constexpr int widthSlots(Width w)
{
    return w == W::U16Twice || w == W::Real1000 ? 2 : 1;
}
constexpr bool imageFits()
{
    for (const ImageRule &r : settingsImage) {
        const int lastOffset = r.offset + (r.count - 1) * r.offsetStep + widthBytes(r.width);
        const int lastSlot = r.slot + (r.count - 1) * r.slotStep + widthSlots(r.width);
        if (lastOffset > checkValue || lastSlot > 170 || r.offset < pageBody)
            return false;
    }
    return true;
}
constexpr bool parametersFit()
{
    for (const ParameterRule &r : parameters)
        if (r.slot + (r.last - r.first) + 1 > 170 || r.first > r.last)
            return false;
    return parameters[21].first == parameterIndexed && 159 + indexedSlots <= 170;
}
static_assert(imageFits());
static_assert(parametersFit());
static_assert(wideArray + 3 * ((wideCount + 1) / 2) <= 1060);
static_assert(meters + 3 * (meterCount / 2) == levels);
static_assert(counters + 4 * counterCount == wideArray);
static_assert(alarmBase + alarmGroupStride * (alarmGroups - 1) + 2 * alarmPairs < checkValue);
static_assert(programmeTexts + programmeTextLength * programmeTextCount <= checkValue);
static_assert(stationTexts[6].offset + stationTexts[6].length <= checkValue);

} // namespace hdlayout
