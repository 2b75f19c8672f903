#include "core/hextext.h"

namespace hextext {

static const char kDigits[] = "0123456789ABCDEF";

QByteArray hex2(quint8 value)
{
    QByteArray out(2, '0');
    out[0] = kDigits[value >> 4];
    out[1] = kDigits[value & 0x0F];
    return out;
}

QByteArray hex4(quint16 value)
{
    return hex2(quint8(value >> 8)) + hex2(quint8(value & 0xFF));
}

int digitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}

quint8 readByte(const QByteArray &text, qsizetype pos)
{
    const char hi = pos >= 0 && pos < text.size() ? text.at(pos) : '0';
    const char lo = pos + 1 >= 0 && pos + 1 < text.size() ? text.at(pos + 1) : '0';
    return quint8(digitValue(hi) * 16 + digitValue(lo));
}

} // namespace hextext
