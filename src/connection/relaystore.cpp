#include "connection/relaystore.h"

#include <algorithm>

void RelayStore::fileRecord(RecordKind kind, const QByteArray &record)
{
    m_frameIndex = (m_frameIndex + 1) % kRingSize;
    m_rings[size_t(kind)][size_t(m_frameIndex)] = record;
    m_newest[size_t(kind)] = record;
    m_marks.fill(true);
    ++m_sequence;
    m_lastKind = kind;
    // A copy: an observer may subscribe or leave while it is told.
    const std::vector<RelayStoreObserver *> observers = m_observers;
    for (RelayStoreObserver *o : observers)
        if (std::find(m_observers.begin(), m_observers.end(), o) != m_observers.end())
            o->recordFiled(kind, record);
}

RelayStore::~RelayStore()
{
    const std::vector<RelayStoreObserver *> observers = std::move(m_observers);
    for (RelayStoreObserver *o : observers)
        o->storeGone(*this);
}

void RelayStore::addObserver(RelayStoreObserver *observer) const
{
    if (std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
        m_observers.push_back(observer);
}

void RelayStore::removeObserver(RelayStoreObserver *observer) const
{
    std::erase(m_observers, observer);
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
    for (auto &ring : m_rings)
        ring.fill(QByteArray());
    m_newest.fill(QByteArray());
    m_marks.fill(false);
    m_frameIndex = 0;
    m_sequence = 0;
    m_lastKind = RecordKind::Arx;
}
