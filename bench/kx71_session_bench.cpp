// CPU time the KX-71 session spends per frame: cutting it from the stream,
// filing it in the ring and by kind, decoding it and asking for the next.
// The analyzer is a byte link that answers each request with a frame at
// once (in two pieces, as TCP may deliver it); the clock is a fake one.
#include "connection/connectionpage.h"
#include "core/clock.h"
#include "core/messagelog.h"
#include "link/bytelink.h"
#include "protocols/kx71/kx71session.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>

namespace {

class StepClock : public Clock {
public:
    QDateTime now() const override { return t; }
    QDateTime t{QDate(2026, 12, 7), QTime(12, 0, 0)};
};

class AnalyzerLink : public ByteLink {
public:
    QByteArray waiting;
    int sent = 0;
    void send(const QByteArray &bytes) override
    {
        if (bytes == "T\r")
            waiting += "KX-71\xF0\xF1";
        else if (bytes == "U\r")
            waiting += "KX HC11 01.23    DSP  04.56\xF0\xF1";
        else if (bytes.startsWith('D') && bytes != "D0\r")
            waiting += frame();
    }
    QByteArray readSome(int max) override
    {
        const QByteArray out = waiting.left(qMin(max, 200)); // a frame takes two reads
        waiting.remove(0, out.size());
        return out;
    }
    int bytesWaiting() const override { return int(waiting.size()); }
    void clearReceive() override {}
    QByteArray frame()
    {
        QByteArray f(356, '\0');
        f[0] = char(0xFF), f[1] = char(0xFE), f[2] = char(0xFD), f[3] = char(0xFC);
        for (int i = 4; i < 353; ++i)
            f[i] = char((i + sent) & 0x7F);
        f[49] = char(sent++ % 3);
        unsigned sum = 0;
        for (int i = 0; i < 353; ++i)
            sum += quint8(f[i]);
        f[353] = char(sum);
        return f;
    }
};

double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int ticks = argc > 1 ? atoi(argv[1]) : 40000;
    QTemporaryDir dir;
    StepClock clock;
    MessageLog log(clock);
    log.setEchoToStderr(false);
    ConnectionPage page(1, ConnectionPage::Environment{dir.path(), &log, &clock, nullptr});
    AnalyzerLink link;
    page.setTestLink(&link);
    ConnectionSettings s = ConnectionSettings::defaults(1, dir.path());
    s.hardwareType = 1;
    s.connectionType = 1;
    page.setSettings(s);
    page.openLink();
    auto &session = *static_cast<Kx71Session *>(page.session());
    for (int i = 0; i < 30 && page.record().phase != 4; ++i) {
        page.tick();
        clock.t = clock.t.addMSecs(page.interval());
    }
    if (page.record().phase != 4) {
        fprintf(stderr, "the session did not start the stream\n");
        return 1;
    }
    const int before = session.store().accepted();
    const double start = cpuSeconds();
    for (int i = 0; i < ticks; ++i) {
        session.onSocketRead(); // the read events of one frame
        session.onSocketRead();
        page.tick();
        clock.t = clock.t.addMSecs(125);
    }
    const double used = cpuSeconds() - start;
    const int frames = session.store().accepted() - before;
    printf("KX-71 frames cut, filed and decoded: %d\n", frames);
    printf("CPU per frame: %.2f us (%.4f %% of one core at 8 frames/s)\n", used / frames * 1e6,
           used / frames * 8 * 100);
    return frames == ticks && session.badChecksums() == 0 ? 0 : 1;
}
