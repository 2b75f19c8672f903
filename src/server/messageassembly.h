#pragma once
// Cuts a client's byte stream into messages ended by a terminator (0xFE for
// the ARX dialect, carriage return for HD and KF-71). One assembler per client,
// so bytes of different clients never meet in one message.
#include <QByteArray>
#include <QList>

class MessageAssembler {
public:
    static constexpr int kMaxBatch = 10;
    // A peer that never sends a terminator cannot make the buffer grow without end.
    static constexpr qsizetype kMaxPending = 4096;

    MessageAssembler(char terminator, bool arx) : m_terminator(terminator), m_arx(arx) {}

    // Appends the bytes and returns the complete messages (terminator
    // included), at most ten. Once a terminator is seen the buffer is emptied:
    // an unterminated tail and messages beyond the tenth are dropped. In the
    // ARX dialect a byte 0xFF anywhere in the buffer drops everything buffered.
    QList<QByteArray> feed(const QByteArray &bytes);

    const QByteArray &pending() const { return m_buffer; }
    char terminator() const { return m_terminator; }

private:
    QByteArray m_buffer;
    char m_terminator;
    bool m_arx;
};
