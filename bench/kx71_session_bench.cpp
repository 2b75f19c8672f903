// CPU time the KX-71 session spends per frame: cutting it from the stream,
// filing it in the ring and by kind, decoding it and asking for the next.
// The analyzer is a byte link that answers each request with a frame at
// once (in two pieces, as TCP may deliver it); the clock is a fake one.
#include "protocols/kx71/kx71session.h"
#include "sessionbench.h"

#include <QCoreApplication>

namespace {

class AnalyzerLink : public sessionbench::QueuedLink {
public:
    AnalyzerLink() : QueuedLink(200) {} // a frame takes two reads
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

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int ticks = argc > 1 ? atoi(argv[1]) : 40000;
    AnalyzerLink link;
    sessionbench::Harness h(link);
    ConnectionSettings s = h.defaults();
    s.hardwareType = 1;
    s.connectionType = 1;
    if (!h.reach(s, 4, 30)) {
        fprintf(stderr, "the session did not start the stream\n");
        return 1;
    }
    auto &session = *static_cast<Kx71Session *>(h.page.session());
    const int before = session.store().accepted();
    const double start = sessionbench::cpuSeconds();
    for (int i = 0; i < ticks; ++i) {
        session.onSocketRead(); // the read events of one frame
        session.onSocketRead();
        h.tick();
    }
    const double used = sessionbench::cpuSeconds() - start;
    const int frames = session.store().accepted() - before;
    h.report("KX-71 frames cut, filed and decoded", frames, used);
    return frames == ticks && session.badChecksums() == 0 ? 0 : 1;
}
