#pragma once
// Decoder of the frames a KF-71 streams: header and status byte, the two
// arrays of 12-bit values, the settings page with the parameter echoes that
// keep the page's view of the unit's settings current, the RDS page and the
// alarm table. The line session hands it every filed frame; the windows and
// the relay servers may read the records.
//
// Frames come from outside: anything shorter than a frame is ignored, bytes
// behind it (a time stamp) are not read, and every offset used is a
// compile-time constant checked against the frame length (kf71layout.h).
#include "protocols/hd/linedecoder.h"

#include <QString>

#include <array>
#include <memory>

struct Kf71Header {
    qint32 byte = 0;    // frame byte 9
    qint32 word = 0;    // frame bytes 13..14
};

// 162 slots; slots 18-19, 36-37 and 54-55 each hold one real (its bits, low
// word first), so a refresh of those slots copies the real.
struct Kf71Settings {
    static constexpr int slotCount = 162;
    std::array<qint32, slotCount> slot{};

    // The real held by slots first and first + 1; 0 when they lie outside.
    double real(int first) const;
    void setReal(int first, double value);
    bool operator==(const Kf71Settings &) const = default;
};

// The RDS page in record order: texts and numbers indexed by field number
// 1..21 (entries of the other kind stay empty or 0; field 14 is never set).
// Texts hold one character per frame byte (Latin-1). Field 16 and 17 are the
// two radiotexts, field 17 and 19 start with one space.
struct Kf71RdsBasic {
    static constexpr int fieldCount = 21;
    std::array<QString, fieldCount + 1> text;
    std::array<qint32, fieldCount + 1> value{};

    const QString &radioText1() const { return text[16]; }
    const QString &radioText2() const { return text[17]; }
};

struct Kf71AlarmGroup {
    qint32 header = 0;
    std::array<std::array<qint32, 2>, 12> pair{};
    bool operator==(const Kf71AlarmGroup &) const = default;
};
using Kf71AlarmTable = std::array<Kf71AlarmGroup, 4>;

class Kf71Decoder : public LineDecoder
{
public:
    static constexpr int frameLength = 1501;
    static constexpr int meterCount = 100;
    static constexpr int wideCount = 509;

    void startConnection() override;
    void decode(QByteArrayView frame) override;
    std::optional<QByteArray> parameterValue(int number, int index) const override;

    const Kf71Header &header() const { return m_header; }
    qint32 statusByte() const { return m_status; }
    const std::array<qint32, meterCount> &meters() const { return m_meters; }
    const std::array<qint32, wideCount> &wideArray() const { return m_wide; }
    const Kf71Settings &settingsImage() const { return m_image; }
    const Kf71Settings &settings() const { return m_settings; }
    const Kf71RdsBasic &rdsBasic() const { return m_rds; }
    const Kf71AlarmTable &alarmTable() const { return m_alarm; }
    const Kf71AlarmTable &alarmTableCopy() const { return m_alarmCopy; }

    // Page number of the last decoded frame; -1 before the first.
    int lastPage() const { return m_lastPage; }
    bool firstStatusPending() const { return m_firstStatusPending; }
    bool firstTablePending() const { return m_firstTablePending; }

private:
    using Frame = std::array<quint8, frameLength>;

    void applyEcho(const Frame &f);
    void decodeSettingsPage(const Frame &f);
    void decodeRds(const Frame &f);
    void decodeAlarmTable(const Frame &f);

    Kf71Header m_header;
    qint32 m_status = 0;
    std::array<qint32, meterCount> m_meters{};
    std::array<qint32, wideCount> m_wide{};
    Kf71Settings m_image;
    Kf71Settings m_settings;
    Kf71RdsBasic m_rds;
    Kf71AlarmTable m_alarm{};
    Kf71AlarmTable m_alarmCopy{};
    int m_lastPage = -1;
    // A decoder that never saw startConnection() still seeds its copies.
    bool m_firstStatusPending = true;
    bool m_firstTablePending = true;
    std::array<bool, 2> m_refreshArmed{};
};

std::unique_ptr<LineDecoder> createKf71Decoder();
