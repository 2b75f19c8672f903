#include "server/arxtranslation.h"

#include "core/hextext.h"
#include "protocols/arx/arxcommands.h"

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
    const quint8 a = uat(m, 2);
    if (level >= 1) {
        switch (c) {
        case 20: return arx::cmdTvSelect14(a);
        case 23: return arx::cmdTvSelect17(a);
        case 26: case 27: return arx::cmdTvSet1A(a);
        case 29: return arx::cmdTv1D();
        case 30: return arx::cmdTv1E();
        default: break;
        }
    }
    if (level >= 2 && c == 'L')
        return arx::cmdTvValueL(a, hextext::readByte(m, 2));
    if (level >= 2 && c == 'Q')
        return arx::cmdTvValueQ(a, hextext::readByte(m, 2));
    return {};
}

QByteArray kaModule(bool ka72, int level, const QByteArray &m)
{
    const quint8 c = uat(m, 1);
    const quint8 a = uat(m, 2);
    if (level >= 1) {
        switch (c) {
        case 24: return ka72 ? arx::cmdKa72Select(a) : arx::cmdKa71Select(a);
        case 25: return ka72 ? arx::cmdKa72Set(a) : arx::cmdKa71Set(a);
        case 28: return ka72 ? arx::cmdKa721C() : arx::cmdKa711C();
        default: break;
        }
    }
    if (level >= 2 && c == 'P') {
        // Message bytes 3-4 (and 5-6 for the KA-72) are hexadecimal text.
        const quint8 hi = hextext::readByte(m, 2);
        if (!ka72)
            return arx::cmdKa71Value(a, hi);
        return arx::cmdKa72Value(a, quint16(hi << 8 | hextext::readByte(m, 4)));
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
