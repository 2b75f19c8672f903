#pragma once
// The values a KX-71 data frame carries at fixed places. Their meaning is the
// analyzer's; they are kept by position (field names give the byte offset).
// Multi-byte values are big-endian.
#include <QByteArrayView>
#include <array>

struct Kx71Values {
    std::array<quint8, 3> bytes4{};   // 4, 5, 6
    quint16 word7 = 0;                // 7-8
    std::array<quint8, 3> bytes9{};   // 9, 10, 11
    quint16 word12 = 0;               // 12-13
    quint8 byte14 = 0;
    std::array<quint8, 8> bytes15{};  // 15-22
    bool flag23bit0 = false;          // byte 23, bit 0
    bool flag23bit1 = false;          // byte 23, bit 1
    quint8 field23bits45 = 0;         // byte 23, bits 4-5 as 0..3
    std::array<quint8, 2> bytes24{};  // 24, 25
    quint16 word26 = 0;               // 26-27
    quint8 byte28 = 0;
    quint16 word29 = 0;               // 29-30
    std::array<quint8, 2> bytes31{};  // 31, 32
    std::array<quint16, 5> words33{}; // 33-42
    int frameKind = 0;                // byte 49, low nibble
    int dataMode = 0;                 // byte 49, high nibble

    bool operator==(const Kx71Values &) const = default;

    // The values of a whole frame; a shorter one leaves them all zero.
    static Kx71Values decode(QByteArrayView frame);
};
