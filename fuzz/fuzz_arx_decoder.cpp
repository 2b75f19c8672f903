// Frames from a unit: any sequence of 100-byte frames, with any descriptor,
// through filing and every decode the decoder runs.
#include "protocols/arx/arxdecoder.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    static const int unitTypes[] = {1, 2, 4, 8, 17, 18, 19, 33, 34, 0};
    const int unitType = unitTypes[data[0] % 10];
    const int amSubType = unitType == 33 ? 1 : unitType == 34 ? 2 : 0;
    ArxDecoder decoder;
    const QByteArray input(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    for (qsizetype at = 0; at + 4 <= input.size(); at += 100) {
        QByteArray frame = input.mid(at, 100);
        frame.resize(100, '\0');
        // Most frames should pass recognition so the decoders are reached.
        frame[0] = char(0xFF);
        frame[1] = char(0xFE);
        frame[2] = char(0xFD);
        int layout = 0, subType = 0;
        if (!ArxDecoder::recognise(frame, &layout, &subType))
            continue;
        decoder.fileFrame(frame, unitType, amSubType);
        decoder.decodePending();
    }
    return 0;
}
