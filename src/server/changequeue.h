#pragma once
// Control changes made by one relay client, waiting to be written into the
// parameter echo of the next HD or KF-71 records sent to the other clients.
#include <QByteArray>
#include <array>

struct ChangeEntry {
    qint32 key = 0;      // remote port of the client that made the change
    QByteArray overlay;  // 5 bytes for frame bytes 4..8
};

class ChangeQueue {
public:
    static constexpr int kCapacity = 10;

    // When full, the oldest unread change is dropped, so the newest ten stay.
    void push(const ChangeEntry &entry);
    bool isEmpty() const { return m_count == 0; }
    int size() const { return m_count; }
    const ChangeEntry &front() const { return m_entries[size_t(m_head)]; }
    void pop();

private:
    std::array<ChangeEntry, kCapacity> m_entries;
    int m_head = 0;
    int m_count = 0;
};

namespace changecodes {

// Width of a control code's value: 2 (two bytes), 1 (one byte) or 0 (none).
// hardwareType 2 uses the HD monitors' table, 3 the KF-71 system's; other
// types know no values.
int valueWidth(int hardwareType, int code);

// The 5-byte parameter echo (code, 0, 0, hi, lo) for a client's "CC" line.
QByteArray overlayFor(int hardwareType, const QByteArray &line);

} // namespace changecodes
