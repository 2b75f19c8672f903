#!/usr/bin/env python3
"""End-to-end relay measurement: the real server, simulated units, real viewers.

Starts tolva-server in a scratch station with N simulated ARX units on TCP
(tolva-unitsim) on pages 1..N and relay servers 1..8 (server s serves page s,
log-in required), connects V viewers to each server that log in and start the
data, and after a warm-up measures for S seconds:

  server CPU %, and microseconds of server CPU per record delivered to a viewer
  wake-ups per second (voluntary context switches of the server, from /proc)
  latency from the unit's send (simulator trace) to the viewer's receipt
  records lost, duplicated or out of order at each viewer
  peak and final resident memory of the server

--unit kh71 (or kf71) puts streaming line-protocol units on the pages
instead, each sending --rate frames a second, and also reports the server CPU
per frame filed (each filed frame is also decoded, and logged for the KH-71;
--viewers 0 gives that cost without the relaying).

--idle runs the server with the 8 relay servers enabled and no units or
viewers, and reports CPU and wake-ups only.

--console on|off runs the server with its console (the default, as shipped)
or without it (Console.CFG enabled = 0), to compare the relay cost side by
side. --live N also connects N WebSocket clients to the console's /api/live
for the measured window (each from its own loopback address, 127.0.0.2
and up, as the console takes ten connections per address) and reports the server CPU per
update pushed (values updates as the clients count them; the relay viewers'
deliveries are counted apart):

    python3 bench/e2e_relay.py --headless --unit kh71 --rate 8 --units 1 --viewers 0 --live 50 --seconds 30
    python3 bench/e2e_relay.py --headless --units 8 --viewers 50 --console off --seconds 30

--link serial puts the units on pseudo-terminals (COM1..COM8 of the
station) instead of TCP.

--floor runs bench_send_floor (bench/send_floor.cpp) in the server's place:
the same ports, viewers, record size and rate, its own frames, nothing done
but one send() per record and viewer. Its figures are the cost of the send
itself, measured the same way as the server's:

    python3 bench/e2e_relay.py --floor --headless --units 8 --viewers 100 --seconds 30

--floor --poll-units has the floor poll simulated ARX units for its frames,
as the server's pages do, instead of making them: with --viewers 0 its CPU
per frame is the floor of the server's fixed work per frame filed. Each unit
is polled on its own phase, as each page is.

    python3 bench/e2e_relay.py --floor --poll-units --units 8 --viewers 0 --seconds 30

--floor-together has the floor make every port's frame (or poll every unit)
in one pass instead of spreading them over the period: polled, the cheapest
schedule (one wake-up for all), which the pages do not keep; made, what the
simulated line units do, as the pages start them all in the same tick:

    python3 bench/e2e_relay.py --floor --poll-units --floor-together --units 8 --viewers 0 --seconds 30
    python3 bench/e2e_relay.py --floor --floor-together --unit kh71 --units 8 --viewers 50 --seconds 30

--headless runs the server as the service does (no window; its loop then
waits on epoll); without it the server has its window, drawn off screen.

    python3 bench/e2e_relay.py --units 8 --viewers 50 --seconds 60
    python3 bench/e2e_relay.py --unit kh71 --rate 8 --units 1 --viewers 50 --seconds 60
    python3 bench/e2e_relay.py --idle --seconds 60
    python3 bench/e2e_relay.py --headless --units 8 --viewers 100 --seconds 60
"""
import argparse
import os
import random
import selectors
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SYNC = b"\xFF\xFE\xFD"


class Family:
    """What differs between an ARX unit and the line-protocol units."""

    def __init__(self, unit):
        self.unit = unit
        self.line = unit != "arx"
        self.frame = 1501 if self.line else 100
        self.record = self.frame + 8
        self.hardware = {"arx": 0, "kh71": 2, "kf71": 3}[unit]
        self.connected = {"arx": "ARX", "kh71": "HD", "kf71": "KF71"}[unit] + " Succesful Connection"
        self.login = b"SPbench:bench\r" if self.line else b"\x00bench:bench\xFE"
        self.reply_end = b"\r" if self.line else b"\xFF"
        self.start = b"SD\r" if self.line else b"\x04\xFE"


FAMILY = Family("arx")


def crlf(lines):
    return "".join(line + "\r\n" for line in lines).encode("latin-1")


def free_port():
    # Below the ephemeral range, so that no outgoing connection (of the
    # viewers, or of other work on the machine) takes it before the server.
    while True:
        port = random.randrange(20000, 32000)
        with socket.socket() as s:
            try:
                s.bind(("0.0.0.0", port))
                return port
            except OSError:
                pass


def page_config(station, n, port, serial=False):
    """Page n on the unit at TCP port `port`, or with serial on COM n; unused when port is None."""
    connect = port is not None
    network = connect and not serial
    # Baud index 3 for ARX (9600); the line units' first rate is index 0.
    baud = " 3" if FAMILY.hardware == 0 else " 0"
    return crlf([
        "%2d" % (FAMILY.hardware if connect else 0), "KELPO4", " 1" if network else " 0", "1" if connect else "0",
        "%2d" % (n - 1), baud, " 0", "",
        "127.0.0.1" if network else "000.000.000.000", "%6d" % (port if network else 0),
        os.path.join(station, "LOG") + "/", "Connect%d-" % n, "0", "Bench %d" % n, "Rack%d" % n, "", "0",
    ])


def day_number(epoch):
    """Days since 1899-12-30 in local time, as the simulator's trace writes them."""
    local = time.localtime(epoch)
    return (epoch + local.tm_gmtoff) / 86400.0 + 25569.0


def read_frames(trace_path):
    """[(day number, frame bytes)] of every frame the unit sent."""
    frames = []
    with open(trace_path, encoding="latin-1") as f:
        for line in f:
            parts = line.split()
            if len(parts) >= 4 and parts[1] == "FRAME":
                frames.append((float(parts[2]), bytes.fromhex(parts[3])[:FAMILY.frame]))
    return frames


def cpu_ns(pid):
    """CPU time of the process's threads in nanoseconds (schedstat): finer than
    the clock ticks of /proc/PID/stat, which an idle server hardly uses."""
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
                total += int(f.read().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            pass
    return total


def proc_stats(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    cpu_ticks = int(fields[11]) + int(fields[12])  # utime + stime
    voluntary = 0
    rss = hwm = 0
    for task in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/status" % (pid, task)) as f:
                for line in f:
                    if line.startswith("voluntary_ctxt_switches"):
                        voluntary += int(line.split()[1])
        except FileNotFoundError:
            pass
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS"):
                rss = int(line.split()[1])
            elif line.startswith("VmHWM"):
                hwm = int(line.split()[1])
    # The threads' own clocks (nanoseconds) where the kernel keeps them: the
    # clock ticks of utime and stime are 10 ms, too coarse for a quiet server.
    ns = cpu_ns(pid)
    return (ns / 1e9 if ns else cpu_ticks / os.sysconf("SC_CLK_TCK")), voluntary, rss, hwm


def cut_records(buf, family, now, out):
    """Appends (now, frame) for each whole record in buf; returns what is left of it."""
    while True:
        at = buf.find(SYNC)
        if at < 0:
            return buf[-2:]
        if len(buf) - at < family.record:
            return buf[at:]
        out.append((now, buf[at:at + family.frame]))
        buf = buf[at + family.record:]


def stop_processes(procs, wait_s):
    """SIGTERM to each still running, newest first; killed when not gone within wait_s."""
    for p in reversed(procs):
        if p.poll() is None:
            p.send_signal(signal.SIGTERM)
    for p in procs:
        try:
            p.wait(wait_s)
        except subprocess.TimeoutExpired:
            p.kill()


class Viewer:
    """One viewer; all of them are served by one selector loop, so that the
    time a record is stamped at is when its bytes came, not when a busy
    scheduler got round to that viewer."""

    def __init__(self, server, index):
        self.server = server
        self.index = index
        self.records = []  # (receive time, frame bytes)
        self.buf = b""
        self.closed = False

    def log_in(self, port):
        # A server takes at most ten connections from one address.
        local = ("127.0.%d.%d" % (1 + self.index // 2500, 1 + self.index // 10 % 250), 0)
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=30, source_address=local)
        self.sock.sendall(FAMILY.login)

    def start(self):
        reply = b""
        while not reply.endswith(FAMILY.reply_end):
            chunk = self.sock.recv(256)
            if not chunk:
                raise RuntimeError("log-in: connection closed")
            reply += chunk
        if b"VALID" not in reply or b"INVALID" in reply:
            raise RuntimeError("log-in refused: %r" % reply)
        self.sock.sendall(FAMILY.start)
        self.sock.setblocking(False)

    def feed(self, chunk, now):
        self.buf = cut_records(self.buf + chunk, FAMILY, now, self.records)


def match(viewer, frames, t0, t1):
    """Positions of the viewer's records among the unit's frames, latencies (ms) in the window."""
    index = {}
    for i, (_, body) in enumerate(frames):
        index.setdefault(body, []).append(i)
    positions, latencies = [], []
    last = -1
    for received, body in viewer.records:
        candidates = index.get(body)
        if not candidates:
            positions.append(None)
            continue
        pos = next((i for i in candidates if i > last), candidates[-1])
        last = max(last, pos)
        positions.append(pos)
        if t0 <= received <= t1:
            latencies.append((day_number(received) - frames[pos][0]) * 86400000.0)
    return positions, latencies


def run_viewers(ports, per_server, seconds, warmup, server_pid, live=()):
    viewers = [Viewer(s, i) for s in range(len(ports)) for i in range(per_server)]
    sel = selectors.DefaultSelector()
    # One at a time: a server refuses connections beyond 30 not yet logged in.
    for v in viewers:
        v.log_in(ports[v.server])
        v.start()
        sel.register(v.sock, selectors.EVENT_READ, v)
    for c in live:
        sel.register(c.sock, selectors.EVENT_READ, c)

    def pump(until):
        while True:
            left = until - time.time()
            if left <= 0:
                return
            for key, _ in sel.select(left):
                v = key.data
                try:
                    chunk = v.sock.recv(65536)
                except (BlockingIOError, InterruptedError):
                    continue
                except OSError:
                    chunk = b""
                if not chunk:
                    sel.unregister(v.sock)
                    v.closed = True
                    continue
                if isinstance(v, LiveClient):
                    v.feed(chunk)
                else:
                    v.feed(chunk, time.time())

    pump(time.time() + warmup)
    for c in live:
        c.counting = True
    before = proc_stats(server_pid)
    t0 = time.time()
    peak = before[3]
    end = t0 + seconds
    while time.time() < end:
        pump(min(end, time.time() + 1))
        peak = max(peak, proc_stats(server_pid)[3])
    after = proc_stats(server_pid)
    t1 = time.time()
    for c in live:
        c.counting = False
    pump(time.time() + 1.0)  # the last records in flight
    for v in viewers:
        v.sock.close()
    return viewers, before, after, t0, t1


class LiveClient:
    """A WebSocket client of the console's /api/live that counts the events."""

    def __init__(self, port, index, basic):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.%d" % (2 + index // 8), 0))
        self.sock.connect(("127.0.0.1", port))
        self.sock.sendall(b"GET /api/live HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                          b"Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                          b"Sec-WebSocket-Version: 13\r\nAuthorization: Basic " + basic + b"\r\n\r\n")
        self.buf = b""
        while b"\r\n\r\n" not in self.buf:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise RuntimeError("the console closed a live client")
            self.buf += chunk
        head, self.buf = self.buf.split(b"\r\n\r\n", 1)
        if b" 101 " not in head.split(b"\r\n")[0]:
            raise RuntimeError("no WebSocket: %r" % head[:80])
        self.sock.setblocking(False)
        self.counting = False
        self.events = self.values = self.bytes = 0
        self.closed = False

    def feed(self, chunk):
        self.buf += chunk
        while len(self.buf) >= 2:
            n, at = self.buf[1] & 0x7F, 2
            if n == 126:
                n, at = int.from_bytes(self.buf[2:4], "big"), 4
            elif n == 127:
                n, at = int.from_bytes(self.buf[2:10], "big"), 10
            if len(self.buf) < at + n:
                return
            payload, self.buf = self.buf[at:at + n], self.buf[at + n:]
            if self.counting:
                self.events += 1
                self.bytes += n
                self.values += b'"type":"values"' in payload


def percentile(values, p):
    if not values:
        return float("nan")
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100.0 * (len(values) - 1))))]


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(HERE, "..", "build"))
    ap.add_argument("--units", type=int, default=8)
    ap.add_argument("--viewers", type=int, default=50, help="viewers per server")
    ap.add_argument("--seconds", type=float, default=60)
    ap.add_argument("--warmup", type=float, default=5)
    ap.add_argument("--unit", choices=("arx", "kh71", "kf71"), default="arx")
    ap.add_argument("--rate", type=int, default=8, help="frames a second of a kh71/kf71 unit")
    ap.add_argument("--idle", action="store_true")
    ap.add_argument("--headless", action="store_true", help="run the server without its window, as the service")
    ap.add_argument("--keep", action="store_true", help="keep the scratch station")
    ap.add_argument("--console", choices=("on", "off"), default="on", help="the station console on or off")
    ap.add_argument("--live", type=int, default=0, help="WebSocket clients of the console (needs --console on)")
    ap.add_argument("--network", choices=("on", "off"), default="off",
                    help="Network.CFG publishing to a broker that is not there (it keeps trying), or none")
    ap.add_argument("--link", choices=("tcp", "serial"), default="tcp", help="the units on TCP or on pseudo-terminals")
    ap.add_argument("--floor", action="store_true", help="bench_send_floor in the server's place")
    ap.add_argument("--poll-units", action="store_true",
                    help="with --floor (ARX on TCP): the floor polls simulated units for its frames,"
                         " each on its own phase as the pages do")
    ap.add_argument("--floor-together", action="store_true",
                    help="with --floor: every port's frame (or poll) in one pass, not spread over the period")
    args = ap.parse_args()
    global FAMILY
    FAMILY = Family(args.unit)
    units = 0 if args.idle else max(0, min(8, args.units))
    build = os.path.abspath(args.build)

    station = tempfile.mkdtemp(prefix="tolva-bench-")
    for d in ("CONFIG", "LOG", "DLD"):
        os.makedirs(os.path.join(station, d))
    # The units hold their program already; the server still checks it.
    with open(os.path.join(station, "DLD", "KM71.DLD"), "wb") as f:
        f.write(crlf(["4660"] + [":10000%d00C2A5E1F0%d" % (i, i) for i in range(1, 7)]))
    procs = []
    try:
        if args.poll_units and (not args.floor or FAMILY.line or args.link != "tcp"):
            sys.exit("--poll-units goes with --floor, ARX units on TCP")
        if args.floor_together and not args.floor:
            sys.exit("--floor-together goes with --floor")
        if args.floor and not args.poll_units:
            run_floor(args, build, station, units, procs)
            return
        unit_ports = []
        serial = args.link == "serial"
        devices = []
        for n in range(1, units + 1):
            if serial:
                kind = ["--unit", args.unit, "--rate", str(args.rate)] if FAMILY.line else ["--loaded"]
                device = os.path.join(station, "com%d" % n)
                p = subprocess.Popen([os.path.join(build, "tolva-unitsim"), "--pty", "--link", device] + kind +
                                     ["--trace", os.path.join(station, "LOG", "unit-%d.trace" % n)],
                                     stdout=subprocess.PIPE, text=True)
                procs.append(p)
                p.stdout.readline()  # "PTY <path>": the link is there
                devices.append(device)
                unit_ports.append(0)
                continue
            kind = ["--unit", args.unit, "--rate", str(args.rate)] if FAMILY.line else ["--loaded"]
            p = subprocess.Popen([os.path.join(build, "tolva-unitsim"), "--tcp", "0"] + kind +
                                 ["--trace", os.path.join(station, "LOG", "unit-%d.trace" % n)],
                                 stdout=subprocess.PIPE, text=True)
            procs.append(p)
            line = p.stdout.readline().split()
            unit_ports.append(int(line[1]))
        if args.floor:
            run_floor(args, build, station, units, procs, unit_ports)
            return
        server_ports = [free_port() for _ in range(8)]
        if serial:
            with open(os.path.join(station, "CONFIG", "SerialPorts.CFG"), "wb") as f:
                f.write(crlf((devices + [""] * 9)[:9]))
        for n in range(1, 9):
            cfg = os.path.join(station, "CONFIG")
            with open(os.path.join(cfg, "Connect%d.CFG" % n), "wb") as f:
                f.write(page_config(station, n, unit_ports[n - 1] if n <= units else None, serial))
            with open(os.path.join(cfg, "Server%d.CFG" % n), "wb") as f:
                f.write(crlf(["%2d" % n, "1", "%6d" % server_ports[n - 1], "1"]))
            path = os.path.join(cfg, "Server%d.USR" % n)
            with open(path, "wb") as f:
                f.write(crlf([" 1", "bench", "bench", "Supervisor"]))
            os.chmod(path, 0o600)

        console_port = free_port()
        with open(os.path.join(station, "CONFIG", "Console.CFG"), "w") as f:
            f.write("enabled = %d\nport = %d\n" % (args.console == "on", console_port))
        if args.live:
            if args.console != "on":
                sys.exit("--live needs --console on")
            subprocess.run([os.path.join(build, "tolva-server"), "--base", station, "--console-user", "bench",
                            "--level", "Observer"], input=b"bench\n", check=True, stderr=subprocess.DEVNULL)
        if args.network == "on":
            with open(os.path.join(station, "CONFIG", "Network.CFG"), "w") as f:
                f.write("broker_host = 127.0.0.1\nbroker_port = %d\n" % free_port())
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        errlog = open(os.path.join(station, "server.err"), "w+")
        server = subprocess.Popen([os.path.join(build, "tolva-server")] + (["--headless"] if args.headless else []),
                                  cwd=station, env=env,
                                  stdout=subprocess.DEVNULL, stderr=errlog)
        procs.append(server)
        deadline = time.time() + 30
        while time.time() < deadline:
            with open(errlog.name) as f:
                text = f.read()
            if text.count(FAMILY.connected) >= units and all(
                    socket.socket().connect_ex(("127.0.0.1", p)) == 0 for p in server_ports):
                break
            time.sleep(0.2)
        else:
            sys.exit("the server did not connect its %d units in 30 s; see %s" % (units, errlog.name))

        mode = "server %s, %s, units on %s" % (build, "headless" if args.headless else "with its window (off screen)",
                                               args.link)
        if args.idle:
            time.sleep(args.warmup)
            before, t0 = proc_stats(server.pid), time.time()
            time.sleep(args.seconds)
            after, t1 = proc_stats(server.pid), time.time()
            load = "%.2f (1 min, at the window's end)" % os.getloadavg()[0]
            span = t1 - t0
            print("%s; load average %s" % (mode, load))
            print("idle: 8 servers enabled, no units, %.0f s; console %s, network %s" %
                  (span, args.console, args.network))
            print("  server CPU        %.3f %% of a core" % (100.0 * (after[0] - before[0]) / span))
            print("  wake-ups          %.1f /s" % ((after[1] - before[1]) / span))
            print("  RSS               %d KiB (peak %d KiB)" % (after[2], after[3]))
            return

        import base64
        live = [LiveClient(console_port, i, base64.b64encode(b"bench:bench")) for i in range(args.live)]
        viewers, before, after, t0, t1 = run_viewers(server_ports[:units], args.viewers, args.seconds, args.warmup,
                                                     server.pid, live)
        print("%s; load average %.2f (1 min, at the window's end); console %s" %
              (mode, os.getloadavg()[0], args.console))
        report(args, station, units, viewers, before, after, t0, t1, live)
    finally:
        stop_processes(procs, 5)
        if args.keep:
            print("station kept in", station)
        else:
            shutil.rmtree(station, ignore_errors=True)


def run_floor(args, build, station, units, procs, unit_ports=None):
    ports = [free_port() for _ in range(units)]
    # An ARX unit answers the page's poll every half second.
    rate = args.rate if FAMILY.line else 2
    # Polled units write their own traces; made frames are traced by the floor.
    source = (["--units", ",".join(map(str, unit_ports)), "--password", "KELPO4"] if unit_ports else
              ["--trace", os.path.join(station, "LOG", "unit-")])
    source += ["--phases", "together" if args.floor_together else "spread"]
    floor = subprocess.Popen([os.path.join(build, "bench_send_floor"), "--ports", ",".join(map(str, ports)),
                              "--frame", str(FAMILY.frame), "--rate", str(rate)] + source,
                             stdout=subprocess.PIPE, text=True)
    procs.append(floor)
    if floor.stdout.readline().strip() != "ready":
        sys.exit("bench_send_floor did not start")
    viewers, before, after, t0, t1 = run_viewers(ports, args.viewers, args.seconds, args.warmup, floor.pid)
    print("send floor %s; load average %.2f (1 min, at the window's end)" %
          (os.path.join(build, "bench_send_floor"), os.getloadavg()[0]))
    report(args, station, units, viewers, before, after, t0, t1, [])


def report(args, station, units, viewers, before, after, t0, t1, live):
    span = t1 - t0
    frames = [read_frames(os.path.join(station, "LOG", "unit-%d.trace" % n)) for n in range(1, units + 1)]
    deliveries = 0
    lat = []
    lost = dup = disorder = unknown = 0
    for v in viewers:
        positions, latencies = match(v, frames[v.server], t0, t1)
        lat += latencies
        deliveries += sum(1 for r, _ in v.records if t0 <= r <= t1)
        known = [p for p in positions if p is not None]
        unknown += len(positions) - len(known)
        dup += len(known) - len(set(known))
        disorder += sum(1 for a, b in zip(known, known[1:]) if b < a)
        if known:
            # Every frame the unit sent between the viewer's first record
            # and the end of the window should have reached it.
            end_day = day_number(t1 - 0.5)
            expected = {i for i in range(min(known), len(frames[v.server])) if frames[v.server][i][0] <= end_day}
            lost += len(expected - set(known))
    cpu = after[0] - before[0]
    # The page files what the unit sent, one tick behind at most.
    filed = sum(1 for f in frames for day, _ in f if day_number(t0) <= day <= day_number(t1))
    print("%d %s units, %d viewers per server, %.0f s" % (units, args.unit, args.viewers, span))
    if live:
        pushed = sum(c.values for c in live)
        print("  live clients      %d: %d events, %d values updates (%.1f /s per client), %.1f MB" %
              (len(live), sum(c.events for c in live), pushed, pushed / span / len(live),
               sum(c.bytes for c in live) / 1e6))
        print("  console           %.0f us server CPU per values update pushed (all of the server's work "
              "in the window, divided)" % (1e6 * (after[0] - before[0]) / pushed if pushed else float("nan")))
    print("  frames filed      %d (%.1f /s), %.0f us server CPU per frame filed, decoded and relayed" %
          (filed, filed / span, 1e6 * cpu / filed if filed else float("nan")))
    print("  deliveries        %d (%.0f /s)" % (deliveries, deliveries / span))
    print("  server CPU        %.2f %% of a core, %.1f us per delivery" %
          (100.0 * cpu / span, 1e6 * cpu / deliveries if deliveries else float("nan")))
    print("  wake-ups          %.1f /s" % ((after[1] - before[1]) / span))
    print("  latency (ms)      p50 %.1f  p99 %.1f  max %.1f" %
          (percentile(lat, 50), percentile(lat, 99), max(lat) if lat else float("nan")))
    print("  records           lost %d, duplicated %d, out of order %d, unknown %d" %
          (lost, dup, disorder, unknown))
    print("  viewers           %d, %d closed by the server" % (len(viewers), sum(v.closed for v in viewers)))
    print("  RSS               %d KiB at the window's start, %d KiB at its end (peak %d KiB)" %
          (before[2], after[2], max(after[3], before[3])))


if __name__ == "__main__":
    main()
