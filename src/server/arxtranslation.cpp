#include "server/arxtranslation.h"

#include "core/hextext.h"

namespace arxtranslation {
namespace {

constexpr char kEnd = char(0xFE);

// Message byte n (1-based, as the client protocol counts them); 0 past the end.
char at(const QByteArray &m, int n)
{
    return n - 1 < m.size() ? m.at(n - 1) : char(0);
}

quint8 uat(const QByteArray &m, int n)
{
    return quint8(at(m, n));
}

// Characters n and n+1 read as a hexadecimal byte and written back cleanly.
QByteArray hexPair(const QByteArray &m, int n)
{
    return hextext::hex2(hextext::readByte(m, n - 1));
}

QByteArray cmd(std::initializer_list<char> bytes)
{
    QByteArray out;
    for (char b : bytes)
        out.append(b);
    out.append(kEnd);
    return out;
}

QByteArray fmGroup(int level, const QByteArray &m)
{
    const quint8 c = uat(m, 1);
    const char code = char(c);
    const char a = at(m, 2), b = at(m, 3), c2 = at(m, 4), d = at(m, 5), e = at(m, 6);
    if (level >= 1) {
        switch (c) {
        case 8: case 20: case 23: case 24: case 25: case 26: case 27: case 33:
            return cmd({code, a});
        case 28: case 29: case 30:
            return cmd({code});
        case 31: case 32:
            return cmd({code, a, b});
        default: break;
        }
    }
    if (level >= 2) {
        switch (c) {
        case 'B': return cmd({code});
        case 'C': return cmd({code, a});
        case 'L': case 'Q': return cmd({code, a, b, c2});
        case 'R': return cmd({code, a, b, c2, d});
        case 'D': case 'P': return cmd({code, a, b, c2, d, e});
        default: break;
        }
    }
    return {};
}

QByteArray tvGroup(int level, const QByteArray &m)
{
    const quint8 c = uat(m, 1);
    const char a = at(m, 2);
    if (level >= 1) {
        switch (c) {
        case 20: return uat(m, 2) < 50 ? cmd({char(0x14), a}) : QByteArray();
        case 23: return uat(m, 2) < 50 ? cmd({char(0x17), a}) : QByteArray();
        case 26: case 27: return cmd({char(0x1A), a});
        case 29: return cmd({char(0x1D)});
        case 30: return cmd({char(0x1E)});
        default: break;
        }
    }
    if (level >= 2 && (c == 'L' || c == 'Q'))
        return QByteArray(1, char(c)) + a + hexPair(m, 3) + kEnd;
    return {};
}

QByteArray kaModule(bool ka72, int level, const QByteArray &m)
{
    const quint8 c = uat(m, 1);
    const char a = at(m, 2);
    if (level >= 1) {
        switch (c) {
        case 24: {
            const quint8 channel = uat(m, 2);
            const bool ok = ka72 ? channel <= 52 : channel < 50;
            return ok ? cmd({char(0x18), a}) : QByteArray();
        }
        case 25: return cmd({char(0x19), a});
        case 28: return cmd({char(0x1C)});
        default: break;
        }
    }
    if (level >= 2 && c == 'P') {
        QByteArray out = QByteArray("P") + a + hexPair(m, 3);
        if (ka72)
            out += hexPair(m, 5);
        return out + kEnd;
    }
    return {};
}

} // namespace

QByteArray translate(int family, int level, const QByteArray &message)
{
    if (message.isEmpty() || level < 1)
        return {};
    switch (family) {
    case FmGroup: return fmGroup(level, message);
    case TvGroup: return tvGroup(level, message);
    case Ka71: return kaModule(false, level, message);
    case Ka72: return kaModule(true, level, message);
    default: return {};
    }
}

} // namespace arxtranslation
