#pragma once
// Decoder of the data frames an Arxon system sends for each poll: module
// status and setting echoes, the multiplexed identity/configuration messages,
// the KC-71 channel values, the history table of marked frames and the
// auxiliary words of interleaved frames.
//
// The session files every accepted frame with fileFrame() and, in the same
// tick, calls decodePending(). Everything here reads untrusted bytes: a frame
// shorter than 100 bytes is ignored and every offset used is a compile-time
// constant checked against the record size.
#include <QByteArray>
#include <QChar>
#include <QList>
#include <QString>

#include <array>

// Rows of the hardware list, in the order they are shown.
enum class ArxModule {
    Km71 = 0,
    Option,   // option module plugged into the KM-71
    Ks71,
    Kr71,
    Kc71Ch0,
    Kc71Ch1,
    Kv73,
    Kv75,
    Ka71,
    Ka72,
};
inline constexpr int arxModuleCount = 10;

// Module type codes (`UnitType`) as set from the model id.
namespace arxunit {
enum Type {
    Km71 = 1,
    Ks71 = 2,
    Kr71 = 4,
    Kc71 = 8,
    Kv71 = 17,
    Kv73 = 18,
    Kv75 = 19,
    Ka71 = 33,
    Ka72 = 34,
};
}

// Bits of `UnitsChanged`. The FM and TV/AM sets share bits: a unit carries one
// family only.
namespace arxunitbit {
enum : quint32 {
    Km71 = 0x01,
    Ks71 = 0x02,
    Kr71 = 0x04,
    Kc71Ch0 = 0x08,
    Kc71Ch1 = 0x10,
    Option = 0x80,
    Kv73 = 0x02,
    Kv75 = 0x04,
    Ka71 = 0x01,
    Ka72 = 0x01,
};
}

struct ArxModuleIdentity {
    bool present = false;    // listed in the hardware list
    bool identified = false; // a valid identity message has arrived
    double version = 0;      // one decimal
    QChar revision;
    QString serial;          // two-digit model prefix + digits
    QString name;            // up to 10 characters; the option module's 6-character name
    QString idText;          // what the hardware list shows as ID (version, or the option module's version text)
    int extra = 0;           // KM-71: the further identity value (message byte 6)
};

// Live configuration of a module as last received. Fields beyond those
// named are kept as numbered values in message order:
//  KM-71:  values b3, w(4,5), w(6,7), b8, b9, w(10,11), b12..b18; flags b15 bits 0-5
//  KS-71:  values b3; flags b4 bits 0-5          KR-71: values b3; flags b4 bits 0-3
//  KC-71:  values b4, b5, b6, b8..b14, b15; flags b7 bits 0-3;
//          fields [b14 bits 5-7, b14 bits 0-1, b12 bit 0, b16 bit 4, b16 bit 5,
//                  b16 bit 7, b16 bits 2-3 as code 0/1/2]
//  KV-73:  values b3, b6..b13; flags b4; fields [b5 bit 0]
//  KV-75:  values b3, b5, b6, b7, b9, b10, b11; flags b4 bits 0-5;
//          fields [b8 bits 4-6, b8 bits 0-1 (0 when the former > 2), b8 bit 2,
//                  b8 bit 3 or the 3-bit field = 1, b12 bits 1-2,
//                  b12 bit 0 or that field = 1]
//  KA-71:  values b3..b21; flags b21 bits 0-4     KA-72: values b3..b26
struct ArxConfig {
    bool received = false;
    QList<int> values;
    int flags = 0;
    QList<int> fields;
    bool operator==(const ArxConfig &) const = default;
};

// What the program believes a module's settings are: seeded from the
// configuration when the module becomes present, then moved by the setting
// echoes of the frames.
struct ArxMirror {
    static constexpr int slotCount = 64;
    std::array<qint32, slotCount> slot{};   // value slots, indexed by parameter code
    std::array<quint8, 3> flagWord{};
    bool pairFirst = false;
    bool pairSecond = false;
    int lastCodeWithoutValue = -1;          // -1: none yet
    ArxConfig config;

    bool flag(int word, int bit) const
    {
        return word >= 0 && word < 3 && bit >= 0 && bit < 8 && (flagWord[word] >> bit) & 1;
    }
};

// The status byte of a module's measurement block and the fields taken from it.
struct ArxModuleStatus {
    bool received = false;
    int status = 0;               // the whole byte
    std::array<bool, 8> bit{};    // only the bits this module reports; others stay false
    int field = 0;                // KM-71: bits 2-3
    int word = 0;                 // KM-71, KA-71, KA-72: the word before the status byte
    int extra = 0;                // KA-71, KA-72: the byte between that word and the status
};

struct ArxOptionModule {
    QString text;                 // 12-character text message
    int value = 0;
    QString shortText;            // 4-character text of the identity message
    std::array<QString, 10> labels;
};

class ArxDecoder
{
public:
    static constexpr int frameSize = 100;
    static constexpr int recordSlots = 109;
    static constexpr int ringSize = 10;
    static constexpr int auxSlots = 48;
    static constexpr int auxValueCount = 24;
    static constexpr int historyRows = 150;
    static constexpr int historyColumns = 11;
    static constexpr int historyQueueSize = 10;
    static constexpr int channelValueCount = 5;

    using Record = std::array<quint8, recordSlots>;
    using AuxRecord = std::array<quint8, auxSlots>;
    using HistoryTable = std::array<std::array<qint32, historyColumns>, historyRows>;
    using ChannelValues = std::array<qint32, channelValueCount>;

    ArxDecoder();

    // Back to the state of a freshly loaded page: no modules, nothing queued.
    void reset();

    // Sync bytes FF FE FD and a descriptor whose high nibble is F, E or C
    // (layouts 1, 2, 3). subType is the descriptor's low nibble.
    static bool recognise(const QByteArray &frame, int *layout, int *subType);

    // Takes one accepted frame (the first 100 bytes; a time stamp behind them
    // is ignored) for a unit of module type unitType.
    void fileFrame(const QByteArray &frame, int unitType, int amSubType);

    // Current-frame decode, then the history batch, then the auxiliary record.
    void decodePending();

    bool currentDue() const { return m_currentDue; }
    bool auxDue() const { return m_auxDue; }
    int queuedHistory() const { return m_queueCount; }

    quint32 unitsChanged() const { return m_unitsChanged; }
    const ArxModuleIdentity &identity(ArxModule m) const { return m_identity[index(m)]; }
    bool isPresent(ArxModule m) const { return identity(m).present; }
    const ArxConfig &configuration(ArxModule m) const { return m_config[index(m)]; }
    const ArxMirror &mirror(ArxModule m) const { return m_mirror[index(m)]; }
    const ArxModuleStatus &status(ArxModule m) const { return m_status[index(m)]; }
    const ArxOptionModule &optionModule() const { return m_option; }

    // KC-71 channel 0 or 1: b1×10, b2×10, b3×10, b4, b5 of its block.
    const ChannelValues &channelValues(int channel) const { return m_channel[channel == 0 ? 0 : 1]; }

    const HistoryTable &historyTable() const { return m_history; }
    qint32 history(int row, int column) const;
    int historyBatchSize() const { return m_historyBatch; }
    // The last signed status decoded was a plain reading (not a limit code).
    bool readingValid() const { return m_readingValid; }

    const std::array<quint16, auxValueCount> &auxValues() const { return m_aux; }

    bool hasCurrent() const { return m_currentLayout != 0; }
    const Record &currentRecord() const { return m_ring[m_ringIndex]; }
    int currentLayout() const { return m_currentLayout; }

private:
    struct Queued {
        Record record{};
        int layout = 0;
        int amSubType = 0;
    };

    static int index(ArxModule m) { return static_cast<int>(m); }

    void commitRecord(const Record &record, int layout, int unitType, int amSubType);
    void pushAux(const AuxRecord &aux);

    // arxdecoder.cpp
    void decodeCurrent();
    void decodeBlock(int blockIndex, const Record &r);
    void decodeChannelBlock(const Record &r);
    void decodeAux();

    // arxhistory.cpp
    void decodeHistory();
    void decodeHistoryColumn(const Queued &q, int column);

    // arxinfo.cpp
    void decodeInformation(const Record &r, int layout, int amSubType);
    void makePresent(ArxModule m, quint32 bit);

    Record m_ring[ringSize]{};
    int m_ringIndex = 0;
    int m_currentLayout = 0;
    int m_currentAmSubType = 0;
    bool m_currentDue = false;

    Record m_half{};               // first half of an interleaved record
    bool m_halfPending = false;
    int m_halfUnitType = 0;
    int m_halfAmSubType = 0;

    AuxRecord m_auxRing[ringSize]{};
    int m_auxIndex = 0;
    bool m_auxDue = false;
    std::array<quint16, auxValueCount> m_aux{};

    Queued m_queue[historyQueueSize];
    int m_queueCount = 0;
    HistoryTable m_history{};
    int m_historyBatch = 0;
    bool m_readingValid = false;

    quint32 m_unitsChanged = 0;
    ArxModuleIdentity m_identity[arxModuleCount];
    ArxConfig m_config[arxModuleCount];
    ArxMirror m_mirror[arxModuleCount];
    ArxModuleStatus m_status[arxModuleCount];
    ArxOptionModule m_option;
    ChannelValues m_channel[2]{};

    // KC-71: byte 4 and bit 7 of byte 16 of each channel's previous configuration.
    struct KcPrevious {
        bool seen = false;
        int byte4 = 0;
        bool bit7 = false;
    };
    KcPrevious m_kcPrevious[2];
};
