// What an HD monitor or a KF-71 (or a hostile far end) sends to a line page:
// the detect machine's replies and the streamed frames, fed in arbitrary
// pieces; and the HD decoder on a frame made of the input.
#include "fuzzpage.h"
#include "protocols/hd/hddecoder.h"

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzpage::world();
    if (size < 1)
        return 0;

    // The decoder alone: the input as a frame, zero-padded, with every
    // parameter value read back.
    HdDecoder decoder;
    decoder.startConnection();
    QByteArray frame(reinterpret_cast<const char *>(data), qsizetype(qMin<size_t>(size, 1501)));
    frame.resize(1501, '\0');
    decoder.decode(frame);
    for (int n = 0; n < 256; ++n)
        (void)decoder.parameterValue(n, n % 12);

    // Socket-like or serial-like; HD or KF-71.
    fuzzpage::FuzzPage f(data[0] & 2, (data[0] & 1) ? 3 : 2);
    // Then a list of answers: two length bytes (high first), then that many
    // bytes, delivered before the page's next few ticks.
    f.answer(data, size, 1, 2, 4, 130);
    if (qEnvironmentVariableIsSet("FUZZ_VERBOSE"))
        fprintf(stderr, "highest phase %d, frames filed %llu\n", f.maxPhase(),
                static_cast<unsigned long long>(f.page().relayStore().sequence()));
    f.settle(20, 130);
    f.checkBounded();
    return 0;
}
