// Filing of Arxon frames into records, and the current-frame decode: status
// bytes, setting echoes, KC-71 channel values and the auxiliary words.
#include "protocols/arx/arxdecoder.h"

#include "protocols/arx/arxlayouts.h"

#include <algorithm>

using namespace arxlayout;

namespace {

void setBit(quint8 &word, int bit, bool on)
{
    if (on)
        word = quint8(word | (1u << bit));
    else
        word = quint8(word & ~(1u << bit));
}

void applyEcho(ArxMirror &mirror, std::span<const EchoRule> rules, int code, int value)
{
    for (const EchoRule &rule : rules) {
        if (code < rule.firstCode || code > rule.lastCode)
            continue;
        quint8 &word = mirror.flagWord[rule.word];
        switch (rule.action) {
        case EchoAction::Value:
            mirror.slot[code] = value;
            break;
        case EchoAction::Bit:
            setBit(word, rule.bit, value != 0);
            break;
        case EchoAction::BitIfOne:
            setBit(word, rule.bit, value == 1);
            break;
        case EchoAction::BitAlways:
            setBit(word, rule.bit, true);
            break;
        case EchoAction::PairValue:
            if (value != 0) {
                mirror.slot[code] = value;
                mirror.pairFirst = mirror.pairSecond = false;
            } else {
                mirror.pairFirst = mirror.pairSecond = true;
            }
            break;
        case EchoAction::PairBit:
            setBit(word, rule.bit, value != 0);
            if (value != 0) {
                if (mirror.pairFirst)
                    mirror.pairSecond = true;
            } else {
                mirror.pairSecond = false;
            }
            break;
        case EchoAction::CopyFirst:
            word = mirror.flagWord[0];
            setBit(word, rule.bit, value != 0);
            break;
        }
        return;
    }
}

} // namespace

ArxDecoder::ArxDecoder() = default;

void ArxDecoder::reset()
{
    *this = ArxDecoder();
}

bool ArxDecoder::recognise(const QByteArray &frame, int *layout, int *subType)
{
    if (frame.size() < 4)
        return false;
    for (int i = 0; i < 3; ++i)
        if (quint8(frame[i]) != syncBytes[i])
            return false;
    const quint8 descriptor = quint8(frame[descriptorSlot]);
    int found = 0;
    switch (descriptor >> 4) {
    case 0xF: found = 1; break;
    case 0xE: found = 2; break;
    case 0xC: found = 3; break;
    default: return false;
    }
    if (layout)
        *layout = found;
    if (subType)
        *subType = descriptor & 0x0F;
    return true;
}

void ArxDecoder::fileFrame(const QByteArray &frame, int unitType, int amSubType)
{
    int layout = 0;
    int subType = 0;
    if (frame.size() < frameSize || !recognise(frame, &layout, &subType))
        return;
    const auto *bytes = reinterpret_cast<const quint8 *>(frame.constData());

    const bool interleaved = layout == 1 && (subType == subTypeFirstHalf || subType == subTypeSecondHalf);
    if (!interleaved) {
        // A half record only pairs with the frame right after it.
        m_halfPending = false;
        // Layout 1 knows only the plain and the two interleaved forms.
        if (layout == 1 && subType != subTypePlain)
            return;
        Record record{};
        std::copy(bytes, bytes + plainBytes, record.begin());
        commitRecord(record, layout, unitType, amSubType);
        return;
    }

    AuxRecord aux{};
    for (int k = 0; k < interleavePairs; ++k)
        aux[k] = bytes[interleaveFirst + 1 + 2 * k];

    if (subType == subTypeFirstHalf) {
        m_half = Record{};
        for (int k = 0; k < interleavePairs; ++k)
            m_half[firstHalfSlot + k] = bytes[interleaveFirst + 2 * k];
        m_halfPending = true;
    } else if (m_halfPending) {
        for (int k = 0; k < interleavePairs; ++k)
            m_half[secondHalfSlot + k] = bytes[interleaveFirst + 2 * k];
        m_halfPending = false;
        commitRecord(m_half, layout, unitType, amSubType);
    }
    // A second half without its first cannot make a record; its auxiliary
    // bytes are whole and still count.
    pushAux(aux);
}

void ArxDecoder::commitRecord(const Record &record, int layout, int unitType, int amSubType)
{
    m_ringIndex = (m_ringIndex + 1) % ringSize;
    m_ring[m_ringIndex] = record;
    m_currentLayout = layout;
    m_currentAmSubType = amSubType;
    m_currentDue = true;

    for (const Trigger &t : triggers) {
        if (t.unitType != unitType || !(record[t.slot] & t.mask))
            continue;
        // A full queue drops its oldest entry rather than the whole batch.
        if (m_queueCount == historyQueueSize) {
            std::move(m_queue + 1, m_queue + historyQueueSize, m_queue);
            --m_queueCount;
        }
        m_queue[m_queueCount++] = Queued{record, layout, amSubType};
        break;
    }
}

void ArxDecoder::pushAux(const AuxRecord &aux)
{
    m_auxIndex = (m_auxIndex + 1) % ringSize;
    m_auxRing[m_auxIndex] = aux;
    m_auxDue = true;
}

void ArxDecoder::decodePending()
{
    if (m_currentDue) {
        m_currentDue = false;
        decodeCurrent();
    }
    if (m_queueCount > 0)
        decodeHistory();
    if (m_auxDue) {
        m_auxDue = false;
        decodeAux();
    }
}

void ArxDecoder::decodeCurrent()
{
    const Record &r = currentRecord();
    for (int i = 0; i < int(std::size(blocks)); ++i) {
        const Block &b = blocks[i];
        if (b.layout == m_currentLayout && (b.amSubType == 0 || b.amSubType == m_currentAmSubType))
            decodeBlock(i, r);
    }
    if (m_currentLayout == 1)
        decodeChannelBlock(r);
    decodeInformation(r, m_currentLayout, m_currentAmSubType);
}

void ArxDecoder::decodeBlock(int blockIndex, const Record &r)
{
    const Block &b = blocks[blockIndex];
    // A block that fails its checksum tells nothing about the module.
    if (!blockValid(r, b))
        return;
    ArxModule module = b.module;
    if (b.perChannel && r[channelSlot] != channelZero)
        module = ArxModule::Kc71Ch1;

    ArxModuleStatus &s = m_status[index(module)];
    const int statusByte = r[b.first + b.count - 1];
    s.received = true;
    s.status = statusByte;
    for (int bit = 0; bit < 8; ++bit)
        s.bit[bit] = (b.status.keptBits >> bit & 1) && (statusByte >> bit & 1);
    if (b.status.fieldMask)
        s.field = (statusByte >> b.status.fieldShift) & b.status.fieldMask;
    if (b.status.wordLowSlot >= 0)
        s.word = r[b.status.wordLowSlot] + 256 * r[b.status.wordLowSlot + 1];
    if (b.status.extraSlot >= 0)
        s.extra = r[b.status.extraSlot];

    const int code = r[b.codeSlot];
    if (code == noEchoCode)
        return;
    const int value = b.wideValue ? r[b.valueSlot] + 256 * r[b.valueSlot + 1] : r[b.valueSlot];
    ArxMirror &mirror = m_mirror[index(module)];
    if (value == (b.wideValue ? noValueWide : noValueByte)) {
        mirror.lastCodeWithoutValue = code;
        return;
    }
    applyEcho(mirror, b.echo, code, value);
}

void ArxDecoder::decodeChannelBlock(const Record &r)
{
    const Block *kc = nullptr;
    for (const Block &b : blocks)
        if (b.perChannel)
            kc = &b;
    if (!kc)
        return;
    const int status = r[kc->first + kc->count - 1];
    // Without bit 7 the block carries no readings for this channel.
    if (!(status & channelCheckedBit))
        return;
    ChannelValues &values = m_channel[r[channelSlot] == channelZero ? 0 : 1];
    if (!blockValid(r, *kc)) {
        values.fill(0);
        return;
    }
    const int b = kc->first;
    values = {r[b + 1] * 10, r[b + 2] * 10, r[b + 3] * 10, r[b + 4], r[b + 5]};
}

void ArxDecoder::decodeAux()
{
    const AuxRecord &aux = m_auxRing[m_auxIndex];
    for (int k = 0; k < auxValueCount; ++k)
        m_aux[k] = quint16(aux[2 * k] << 8 | aux[2 * k + 1]);
}

qint32 ArxDecoder::history(int row, int column) const
{
    if (row < 0 || row >= historyRows || column < 0 || column >= historyColumns)
        return 0;
    return m_history[row][column];
}
