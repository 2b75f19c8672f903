#include "protocols/kx71/kx71commands.h"

namespace kx71 {

QByteArray frameSync() { return QByteArray("\xFF\xFE\xFD\xFC", 4); }
QByteArray cmdStop() { return QByteArrayLiteral("D0\r"); }
QByteArray cmdType() { return QByteArrayLiteral("T\r"); }
QByteArray cmdVersion() { return QByteArrayLiteral("U\r"); }
QByteArray cmdRestart() { return QByteArrayLiteral("D1\r"); }

static char modeDigit(int dataMode)
{
    switch (dataMode) {
    case 0: return '2';
    case 1: return '3';
    default: return '4';
    }
}

QByteArray cmdRequest(int dataMode)
{
    return QByteArray(1, 'D') + modeDigit(dataMode) + '\r';
}

QByteArray withModeDigit(const QByteArray &text, int dataMode)
{
    if (text.isEmpty())
        return {};
    QByteArray out = text;
    out.insert(1, modeDigit(dataMode));
    return out;
}

quint8 checksum(QByteArrayView frame)
{
    unsigned sum = 0;
    for (qsizetype i = 0; i < kChecksumAt && i < frame.size(); ++i)
        sum += quint8(frame[i]);
    return quint8(sum);
}

bool checksumOk(QByteArrayView frame)
{
    return frame.size() > kChecksumAt && checksum(frame) == quint8(frame[kChecksumAt]);
}

int frameKind(QByteArrayView frame)
{
    return frame.size() > kKindModeAt ? quint8(frame[kKindModeAt]) & 0x0F : 0;
}

int dataMode(QByteArrayView frame)
{
    return frame.size() > kKindModeAt ? quint8(frame[kKindModeAt]) >> 4 : 0;
}

FrameFormat frameFormat()
{
    FrameFormat f;
    f.sync = frameSync();
    f.length = kFrameSize;
    f.noSync = FrameFormat::NoSync::Drop;
    f.staleMs = 1000;
    f.limit = 16 * kFrameSize;
    return f;
}

} // namespace kx71
