#include "protocols/kx71/kx71values.h"

#include "protocols/kx71/kx71commands.h"

namespace {

template <size_t N>
void takeBytes(QByteArrayView f, int at, std::array<quint8, N> &out)
{
    for (size_t i = 0; i < N; ++i)
        out[i] = quint8(f[at + qsizetype(i)]);
}

quint16 word(QByteArrayView f, int at)
{
    return quint16(quint8(f[at]) << 8 | quint8(f[at + 1]));
}

} // namespace

Kx71Values Kx71Values::decode(QByteArrayView f)
{
    Kx71Values v;
    if (f.size() < kx71::kFrameSize)
        return v;
    takeBytes(f, 4, v.bytes4);
    v.word7 = word(f, 7);
    takeBytes(f, 9, v.bytes9);
    v.word12 = word(f, 12);
    v.byte14 = quint8(f[14]);
    takeBytes(f, 15, v.bytes15);
    const quint8 flags = quint8(f[23]);
    v.flag23bit0 = flags & 0x01;
    v.flag23bit1 = flags & 0x02;
    v.field23bits45 = (flags >> 4) & 0x03;
    takeBytes(f, 24, v.bytes24);
    v.word26 = word(f, 26);
    v.byte28 = quint8(f[28]);
    v.word29 = word(f, 29);
    takeBytes(f, 31, v.bytes31);
    for (int i = 0; i < 5; ++i)
        v.words33[size_t(i)] = word(f, 33 + 2 * i);
    v.frameKind = kx71::frameKind(f);
    v.dataMode = kx71::dataMode(f);
    return v;
}
