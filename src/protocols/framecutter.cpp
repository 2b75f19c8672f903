#include "protocols/framecutter.h"

void FrameCutter::append(QByteArrayView bytes, qint64 nowMs)
{
    if (bytes.isEmpty())
        return;
    if (m_format.staleMs > 0 && !m_bytes.isEmpty() && nowMs - m_lastAt > m_format.staleMs)
        dropStalePartial();
    m_lastAt = nowMs;
    m_bytes.append(bytes.data(), bytes.size());
    if (m_format.limit > 0 && m_bytes.size() > m_format.limit) {
        const qsizetype over = m_bytes.size() - m_format.limit;
        m_noiseDropped += over;
        m_bytes.remove(0, over);
    }
    if (m_format.noSync == FrameFormat::NoSync::Drop)
        dropNoise();
}

// A partial frame that a silence cut short can never be the start of the
// frame that follows: drop it. Whole frames still waiting their turn (one is
// cut per call) stay.
void FrameCutter::dropStalePartial()
{
    const int length = m_format.length;
    qsizetype end = 0; // just past the last whole frame
    while (length > 0) {
        const qsizetype at = m_format.sync.isEmpty() ? end : m_bytes.indexOf(m_format.sync, end);
        if (at < 0 || m_bytes.size() - at < length)
            break;
        end = at + length;
    }
    if (end == m_bytes.size())
        return;
    m_noiseDropped += m_bytes.size() - end;
    ++m_staleDropped;
    m_bytes.truncate(end);
}

// Keeps from the first sync on, or, with no sync, only the longest tail that
// is the start of one (the rest of the sync may be in the next read).
void FrameCutter::dropNoise()
{
    const QByteArray &sync = m_format.sync;
    if (sync.isEmpty())
        return;
    const qsizetype at = m_bytes.indexOf(sync);
    if (at > 0) {
        m_noiseDropped += at;
        m_bytes.remove(0, at);
        return;
    }
    if (at == 0)
        return;
    qsizetype keep = qMin(m_bytes.size(), sync.size() - 1);
    while (keep > 0 && !sync.startsWith(QByteArrayView(m_bytes).last(keep)))
        --keep;
    m_noiseDropped += m_bytes.size() - keep;
    m_bytes.remove(0, m_bytes.size() - keep);
}

std::optional<QByteArray> FrameCutter::cut()
{
    const int length = m_format.length;
    if (length <= 0)
        return std::nullopt;
    const qsizetype at = m_format.sync.isEmpty() ? 0 : m_bytes.indexOf(m_format.sync);
    if (at >= 0) {
        if (m_bytes.size() - at < length)
            return std::nullopt;
        QByteArray frame = m_bytes.mid(at, length);
        m_noiseDropped += at;
        m_bytes.remove(0, at + length);
        if (m_format.noSync == FrameFormat::NoSync::Drop)
            dropNoise();
        return frame;
    }
    if (m_format.noSync == FrameFormat::NoSync::CutBlock && m_bytes.size() >= length - 1) {
        QByteArray block = m_bytes.left(length);
        m_noiseDropped += length - 1;
        m_bytes.remove(0, length - 1);
        return block;
    }
    return std::nullopt;
}

void FrameCutter::clear()
{
    m_bytes.clear();
    m_lastAt = 0;
    m_staleDropped = 0;
    m_noiseDropped = 0;
}
