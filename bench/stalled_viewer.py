#!/usr/bin/env python3
"""A viewer that reads nothing, against the real server with a simulated unit.

Starts tolva-server in a scratch station with one simulated unit (ARX, or a
KH-71 streaming at --rate frames a second) and relay server 1, connects one
viewer that reads and one that logs in, starts the data and then reads
nothing, and reports: when the deaf viewer's own kernel stopped taking records
(its receive queue stops growing), when the server dropped it (the viewer
sees the end of the stream), the most the server's kernel held for it (Send-Q
from ss), the server's resident memory, and whether the reading viewer lost
anything.

    python3 bench/stalled_viewer.py --unit kh71 --rate 2
    python3 bench/stalled_viewer.py --unit arx
"""
import argparse
import fcntl
import os
import re
import select
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import termios
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_relay as e2e  # noqa: E402


def send_q(port, local_port):
    out = subprocess.run(["ss", "-tnH", "sport", "= :%d" % port], capture_output=True, text=True).stdout
    for line in out.splitlines():
        f = line.split()
        if len(f) >= 5 and f[4].endswith(":%d" % local_port):
            return int(f[2])
    return 0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(e2e.HERE, "..", "build"))
    ap.add_argument("--unit", choices=("arx", "kh71"), default="kh71")
    ap.add_argument("--rate", type=int, default=2)
    ap.add_argument("--limit", type=float, default=600, help="give up after this many seconds")
    args = ap.parse_args()
    e2e.FAMILY = e2e.Family(args.unit)
    fam = e2e.FAMILY
    build = os.path.abspath(args.build)
    station = tempfile.mkdtemp(prefix="tolva-stall-")
    for d in ("CONFIG", "LOG", "DLD"):
        os.makedirs(os.path.join(station, d))
    with open(os.path.join(station, "DLD", "KM71.DLD"), "wb") as f:
        f.write(e2e.crlf(["4660"] + [":10000%d00C2A5E1F0%d" % (i, i) for i in range(1, 7)]))
    procs = []
    try:
        kind = ["--unit", args.unit, "--rate", str(args.rate)] if fam.line else ["--loaded"]
        unit = subprocess.Popen([os.path.join(build, "tolva-unitsim"), "--tcp", "0"] + kind,
                                stdout=subprocess.PIPE, text=True)
        procs.append(unit)
        unit_port = int(unit.stdout.readline().split()[1])
        port = e2e.free_port()
        cfg = os.path.join(station, "CONFIG")
        for n in range(1, 9):
            with open(os.path.join(cfg, "Connect%d.CFG" % n), "wb") as f:
                f.write(e2e.page_config(station, n, unit_port if n == 1 else None))
            with open(os.path.join(cfg, "Server%d.CFG" % n), "wb") as f:
                f.write(e2e.crlf(["%2d" % n, "1" if n == 1 else "0", "%6d" % (port if n == 1 else 0), "1"]))
            path = os.path.join(cfg, "Server%d.USR" % n)
            with open(path, "wb") as f:
                f.write(e2e.crlf([" 1", "bench", "bench", "Supervisor"]))
            os.chmod(path, 0o600)
        errlog = open(os.path.join(station, "server.err"), "w+")
        server = subprocess.Popen([os.path.join(build, "tolva-server"), "--headless"], cwd=station,
                                  stdout=subprocess.DEVNULL, stderr=errlog)
        procs.append(server)
        deadline = time.time() + 30
        while fam.connected not in open(errlog.name).read():
            if time.time() > deadline:
                sys.exit("the unit did not connect; see " + errlog.name)
            time.sleep(0.2)

        def viewer():
            s = socket.create_connection(("127.0.0.1", port))
            s.sendall(fam.login)
            reply = b""
            while not reply.endswith(fam.reply_end):
                reply += s.recv(100)
            s.sendall(fam.start)
            return s

        reader = viewer()
        reader.setblocking(False)
        deaf = viewer()
        local = deaf.getsockname()[1]
        start = time.time()
        got, last_q, last_growth, peak_send_q, peak_rss, dropped = 0, -1, start, 0, 0, None
        while time.time() - start < args.limit:
            time.sleep(0.1)
            try:
                while True:
                    chunk = reader.recv(65536)
                    if not chunk:
                        break
                    got += len(chunk)
            except BlockingIOError:
                pass
            q = struct.unpack("i", fcntl.ioctl(deaf.fileno(), termios.FIONREAD, b"\0\0\0\0"))[0]
            if q != last_q:
                last_q, last_growth = q, time.time()
            peak_send_q = max(peak_send_q, send_q(port, local))
            with open("/proc/%d/status" % server.pid) as f:
                peak_rss = max(peak_rss, int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1)))
            p = select.poll()
            p.register(deaf, select.POLLRDHUP | select.POLLHUP | select.POLLERR)
            if p.poll(0):
                dropped = time.time()
                break
        print("%s at %d records/s: deaf viewer's own kernel took %d bytes, its last at %.1f s"
              % (args.unit, args.rate if fam.line else 2, last_q, last_growth - start))
        if dropped:
            print("  dropped at %.1f s: %.1f s after the first record it failed to take"
                  % (dropped - start, dropped - last_growth))
        else:
            print("  NOT dropped within %.0f s" % args.limit)
        print("  most the server's kernel held for it: %d bytes (Send-Q); server RSS peak %d KiB" % (peak_send_q, peak_rss))
        print("  reading viewer received %d bytes (%d records)" % (got, got // fam.record))
        print("  server said: " + "".join(l for l in open(errlog.name) if "not reading" in l).strip())
    finally:
        for p in procs:
            p.terminate()
        for p in procs:
            p.wait()
        shutil.rmtree(station, ignore_errors=True)


if __name__ == "__main__":
    main()
