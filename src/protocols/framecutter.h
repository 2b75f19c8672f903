#pragma once
// Cuts fixed-length binary frames out of the byte stream a unit (or another
// station's relay server) sends. Every family cuts with it; what differs is
// data: the sync bytes, the frame length, what becomes of bytes that hold no
// sync, and how long a partial frame may wait in silence.
//
// One frame at most per cut(), so a session files at most one frame a tick.
// The input is bounded: a far end sending noise cannot grow memory.
#include <QByteArray>
#include <QByteArrayView>
#include <optional>

struct FrameFormat {
    enum class NoSync {
        // Bytes without sync are dropped at once, keeping only a tail that
        // may be the start of a split sync.
        Drop,
        // Without sync anywhere, once length - 1 bytes wait, the first
        // length bytes are handed out as a candidate (the caller's signature
        // check rejects them) and length - 1 bytes are removed. The ARX units'
        // receive rule; noise goes in blocks of length - 1, one per cut.
        CutBlock,
    };

    QByteArray sync;
    int length = 0;
    NoSync noSync = NoSync::Drop;
    // A partial frame that has waited this long with no byte arriving is
    // dropped when the next bytes come, so a unit that fell silent mid-frame
    // does not glue the stale start onto its next frame; whole frames
    // waiting to be cut stay. 0: never.
    qint64 staleMs = 0;
    // Bytes kept at most; the oldest go first.
    qsizetype limit = 64 * 1024;
};

class FrameCutter {
public:
    FrameCutter() = default;
    explicit FrameCutter(FrameFormat format) : m_format(std::move(format)) {}

    void setFormat(const FrameFormat &format) { m_format = format; }
    const FrameFormat &format() const { return m_format; }

    // Adds received bytes; nowMs is the receive time (any monotonic or wall
    // clock in milliseconds, the same for every call).
    void append(QByteArrayView bytes, qint64 nowMs);
    // The next frame, or nothing when no whole frame waits. A frame found at
    // a sync takes every byte before it away with it.
    std::optional<QByteArray> cut();

    void clear();
    qsizetype size() const { return m_bytes.size(); }
    bool isEmpty() const { return m_bytes.isEmpty(); }
    const QByteArray &bytes() const { return m_bytes; }
    // Partial frames dropped after silence, and bytes dropped as noise or
    // over the limit, since the last clear(): for diagnostics and tests.
    int staleDropped() const { return m_staleDropped; }
    qint64 noiseDropped() const { return m_noiseDropped; }

private:
    void dropNoise();
    void dropStalePartial();

    FrameFormat m_format;
    QByteArray m_bytes;
    qint64 m_lastAt = 0;
    int m_staleDropped = 0;
    qint64 m_noiseDropped = 0;
};
