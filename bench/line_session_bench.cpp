// CPU time the line session spends per HD frame: reading the stream,
// cutting the frame, filing the record for the relay servers, decoding it
// and writing the text log. A KH-71 at 8 frames a second is fed through a
// byte link that always has the next frames waiting; the clock is a fake one
// moved 125 ms a tick, so the figure is the session's work alone.
#include "protocols/hd/linesession.h"
#include "sessionbench.h"

#include <QCoreApplication>

namespace {

// Replies to the detect machine, then an endless stream of frames with
// every page number the decoder knows.
class StreamLink : public sessionbench::QueuedLink {
public:
    int page = 0;
    void send(const QByteArray &bytes) override
    {
        if (bytes == "SC\r")
            waiting += "VALID\r";
        else if (bytes == "UI\r")
            waiting += "KH-71 LCD(1) SW(01.00 01.00) SN(100001) LAN(6.5.0.0)\r";
    }
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

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int frames = argc > 1 ? atoi(argv[1]) : 20000;
    StreamLink link;
    sessionbench::Harness h(link);
    ConnectionSettings s = h.defaults();
    s.hardwareType = 2;
    s.logEnabled = true;
    s.logDirectory = h.dir.path();
    if (!h.reach(s, LineSession::Polling, 100)) {
        fprintf(stderr, "the session did not reach polling\n");
        return 1;
    }
    const quint64 before = h.page.store().sequence();
    const double start = sessionbench::cpuSeconds();
    for (int i = 0; i < frames; ++i) {
        link.addFrame();
        h.tick();
    }
    const double used = sessionbench::cpuSeconds() - start;
    const quint64 filed = h.page.store().sequence() - before;
    h.report("HD frames filed and decoded", filed, used);
    return filed == quint64(frames) ? 0 : 1;
}
