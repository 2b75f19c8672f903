// Frames from a KF-71: any sequence of 1501-byte frames through the decoder,
// with the page byte steered to the pages that carry a body, and the command
// values of every parameter number after each frame.
#include "protocols/kf71/kf71decoder.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    Kf71Decoder decoder;
    const QByteArray input(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    static const char pages[] = {0, 1, 18, 2};
    for (qsizetype at = 0; at < input.size(); at += 1501) {
        QByteArray frame = input.mid(at, 1501);
        frame.resize(1501, '\0');
        frame[1250] = pages[(data[0] + at) % 4];
        if (data[0] & 0x80)
            decoder.startConnection();
        decoder.decode(frame);
        for (int number = 0; number < 256; ++number)
            (void)decoder.parameterValue(number, data[0] & 1);
    }
    // Short and empty frames are ignored.
    decoder.decode(QByteArrayView(input).first(qMin<qsizetype>(input.size(), 1500)));
    return 0;
}
