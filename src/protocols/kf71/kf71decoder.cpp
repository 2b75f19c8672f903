// KF-71 frame decoding. All positions and slot tables are in kf71layout.h.
#include "protocols/kf71/kf71decoder.h"

#include "core/hextext.h"
#include "protocols/kf71/kf71layout.h"

#include <algorithm>
#include <bit>
#include <cstring>

using namespace kf71layout;

static_assert(Kf71Decoder::frameLength == kf71layout::frameLength);
static_assert(Kf71Settings::slotCount == kf71layout::settingsSlots);
static_assert(Kf71Decoder::meterCount == kf71layout::meterCount);
static_assert(Kf71Decoder::wideCount == kf71layout::wideCount);
static_assert(Kf71RdsBasic::fieldCount == kf71layout::rdsFieldCount);

namespace {

using Frame = std::array<quint8, kf71layout::frameLength>;

qint32 u16(const Frame &f, int at)
{
    return (f[at] << 8) | f[at + 1];
}

qint32 s16(const Frame &f, int at)
{
    const qint32 v = u16(f, at);
    return v & 0x8000 ? v - 0x10000 : v;
}

qint32 be32(const Frame &f, int at)
{
    const quint32 v = (quint32(f[at]) << 24) | (quint32(f[at + 1]) << 16) | (quint32(f[at + 2]) << 8)
        | quint32(f[at + 3]);
    return qint32(v);
}

// Pairs of signed 12-bit values in byte triples: the low nibble of the third
// byte tops the first value, the high nibble the second.
template <std::size_t N>
void unpack12(const Frame &f, int at, std::array<qint32, N> &out)
{
    for (std::size_t i = 0; i < N; ++i) {
        const int t = at + 3 * int(i / 2);
        const int v = i % 2 == 0 ? f[t] + 256 * (f[t + 2] & 0x0F) : f[t + 1] + 16 * (f[t + 2] & 0xF0);
        out[i] = v & 0x800 ? v - 4096 : v;
    }
}

// Bytes as characters, one each; radiotexts also show their line breaks.
QString text(const Frame &f, int at, int length, bool markBreaks)
{
    QString out;
    out.reserve(length + 8);
    for (int i = at; i < at + length; ++i) {
        if (markBreaks && f[i] == 0x0A)
            out += QLatin1String("[LF]");
        else if (markBreaks && f[i] == 0x0D)
            out += QLatin1String("[CR]");
        else
            out += QChar(ushort(f[i]));
    }
    return out;
}

} // namespace

// ---------------------------------------------------------------- settings record

double Kf71Settings::real(int first) const
{
    if (first < 0 || first + 1 >= slotCount)
        return 0;
    const quint64 bits = quint64(quint32(slot[first])) | (quint64(quint32(slot[first + 1])) << 32);
    return std::bit_cast<double>(bits);
}

void Kf71Settings::setReal(int first, double value)
{
    if (first < 0 || first + 1 >= slotCount)
        return;
    const quint64 bits = std::bit_cast<quint64>(value);
    slot[first] = qint32(quint32(bits & 0xFFFFFFFFu));
    slot[first + 1] = qint32(quint32(bits >> 32));
}

// ---------------------------------------------------------------- decoder

void Kf71Decoder::startConnection()
{
    m_firstStatusPending = true;
    m_firstTablePending = true;
    m_refreshArmed = {};
}

void Kf71Decoder::decode(QByteArrayView frame)
{
    if (frame.size() < frameLength)
        return;
    Frame f;
    std::memcpy(f.data(), frame.data(), f.size());

    if (f[echoNumber] != noEcho)
        applyEcho(f);

    m_header.byte = f[headerByte];
    m_header.word = u16(f, headerWord);
    m_status = f[statusAt];
    unpack12(f, metersAt, m_meters);
    unpack12(f, wideAt, m_wide);

    m_lastPage = f[pageNumber];
    switch (m_lastPage) {
    case settingsPage:
        decodeSettingsPage(f);
        break;
    case rdsPage:
        decodeRds(f);
        break;
    case alarmPage:
        decodeAlarmTable(f);
        break;
    default:
        break;
    }
}

void Kf71Decoder::applyEcho(const Frame &f)
{
    const int number = f[echoNumber];
    EchoTarget t{};
    if (!findEcho(number, &t))
        return;
    const bool selectorSet = f[echoLow] != 0;
    int slot = t.slotA;
    qint32 value = 0;
    switch (t.form) {
    case Echo::Direct8:
        value = f[echoLow];
        break;
    case Echo::Signed8:
        value = qint8(f[echoLow]);
        break;
    case Echo::Direct16:
        value = u16(f, echoValue);
        break;
    case Echo::Signed16:
        value = s16(f, echoValue);
        break;
    case Echo::Selected8:
        value = f[echoValue];
        slot = selectorSet ? t.slotA : t.slotB;
        break;
    case Echo::Selected16:
        value = u16(f, echoWordHigh);
        slot = selectorSet ? t.slotA : t.slotB;
        break;
    case Echo::Dependent:
        value = f[echoLow];
        slot = m_settings.slot[t.selector] != 0 ? t.slotA : t.slotB;
        break;
    case Echo::Triplet:   // resolved by findEcho()
        return;
    }
    m_settings.slot[slot] = value;

    for (std::size_t r = 0; r < std::size(refreshRules); ++r) {
        const auto &echoes = refreshRules[r].echoes;
        if (std::find(std::begin(echoes), std::end(echoes), number) != std::end(echoes))
            m_refreshArmed[r] = true;
    }
}

void Kf71Decoder::decodeSettingsPage(const Frame &f)
{
    for (const ImageField &field : imageFields) {
        const int step = field.byteStep ? field.byteStep : widthBytes(field.width);
        for (int i = 0; i < field.count; ++i) {
            const int slot = field.slot + i * field.slotStep;
            const int at = field.offset + i * step;
            switch (field.width) {
            case Width::U8:
                m_image.slot[slot] = f[at];
                break;
            case Width::U16:
                m_image.slot[slot] = u16(f, at);
                break;
            case Width::S16:
                m_image.slot[slot] = s16(f, at);
                break;
            case Width::Real:
                m_image.setReal(slot, be32(f, at) / 1000.0);
                break;
            }
        }
    }
    if (m_firstStatusPending) {
        m_firstStatusPending = false;
        m_settings = m_image;
    }
    for (std::size_t r = 0; r < std::size(refreshRules); ++r) {
        if (!m_refreshArmed[r])
            continue;
        m_refreshArmed[r] = false;
        for (quint8 s : refreshRules[r].copied)
            m_settings.slot[s] = m_image.slot[s];
    }
}

void Kf71Decoder::decodeRds(const Frame &f)
{
    // Rebuilt from scratch on every RDS page.
    m_rds = Kf71RdsBasic();
    for (const RdsField &field : rdsFields) {
        switch (field.kind) {
        case RdsKind::Text:
            m_rds.text[field.field] = text(f, field.offset, field.length, false);
            break;
        case RdsKind::Byte:
            m_rds.value[field.field] = f[field.offset];
            break;
        case RdsKind::Word:
            m_rds.value[field.field] = u16(f, field.offset);
            break;
        case RdsKind::RadioText:
            m_rds.text[field.field] = (field.spaced ? QStringLiteral(" ") : QString())
                + text(f, field.offset, field.length, true);
            break;
        case RdsKind::SpacedText:
            m_rds.text[field.field] = QLatin1Char(' ') + text(f, field.offset, field.length, false);
            break;
        }
    }
}

void Kf71Decoder::decodeAlarmTable(const Frame &f)
{
    for (int g = 0; g < alarmGroups; ++g) {
        const int base = pageNumber + alarmGroupStride * g;
        Kf71AlarmGroup &group = m_alarm[g];
        group.header = f[base];   // group 0: the page number itself
        for (int j = 0; j < alarmPairs; ++j) {
            group.pair[j][0] = f[base + 1 + 2 * j];
            group.pair[j][1] = f[base + 2 + 2 * j];
        }
    }
    if (m_firstTablePending) {
        m_firstTablePending = false;
        m_alarmCopy = m_alarm;
    }
}

std::optional<QByteArray> Kf71Decoder::parameterValue(int number, int index) const
{
    EchoTarget t{};
    if (number < 0 || number > 255 || !findEcho(number, &t))
        return std::nullopt;
    // The selected forms carry the selector after the value, as their echo does.
    const int selected = index != 0 ? t.slotA : t.slotB;
    const QByteArray selector = hextext::hex2(quint8(index));
    switch (t.form) {
    case Echo::Direct8:
    case Echo::Signed8:
        return hextext::hex2(quint8(m_settings.slot[t.slotA]));
    case Echo::Direct16:
    case Echo::Signed16:
        return hextext::hex4(quint16(m_settings.slot[t.slotA]));
    case Echo::Selected8:
        return hextext::hex2(quint8(m_settings.slot[selected])) + selector;
    case Echo::Selected16:
        return hextext::hex4(quint16(m_settings.slot[selected])) + selector;
    case Echo::Dependent:
        return hextext::hex2(
            quint8(m_settings.slot[m_settings.slot[t.selector] != 0 ? t.slotA : t.slotB]));
    case Echo::Triplet:
        break;
    }
    return std::nullopt;
}

std::unique_ptr<LineDecoder> createKf71Decoder()
{
    return std::make_unique<Kf71Decoder>();
}
