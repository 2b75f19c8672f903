// What a KX-71 analyzer (or a hostile far end) sends to its page: the type
// and version replies and the data stream, in arbitrary pieces, on a serial
// line (cut in the tick) or a socket (cut in the read event).
#include "connection/connectionpage.h"
#include "connection/session.h"
#include "core/clock.h"
#include "core/messagelog.h"
#include "protocols/kx71/kx71session.h"
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

    (void)Kx71Session::parseVersion(QByteArray(reinterpret_cast<const char *>(data), qsizetype(qMin<size_t>(size, 64))));

    ConnectionPage::Environment env;
    env.baseDirectory = dir.path();
    env.log = &log;
    env.clock = &clock;
    ConnectionPage page(1, env);
    const bool network = data[0] & 1;
    QueueLink link(network);
    page.setTestLink(&link);
    ConnectionSettings s = ConnectionSettings::defaults(1, dir.path());
    s.hardwareType = 1;
    s.connectionType = network ? 1 : 0;
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
        if (network)
            page.session()->onSocketRead();
        for (int i = 0; i < 2; ++i) {
            page.tick();
            clock.t = clock.t.addMSecs(page.interval());
            maxPhase = qMax(maxPhase, page.record().phase);
        }
        if (page.record().phase == 0)
            page.openLink();
    }
    const auto &kx = *static_cast<const Kx71Session *>(page.session());
    if (qEnvironmentVariableIsSet("FUZZ_VERBOSE"))
        fprintf(stderr, "highest phase %d, frames accepted %d\n", maxPhase, kx.store().accepted());
    for (char d : {'1', '2', '3', '4', '9'})
        if (page.kxStoredFrame(d).size() > 513)
            __builtin_trap();
    if (page.record().frameCutter.size() > 64 * 1024 || page.receiveText().size() > 64 * 1024)
        __builtin_trap(); // what waits to be cut stays bounded
    return 0;
}
