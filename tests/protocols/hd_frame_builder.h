#pragma once
// An HD data frame written field by field, big-endian, as a unit sends it.
#include <QByteArray>

class HdFrameBuilder {
public:
    explicit HdFrameBuilder(int page = 0x55) : m_f(1501, '\0')
    {
        u8(0, 0xFF).u8(1, 0xFE).u8(2, 0xFD).u8(4, 0xFF).u8(1200, page);
    }
    HdFrameBuilder &u8(int at, int v)
    {
        m_f[at] = char(v);
        return *this;
    }
    HdFrameBuilder &u16(int at, int v) { return u8(at, (v >> 8) & 0xFF).u8(at + 1, v & 0xFF); }
    HdFrameBuilder &be32(int at, quint32 v) { return u16(at, int(v >> 16)).u16(at + 2, int(v & 0xFFFF)); }
    HdFrameBuilder &text(int at, const QByteArray &t)
    {
        m_f.replace(at, t.size(), t);
        return *this;
    }
    // Value i of a 12-bit array at `section`: low bytes first in the triple,
    // the high nibbles together in its third byte (even value low nibble).
    HdFrameBuilder &twelve(int section, int i, int v)
    {
        const int t = section + 3 * (i / 2);
        const int high = (v >> 8) & 0x0F;
        if (i % 2 == 0)
            u8(t, v & 0xFF).u8(t + 2, (uchar(m_f[t + 2]) & 0xF0) | high);
        else
            u8(t + 1, v & 0xFF).u8(t + 2, (uchar(m_f[t + 2]) & 0x0F) | high << 4);
        return *this;
    }
    HdFrameBuilder &echo(int number, int byte7, int byte8) { return u8(4, number).u8(7, byte7).u8(8, byte8); }
    QByteArray frame() const { return m_f; }

private:
    QByteArray m_f;
};
