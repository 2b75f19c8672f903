#pragma once
// The frames of one KX-71 page: a ring of the last ten frames accepted by
// their sync bytes, and the trace stores a relay client asks for by kind
// (kind 0 in a ring beside the frame ring, kinds 1 and 2 one buffer each).
// Only frames whose checksum holds are filed by kind.
#include <QByteArray>
#include <array>

class Kx71Store {
public:
    static constexpr int kRingSize = 10;
    static constexpr int kRecordBytes = 512;
    static constexpr int kTraceBytes = 513;

    // Stores a frame accepted by its sync in the next ring record and, when
    // checksumOk, by its kind. Bytes past the frame are zero.
    void file(const QByteArray &frame, bool checksumOk);

    int frameIndex() const { return m_frameIndex; }
    QByteArray record(int index) const;
    QByteArray kind0Entry(int index) const;
    // The trace of a kind filed last (kind 0: the ring entry filed last).
    // The stores exist from the start: before the first frame of a kind its
    // trace is all zeros, so a client that asks early still gets its bytes.
    QByteArray trace(int kind) const;
    // What a relay client's request digit selects: '1' or '2' kind 0,
    // '3' kind 1, '4' kind 2; anything else nothing.
    QByteArray selected(char digit) const;

    int accepted() const { return m_accepted; }
    void clear() { *this = Kx71Store(); }

    Kx71Store();

private:
    std::array<QByteArray, kRingSize> m_records;
    std::array<QByteArray, kRingSize> m_kind0;
    int m_kind0Index = 0;
    QByteArray m_kind1, m_kind2;
    int m_frameIndex = 0;
    int m_accepted = 0;
};
