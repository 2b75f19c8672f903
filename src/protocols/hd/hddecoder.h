#pragma once
// Takes an HD monitor's 1501-byte data frame apart: header, main block,
// station information, the two arrays of 12-bit values, levels, counters,
// the parameter echo that keeps the settings record current, and the page
// the frame announces (settings image, station texts, programme data, alarm
// tables). Positions and tables live in hdlayout.h.
#include "protocols/hd/linedecoder.h"

#include <array>
#include <memory>

struct HdHeader {
    quint16 word = 0;
    quint32 longWord = 0;
};

// The main measurement block. Integer fields by their number (1..29, 31):
// fields 2, 3, 5, 7, 9, 13, 15, 17 and 19 are not carried by the frame.
struct HdMain {
    std::array<qint32, 32> field{};
    QByteArray text28;          // field 28, 4 characters
    double real30 = 0.0;        // field 30, hundredths
    double real32 = 0.0;        // field 32, hundredths
    quint16 word33 = 0, word34 = 0;
};

struct HdStationInfo {
    std::array<qint32, 8> number{};
    QByteArray stationId, text2, text4, latitude, longitude, callSign, slogan;
};

// Programme data. Pages 2..10 fill entries 1..9 (entry = page - 1), so the
// arrays have ten entries and entry 0 stays unused.
struct HdProgrammeData {
    static constexpr int kEntries = 10;
    qint32 leading = 0;
    std::array<std::array<qint32, kEntries>, 7> number{};
    std::array<std::array<QByteArray, kEntries>, 5> text{};
};

struct HdLevels {
    qint32 byte0 = 0, byte1 = 0, word = 0;
    std::array<qint32, 5> level{};
};

// 170 slots of 32-bit integers; the pairs 12-13, 34-35 and 52-53 each hold
// one double (its low 32 bits in the first slot).
struct HdSettings {
    static constexpr int kSlots = 170;
    std::array<qint32, kSlots> slot{};
    double real(int firstSlot) const;
    void setReal(int firstSlot, double value);
    bool operator==(const HdSettings &) const = default;
};

struct HdAlarmGroup {
    qint32 header = 0;
    std::array<std::array<qint32, 2>, 12> pair{};
    bool operator==(const HdAlarmGroup &) const = default;
};
using HdAlarmTable = std::array<HdAlarmGroup, 4>;

class HdDecoder : public LineDecoder {
public:
    void startConnection() override;
    void decode(QByteArrayView frame) override;
    std::optional<QByteArray> parameterValue(int number, int index) const override;
    std::optional<qint32> logSample() const override;

    // The settings slot an echo of `number` writes (parameter 30 depends on
    // parameter 16); -1 outside the table.
    int parameterSlot(int number, int index) const;

    const HdHeader &header() const { return m_header; }
    const HdMain &main() const { return m_main; }
    const HdStationInfo &stationInfo() const { return m_station; }
    const HdProgrammeData &programmeData() const { return m_programme; }
    const std::array<qint32, 126> &meters() const { return m_meters; }
    const std::array<qint32, 509> &wideArray() const { return m_wide; }
    const HdLevels &levels() const { return m_levels; }
    const std::array<qint32, 8> &counters() const { return m_counters; }
    const HdSettings &settingsImage() const { return m_settingsImage; }
    const HdSettings &settings() const { return m_settings; }
    const HdAlarmTable &alarmTable() const { return m_alarmTable; }
    const HdAlarmTable &alarmTableCopy() const { return m_alarmTableCopy; }
    int page() const { return m_page; }
    bool firstStatusPending() const { return m_firstStatusPending; }
    bool firstTablePending() const { return m_firstTablePending; }
    int framesDecoded() const { return m_framesDecoded; }

private:
    void decodeEcho(const uchar *f);
    void decodeBlocks(const uchar *f);
    void decodeSettingsImage(const uchar *f);
    void decodeStationTexts(const uchar *f);
    void decodeProgramme(const uchar *f, int entry);
    void decodeAlarmTable(const uchar *f);

    HdHeader m_header;
    HdMain m_main;
    HdStationInfo m_station;
    HdProgrammeData m_programme;
    std::array<qint32, 126> m_meters{};
    std::array<qint32, 509> m_wide{};
    HdLevels m_levels;
    std::array<qint32, 8> m_counters{};
    HdSettings m_settingsImage, m_settings;
    HdAlarmTable m_alarmTable{}, m_alarmTableCopy{};
    int m_page = -1;
    bool m_firstStatusPending = false;
    bool m_firstTablePending = false;
    int m_framesDecoded = 0;
};

std::unique_ptr<LineDecoder> createHdDecoder();
