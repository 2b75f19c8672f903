#include "server/changequeue.h"

#include "core/hextext.h"

void ChangeQueue::push(const ChangeEntry &entry)
{
    if (m_count == kCapacity)
        pop();
    m_entries[size_t((m_head + m_count) % kCapacity)] = entry;
    ++m_count;
}

void ChangeQueue::pop()
{
    if (m_count == 0)
        return;
    m_entries[size_t(m_head)] = ChangeEntry();
    m_head = (m_head + 1) % kCapacity;
    --m_count;
}

namespace changecodes {
namespace {

bool in(int c, int lo, int hi) { return c >= lo && c <= hi; }

int hdWidth(int c)
{
    switch (c) {
    case 15: case 19: case 24: case 25: case 26: case 30: case 34: case 35:
    case 41: case 42: case 43: case 47: case 55: case 56: case 63:
        return 2;
    default: break;
    }
    if (in(c, 96, 162))
        return (c - 96) % 3 != 2 ? 2 : 1; // every third code from 98 is one byte
    if (in(c, 16, 18) || in(c, 20, 23) || in(c, 27, 29) || in(c, 31, 33) || in(c, 36, 40)
        || in(c, 44, 46) || in(c, 48, 54) || in(c, 57, 62) || in(c, 64, 88) || c == 163
        || c == 202 || in(c, 205, 208))
        return 1;
    return 0;
}

int kfWidth(int c)
{
    if (c == 15 || in(c, 22, 32) || in(c, 37, 39) || c == 43 || in(c, 52, 54) || c == 58
        || c == 66 || c == 67 || c == 74)
        return 2;
    if (in(c, 112, 153)) {
        if (c == 153)
            return 1;
        return (c - 112) % 3 != 2 ? 2 : 1;
    }
    if (c == 0 || in(c, 16, 19) || c == 21 || in(c, 33, 36) || in(c, 40, 42) || in(c, 44, 51)
        || in(c, 55, 57) || in(c, 59, 65) || in(c, 68, 73) || in(c, 75, 104))
        return 1;
    return 0;
}

} // namespace

int valueWidth(int hardwareType, int code)
{
    if (hardwareType == 2)
        return hdWidth(code);
    if (hardwareType == 3)
        return kfWidth(code);
    return 0;
}

QByteArray overlayFor(int hardwareType, const QByteArray &line)
{
    const quint8 code = hextext::readByte(line, 2);
    quint8 hi = 0, lo = 0;
    switch (valueWidth(hardwareType, code)) {
    case 2:
        hi = hextext::readByte(line, 4);
        lo = hextext::readByte(line, 6);
        break;
    case 1:
        lo = hextext::readByte(line, 4);
        break;
    default: break;
    }
    QByteArray out(5, '\0');
    out[0] = char(code);
    out[3] = char(hi);
    out[4] = char(lo);
    return out;
}

} // namespace changecodes
