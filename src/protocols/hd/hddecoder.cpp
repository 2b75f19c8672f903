#include "protocols/hd/hddecoder.h"

#include "core/hextext.h"
#include "protocols/hd/hdlayout.h"

#include <cstring>

namespace {

using hdlayout::Width;

quint32 u16(const uchar *f, int at) { return quint32(f[at]) << 8 | f[at + 1]; }
qint32 s16(const uchar *f, int at) { return qint16(u16(f, at)); }
quint32 be32(const uchar *f, int at) { return quint32(f[at]) << 24 | u16(f, at + 1) << 8 | f[at + 3]; }

QByteArray text(const uchar *f, int at, int length)
{
    return QByteArray(reinterpret_cast<const char *>(f) + at, length);
}

qint32 twelveBit(qint32 v)
{
    return (v & 0x800) ? v - 4096 : v;
}

// Values 2i and 2i + 1 from triple i: low bytes in b0, b1, high nibbles in b2.
template <size_t N>
void unpack(const uchar *f, int at, std::array<qint32, N> &out)
{
    for (size_t i = 0; i < N; ++i) {
        const uchar *t = f + at + 3 * int(i / 2);
        out[i] = (i % 2 == 0) ? twelveBit(t[0] + 256 * (t[2] & 0x0F)) : twelveBit(t[1] + 16 * (t[2] & 0xF0));
    }
}

// 0x8000 itself stays positive; only larger values are negative.
qint32 level(const uchar *f, int at)
{
    const qint32 v = qint32(u16(f, at));
    return v > 0x8000 ? v - 65536 : v;
}

} // namespace

double HdSettings::real(int firstSlot) const
{
    const quint64 bits = quint64(quint32(slot[size_t(firstSlot)])) | quint64(quint32(slot[size_t(firstSlot) + 1])) << 32;
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

void HdSettings::setReal(int firstSlot, double value)
{
    quint64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    slot[size_t(firstSlot)] = qint32(quint32(bits));
    slot[size_t(firstSlot) + 1] = qint32(quint32(bits >> 32));
}

void HdDecoder::startConnection()
{
    m_firstStatusPending = true;
    m_firstTablePending = true;
}

void HdDecoder::decode(QByteArrayView frame)
{
    if (frame.size() < hdlayout::frameLength)
        return;
    const uchar *f = reinterpret_cast<const uchar *>(frame.data());
    ++m_framesDecoded;
    decodeEcho(f);
    decodeBlocks(f);
    m_page = f[hdlayout::pageNumber];
    if (m_page == hdlayout::pageSettings) {
        decodeSettingsImage(f);
        if (m_firstStatusPending) {
            m_firstStatusPending = false;
            m_settings = m_settingsImage;
        }
    } else if (m_page == hdlayout::pageStation) {
        decodeStationTexts(f);
    } else if (m_page >= hdlayout::pageFirstProgramme && m_page <= hdlayout::pageLastProgramme) {
        decodeProgramme(f, m_page - 1);
    } else if (m_page == hdlayout::pageAlarms) {
        decodeAlarmTable(f);
        if (m_firstTablePending) {
            m_firstTablePending = false;
            m_alarmTableCopy = m_alarmTable;
        }
    }
}

int HdDecoder::parameterSlot(int number, int index) const
{
    if (number == hdlayout::parameterIndexed)
        return index >= 0 && index < hdlayout::indexedSlots ? 159 + index : -1;
    for (const hdlayout::ParameterRule &r : hdlayout::parameters) {
        if (number < r.first || number > r.last || (number - r.first) % r.step != 0)
            continue;
        if (number == hdlayout::parameterSwitched && m_settings.slot[hdlayout::switchSlot] != 0)
            return r.slot + 1;
        return r.slot + (number - r.first);
    }
    return -1;
}

static const hdlayout::ParameterRule *parameterRule(int number)
{
    for (const hdlayout::ParameterRule &r : hdlayout::parameters)
        if (number >= r.first && number <= r.last && (number - r.first) % r.step == 0)
            return &r;
    return nullptr;
}

void HdDecoder::decodeEcho(const uchar *f)
{
    const int number = f[hdlayout::echoNumber];
    if (number == hdlayout::noEcho)
        return;
    const hdlayout::ParameterRule *rule = parameterRule(number);
    if (!rule)
        return;
    const int index = number == hdlayout::parameterIndexed ? f[hdlayout::echoLow] : 0;
    const int slot = parameterSlot(number, index);
    if (slot < 0)
        return; // an index beyond the nine slots names no setting
    qint32 value = 0;
    switch (rule->width) {
    case Width::U8: value = number == hdlayout::parameterIndexed ? f[hdlayout::echoHigh] : f[hdlayout::echoLow]; break;
    case Width::S8: value = qint8(f[hdlayout::echoLow]); break;
    case Width::U16: value = qint32(u16(f, hdlayout::echoHigh)); break;
    case Width::S16: value = s16(f, hdlayout::echoHigh); break;
    default: return;
    }
    m_settings.slot[size_t(slot)] = value;
}

void HdDecoder::decodeBlocks(const uchar *f)
{
    m_header.word = quint16(u16(f, hdlayout::headerWord));
    m_header.longWord = be32(f, hdlayout::headerLong);

    for (const hdlayout::ByteField &b : hdlayout::mainBytes)
        m_main.field[b.field] = f[b.offset];
    m_main.text28 = text(f, hdlayout::mainText28, 4);
    m_main.real30 = u16(f, hdlayout::mainReal30) / 100.0;
    m_main.real32 = u16(f, hdlayout::mainReal32) / 100.0;
    m_main.word33 = quint16(u16(f, hdlayout::mainWord33));
    m_main.word34 = quint16(u16(f, hdlayout::mainWord34));

    for (size_t i = 0; i < std::size(hdlayout::stationNumberFields); ++i) {
        const hdlayout::NumberField &n = hdlayout::stationNumberFields[i];
        m_station.number[i] = n.size == 4 ? qint32(be32(f, n.offset)) : f[n.offset];
    }

    unpack(f, hdlayout::meters, m_meters);
    m_levels.byte0 = f[hdlayout::levelByte0];
    m_levels.byte1 = f[hdlayout::levelByte1];
    m_levels.word = qint32(u16(f, hdlayout::levelWord));
    for (int i = 0; i < hdlayout::levelCount; ++i)
        m_levels.level[size_t(i)] = level(f, hdlayout::levelValues + 2 * i);
    for (int i = 0; i < hdlayout::counterCount; ++i)
        m_counters[size_t(i)] = qint32(be32(f, hdlayout::counters + 4 * i));
    unpack(f, hdlayout::wideArray, m_wide);
}

void HdDecoder::decodeSettingsImage(const uchar *f)
{
    for (const hdlayout::ImageRule &r : hdlayout::settingsImage) {
        for (int i = 0; i < r.count; ++i) {
            const int slot = r.slot + i * r.slotStep;
            const int at = r.offset + i * r.offsetStep;
            switch (r.width) {
            case Width::U8: m_settingsImage.slot[size_t(slot)] = f[at]; break;
            case Width::S8: m_settingsImage.slot[size_t(slot)] = qint8(f[at]); break;
            case Width::U16: m_settingsImage.slot[size_t(slot)] = qint32(u16(f, at)); break;
            case Width::S16: m_settingsImage.slot[size_t(slot)] = s16(f, at); break;
            case Width::U16Twice:
                m_settingsImage.slot[size_t(slot)] = m_settingsImage.slot[size_t(slot) + 1] = qint32(u16(f, at));
                break;
            case Width::Real1000: m_settingsImage.setReal(slot, be32(f, at) / 1000.0); break;
            }
        }
    }
}

void HdDecoder::decodeStationTexts(const uchar *f)
{
    QByteArray *fields[] = {&m_station.stationId, &m_station.text2, &m_station.text4, &m_station.latitude,
                            &m_station.longitude, &m_station.callSign, &m_station.slogan};
    for (size_t i = 0; i < std::size(fields); ++i) {
        const hdlayout::TextField &t = hdlayout::stationTexts[i];
        *fields[i] = text(f, t.offset, t.length);
    }
    for (QByteArray *coordinate : {&m_station.latitude, &m_station.longitude}) {
        const qsizetype bar = coordinate->indexOf('|');
        if (bar >= 0)
            (*coordinate)[bar] = char(0xB0);
    }
}

void HdDecoder::decodeProgramme(const uchar *f, int entry)
{
    for (size_t i = 0; i < std::size(hdlayout::programmeNumbers); ++i) {
        const hdlayout::NumberField &n = hdlayout::programmeNumbers[i];
        m_programme.number[i][size_t(entry)] = n.size == 2 ? qint32(u16(f, n.offset)) : f[n.offset];
    }
    for (int i = 0; i < hdlayout::programmeTextCount; ++i) {
        const int at = hdlayout::programmeTexts + i * hdlayout::programmeTextLength;
        m_programme.text[size_t(i)][size_t(entry)] =
            f[at] == 0 ? QByteArray(" ") : text(f, at, hdlayout::programmeTextLength);
    }
}

void HdDecoder::decodeAlarmTable(const uchar *f)
{
    for (int g = 0; g < hdlayout::alarmGroups; ++g) {
        const int base = hdlayout::alarmBase + hdlayout::alarmGroupStride * g;
        HdAlarmGroup &group = m_alarmTable[size_t(g)];
        group.header = f[base];
        for (int j = 0; j < hdlayout::alarmPairs; ++j) {
            group.pair[size_t(j)][0] = f[base + 1 + 2 * j];
            group.pair[size_t(j)][1] = f[base + 2 + 2 * j];
        }
    }
}

std::optional<QByteArray> HdDecoder::parameterValue(int number, int index) const
{
    const hdlayout::ParameterRule *rule = parameterRule(number);
    if (!rule)
        return std::nullopt;
    const int slot = parameterSlot(number, index);
    if (slot < 0)
        return std::nullopt;
    const qint32 value = m_settings.slot[size_t(slot)];
    if (number == hdlayout::parameterIndexed)
        return hextext::hex2(quint8(value)) + hextext::hex2(quint8(index));
    if (hdlayout::widthBytes(rule->width) == 2)
        return hextext::hex4(quint16(value));
    return hextext::hex2(quint8(value));
}

std::optional<qint32> HdDecoder::logSample() const
{
    if (m_framesDecoded == 0)
        return std::nullopt;
    return m_levels.level[hdlayout::totalLevel];
}

std::unique_ptr<LineDecoder> createHdDecoder()
{
    return std::make_unique<HdDecoder>();
}
