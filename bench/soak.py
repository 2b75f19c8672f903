#!/usr/bin/env python3
"""Soak: the real server for a long while under churn, sampled each minute.

Starts tolva-server headless in a scratch station with eight simulated units,
two of each family (pages 1-2 ARX, 3-4 KH-71, 5-6 KF-71, 7-8 KX-71), every page
reconnecting by itself, and relay server n serving page n with log-in
required and the allowed client networks set to loopback. Then, until
--minutes are over:

  viewers (--viewers in all, spread over the eight servers, each from its own
  loopback /24) churn: connect, log in (now and then with a wrong password),
  start and read for 20-60 s, then go deaf (stop reading until the server
  drops them), reset the connection, or close it; and connect again. A KX-71
  viewer asks for a frame a second and, once a session, tries a settings
  command, which the server must not pass on.

  every 90 s one unit is cut (its simulator stopped) and restored 15 s later
  on the same port; the page reconnects by itself.

  the log directory (a small tmpfs mounted here when run as root, else
  skipped) is filled for a minute every five minutes, then freed.

Each minute it prints the server's RSS and descriptors, the message lines of
that minute (all, and socket errors among them), the viewer sessions that
ended, and the records checked against what the units sent: every record a
reading viewer got must be a frame its unit sent, in order, and none the unit
sent between a viewer's first and last record may be missing (KX-71 frames:
each reply must be a frame the unit sent).

    python3 bench/soak.py --minutes 10 --viewers 40
    python3 bench/soak.py --minutes 60 --viewers 80 --rate 4

The figures to look at: RSS and descriptors flat after the first minutes,
"lost 0 duplicated 0 out of order 0 unknown 0" throughout.
"""
import argparse
import os
import random
import selectors
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_relay as e2e  # noqa: E402  (the helpers of the end-to-end benchmark)

FAMILIES = ["arx", "arx", "kh71", "kh71", "kf71", "kf71", "kx71", "kx71"]
KX_HARDWARE = 1
KX_FRAME = 356
KX_END = b"\xF0\xF1"
TCP_CLOSE, TCP_CLOSE_WAIT = 7, 8  # tcpi_state of struct tcp_info


def family_of(unit):
    return None if unit == "kx71" else e2e.Family(unit)


class UnitFrames:
    """The frames one unit sent, read from its trace as it grows."""

    def __init__(self, path, unit):
        self.path, self.unit = path, unit
        self.offset = 0
        self.frames = []  # (day number, bytes) in order
        self.index = {}   # bytes: [positions]
        self.kx = set()   # KX-71: the frames sent, unordered (a viewer gets the page's newest)

    def refresh(self):
        if not os.path.exists(self.path):
            return
        with open(self.path, encoding="latin-1") as f:
            f.seek(self.offset)
            while True:
                line = f.readline()
                if not line.endswith("\n"):
                    break
                self.offset = f.tell()
                parts = line.split()
                if len(parts) < 4 or parts[1] != "FRAME":
                    continue
                if self.unit == "kx71":
                    self.kx.add(bytes.fromhex(parts[3])[:KX_FRAME])
                else:
                    body = bytes.fromhex(parts[3])[:family_of(self.unit).frame]
                    self.index.setdefault(body, []).append(len(self.frames))
                    self.frames.append((float(parts[2]), body))


def locate(session, unit):
    """Positions of a session's records among the unit's frames. A restarted
    simulator sends the same frames again, so a record is the latest frame
    of its content sent before it came (not the first one, as for a unit
    that runs throughout)."""
    positions = []
    for received, body in session.records:
        day = e2e.day_number(received) + 1.0 / 86400  # clocks read a little apart
        found = None
        for i in reversed(unit.index.get(body, ())):
            if unit.frames[i][0] <= day:
                found = i
                break
        positions.append(found)
    return positions


class Session:
    """One viewer connection from connect to close."""

    def __init__(self, viewer):
        self.viewer = viewer
        self.records = []  # (time, frame bytes)
        self.buf = b""
        self.kx_refused = False


class Viewer:
    def __init__(self, server, index, port, unit):
        self.server, self.index, self.port, self.unit = server, index, port, unit
        self.family = family_of(unit)
        self.source = "127.%d.%d.1" % (10 + server, index)  # a /24 of its own
        self.sock = None
        self.state = "idle"
        self.next_at = time.time() + random.uniform(0, 10)
        self.session = None
        self.wrong = False

    def connect(self, sel, now):
        self.sock = socket.socket()
        # A small receive window, so that a viewer that goes deaf fills it
        # (and the server's queue) within seconds, not minutes.
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8192)
        self.sock.bind((self.source, 0))
        self.sock.setblocking(False)
        try:
            self.sock.connect(("127.0.0.1", self.port))
        except BlockingIOError:
            pass
        self.session = Session(self)
        self.wrong = random.random() < 0.05
        self.state = "login"
        self.reply = b""
        sel.register(self.sock, selectors.EVENT_READ | selectors.EVENT_WRITE, self)
        self.sent_login = False
        self.next_at = now + 15  # must be logged in by then

    def send(self, data):
        try:
            self.sock.send(data)
        except OSError:
            pass


def hard_close(sock):
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    sock.close()


class Soak:
    def __init__(self, args):
        self.args = args
        self.sel = selectors.DefaultSelector()
        self.ended = []   # sessions ended since the last check
        self.stats = dict(sessions=0, deaf_dropped=0, resets=0, refused=0, kx_settings_tried=0)
        self.check = dict(records=0, lost=0, dup=0, disorder=0, unknown=0, kx=0, kx_unknown=0, kx_changed=0)

    # --- viewers -------------------------------------------------------
    def end(self, v, how, now):
        if v.sock is not None:
            try:
                self.sel.unregister(v.sock)
            except (KeyError, ValueError):
                pass
            if how == "reset":
                hard_close(v.sock)
            else:
                v.sock.close()
        v.sock = None
        if v.session is not None and v.session.records:
            self.ended.append(v.session)
        v.session = None
        v.state = "idle"
        v.next_at = now + random.uniform(1, 5)
        self.stats["sessions"] += 1

    def on_readable(self, v, now):
        try:
            chunk = v.sock.recv(65536)
        except (BlockingIOError, InterruptedError):
            return
        except OSError:
            chunk = b""
        if not chunk:
            if v.state == "deaf":
                self.stats["deaf_dropped"] += 1
            elif v.state == "login":
                self.stats["refused"] += 1
            self.end(v, "closed", now)
            return
        if v.state == "login":
            v.reply += chunk
            end = KX_END if v.family is None else v.family.reply_end
            if v.family is None or not v.reply.endswith(end):
                return
            if b"VALID" in v.reply and b"INVALID" not in v.reply:
                v.send(v.family.start)
                v.state = "reading"
                v.next_at = now + random.uniform(20, 60)
            else:
                self.end(v, "closed", now)
            return
        s = v.session
        if v.family is None:
            s.buf += chunk
            while len(s.buf) >= KX_FRAME:
                at = s.buf.find(b"\xFF\xFE\xFD\xFC")
                if at < 0:
                    s.buf = s.buf[-3:]
                    break
                if len(s.buf) - at < KX_FRAME:
                    s.buf = s.buf[at:]
                    break
                s.records.append((now, s.buf[at:at + KX_FRAME]))
                s.buf = s.buf[at + KX_FRAME:]
            return
        s.buf = e2e.cut_records(s.buf + chunk, v.family, now, s.records)

    def on_writable(self, v, now):
        self.sel.modify(v.sock, selectors.EVENT_READ, v)
        if v.sock.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR):
            self.stats["refused"] += 1
            self.end(v, "closed", now)
            return
        if v.family is None:
            v.state = "reading"  # the analyzer's dialect has no log-in
            v.next_at = now + random.uniform(20, 60)
            v.kx_poll = now
            return
        login = v.family.login
        if v.wrong:
            login = login.replace(b"bench:bench", b"bench:guess")
        v.send(login)

    def step(self, v, now):
        if v.state == "idle" and now >= v.next_at:
            v.connect(self.sel, now)
        elif v.state == "login" and now >= v.next_at:
            self.end(v, "closed", now)
        elif v.state == "reading":
            if v.family is None and now >= v.kx_poll:
                v.kx_poll = now + 1
                v.send(b"D1\r")
                if not v.session.kx_refused and random.random() < 0.05:
                    v.session.kx_refused = True
                    self.stats["kx_settings_tried"] += 1
                    v.send(b"M1SOAK\r")
            if now >= v.next_at:
                how = random.choice(("deaf", "reset", "close"))
                if how == "deaf":
                    v.state = "deaf"
                    self.sel.unregister(v.sock)
                    v.next_at = now + 150  # the server drops a line viewer well before
                    v.deaf_sel = False
                else:
                    if how == "reset":
                        self.stats["resets"] += 1
                    self.end(v, how, now)
        elif v.state == "deaf":
            # Looks only for the server's close or reset, without reading the
            # data (a read would report the reset only after the data).
            state = v.sock.getsockopt(socket.IPPROTO_TCP, socket.TCP_INFO, 1)[0]
            if state in (TCP_CLOSE, TCP_CLOSE_WAIT):
                self.stats["deaf_dropped"] += 1
                v.session.records = []  # what a deaf viewer got is not checked
                self.end(v, "closed", now)
                return
            if now >= v.next_at:
                v.session.records = []
                self.end(v, "reset", now)

    # --- checks --------------------------------------------------------
    def check_sessions(self, units):
        for u in units:
            u.refresh()
        for s in self.ended:
            u = units[s.viewer.server]
            if s.viewer.family is None:
                self.check["kx"] += len(s.records)
                for _, body in s.records:
                    if body not in u.kx:
                        self.check["kx_unknown"] += 1
                    if b"SOAK" in body:
                        self.check["kx_changed"] += 1
                continue
            positions = locate(s, u)
            known = [p for p in positions if p is not None]
            self.check["records"] += len(positions)
            self.check["unknown"] += len(positions) - len(known)
            self.check["dup"] += len(known) - len(set(known))
            self.check["disorder"] += sum(1 for a, b in zip(known, known[1:]) if b < a)
            if known:
                missing = sorted(set(range(min(known), max(known) + 1)) - set(known))
                self.check["lost"] += len(missing)
                if missing and self.args.verbose:
                    when = lambda i: time.strftime("%H:%M:%S", time.localtime(
                        (u.frames[i][0] - 25569.0) * 86400 - time.localtime().tm_gmtoff))
                    print("  server %d (%s): %d of %d frames missing between %s and %s; session %s..%s" %
                          (s.viewer.server + 1, u.unit, len(missing), max(known) - min(known) + 1,
                           when(missing[0]), when(missing[-1]), when(min(known)), when(max(known))), flush=True)
        self.ended = []


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(e2e.HERE, "..", "build"))
    ap.add_argument("--minutes", type=float, default=10)
    ap.add_argument("--viewers", type=int, default=40, help="viewers in all, spread over the eight servers")
    ap.add_argument("--rate", type=int, default=4, help="frames a second of a KH-71/KF-71 unit")
    ap.add_argument("--keep", action="store_true", help="keep the scratch station")
    ap.add_argument("--cut-every", type=float, default=90, help="seconds between unit cuts")
    ap.add_argument("--verbose", action="store_true", help="say where a viewer missed frames")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    random.seed(24)
    # Stopped with a signal, it still stops the server and the units and
    # unmounts the log directory.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(3))
    signal.signal(signal.SIGINT, lambda *_: sys.exit(3))

    station = tempfile.mkdtemp(prefix="tolva-soak-")
    for d in ("CONFIG", "LOG", "DLD", "TRACE"):
        os.makedirs(os.path.join(station, d))
    with open(os.path.join(station, "DLD", "KM71.DLD"), "wb") as f:
        f.write(e2e.crlf(["4660"] + [":10000%d00C2A5E1F0%d" % (i, i) for i in range(1, 7)]))
    log_dir = os.path.join(station, "LOG")
    mounted = False
    if os.geteuid() == 0:
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=16m", "tmpfs", log_dir]).returncode == 0
    units, procs = [], []
    unit_procs = [None] * 8
    unit_ports = [0] * 8

    def start_unit(n, port):
        unit = FAMILIES[n]
        kind = ["--unit", unit] + (["--rate", str(args.rate)] if unit in ("kh71", "kf71") else [])
        if unit == "arx":
            kind = ["--loaded"]
        p = subprocess.Popen([os.path.join(build, "tolva-unitsim"), "--tcp", str(port)] + kind +
                             ["--trace", os.path.join(station, "TRACE", "unit-%d.trace" % (n + 1))],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = p.stdout.readline().split()
        unit_procs[n] = p
        return int(line[1])

    server = None
    try:
        for n in range(8):
            unit_ports[n] = start_unit(n, 0)
            units.append(UnitFrames(os.path.join(station, "TRACE", "unit-%d.trace" % (n + 1)), FAMILIES[n]))
        server_ports = [e2e.free_port() for _ in range(8)]
        cfg = os.path.join(station, "CONFIG")
        for n in range(8):
            fam = family_of(FAMILIES[n])
            e2e.FAMILY = fam or e2e.Family("arx")
            text = e2e.page_config(station, n + 1, unit_ports[n]).split(b"\r\n")
            text[0] = b"%2d" % (fam.hardware if fam else KX_HARDWARE)
            text[-1] = b"1"  # line 18: reconnect by itself
            with open(os.path.join(cfg, "Connect%d.CFG" % (n + 1)), "wb") as f:
                f.write(b"\r\n".join(text) + b"\r\n")
            with open(os.path.join(cfg, "Server%d.CFG" % (n + 1)), "wb") as f:
                f.write(e2e.crlf(["%2d" % (n + 1), "1", "%6d" % server_ports[n], "1", "", "127.0.0.0/8, ::1"]))
            path = os.path.join(cfg, "Server%d.USR" % (n + 1))
            with open(path, "wb") as f:
                f.write(e2e.crlf([" 1", "bench", "bench", "Supervisor"]))
            os.chmod(path, 0o600)
        with open(os.path.join(cfg, "Console.CFG"), "w") as f:
            f.write("enabled = 0\n")
        errlog = open(os.path.join(station, "server.err"), "w+")
        server = subprocess.Popen([os.path.join(build, "tolva-server"), "--headless"], cwd=station,
                                  env=dict(os.environ, QT_QPA_PLATFORM="offscreen"),
                                  stdout=subprocess.DEVNULL, stderr=errlog)
        deadline = time.time() + 60
        while time.time() < deadline and not all(socket.socket().connect_ex(("127.0.0.1", p)) == 0
                                                 for p in server_ports):
            time.sleep(0.5)

        soak = Soak(args)
        viewers = [Viewer(i % 8, i // 8, server_ports[i % 8], FAMILIES[i % 8]) for i in range(args.viewers)]
        start = time.time()
        end = start + args.minutes * 60
        next_sample = start + 60
        next_cut, cut = start + args.cut_every, None
        next_fill, fill = start + 120, None
        lines_seen = 0
        print("soak: %s, %d viewers, %.0f min, log directory %s" %
              (build, args.viewers, args.minutes, "tmpfs 16 MiB (filled and freed)" if mounted else
               "not filled (not root)"))
        print("min   RSS KiB  fds  lines  sock-err  sessions  deaf-drop  resets  records  lost dup disorder unknown"
              "  kx  kx-bad")
        rss0 = fds0 = None
        samples = []
        while time.time() < end:
            now = time.time()
            for v in viewers:
                soak.step(v, now)
            for key, ev in soak.sel.select(0.1):
                v = key.data
                if v.sock is None:
                    continue
                if ev & selectors.EVENT_WRITE and v.state == "login" and not v.sent_login:
                    v.sent_login = True
                    soak.on_writable(v, time.time())
                elif ev & selectors.EVENT_READ:
                    soak.on_readable(v, time.time())
            if cut is None and now >= next_cut:
                cut = (random.randrange(8), now + 15)
                unit_procs[cut[0]].send_signal(signal.SIGTERM)
                unit_procs[cut[0]].wait(5)
            elif cut is not None and now >= cut[1]:
                start_unit(cut[0], unit_ports[cut[0]])
                cut, next_cut = None, now + args.cut_every
            if mounted and fill is None and now >= next_fill:
                fill = now + 60
                # Unbuffered: the closing flush must not raise the full disk again.
                with open(os.path.join(log_dir, "fill"), "wb", buffering=0) as f:
                    try:
                        while True:
                            f.write(b"\0" * (1 << 20))
                    except OSError:
                        pass
            elif fill is not None and now >= fill:
                os.remove(os.path.join(log_dir, "fill"))
                fill, next_fill = None, now + 240
            if now >= next_sample:
                next_sample += 60
                soak.check_sessions(units)
                _, _, rss, _ = e2e.proc_stats(server.pid)
                fds = len(os.listdir("/proc/%d/fd" % server.pid))
                with open(errlog.name, encoding="utf-8", errors="replace") as f:
                    lines = f.read().splitlines()
                minute = lines[lines_seen:]
                lines_seen = len(lines)
                c, st = soak.check, soak.stats
                row = (round((now - start) / 60), rss, fds, len(minute), sum("Socket Error" in l for l in minute),
                       st["sessions"], st["deaf_dropped"], st["resets"], c["records"], c["lost"], c["dup"],
                       c["disorder"], c["unknown"], c["kx"], c["kx_unknown"] + c["kx_changed"])
                samples.append(row)
                print("%3d %9d %4d %6d %9d %9d %10d %7d %8d %5d %3d %8d %7d %4d %7d" % row, flush=True)
        soak.check_sessions(units)
        for v in viewers:
            if v.sock is not None:
                soak.end(v, "closed", time.time())
        soak.check_sessions(units)
        c = soak.check
        print("ran %.1f min; checked %d records and %d KX-71 frames: lost %d, duplicated %d, out of order %d, "
              "unknown %d, KX-71 unknown %d, KX-71 frames showing a relayed setting %d (settings tried %d)" %
              ((time.time() - start) / 60, c["records"], c["kx"], c["lost"], c["dup"], c["disorder"], c["unknown"],
               c["kx_unknown"], c["kx_changed"], soak.stats["kx_settings_tried"]))
        if len(samples) >= 4:
            warm = samples[2:]
            print("after warm-up (minute 3 on): RSS %d..%d KiB, descriptors %d..%d" %
                  (min(r[1] for r in warm), max(r[1] for r in warm), min(r[2] for r in warm),
                   max(r[2] for r in warm)))
        print("server alive: %s" % (server.poll() is None))
        bad = c["lost"] + c["dup"] + c["disorder"] + c["unknown"] + c["kx_unknown"] + c["kx_changed"]
        sys.exit(1 if bad or server.poll() is not None else 0)
    finally:
        # The server is stopped first (stop_processes goes newest first).
        e2e.stop_processes([p for p in unit_procs + [server] if p is not None], 5)
        if mounted:
            subprocess.run(["umount", "-l", log_dir])
        if args.keep:
            print("station kept in", station)
        else:
            shutil.rmtree(station, ignore_errors=True)


if __name__ == "__main__":
    main()
