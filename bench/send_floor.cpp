// The cost of the send itself: what relaying records to loopback viewers
// costs when nothing else is done. Listens on the given ports as the relay
// servers would, answers each viewer's log-in with "SVALID SUPERVISOR", and
// from its start message on sends it every record of its port's "unit": a
// frame of the given size (sync bytes FF FE FD, a sequence number, filler)
// plus an 8-byte time stamp, made here at the given rate. One send() per
// record per viewer, nothing kept for a viewer that does not take it.
//
// Each port's frames go to a trace file in the simulator's form ("<time>
// FRAME <day number> <hex>"), so that bench/e2e_relay.py matches the viewers'
// records and measures latency exactly as for the real server.
//
//   bench_send_floor --ports 21001,21002 --frame 100 --rate 2 --trace /tmp/st/LOG/unit-
//
// prints "ready" once it listens; runs until SIGTERM or SIGINT.
//
// With --units (ARX only) the frames are not made here: port i's frames are
// those of the simulated unit listening on the i-th of the given ports,
// which the program logs in to, starts, and polls with one FF byte per
// period, as the server's page does; each frame read is stamped and sent to
// the port's viewers. The units write their own traces. This is the floor
// of the fixed work per frame: a poll out, a frame in, nothing else.
//
// Each unit is polled on its own phase, spread over the period, as the
// server's pages poll: a page polls a period after its own last poll, so
// its phase is set by when it logged in.
//
//   bench_send_floor --ports 21001 --frame 100 --rate 2 --units 22001 --password KELPO4
//
// "--phases together" makes every port's frame (or polls every unit) in one
// pass instead of spread over the period. For polled units that is the
// cheapest schedule there is (one wake-up for all), which the pages do not
// keep; for made frames it is what the simulated line units do when the
// pages started them in the same tick: all their frames at once.
//
// Plain POSIX on purpose: no event loop, no library between it and the kernel.
#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t g_stop = 0;

struct Viewer {
    int fd = -1;
    int port = 0; // index of its listener
    std::string in;
    bool answered = false;
    bool started = false;
};

struct Port {
    int listener = -1;
    int unit = -1; // the simulated unit polled for this port's frames (--units)
    std::string unitIn;
    FILE *trace = nullptr;
    uint32_t sequence = 0;
    double due = 0; // monotonic seconds of the next frame
};

double monotonic()
{
    timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Days since 1899-12-30 in local time, as the units' time stamps and the trace carry them.
double dayNumber()
{
    timespec t {};
    clock_gettime(CLOCK_REALTIME, &t);
    const time_t s = t.tv_sec;
    tm local {};
    localtime_r(&s, &local);
    const double epoch = double(t.tv_sec) + double(t.tv_nsec) / 1e9;
    return (epoch + double(local.tm_gmtoff)) / 86400.0 + 25569.0;
}

void setNonBlocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

int listenOn(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(fd, 1024) != 0) {
        std::fprintf(stderr, "port %d: %s\n", port, std::strerror(errno));
        std::exit(1);
    }
    setNonBlocking(fd);
    return fd;
}

// A frame that holds no sync bytes after its first three and differs from
// every other frame of its port.
std::string makeFrame(size_t size, uint32_t sequence)
{
    std::string f(size, '\0');
    f[0] = char(0xFF);
    f[1] = char(0xFE);
    f[2] = char(0xFD);
    uint32_t s = sequence;
    for (size_t i = 3; i < 7 && i < size; ++i) {
        f[i] = char(s % 200);
        s /= 200;
    }
    for (size_t i = 7; i < size; ++i)
        f[i] = char((sequence * 7 + i * 13) % 200);
    return f;
}

// Blocking reads until the reply ends with F0 F1; false if the unit closes first.
bool awaitReply(int fd)
{
    std::string in;
    char c = 0;
    while (recv(fd, &c, 1, 0) == 1) {
        in += c;
        if (in.size() >= 2 && in.compare(in.size() - 2, 2, "\xF0\xF1") == 0)
            return true;
    }
    return false;
}

// Connected to the unit at `port`, logged in with `password` and started.
int startUnit(int port, const std::string &password)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string login = password + "\xFE";
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || send(fd, "\x01\xFE", 2, 0) != 2
        || !awaitReply(fd) || send(fd, login.data(), login.size(), 0) != ssize_t(login.size()) || !awaitReply(fd)
        || send(fd, "\x04\xFE", 2, 0) != 2) {
        std::fprintf(stderr, "unit at port %d: no log-in\n", port);
        std::exit(1);
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setNonBlocking(fd);
    return fd;
}

std::vector<int> numbers(const char *list)
{
    std::vector<int> out;
    for (const char *p = list; *p;) {
        char *end = nullptr;
        out.push_back(int(std::strtol(p, &end, 10)));
        p = *end == ',' ? end + 1 : end;
    }
    return out;
}

// The record of a frame: the frame and its 8-byte time stamp.
std::string stamped(const std::string &frame)
{
    const double day = dayNumber();
    std::string record = frame;
    record.append(reinterpret_cast<const char *>(&day), 8); // little-endian on this machine
    return record;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<int> portNumbers;
    std::vector<int> unitPorts;
    std::string password;
    size_t frameSize = 100;
    double rate = 2;
    std::string tracePrefix;
    bool together = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char *value = argv[i + 1];
        if (key == "--ports") {
            portNumbers = numbers(value);
        } else if (key == "--units") {
            unitPorts = numbers(value);
        } else if (key == "--password") {
            password = value;
        } else if (key == "--frame") {
            frameSize = size_t(std::atoi(value));
        } else if (key == "--rate") {
            rate = std::atof(value);
        } else if (key == "--trace") {
            tracePrefix = value;
        } else if (key == "--phases") {
            together = std::strcmp(value, "together") == 0;
        }
    }
    if (portNumbers.empty() || frameSize < 8 || rate <= 0
        || (!unitPorts.empty() && (unitPorts.size() != portNumbers.size() || frameSize != 100))) {
        std::fprintf(stderr, "usage: %s --ports P1,P2,... --frame 100|1501 --rate N [--trace PREFIX] [--phases spread|together]\n"
                             "       [--units U1,U2,... --password TEXT]   (ARX: poll these units for the frames)\n",
                     argv[0]);
        return 2;
    }
    // The ARX dialect ends a message with FE and a reply with FF; the line dialect both with CR.
    const bool arx = frameSize == 100;
    const char terminator = arx ? char(0xFE) : '\r';
    const std::string granted = std::string("SVALID SUPERVISOR") + (arx ? char(0xFF) : '\r');

    std::signal(SIGTERM, [](int) { g_stop = 1; });
    std::signal(SIGINT, [](int) { g_stop = 1; });
    std::signal(SIGPIPE, SIG_IGN);

    const int ep = epoll_create1(EPOLL_CLOEXEC);
    std::vector<Port> ports(portNumbers.size());
    const double start = monotonic();
    for (size_t i = 0; i < ports.size(); ++i) {
        ports[i].listener = listenOn(portNumbers[i]);
        if (!tracePrefix.empty())
            ports[i].trace = std::fopen((tracePrefix + std::to_string(i + 1) + ".trace").c_str(), "w");
        // Spread over one period, as independent units and pages would be.
        ports[i].due = start + (together ? 0.0 : double(i) / rate / double(ports.size()));
        epoll_event ev {};
        ev.events = EPOLLIN;
        ev.data.u64 = uint64_t(i) << 32 | 0xFFFFFFFFu; // a listener
        epoll_ctl(ep, EPOLL_CTL_ADD, ports[i].listener, &ev);
        if (!unitPorts.empty()) {
            ports[i].unit = startUnit(unitPorts[i], password);
            ev.data.u64 = uint64_t(i) << 32 | 0xFFFFFFFEu; // a unit
            epoll_ctl(ep, EPOLL_CTL_ADD, ports[i].unit, &ev);
        }
    }
    std::vector<Viewer> viewers; // by descriptor
    std::vector<std::vector<int>> started(ports.size());
    std::printf("ready\n");
    std::fflush(stdout);

    const double period = 1.0 / rate;
    while (!g_stop) {
        double next = ports[0].due;
        for (const Port &p : ports)
            next = p.due < next ? p.due : next;
        // Rounded up: a wait cut to 0 ms would spin until the frame is due.
        const int wait = int(std::ceil((next - monotonic()) * 1000.0));
        epoll_event events[64];
        const int n = epoll_wait(ep, events, 64, wait > 0 ? wait : 0);
        for (int e = 0; e < n; ++e) {
            const uint32_t low = uint32_t(events[e].data.u64);
            if (low == 0xFFFFFFFEu) {
                Port &p = ports[size_t(events[e].data.u64 >> 32)];
                char buf[4096];
                ssize_t got;
                while ((got = recv(p.unit, buf, sizeof buf, 0)) > 0)
                    p.unitIn.append(buf, size_t(got));
                if (got == 0) {
                    std::fprintf(stderr, "a unit closed its link\n");
                    return 1;
                }
                const size_t index = size_t(events[e].data.u64 >> 32);
                while (p.unitIn.size() >= frameSize) {
                    const std::string record = stamped(p.unitIn.substr(0, frameSize));
                    p.unitIn.erase(0, frameSize);
                    for (const int fd : started[index])
                        send(fd, record.data(), record.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                }
                continue;
            }
            if (low == 0xFFFFFFFFu) {
                const int index = int(events[e].data.u64 >> 32);
                for (;;) {
                    const int fd = accept4(ports[size_t(index)].listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                    if (fd < 0)
                        break;
                    const int on = 1;
                    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                    if (size_t(fd) >= viewers.size())
                        viewers.resize(size_t(fd) + 1);
                    viewers[size_t(fd)] = Viewer {fd, index, {}, false, false};
                    epoll_event ev {};
                    ev.events = EPOLLIN;
                    ev.data.u64 = uint32_t(fd);
                    epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
                }
                continue;
            }
            Viewer &v = viewers[low];
            char buf[4096];
            const ssize_t got = recv(v.fd, buf, sizeof buf, 0);
            if (got <= 0) {
                if (got < 0 && (errno == EAGAIN || errno == EINTR))
                    continue;
                epoll_ctl(ep, EPOLL_CTL_DEL, v.fd, nullptr);
                auto &list = started[size_t(v.port)];
                for (auto it = list.begin(); it != list.end(); ++it)
                    if (*it == v.fd) {
                        list.erase(it);
                        break;
                    }
                close(v.fd);
                v = Viewer {};
                continue;
            }
            v.in.append(buf, size_t(got));
            if (!v.answered && v.in.find(terminator) != std::string::npos) {
                v.answered = true;
                v.in.erase(0, v.in.find(terminator) + 1);
                send(v.fd, granted.data(), granted.size(), MSG_NOSIGNAL);
            }
            if (v.answered && !v.started && v.in.find(terminator) != std::string::npos) {
                v.started = true;
                started[size_t(v.port)].push_back(v.fd);
            }
            if (v.started)
                v.in.clear();
        }
        const double now = monotonic();
        for (size_t i = 0; i < ports.size(); ++i) {
            Port &p = ports[i];
            if (now < p.due)
                continue;
            p.due += period;
            if (p.due < now)
                p.due = now + period; // fell behind: no burst to catch up
            if (p.unit >= 0) {
                send(p.unit, "\xFF", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                continue;
            }
            const std::string frame = makeFrame(frameSize, p.sequence++);
            const std::string record = stamped(frame);
            double day = 0;
            std::memcpy(&day, record.data() + frame.size(), sizeof day);
            for (const int fd : started[i])
                send(fd, record.data(), record.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (p.trace) {
                std::string hex;
                hex.reserve(frame.size() * 2);
                static const char digits[] = "0123456789ABCDEF";
                for (const unsigned char c : frame) {
                    hex += digits[c >> 4];
                    hex += digits[c & 15];
                }
                std::fprintf(p.trace, "00:00:00.000 FRAME %.17g %s\n", day, hex.c_str());
                std::fflush(p.trace); // read while this runs; the simulators write theirs per frame too
            }
        }
    }
    for (Port &p : ports)
        if (p.trace)
            std::fclose(p.trace);
    return 0;
}
