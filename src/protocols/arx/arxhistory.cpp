// History table: one column per frame the unit marked with its history bit,
// one row per quantity of the measurement blocks.
#include "protocols/arx/arxdecoder.h"

#include "protocols/arx/arxlayouts.h"

#include <cstdlib>

using namespace arxlayout;

namespace {

// Signed status of the KR-71 block: a plain reading in bits 0-4 with bit 7 as
// its sign, or one of the limit codes of bits 5 and 6.
qint32 signedStatus(int f, bool *plain)
{
    *plain = false;
    if (f & 0x20)
        return -255;
    if (f & 0x40)
        return (f & 0x80) ? -127 : 127;
    *plain = true;
    const qint32 magnitude = f & 0x1F;
    return (f & 0x80) ? -magnitude : magnitude;
}

} // namespace

void ArxDecoder::decodeHistory()
{
    // Each batch rewrites the whole table; columns past the batch read 0.
    for (auto &row : m_history)
        row.fill(0);
    m_historyBatch = m_queueCount;
    for (int k = 0; k < m_queueCount; ++k)
        decodeHistoryColumn(m_queue[k], k + 1);
    m_queueCount = 0;
}

void ArxDecoder::decodeHistoryColumn(const Queued &q, int column)
{
    const Record &r = q.record;
    for (const HistoryBlock &h : historyBlocks) {
        if (h.layout != q.layout || (h.amSubType != 0 && h.amSubType != q.amSubType))
            continue;
        const Block &b = blocks[h.block];
        if (!blockValid(r, b)) {
            for (int row = h.clearFirst; row <= h.clearLast; ++row)
                m_history[row][column] = 0;
            continue;
        }
        for (const Row &item : h.rows) {
            const int v = r[b.first + item.byte];
            qint32 value = 0;
            switch (item.form) {
            case Form::Byte: value = v; break;
            case Form::Times5: value = v * 5; break;
            case Form::Times10: value = v * 10; break;
            case Form::Word: value = v + 256 * r[b.first + item.byte + 1]; break;
            case Form::HalfScale: value = (v / 2) * 5 + 170; break;
            case Form::SignedStatus: {
                bool plain = false;
                m_history[item.row][column] = signedStatus(v, &plain);
                m_readingValid = plain;
                continue;
            }
            }
            m_history[item.row][column] = std::abs(value);
        }
    }
    if (q.layout == 1) {
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < channelValueCount; ++i)
                m_history[channelHistoryRow[ch] + i][column] = std::abs(m_channel[ch][i]);
    }
}
