// What a unit (or a hostile far end) sends to an ARX page: the detect
// machine's replies and the frame cutter, fed in arbitrary pieces.
#include "connection/connectionpage.h"
#include "core/clock.h"
#include "core/messagelog.h"
#include "support/queuelink.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdio>
#include <cstdint>

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

    ConnectionPage::Environment env;
    env.baseDirectory = dir.path();
    env.log = &log;
    env.clock = &clock;
    ConnectionPage page(1, env);
    QueueLink link(true); // the unit's bytes stay until read, as on a socket
    page.setTestLink(&link);
    ConnectionSettings s = ConnectionSettings::defaults(1, dir.path());
    page.setSettings(s);
    page.openLink();

    // The input is a list of answers: a length byte, then that many bytes,
    // delivered after the page's next few ticks.
    int maxPhase = 0;
    for (size_t at = 0; at < size;) {
        const size_t n = data[at++];
        const size_t take = n < size - at ? n : size - at;
        link.waiting += QByteArray(reinterpret_cast<const char *>(data + at), qsizetype(take));
        at += take;
        for (int i = 0; i < 4; ++i) {
            page.tick();
            clock.t = clock.t.addMSecs(260);
            maxPhase = qMax(maxPhase, page.record().phase);
        }
        // A failed detection starts again, so later answers still reach the machine.
        if (page.record().phase == 0)
            page.openLink();
    }
    // FUZZ_VERBOSE=1 shows how far an input (a seed, say) gets the session.
    if (qEnvironmentVariableIsSet("FUZZ_VERBOSE"))
        fprintf(stderr, "highest phase %d, frames filed %llu\n", maxPhase,
                static_cast<unsigned long long>(page.relayStore().sequence()));
    for (int i = 0; i < 20; ++i) {
        page.tick();
        clock.t = clock.t.addMSecs(260);
    }
    if (page.record().frameCutter.size() > 64 * 1024 || page.receiveText().size() > 64 * 1024)
        __builtin_trap(); // what waits to be cut stays bounded
    return 0;
}
