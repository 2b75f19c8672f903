// What an HD monitor or a KF-71 (or a hostile far end) sends to a line page:
// the detect machine's replies and the streamed frames, fed in arbitrary
// pieces; and the HD decoder on a frame made of the input.
#include "connection/connectionpage.h"
#include "core/clock.h"
#include "core/messagelog.h"
#include "protocols/hd/hddecoder.h"
#include "support/queuelink.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace {
class StepClock : public Clock {
public:
    QDateTime now() const override { return t; }
    QDateTime t{QDate(2026, 12, 7), QTime(3, 59, 0)};
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static QTemporaryDir dir;
    static StepClock clock;
    static MessageLog log(clock);
    log.setEchoToStderr(false);
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

    ConnectionPage::Environment env;
    env.baseDirectory = dir.path();
    env.log = &log;
    env.clock = &clock;
    ConnectionPage page(1, env);
    QueueLink link(data[0] & 2); // socket-like or serial-like
    page.setTestLink(&link);
    ConnectionSettings s = ConnectionSettings::defaults(1, dir.path());
    s.hardwareType = (data[0] & 1) ? 3 : 2;
    page.setSettings(s);
    page.openLink();

    // Then a list of answers: two length bytes (high first), then that many
    // bytes, delivered before the page's next few ticks.
    int maxPhase = 0;
    for (size_t at = 1; at + 1 < size;) {
        const size_t n = size_t(data[at]) << 8 | data[at + 1];
        at += 2;
        const size_t take = n < size - at ? n : size - at;
        link.waiting += QByteArray(reinterpret_cast<const char *>(data + at), qsizetype(take));
        at += take;
        for (int i = 0; i < 4; ++i) {
            page.tick();
            clock.t = clock.t.addMSecs(130);
            maxPhase = qMax(maxPhase, page.record().phase);
        }
        if (page.record().phase == 0)
            page.openLink();
    }
    if (qEnvironmentVariableIsSet("FUZZ_VERBOSE"))
        fprintf(stderr, "highest phase %d, frames filed %llu\n", maxPhase,
                static_cast<unsigned long long>(page.relayStore().sequence()));
    for (int i = 0; i < 20; ++i) {
        page.tick();
        clock.t = clock.t.addMSecs(130);
    }
    if (page.record().frameCutter.size() > 64 * 1024 || page.receiveText().size() > 64 * 1024)
        __builtin_trap(); // what waits to be cut stays bounded
    return 0;
}
