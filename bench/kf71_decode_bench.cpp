// KF-71 decode cost: CPU time per frame for each kind of page (settings page
// with an echo, RDS page, alarm table, a page without body), over random
// frame bytes. Prints microseconds per frame.
#include "protocols/kf71/kf71decoder.h"

#include <QRandomGenerator>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

} // namespace

int main()
{
    constexpr int kFrames = 64;
    constexpr int kRounds = 2000;
    QRandomGenerator rng(71);
    const struct {
        const char *name;
        int page;
    } kinds[] = {{"settings page + echo", 0}, {"RDS page", 1}, {"alarm table", 18}, {"no page body", 99}};
    for (const auto &kind : kinds) {
        std::vector<QByteArray> frames;
        for (int i = 0; i < kFrames; ++i) {
            QByteArray f(1501, '\0');
            for (char &c : f)
                c = char(rng.bounded(256));
            f[4] = char(kind.page == 0 ? 23 : 0xFF);
            f[1250] = char(kind.page);
            frames.push_back(f);
        }
        Kf71Decoder decoder;
        const double start = cpuSeconds();
        for (int r = 0; r < kRounds; ++r)
            for (const QByteArray &f : frames)
                decoder.decode(f);
        const double perFrame = (cpuSeconds() - start) / (kRounds * kFrames);
        std::printf("%-22s %7.2f us per frame\n", kind.name, perFrame * 1e6);
    }
    return 0;
}
