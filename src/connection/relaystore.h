#pragma once
// The newest records of a connection page (or of the log player), offered to
// the relay servers: a ring of ten per kind sharing one index, a copy of the
// newest of each kind, and eleven new-frame marks.
//
// Every filing also advances a sequence number. A server remembers the
// sequence of the last record it took, so that several servers on one source
// each relay every record (a shared mark would give each record to only one
// of them).
//
// Relay servers also subscribe as observers: each record is pushed to them
// the moment it is filed, so every record reaches their viewers, in order.
#include <QByteArray>
#include <array>
#include <vector>

enum class RecordKind { Arx = 0, Hd = 1, Kf = 2 };

class RelayStore;

class RelayStoreObserver {
public:
    virtual void recordFiled(RecordKind kind, const QByteArray &record) = 0;
    // The store is being destroyed: forget it.
    virtual void storeGone(const RelayStore &store) = 0;

protected:
    ~RelayStoreObserver() = default;
};

class RelayStore {
public:
    RelayStore() = default;
    ~RelayStore();
    RelayStore(const RelayStore &) = delete;
    RelayStore &operator=(const RelayStore &) = delete;

    // Observing changes no record: readers holding a const store may subscribe.
    void addObserver(RelayStoreObserver *observer) const;
    void removeObserver(RelayStoreObserver *observer) const;

    static constexpr int kRingSize = 10;
    static constexpr int kMarks = 11;

    // Advances the index, stores the record in the kind's ring and as the
    // newest of its kind, sets all marks, bumps the sequence and hands the
    // record to the observers.
    void fileRecord(RecordKind kind, const QByteArray &record);

    int frameIndex() const { return m_frameIndex; }
    QByteArray ringEntry(RecordKind kind, int index) const;
    QByteArray newest(RecordKind kind) const { return m_newest[size_t(kind)]; }
    // The record at the current index of the kind's ring (what a server picks up).
    QByteArray current(RecordKind kind) const { return ringEntry(kind, m_frameIndex); }

    // Count of records filed so far, all kinds together; 0 = none yet.
    quint64 sequence() const { return m_sequence; }
    // Kind of the record filed last.
    RecordKind lastKind() const { return m_lastKind; }

    bool mark(int index) const { return index >= 0 && index < kMarks && m_marks[size_t(index)]; }
    void clearMark(int index);

    // Forgets the records; the observers stay.
    void reset();

private:
    mutable std::vector<RelayStoreObserver *> m_observers;
    std::array<std::array<QByteArray, kRingSize>, 3> m_rings;
    std::array<QByteArray, 3> m_newest;
    std::array<bool, kMarks> m_marks{};
    int m_frameIndex = 0;
    quint64 m_sequence = 0;
    RecordKind m_lastKind = RecordKind::Arx;
};
