#pragma once
// Fixed positions and code tables of the Arxon data frame. Slot k of a record
// is frame byte k. Every offset the decoder uses comes from here, and the
// static checks at the end keep all of them inside a record.
#include "protocols/arx/arxdecoder.h"

#include <cstddef>
#include <iterator>
#include <span>

namespace arxlayout {

// ---------------------------------------------------------------- frame

inline constexpr quint8 syncBytes[3] = {0xFF, 0xFE, 0xFD};
inline constexpr int descriptorSlot = 3;

// Layout 1 interleaving sub-types.
inline constexpr int subTypeSecondHalf = 10;
inline constexpr int subTypeFirstHalf = 11;
inline constexpr int subTypePlain = 12;
inline constexpr int plainBytes = 99;            // bytes 0-98 are filed
inline constexpr int interleaveFirst = 4;        // first even byte
inline constexpr int interleavePairs = 48;       // 4,6..98 and 5,7..99
inline constexpr int firstHalfSlot = 4;          // slots 4-51
inline constexpr int secondHalfSlot = 52;        // slots 52-99

// ---------------------------------------------------------------- setting echoes

enum class EchoAction : quint8 {
    Value,        // the value goes into the slot of its code
    Bit,          // flag bit = (value != 0)
    BitIfOne,     // flag bit = (value == 1)
    BitAlways,    // flag bit set whatever the value
    PairValue,    // non-zero: stored as value, pair cleared; zero: both of the pair set
    PairBit,      // flag bit = (value != 0); set: second = first; cleared: second cleared
    CopyFirst,    // word = first flag word with the bit set (non-zero) or cleared (zero)
};

struct EchoRule {
    quint8 firstCode;
    quint8 lastCode;
    EchoAction action;
    quint8 word = 0;
    quint8 bit = 0;
};

using A = EchoAction;

inline constexpr EchoRule km71Echo[] = {
    {1, 2, A::Value}, {5, 5, A::Value}, {7, 9, A::Value}, {14, 15, A::Value}, {19, 19, A::Value},
    {42, 44, A::Value},
    {3, 3, A::Bit, 0, 0}, {4, 4, A::Bit, 0, 1}, {12, 12, A::Bit, 0, 2}, {13, 13, A::Bit, 0, 3},
    {40, 40, A::Bit, 0, 5},
};
inline constexpr EchoRule ks71Echo[] = {
    {5, 13, A::Bit, 0, 4}, {15, 15, A::PairValue}, {16, 16, A::PairBit, 0, 2},
    {17, 17, A::Bit, 0, 0}, {20, 20, A::Bit, 0, 5},
};
inline constexpr EchoRule kr71Echo[] = {
    {10, 10, A::PairValue}, {11, 11, A::PairBit, 0, 2}, {12, 12, A::Bit, 0, 0},
};
inline constexpr EchoRule kc71Echo[] = {
    {2, 2, A::Value}, {4, 4, A::Value}, {9, 10, A::Value}, {12, 15, A::Value}, {18, 18, A::Value},
    {23, 24, A::Value},
    {17, 17, A::PairValue},
    {3, 3, A::Bit, 0, 4}, {25, 25, A::BitAlways, 0, 5}, {26, 26, A::BitAlways, 0, 7},
    {8, 8, A::Bit, 1, 0},
    {19, 19, A::PairBit, 2, 2}, {20, 20, A::Bit, 2, 0},
};
inline constexpr EchoRule kv73Echo[] = {
    {7, 15, A::Bit, 0, 4}, {18, 25, A::Value}, {27, 27, A::PairValue}, {28, 28, A::PairBit, 0, 2},
    {29, 29, A::Bit, 0, 0}, {33, 33, A::Bit, 1, 0},
    {34, 34, A::Bit, 0, 5}, {35, 35, A::Bit, 0, 6}, {36, 36, A::Bit, 0, 7},
};
inline constexpr EchoRule kv75Echo[] = {
    {8, 10, A::Value}, {13, 14, A::Value}, {16, 18, A::Value}, {20, 20, A::Value},
    {11, 11, A::BitIfOne, 0, 3}, {12, 12, A::BitIfOne, 0, 2}, {19, 19, A::BitIfOne, 1, 0},
    {22, 22, A::PairValue}, {23, 23, A::PairBit, 2, 2}, {24, 24, A::Bit, 2, 0},
};
inline constexpr EchoRule ka71Echo[] = {
    {16, 25, A::Value}, {27, 29, A::Value}, {32, 34, A::Value}, {36, 36, A::Value}, {41, 41, A::Value},
    {31, 31, A::Bit, 0, 4}, {37, 37, A::Bit, 0, 2}, {38, 38, A::Bit, 0, 0}, {42, 42, A::Bit, 0, 5},
};
inline constexpr EchoRule ka72Echo[] = {
    {21, 29, A::Value}, {31, 33, A::Value}, {35, 39, A::Value}, {41, 41, A::Value}, {49, 51, A::Value},
    {42, 42, A::Bit, 0, 2}, {43, 43, A::Bit, 0, 0},
    {6, 6, A::Bit, 1, 1}, {47, 47, A::Bit, 1, 0},
    {46, 46, A::CopyFirst, 2, 0},
};

// Echo code meaning "nothing echoed in this frame", and the "no value" marks.
inline constexpr int noEchoCode = 255;
inline constexpr int noValueWide = 0xFFFF;
inline constexpr int noValueByte = 0xFF;

// ---------------------------------------------------------------- measurement blocks

// Status bits a module reports, and the optional fields around the status byte.
struct StatusBits {
    quint8 keptBits;
    quint8 fieldShift = 0;
    quint8 fieldMask = 0;
    qint8 wordLowSlot = -1;   // word = slot + 256 × next slot
    qint8 extraSlot = -1;
};

struct Block {
    int layout;
    int amSubType;            // layout 3 only; 0 elsewhere
    ArxModule module;         // KC-71: channel 0; the channel byte picks the other
    bool perChannel;
    quint8 first;             // first data slot
    quint8 count;             // data bytes; the last is the status byte
    quint8 checksumSlot;
    quint8 codeSlot;
    quint8 valueSlot;
    bool wideValue;           // 16-bit value, low byte at valueSlot
    std::span<const EchoRule> echo;
    StatusBits status;
};

inline constexpr Block blocks[] = {
    {1, 0, ArxModule::Km71, false, 4, 21, 25, 26, 27, true, km71Echo, {0x02, 2, 0x03, 22, -1}},
    {1, 0, ArxModule::Ks71, false, 29, 21, 50, 51, 52, false, ks71Echo, {0x02}},
    {1, 0, ArxModule::Kr71, false, 53, 7, 60, 61, 62, false, kr71Echo, {0x40}},
    {1, 0, ArxModule::Kc71Ch0, true, 63, 7, 70, 71, 72, false, kc71Echo, {0x60}},
    {2, 0, ArxModule::Kv73, false, 4, 27, 31, 32, 33, false, kv73Echo, {0x40}},
    {2, 0, ArxModule::Kv75, false, 34, 7, 41, 42, 43, false, kv75Echo, {0x70}},
    {3, 1, ArxModule::Ka71, false, 4, 20, 24, 25, 26, true, ka71Echo, {0x02, 0, 0, 20, 22}},
    {3, 2, ArxModule::Ka72, false, 4, 24, 28, 29, 30, true, ka72Echo, {0x02, 0, 0, 24, 26}},
};

// KC-71 channel block: the channel byte, the character '0' for channel 0.
inline constexpr int channelSlot = 63;
inline constexpr int channelZero = '0';
inline constexpr int channelCheckedBit = 0x80;   // status bit 7: block carries readings

// ---------------------------------------------------------------- history

struct Trigger {
    int unitType;
    quint8 slot;
    quint8 mask;
};
inline constexpr Trigger triggers[] = {
    {arxunit::Km71, 24, 0x01}, {arxunit::Ks71, 49, 0x80}, {arxunit::Kr71, 59, 0x80},
    {arxunit::Kc71, 69, 0x80}, {arxunit::Kv71, 31, 0x80}, {arxunit::Kv73, 30, 0x80},
    {arxunit::Kv75, 40, 0x80}, {arxunit::Ka71, 23, 0x01}, {arxunit::Ka72, 27, 0x01},
};

enum class Form : quint8 { Byte, Times5, Times10, Word, HalfScale, SignedStatus };

struct Row {
    quint8 row;
    quint8 byte;              // data byte of the block (b0 = first slot)
    Form form;
};

using F = Form;

inline constexpr Row fmHistoryA[] = {
    {0, 0, F::Word}, {1, 2, F::Word}, {2, 4, F::Word}, {3, 6, F::Word},
    {4, 8, F::Times5}, {5, 9, F::Times5}, {6, 10, F::Times5},
    {7, 11, F::Byte}, {8, 12, F::Byte},
    {9, 13, F::HalfScale}, {10, 14, F::HalfScale},
    {11, 15, F::Times5}, {12, 16, F::Word},
};
inline constexpr Row fmHistoryB[] = {
    {25, 0, F::Times10}, {26, 1, F::Times10}, {27, 2, F::Times10}, {28, 3, F::Times10},
    {29, 4, F::Times10}, {30, 5, F::Times10}, {31, 6, F::Times10}, {32, 7, F::Times10},
    {33, 8, F::Times10}, {34, 9, F::Times10}, {35, 10, F::Times10}, {36, 11, F::Times10},
    {37, 12, F::Times10}, {38, 13, F::Times10}, {39, 14, F::Times10},
    {40, 15, F::Byte}, {41, 16, F::Times10}, {42, 17, F::Byte}, {43, 18, F::Byte}, {44, 19, F::Byte},
};
inline constexpr Row fmHistoryC[] = {
    {75, 0, F::Times10}, {76, 1, F::Byte}, {77, 2, F::SignedStatus}, {78, 3, F::Byte}, {79, 4, F::Word},
};
inline constexpr Row tvHistoryA[] = {
    {25, 0, F::Times10}, {26, 1, F::Times10}, {27, 2, F::Times10}, {28, 3, F::Times10},
    {29, 4, F::Times10}, {30, 5, F::Times10}, {31, 6, F::Times10}, {32, 7, F::Times10},
    {33, 8, F::Times10}, {34, 9, F::Times10}, {35, 10, F::Times10}, {36, 11, F::Times10},
    {37, 12, F::Times10}, {38, 13, F::Times10}, {39, 14, F::Times10}, {40, 15, F::Times10},
    {41, 16, F::Times10}, {42, 17, F::Times10},
    {43, 18, F::Byte}, {44, 19, F::Byte}, {45, 20, F::Byte}, {46, 21, F::Byte},
    {47, 22, F::Word}, {48, 24, F::Word},
};
inline constexpr Row tvHistoryB[] = {
    {50, 0, F::Times10}, {51, 1, F::Times10}, {52, 2, F::Times10},
    {53, 3, F::Byte}, {54, 4, F::Byte}, {55, 5, F::Byte},
};
inline constexpr Row ka71History[] = {
    {0, 0, F::Times10}, {1, 1, F::Times10}, {2, 2, F::Times10}, {3, 3, F::Byte},
    {4, 4, F::Times10}, {5, 5, F::Times10}, {6, 6, F::Times10}, {7, 7, F::Byte},
    {8, 8, F::Times10}, {9, 9, F::Times10},
    {10, 10, F::Word}, {11, 12, F::Word}, {12, 14, F::Word},
};
inline constexpr Row ka72History[] = {
    {0, 0, F::Times10}, {1, 1, F::Times10}, {2, 2, F::Times10}, {3, 3, F::Byte},
    {4, 4, F::Times10}, {5, 5, F::Times10}, {6, 6, F::Times10}, {7, 7, F::Byte},
    {8, 8, F::Times10}, {9, 9, F::Times10}, {10, 10, F::Times10}, {11, 11, F::Times10},
    {12, 12, F::Byte}, {13, 13, F::Byte},
    {14, 14, F::Word}, {15, 16, F::Word}, {16, 18, F::Word},
};

struct HistoryBlock {
    int layout;
    int amSubType;
    int block;                // index into blocks[]
    std::span<const Row> rows;
    quint8 clearFirst;        // rows zeroed when the block's checksum fails
    quint8 clearLast;
};

inline constexpr HistoryBlock historyBlocks[] = {
    {1, 0, 0, fmHistoryA, 0, 20},
    {1, 0, 1, fmHistoryB, 25, 44},
    {1, 0, 2, fmHistoryC, 75, 81},
    {2, 0, 4, tvHistoryA, 25, 48},
    {2, 0, 5, tvHistoryB, 50, 55},
    {3, 1, 6, ka71History, 0, 19},
    {3, 2, 7, ka72History, 0, 24},
};

// Layout 1: rows of the KC-71 channel values in every history column.
inline constexpr int channelHistoryRow[2] = {100, 125};

// ---------------------------------------------------------------- information messages

struct InfoStart {
    int layout;
    int amSubType;
    quint8 slot;
};
inline constexpr InfoStart infoStarts[] = {
    {1, 0, 75}, {2, 0, 76}, {3, 1, 28}, {3, 2, 70},
};

enum class Info : quint8 {
    KmIdentity, KmConfig,
    OptionText, OptionIdentity, OptionLabel,
    FmModule,                 // KS-71 / KR-71: configuration and identity in one message
    KcIdentity, KcConfig,
    KvIdentity, Kv73Config, Kv75Config,
    KaIdentity, Ka71Config, Ka72Config,
};

// Where an identity message keeps its parts (message byte numbers).
struct IdentityBytes {
    qint8 version = -1;
    qint8 letter = -1;
    qint8 serialHigh = -1;    // serial digits = high × 100 + low
    qint8 serialLow = -1;
    qint8 textFirst = -1;
    qint8 textLength = 0;
    qint8 extra = -1;
};

struct InfoMessage {
    int layout;
    int amSubType;            // 0: any
    quint8 moduleNibble;
    quint8 kind;
    quint8 checkFirst;        // sum of bytes checkFirst..checkLast mod 256
    quint8 checkLast;
    quint8 checksumByte;      //   must equal this byte
    bool byte2Zero;
    Info handler;
    ArxModule module;
    quint32 unitBit;
    const char *serialPrefix;
    IdentityBytes identity;
    qint8 config = -1;        // index into configLayouts
};

using I = Info;
using M = ArxModule;

inline constexpr InfoMessage infoMessages[] = {
    {1, 0, 0, 0, 2, 19, 1, false, I::KmIdentity, M::Km71, arxunitbit::Km71, "30", {2, 3, 4, 5, 10, 10, 6}},
    {1, 0, 0, 1, 2, 18, 1, true, I::KmConfig, M::Km71, arxunitbit::Km71, "", {}, 0},
    {1, 0, 1, 0, 1, 13, 14, false, I::OptionText, M::Option, arxunitbit::Option, "", {}},
    {1, 0, 1, 1, 1, 22, 23, false, I::OptionIdentity, M::Option, arxunitbit::Option, "31", {}},
    {1, 0, 1, 2, 2, 13, 14, false, I::OptionLabel, M::Option, arxunitbit::Option, "", {}},
    {1, 0, 2, 0, 2, 18, 1, true, I::FmModule, M::Ks71, arxunitbit::Ks71, "35", {5, 6, 7, 8, 9, 10}, 1},
    {1, 0, 3, 0, 2, 18, 1, true, I::FmModule, M::Kr71, arxunitbit::Kr71, "36", {5, 6, 7, 8, 9, 10}, 2},
    {1, 0, 4, 0, 2, 16, 1, false, I::KcIdentity, M::Kc71Ch0, arxunitbit::Kc71Ch0, "29", {3, 4, 5, 6, 7, 10}},
    {1, 0, 5, 0, 2, 16, 1, false, I::KcIdentity, M::Kc71Ch1, arxunitbit::Kc71Ch1, "29", {3, 4, 5, 6, 7, 10}},
    {1, 0, 4, 1, 2, 16, 1, true, I::KcConfig, M::Kc71Ch0, arxunitbit::Kc71Ch0, "", {}, 3},
    {1, 0, 5, 1, 2, 16, 1, true, I::KcConfig, M::Kc71Ch1, arxunitbit::Kc71Ch1, "", {}, 3},
    {2, 0, 2, 0, 2, 15, 1, false, I::KvIdentity, M::Kv73, arxunitbit::Kv73, "23", {2, 3, 4, 5, 6, 10}},
    {2, 0, 3, 0, 2, 15, 1, false, I::KvIdentity, M::Kv75, arxunitbit::Kv75, "25", {2, 3, 4, 5, 6, 10}},
    {2, 0, 2, 1, 2, 13, 1, true, I::Kv73Config, M::Kv73, arxunitbit::Kv73, "", {}, 4},
    {2, 0, 3, 1, 2, 12, 1, true, I::Kv75Config, M::Kv75, arxunitbit::Kv75, "", {}, 5},
    {3, 1, 0, 0, 2, 19, 1, false, I::KaIdentity, M::Ka71, arxunitbit::Ka71, "35", {2, 3, 4, 5, 10, 10}},
    {3, 2, 0, 0, 2, 19, 1, false, I::KaIdentity, M::Ka72, arxunitbit::Ka72, "35", {2, 3, 4, 5, 10, 10}},
    {3, 1, 0, 1, 2, 21, 1, true, I::Ka71Config, M::Ka71, arxunitbit::Ka71, "", {}, 6},
    {3, 2, 0, 1, 2, 26, 1, true, I::Ka72Config, M::Ka72, arxunitbit::Ka72, "", {}, 7},
};

// Configuration values in message order; `high` >= 0 makes a word (low first).
struct ConfigValue {
    quint8 low;
    qint8 high = -1;
};
struct ConfigLayout {
    std::span<const ConfigValue> values;
    qint8 flagByte;           // -1: none
    quint8 flagMask;
};

inline constexpr ConfigValue kmConfigValues[] = {
    {3}, {4, 5}, {6, 7}, {8}, {9}, {10, 11}, {12}, {13}, {14}, {15}, {16}, {17}, {18},
};
inline constexpr ConfigValue fmConfigValues[] = {{3}};
inline constexpr ConfigValue kcConfigValues[] = {
    {4}, {5}, {6}, {8}, {9}, {10}, {11}, {12}, {13}, {14}, {15},
};
inline constexpr ConfigValue kv73ConfigValues[] = {
    {3}, {6}, {7}, {8}, {9}, {10}, {11}, {12}, {13},
};
inline constexpr ConfigValue kv75ConfigValues[] = {{3}, {5}, {6}, {7}, {9}, {10}, {11}};
inline constexpr ConfigValue ka71ConfigValues[] = {
    {3}, {4}, {5}, {6}, {7}, {8}, {9}, {10}, {11}, {12}, {13}, {14}, {15}, {16}, {17}, {18}, {19},
    {20}, {21},
};
inline constexpr ConfigValue ka72ConfigValues[] = {
    {3}, {4}, {5}, {6}, {7}, {8}, {9}, {10}, {11}, {12}, {13}, {14}, {15}, {16}, {17}, {18}, {19},
    {20}, {21}, {22}, {23}, {24}, {25}, {26},
};

inline constexpr ConfigLayout configLayouts[] = {
    {kmConfigValues, 15, 0x3F},
    {fmConfigValues, 4, 0x3F},   // KS-71
    {fmConfigValues, 4, 0x0F},   // KR-71
    {kcConfigValues, 7, 0x0F},
    {kv73ConfigValues, 4, 0xFF},
    {kv75ConfigValues, 4, 0x3F},
    {ka71ConfigValues, 21, 0x1F},
    {ka72ConfigValues, -1, 0},
};

// Bytes of configuration messages that carry bit fields besides the flag byte.
inline constexpr int kcPresenceByte = 4;       // with bit 7 of kcFlagByte2: the presence check
inline constexpr int kcBooleanByte = 12;       // bit 0
inline constexpr int kcModeByte = 14;          // bits 5-7 and bits 0-1
inline constexpr int kcFlagByte2 = 16;         // bits 4, 5, 7; bits 2-3 as a code
inline constexpr int kv73BooleanByte = 5;      // bit 0
inline constexpr int kv75ModeByte = 8;
inline constexpr int kv75LastByte = 12;

// Option module messages.
inline constexpr int optionTextFirst = 1, optionTextLength = 12, optionValueByte = 13;
inline constexpr int optionNameFirst = 1, optionNameLength = 6;
inline constexpr int optionIdHigh = 7, optionIdLow = 8, optionIdBias = 100;
inline constexpr int optionShortFirst = 9, optionShortLength = 4;
inline constexpr int optionVersionFirst = 13, optionVersionLength = 10;
inline constexpr int optionLabelDigit = 1, optionLabelFirst = 2, optionLabelLength = 12;

// ---------------------------------------------------------------- helpers

// Sum of slots first..last modulo 256 against the checksum slot. Callers pass
// table offsets, checked below to lie inside a record.
inline bool sumMatches(const ArxDecoder::Record &r, int first, int last, int checksumSlot)
{
    unsigned sum = 0;
    for (int i = first; i <= last; ++i)
        sum += r[i];
    return (sum & 0xFF) == r[checksumSlot];
}

inline bool blockValid(const ArxDecoder::Record &r, const Block &b)
{
    return sumMatches(r, b.first, b.first + b.count - 1, b.checksumSlot);
}

// ---------------------------------------------------------------- static checks

constexpr bool echoFits(std::span<const EchoRule> rules)
{
    for (const EchoRule &r : rules)
        if (r.firstCode > r.lastCode || r.lastCode >= ArxMirror::slotCount || r.word > 2 || r.bit > 7)
            return false;
    return true;
}

constexpr bool blocksFit()
{
    for (const Block &b : blocks) {
        const int last = b.wideValue ? b.valueSlot + 1 : b.valueSlot;
        if (b.first + b.count > b.checksumSlot || last >= ArxDecoder::frameSize || !echoFits(b.echo))
            return false;
        if (b.status.wordLowSlot >= 0 && b.status.wordLowSlot + 1 >= b.first + b.count)
            return false;
        if (b.status.extraSlot >= b.first + b.count)
            return false;
    }
    for (const Trigger &t : triggers)
        if (t.slot >= ArxDecoder::frameSize)
            return false;
    for (const HistoryBlock &h : historyBlocks) {
        if (h.block < 0 || h.block >= int(std::size(blocks)) || h.clearLast >= ArxDecoder::historyRows)
            return false;
        for (const Row &r : h.rows) {
            const int lastByte = r.form == Form::Word ? r.byte + 1 : r.byte;
            if (lastByte >= blocks[h.block].count || r.row < h.clearFirst || r.row > h.clearLast)
                return false;
        }
    }
    for (const InfoMessage &m : infoMessages) {
        int start = -1;
        for (const InfoStart &s : infoStarts)
            if (s.layout == m.layout && (s.amSubType == 0 || s.amSubType == m.amSubType))
                start = s.slot;
        if (start < 0 || start + m.checkLast >= ArxDecoder::frameSize
            || start + m.checksumByte >= ArxDecoder::frameSize)
            return false;
        if (m.identity.textFirst >= 0 && m.identity.textFirst + m.identity.textLength - 1 > m.checkLast)
            return false;
        if (m.config >= int(std::size(configLayouts)))
            return false;
        if (m.config >= 0) {
            const ConfigLayout &c = configLayouts[m.config];
            if (c.flagByte > m.checkLast)
                return false;
            for (const ConfigValue &v : c.values)
                if (v.low > m.checkLast || v.high > m.checkLast)
                    return false;
        }
    }
    return channelHistoryRow[1] + ArxDecoder::channelValueCount <= ArxDecoder::historyRows;
}
static_assert(blocksFit(), "an Arxon frame offset falls outside the record");

} // namespace arxlayout
