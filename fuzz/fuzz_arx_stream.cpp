// What a unit (or a hostile far end) sends to an ARX page: the detect
// machine's replies and the frame cutter, fed in arbitrary pieces.
#include "fuzzpage.h"

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The unit's bytes stay until read, as on a socket.
    fuzzpage::FuzzPage f(true, 0);

    // The input is a list of answers: a length byte, then that many bytes,
    // delivered after the page's next few ticks.
    f.answer(data, size, 0, 1, 4, 260);
    // FUZZ_VERBOSE=1 shows how far an input (a seed, say) gets the session.
    if (qEnvironmentVariableIsSet("FUZZ_VERBOSE"))
        fprintf(stderr, "highest phase %d, frames filed %llu\n", f.maxPhase(),
                static_cast<unsigned long long>(f.page().relayStore().sequence()));
    f.settle(20, 260);
    f.checkBounded();
    return 0;
}
