#pragma once
// What the line session of the HD monitors and the KF-71 needs from a
// family's frame decoder. The HD decoder (protocols/hd) and the KF-71 decoder
// (protocols/kf71) implement it; the session never looks inside the records.
#include <QByteArray>
#include <QByteArrayView>
#include <optional>

class LineDecoder {
public:
    virtual ~LineDecoder() = default;

    // A new connection reached its poll phase: the first settings page and
    // the first alarm table seed their copies again.
    virtual void startConnection() = 0;

    // Takes one data frame apart: the 1501 frame bytes, stamp excluded.
    virtual void decode(QByteArrayView frame) = 0;

    // The value part of the parameter command for `number` (hex pairs as the
    // unit expects them, from the page's settings record; `index` selects the
    // slot of an indexed parameter). Nothing when the number is outside the
    // family's parameter table: the command then carries no value.
    virtual std::optional<QByteArray> parameterValue(int number, int index) const = 0;

    // The value the text measurement log keeps the peak, average and minimum
    // of, from the last frame decoded. Nothing for a family that writes no
    // lines, and before the first frame.
    virtual std::optional<qint32> logSample() const { return std::nullopt; }
};
