#pragma once
// The KX-71 analyzer's commands (ASCII, each ending in a carriage return)
// and the shape of its data frames.
#include "protocols/framecutter.h"

#include <QByteArray>
#include <QByteArrayView>

namespace kx71 {

constexpr int kFrameSize = 356;
constexpr int kChecksumAt = 353;
constexpr int kKindModeAt = 49;

QByteArray frameSync();      // FF FE FD FC
QByteArray cmdStop();        // "D0\r": stop the stream; also the log-off
QByteArray cmdType();        // "T\r"
QByteArray cmdVersion();     // "U\r"
QByteArray cmdRestart();     // "D1\r": start the stream, or ask again after a lost frame
// "D2\r", "D3\r", "D4\r": the next frame in data mode 0, 1 or any other.
QByteArray cmdRequest(int dataMode);
// A relay client's command with the data-mode digit put back after its first
// character ("Mx\r" in mode 1 -> "M3x\r"); empty text stays empty.
QByteArray withModeDigit(const QByteArray &text, int dataMode);

// Sum of bytes 0-352 modulo 256, as the analyzer puts it in byte 353.
quint8 checksum(QByteArrayView frame);
bool checksumOk(QByteArrayView frame);
// Byte 49: low nibble the frame kind, high nibble the data mode.
int frameKind(QByteArrayView frame);
int dataMode(QByteArrayView frame);

// The analyzer answers only what it was asked, so a partial frame followed
// by a second of silence will never be completed; bytes before a sync are noise.
FrameFormat frameFormat();

} // namespace kx71
