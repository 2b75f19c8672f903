// CPU time the line session spends per HD frame: reading the stream,
// cutting the frame, filing the record for the relay servers, decoding it
// and writing the text log. A KH-71 at 8 frames a second is fed through a
// byte link that always has the next frames waiting; the clock is a fake one
// moved 125 ms a tick, so the figure is the session's work alone.
#include "connection/connectionpage.h"
#include "core/clock.h"
#include "core/messagelog.h"
#include "link/bytelink.h"
#include "protocols/hd/linesession.h"

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

// Replies to the detect machine, then an endless stream of frames with
// every page number the decoder knows.
class StreamLink : public ByteLink {
public:
    QByteArray waiting;
    int page = 0;
    void send(const QByteArray &bytes) override
    {
        if (bytes == "SC\r")
            waiting += "VALID\r";
        else if (bytes == "UI\r")
            waiting += "KH-71 LCD(1) SW(01.00 01.00) SN(100001) LAN(6.5.0.0)\r";
    }
    QByteArray readSome(int max) override
    {
        const QByteArray out = waiting.left(max);
        waiting.remove(0, out.size());
        return out;
    }
    int bytesWaiting() const override { return int(waiting.size()); }
    void clearReceive() override {}
    void addFrame()
    {
        static const int pages[] = {0, 1, 2, 5, 10, 18, 40};
        QByteArray f(1501, '\x5A');
        f[0] = char(0xFF);
        f[1] = char(0xFE);
        f[2] = char(0xFD);
        f[4] = char(16 + page % 20);
        f[1200] = char(pages[page++ % 7]);
        waiting += f;
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
    const int frames = argc > 1 ? atoi(argv[1]) : 20000;
    QTemporaryDir dir;
    StepClock clock;
    MessageLog log(clock);
    log.setEchoToStderr(false);
    ConnectionPage page(1, ConnectionPage::Environment{dir.path(), &log, &clock, nullptr});
    StreamLink link;
    page.setTestLink(&link);
    ConnectionSettings s = ConnectionSettings::defaults(1, dir.path());
    s.hardwareType = 2;
    s.logEnabled = true;
    s.logDirectory = dir.path();
    page.setSettings(s);
    page.openLog();
    page.openLink();
    for (int i = 0; i < 100 && page.record().phase != LineSession::Polling; ++i) {
        page.tick();
        clock.t = clock.t.addMSecs(page.interval());
    }
    if (page.record().phase != LineSession::Polling) {
        fprintf(stderr, "the session did not reach polling\n");
        return 1;
    }
    const quint64 before = page.store().sequence();
    const double start = cpuSeconds();
    for (int i = 0; i < frames; ++i) {
        link.addFrame();
        page.tick();
        clock.t = clock.t.addMSecs(125);
    }
    const double used = cpuSeconds() - start;
    const quint64 filed = page.store().sequence() - before;
    printf("HD frames filed and decoded: %llu\n", static_cast<unsigned long long>(filed));
    printf("CPU per frame: %.2f us (%.4f %% of one core at 8 frames/s)\n", used / double(filed) * 1e6,
           used / double(filed) * 8 * 100);
    return filed == quint64(frames) ? 0 : 1;
}
