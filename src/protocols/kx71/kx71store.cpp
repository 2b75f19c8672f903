#include "protocols/kx71/kx71store.h"

#include "protocols/kx71/kx71commands.h"

static QByteArray padded(const QByteArray &frame, int size)
{
    QByteArray out = frame.left(size);
    out.append(size - out.size(), '\0');
    return out;
}

Kx71Store::Kx71Store() : m_kind1(kTraceBytes, '\0'), m_kind2(kTraceBytes, '\0')
{
    m_kind0.fill(QByteArray(kTraceBytes, '\0'));
}

void Kx71Store::file(const QByteArray &frame, bool checksumOk)
{
    m_frameIndex = (m_frameIndex + 1) % kRingSize;
    m_records[size_t(m_frameIndex)] = padded(frame, kRecordBytes);
    ++m_accepted;
    if (!checksumOk)
        return;
    switch (kx71::frameKind(frame)) {
    case 0:
        m_kind0[size_t(m_frameIndex)] = padded(frame, kTraceBytes);
        m_kind0Index = m_frameIndex;
        break;
    case 1:
        m_kind1 = padded(frame, kTraceBytes);
        break;
    case 2:
        m_kind2 = padded(frame, kTraceBytes);
        break;
    default:
        break;
    }
}

QByteArray Kx71Store::record(int index) const
{
    return index >= 0 && index < kRingSize ? m_records[size_t(index)] : QByteArray();
}

QByteArray Kx71Store::kind0Entry(int index) const
{
    return index >= 0 && index < kRingSize ? m_kind0[size_t(index)] : QByteArray();
}

QByteArray Kx71Store::trace(int kind) const
{
    switch (kind) {
    case 0: return kind0Entry(m_kind0Index);
    case 1: return m_kind1;
    case 2: return m_kind2;
    default: return {};
    }
}

QByteArray Kx71Store::selected(char digit) const
{
    switch (digit) {
    case '1':
    case '2': return trace(0);
    case '3': return trace(1);
    case '4': return trace(2);
    default: return {};
    }
}
