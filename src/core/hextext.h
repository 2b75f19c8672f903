#pragma once
// Bytes as two upper-case hexadecimal digits, high nibble first, and the
// lenient reading back used by the units and the relay clients: '0'-'9' and
// 'A'-'F' give their values, any other character counts as 0.
#include <QByteArray>

namespace hextext {

QByteArray hex2(quint8 value);
QByteArray hex4(quint16 value);

int digitValue(char c);
// Two characters at text[pos], text[pos+1] read as a byte; missing characters count as 0.
quint8 readByte(const QByteArray &text, qsizetype pos);

} // namespace hextext
