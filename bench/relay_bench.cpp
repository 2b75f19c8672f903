// Relay server load: 8 servers x 50 clients on loopback, records filed at
// 8 per second on each source, HD-sized (1509 bytes) and then ARX-sized (108).
// Each source files on a timer of its own, started at its own moment, as
// pages do. Prints the server process's CPU time per second of wall time and
// per record delivered, its peak memory, and the latency from filing a
// record to its arrival at a client.
//
// The clients run in a child process (this program started with --clients),
// so the CPU figure is the servers' alone. Filing time travels inside the
// record as CLOCK_MONOTONIC nanoseconds, which both processes share.
#include "connection/relaysource.h"
#include "connection/relaystore.h"
#include "core/clock.h"
#include "core/epolldispatcher.h"
#include "core/messagelog.h"
#include "server/relayclient.h"
#include "server/relayserver.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int kServers = 8;
constexpr int kClientsPerServer = 50;
constexpr int kRecordsPerSecond = 8;
constexpr int kReplyBytes = 18; // "SVALID SUPERVISOR" and its terminator

qint64 monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double cpuSeconds(int who)
{
    rusage ru{};
    getrusage(who, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

long peakKiB(int who)
{
    rusage ru{};
    getrusage(who, &ru);
    return ru.ru_maxrss;
}

class BenchSource : public RelaySource {
public:
    explicit BenchSource(int type) : m_type(type) {}
    int hardwareType() const override { return m_type; }
    const RelayStore &relayStore() const override { return store; }
    RelayStore store;

private:
    int m_type;
};

// --- client side (child process) -------------------------------------------

int runClients(const QStringList &args)
{
    // --clients <type> <recordSize> <seconds> <port>...
    const int type = args.value(2).toInt();
    const int recordSize = args.value(3).toInt();
    const int seconds = args.value(4).toInt();
    std::vector<quint16> ports;
    for (int i = 5; i < args.size(); ++i)
        ports.push_back(quint16(args[i].toInt()));

    struct Client {
        QTcpSocket socket;
        QByteArray buffer;
        int skip = kReplyBytes;
    };
    std::vector<std::unique_ptr<Client>> clients;
    std::vector<double> latenciesMs;
    latenciesMs.reserve(size_t(seconds + 5) * kRecordsPerSecond * ports.size() * kClientsPerServer);
    long records = 0;
    const QByteArray hello = type == 0 ? QByteArray("\x01\xFE\x04\xFE", 4) : QByteArray("SC\rSD\r");

    for (quint16 port : ports) {
        for (int i = 0; i < kClientsPerServer; ++i) {
            auto c = std::make_unique<Client>();
            Client *raw = c.get();
            QObject::connect(&raw->socket, &QTcpSocket::connected, [raw, hello] { raw->socket.write(hello); });
            QObject::connect(&raw->socket, &QTcpSocket::readyRead, [raw, recordSize, &latenciesMs, &records] {
                const qint64 now = monotonicNs();
                raw->buffer += raw->socket.readAll();
                if (raw->skip > 0) {
                    const qsizetype n = std::min<qsizetype>(raw->skip, raw->buffer.size());
                    raw->buffer.remove(0, n);
                    raw->skip -= int(n);
                }
                while (raw->buffer.size() >= recordSize) {
                    qint64 filed = 0;
                    std::memcpy(&filed, raw->buffer.constData() + 3, sizeof filed);
                    latenciesMs.push_back(double(now - filed) / 1e6);
                    ++records;
                    raw->buffer.remove(0, recordSize);
                }
            });
            // A server takes at most ten connections from one address.
            raw->socket.bind(QHostAddress(QStringLiteral("127.0.1.%1").arg(1 + i / 10)));
            raw->socket.connectToHost(QHostAddress::LocalHost, port);
            clients.push_back(std::move(c));
        }
    }
    // Runs a little longer than the server files records, then reports.
    QTimer::singleShot((seconds + 3) * 1000, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();

    std::sort(latenciesMs.begin(), latenciesMs.end());
    const auto pick = [&](double q) {
        return latenciesMs.empty() ? 0.0 : latenciesMs[std::min(latenciesMs.size() - 1, size_t(q * latenciesMs.size()))];
    };
    std::printf("%ld %.3f %.3f %.3f %.3f %ld\n", records, pick(0.5), pick(0.99),
                latenciesMs.empty() ? 0.0 : latenciesMs.back(), cpuSeconds(RUSAGE_SELF), peakKiB(RUSAGE_SELF));
    return 0;
}

// --- server side -------------------------------------------------------------

void runScenario(const char *name, int type, int recordSize, int seconds)
{
    MessageLog log(SystemClock::instance());
    log.setEchoToStderr(false);
    std::vector<std::unique_ptr<BenchSource>> sources;
    std::vector<std::unique_ptr<RelayServer>> servers;
    QStringList args{QStringLiteral("--clients"), QString::number(type), QString::number(recordSize),
                     QString::number(seconds)};
    for (int i = 0; i < kServers; ++i) {
        sources.push_back(std::make_unique<BenchSource>(type));
        BenchSource *src = sources.back().get();
        auto server = std::make_unique<RelayServer>(i + 1, QString(), log, SystemClock::instance(),
                                                    [src](int n) -> RelaySource * { return n == 1 ? src : nullptr; });
        server->setSettings({1, false, 0, false});
        server->enable();
        args << QString::number(server->serverPort());
        servers.push_back(std::move(server));
    }

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), args);
    child.waitForStarted();

    // Wait until every client has said hello and started its data.
    const auto allStarted = [&] {
        for (auto &s : servers) {
            if (s->clientCount() != kClientsPerServer)
                return false;
            for (int i = 0; i < kClientsPerServer; ++i) {
                const RelayClient *c = s->client(i);
                if (!c || (type == 0 ? c->arxHalted : c->hdHalted))
                    return false;
            }
        }
        return true;
    };
    {
        QEventLoop wait;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (allStarted())
                wait.quit();
        });
        poll.start(20);
        wait.exec();
    }

    QByteArray record(recordSize, 'r');
    record[0] = char(0xFF);
    record[1] = char(0xFE);
    record[2] = char(0xFD);
    const RecordKind kind = type == 0 ? RecordKind::Arx : RecordKind::Hd;
    std::vector<std::unique_ptr<QTimer>> filers;
    long filings = 0;
    for (auto &src : sources) {
        auto filer = std::make_unique<QTimer>();
        filer->setTimerType(Qt::PreciseTimer);
        filer->setInterval(1000 / kRecordsPerSecond);
        BenchSource *s = src.get();
        QObject::connect(filer.get(), &QTimer::timeout, [&filings, &record, kind, s] {
            ++filings;
            const qint64 now = monotonicNs();
            std::memcpy(record.data() + 3, &now, sizeof now);
            s->store.fileRecord(kind, record);
        });
        filers.push_back(std::move(filer));
    }
    const int spacing = 1000 / kRecordsPerSecond / kServers;
    const double cpu0 = cpuSeconds(RUSAGE_SELF);
    const qint64 wall0 = monotonicNs();
    for (size_t i = 0; i < filers.size(); ++i)
        QTimer::singleShot(int(i) * spacing + 1, filers[i].get(), qOverload<>(&QTimer::start));
    {
        QEventLoop window;
        QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &window, &QEventLoop::quit);
        window.exec();
    }
    for (auto &filer : filers)
        filer->stop();
    const double cpu = cpuSeconds(RUSAGE_SELF) - cpu0;
    const double wall = double(monotonicNs() - wall0) / 1e9;

    if (child.state() != QProcess::NotRunning) {
        QEventLoop done;
        QObject::connect(&child, &QProcess::finished, &done, &QEventLoop::quit);
        done.exec();
    }
    const QList<QByteArray> f = child.readAllStandardOutput().trimmed().split(' ');
    for (auto &s : servers)
        s->disable();

    std::printf("%s: %d servers x %d clients, %d-byte records at %d/s, %.1f s\n", name, kServers,
                kClientsPerServer, recordSize, kRecordsPerSecond, wall);
    std::printf("  server process CPU: %.2f%% of one core (%.3f s CPU over %.1f s)\n", 100.0 * cpu / wall, cpu, wall);
    std::printf("  server peak memory (max RSS so far): %ld KiB\n", peakKiB(RUSAGE_SELF));
    if (f.size() >= 6) {
        const long expected = long(kClientsPerServer) * filings;
        std::printf("  records received: %s of %ld (%ld filings x %d clients each)\n", f[0].constData(), expected,
                    filings, kClientsPerServer);
        const double received = f[0].toDouble();
        if (received > 0)
            std::printf("  server CPU per delivery: %.1f us\n", 1e6 * cpu / received);
        std::printf("  latency filing -> client: median %s ms, p99 %s ms, max %s ms\n", f[1].constData(),
                    f[2].constData(), f[3].constData());
        std::printf("  client process (for reference): CPU %s s, peak %s KiB\n", f[4].constData(), f[5].constData());
    } else {
        std::printf("  client process gave no figures\n");
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    // The servers run on the service's dispatcher; RELAY_BENCH_DISPATCHER=qt
    // keeps Qt's own, for comparison.
    const bool qtDispatcher = qgetenv("RELAY_BENCH_DISPATCHER") == "qt";
    if (!qtDispatcher)
        QCoreApplication::setEventDispatcher(new EpollDispatcher);
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("--clients"))
        return runClients(args);
    const int seconds = qEnvironmentVariableIntValue("RELAY_BENCH_SECONDS") > 0
        ? qEnvironmentVariableIntValue("RELAY_BENCH_SECONDS")
        : 10;
    std::printf("event dispatcher: %s\n", qtDispatcher ? "Qt's own" : "epoll");
    runScenario("HD", 2, 1509, seconds);
    runScenario("ARX", 0, 108, seconds);
    return 0;
}
