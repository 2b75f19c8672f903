// Information messages: the one identity or configuration message each frame
// carries, and the presence of modules that follows from them.
#include "protocols/arx/arxdecoder.h"

#include "protocols/arx/arxlayouts.h"

#include <algorithm>

using namespace arxlayout;

namespace {

// Bytes of the message that starts at a slot of the record. Out-of-record
// bytes read 0; the layout checks keep every table offset inside anyway.
class Message
{
public:
    Message(const ArxDecoder::Record &r, int start) : m_r(r), m_start(start) {}

    int byte(int i) const
    {
        const int slot = m_start + i;
        return slot >= 0 && slot < ArxDecoder::recordSlots ? m_r[slot] : 0;
    }

    bool checksumOk(const InfoMessage &def) const
    {
        unsigned sum = 0;
        for (int i = def.checkFirst; i <= def.checkLast; ++i)
            sum += unsigned(byte(i));
        return (sum & 0xFF) == unsigned(byte(def.checksumByte));
    }

    QString text(int first, int length) const
    {
        QString s;
        s.reserve(length);
        for (int i = 0; i < length; ++i)
            s.append(QChar::fromLatin1(char(byte(first + i))));
        return s;
    }

    // Model prefix and the first byte × 100 + the second, at least four digits.
    QString serial(const char *prefix, int high, int low) const
    {
        return QString::fromLatin1(prefix) + QStringLiteral("%1").arg(byte(high) * 100 + byte(low), 4, 10, QLatin1Char('0'));
    }

private:
    const ArxDecoder::Record &m_r;
    int m_start;
};

QString versionText(double version, QChar revision)
{
    QString s = QString::number(version, 'f', 1);
    if (revision.unicode() > 0x20 && revision.unicode() < 0x7F)
        s.append(revision);
    return s;
}

void fillIdentity(ArxModuleIdentity &id, const InfoMessage &def, const Message &m)
{
    const IdentityBytes &b = def.identity;
    id.version = m.byte(b.version) / 10.0;
    id.revision = QChar::fromLatin1(char(m.byte(b.letter)));
    id.serial = m.serial(def.serialPrefix, b.serialHigh, b.serialLow);
    id.name = m.text(b.textFirst, b.textLength);
    id.idText = versionText(id.version, id.revision);
    if (b.extra >= 0)
        id.extra = m.byte(b.extra);
    id.identified = true;
}

int bit(int byte, int n)
{
    return (byte >> n) & 1;
}

ArxConfig buildConfig(const InfoMessage &def, const Message &m)
{
    ArxConfig c;
    c.received = true;
    if (def.config < 0)
        return c;
    const ConfigLayout &cs = configLayouts[def.config];
    for (const ConfigValue &v : cs.values)
        c.values.append(v.high >= 0 ? m.byte(v.low) + 256 * m.byte(v.high) : m.byte(v.low));
    if (cs.flagByte >= 0)
        c.flags = m.byte(cs.flagByte) & cs.flagMask;

    switch (def.handler) {
    case Info::KcConfig: {
        const int mode = m.byte(kcModeByte);
        const int flags2 = m.byte(kcFlagByte2);
        const int code = !bit(flags2, 2) && !bit(flags2, 3) ? 0 : (bit(flags2, 2) && !bit(flags2, 3) ? 1 : 2);
        c.fields = {(mode >> 5) & 7, mode & 3, bit(m.byte(kcBooleanByte), 0),
                    bit(flags2, 4), bit(flags2, 5), bit(flags2, 7), code};
        break;
    }
    case Info::Kv73Config:
        c.fields = {bit(m.byte(kv73BooleanByte), 0)};
        break;
    case Info::Kv75Config: {
        const int mode = m.byte(kv75ModeByte);
        const int field3 = (mode >> 4) & 7;
        const int last = m.byte(kv75LastByte);
        const int field12 = (last >> 1) & 3;
        c.fields = {field3,
                    field3 <= 2 ? mode & 3 : 0,
                    bit(mode, 2),
                    (bit(mode, 3) || field3 == 1) ? 1 : 0,
                    field12,
                    (bit(last, 0) || field12 == 1) ? 1 : 0};
        break;
    }
    default:
        break;
    }
    return c;
}

// The echo rules of a module (both KC-71 channels share one block).
std::span<const EchoRule> echoRulesOf(ArxModule m)
{
    const ArxModule key = m == ArxModule::Kc71Ch1 ? ArxModule::Kc71Ch0 : m;
    for (const Block &b : blocks)
        if (b.module == key)
            return b.echo;
    return {};
}

// The configuration a module reports seeds its setting mirror; from then on
// the echoes move it. Flag bits carry the same numbers in both: the flag byte
// goes into the first flag word, the further Booleans of KC-71 and KV-73 into
// the words their echoes use. Values go, in message order, into the slots of
// the codes the module echoes with a value, where the two lists pair up one
// to one (a value that is also the flag byte is not one of them).
void seedMirror(ArxMirror &mirror, const ArxConfig &c, const InfoMessage &def)
{
    mirror.config = c;
    if (def.config < 0)
        return;
    const ConfigLayout &layout = configLayouts[def.config];
    if (layout.flagByte >= 0)
        mirror.flagWord[0] = quint8(c.flags);
    switch (def.handler) {
    case Info::KcConfig:
        if (c.fields.size() >= 6) {
            mirror.flagWord[0] = quint8(mirror.flagWord[0] | c.fields[3] << 4 | c.fields[4] << 5 | c.fields[5] << 7);
            mirror.flagWord[1] = quint8((mirror.flagWord[1] & ~1) | c.fields[2]);
        }
        break;
    case Info::Kv73Config:
        if (!c.fields.isEmpty())
            mirror.flagWord[1] = quint8((mirror.flagWord[1] & ~1) | c.fields[0]);
        break;
    default:
        break;
    }
    QList<int> codes;
    for (const EchoRule &r : echoRulesOf(def.module))
        if (r.action == EchoAction::Value || r.action == EchoAction::PairValue)
            for (int code = r.firstCode; code <= r.lastCode; ++code)
                codes << code;
    std::sort(codes.begin(), codes.end());
    QList<int> values;
    for (qsizetype i = 0; i < qsizetype(layout.values.size()) && i < c.values.size(); ++i)
        if (layout.values[i].low != layout.flagByte || layout.values[i].high >= 0)
            values << c.values[i];
    if (values.size() != codes.size())
        return;
    for (qsizetype i = 0; i < codes.size(); ++i)
        if (codes[i] < ArxMirror::slotCount)
            mirror.slot[size_t(codes[i])] = values[i];
}

QChar hexDigit(int nibble)
{
    return QLatin1Char("0123456789ABCDEF"[nibble & 0x0F]);
}

} // namespace

void ArxDecoder::makePresent(ArxModule m, quint32 bit)
{
    m_identity[index(m)].present = true;
    m_unitsChanged |= bit;
    m_mirror[index(m)].config = m_config[index(m)];
}

void ArxDecoder::decodeInformation(const Record &r, int layout, int amSubType)
{
    int start = -1;
    for (const InfoStart &s : infoStarts)
        if (s.layout == layout && (s.amSubType == 0 || s.amSubType == amSubType))
            start = s.slot;
    if (start < 0)
        return;
    const Message msg(r, start);
    const int nibble = msg.byte(0) >> 4;
    const int kind = msg.byte(0) & 0x0F;

    const InfoMessage *def = nullptr;
    for (const InfoMessage &s : infoMessages) {
        if (s.layout == layout && (s.amSubType == 0 || s.amSubType == amSubType) && s.moduleNibble == nibble
            && s.kind == kind) {
            def = &s;
            break;
        }
    }
    if (!def || !msg.checksumOk(*def) || (def->byte2Zero && msg.byte(2) != 0))
        return;

    const int mi = index(def->module);
    ArxModuleIdentity &id = m_identity[mi];
    switch (def->handler) {
    case Info::KmIdentity:
    case Info::KvIdentity:
    case Info::KaIdentity:
    case Info::KcIdentity:
        fillIdentity(id, *def, msg);
        break;

    case Info::KmConfig:
    case Info::Kv73Config:
    case Info::Kv75Config:
    case Info::Ka71Config:
    case Info::Ka72Config:
        m_config[mi] = buildConfig(*def, msg);
        // These modules are listed only once their identity is known.
        if (id.identified && !id.present) {
            makePresent(def->module, def->unitBit);
            seedMirror(m_mirror[mi], m_config[mi], *def);
        }
        break;

    case Info::FmModule:
        fillIdentity(id, *def, msg);
        m_config[mi] = buildConfig(*def, msg);
        if (!id.present) {
            makePresent(def->module, def->unitBit);
            seedMirror(m_mirror[mi], m_config[mi], *def);
        }
        break;

    case Info::KcConfig: {
        m_config[mi] = buildConfig(*def, msg);
        // A channel is believed only when two configurations in a row agree.
        KcPrevious &prev = m_kcPrevious[def->module == ArxModule::Kc71Ch0 ? 0 : 1];
        const int byte4 = msg.byte(kcPresenceByte);
        const bool bit7 = msg.byte(kcFlagByte2) & 0x80;
        const bool same = prev.seen && prev.byte4 == byte4 && prev.bit7 == bit7;
        prev = KcPrevious{true, byte4, bit7};
        if (!same) {
            seedMirror(m_mirror[mi], m_config[mi], *def);
        } else if (!id.present) {
            makePresent(def->module, def->unitBit);
            seedMirror(m_mirror[mi], m_config[mi], *def);
        }
        break;
    }

    case Info::OptionIdentity: {
        id.name = msg.text(optionNameFirst, optionNameLength);
        const int high = (msg.byte(optionIdHigh) - optionIdBias) & 0xFF;
        const int low = (msg.byte(optionIdLow) - optionIdBias) & 0xFF;
        id.serial = QString::fromLatin1(def->serialPrefix) + hexDigit(high >> 4) + hexDigit(high) + hexDigit(low >> 4)
            + hexDigit(low);
        m_option.shortText = msg.text(optionShortFirst, optionShortLength);
        id.idText = msg.text(optionVersionFirst, optionVersionLength);
        id.identified = true;
        break;
    }

    case Info::OptionText:
        m_option.text = msg.text(optionTextFirst, optionTextLength);
        m_option.value = msg.byte(optionValueByte);
        if (id.identified && !id.present)
            makePresent(def->module, def->unitBit);
        break;

    case Info::OptionLabel: {
        const int digit = msg.byte(optionLabelDigit);
        if (digit >= '0' && digit <= '9')
            m_option.labels[digit - '0'] = msg.text(optionLabelFirst, optionLabelLength);
        break;
    }
    }
}
