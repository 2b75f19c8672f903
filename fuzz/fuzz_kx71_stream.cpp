// What a KX-71 analyzer (or a hostile far end) sends to its page: the type
// and version replies and the data stream, in arbitrary pieces, on a serial
// line (cut in the tick) or a socket (cut in the read event).
#include "fuzzpage.h"
#include "protocols/kx71/kx71session.h"

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzpage::world();
    if (size < 1)
        return 0;

    (void)Kx71Session::parseVersion(QByteArray(reinterpret_cast<const char *>(data), qsizetype(qMin<size_t>(size, 64))));

    const bool network = data[0] & 1;
    fuzzpage::FuzzPage f(network, 1, network ? 1 : 0);
    // Then a list of answers: two length bytes (high first), then that many
    // bytes, delivered before the page's next two ticks.
    f.answer(data, size, 1, 2, 2, 0);
    const auto &kx = *static_cast<const Kx71Session *>(f.page().session());
    if (qEnvironmentVariableIsSet("FUZZ_VERBOSE"))
        fprintf(stderr, "highest phase %d, frames accepted %d\n", f.maxPhase(), kx.store().accepted());
    for (char d : {'1', '2', '3', '4', '9'})
        if (f.page().kxStoredFrame(d).size() > 513)
            __builtin_trap();
    f.checkBounded();
    return 0;
}
