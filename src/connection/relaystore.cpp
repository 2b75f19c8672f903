#include "connection/relaystore.h"

void RelayStore::fileRecord(RecordKind kind, const QByteArray &record)
{
    m_frameIndex = (m_frameIndex + 1) % kRingSize;
    m_rings[size_t(kind)][size_t(m_frameIndex)] = record;
    m_newest[size_t(kind)] = record;
    m_marks.fill(true);
    ++m_sequence;
    m_lastKind = kind;
}

QByteArray RelayStore::ringEntry(RecordKind kind, int index) const
{
    if (index < 0 || index >= kRingSize)
        return {};
    return m_rings[size_t(kind)][size_t(index)];
}

void RelayStore::clearMark(int index)
{
    if (index >= 0 && index < kMarks)
        m_marks[size_t(index)] = false;
}

void RelayStore::reset()
{
    *this = RelayStore();
}
