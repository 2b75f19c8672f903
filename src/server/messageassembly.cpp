#include "server/messageassembly.h"

QList<QByteArray> MessageAssembler::feed(const QByteArray &bytes)
{
    QList<QByteArray> messages;
    m_buffer.append(bytes);
    if (m_arx && m_buffer.contains(char(0xFF))) {
        m_buffer.clear();
        return messages;
    }
    if (!m_buffer.contains(m_terminator)) {
        if (m_buffer.size() > kMaxPending)
            m_buffer.clear();
        return messages;
    }
    qsizetype start = 0;
    while (messages.size() < kMaxBatch) {
        const qsizetype end = m_buffer.indexOf(m_terminator, start);
        if (end < 0)
            break;
        messages.append(m_buffer.mid(start, end - start + 1));
        start = end + 1;
    }
    m_buffer.clear();
    return messages;
}
