#!/usr/bin/python3
"""The station network at scale: N copies of the program publishing to one
mosquitto on this machine, one subscriber counting what arrives.

Each copy runs headless in its own scratch station with one simulated KH-71
(tolva-unitsim, --rate frames a second) on page 1, relay servers off, no
console, and publishes with publish_records = 1 (every filed record, QoS 0, at
once: that is what makes a frame-to-subscriber latency measurable; values go
out at most once a second). One paho subscriber on PREFIX/# stamps arrivals.
After a warm-up, for --seconds:

  messages published per copy and in all (what the subscriber received)
  CPU of all copies together per message published (us), and % of a core each
  latency from the unit's send (simulator trace) to the subscriber (p50, p99)
  the broker's CPU (% of a core) and per message
  nothing lost: every frame a unit sent in the window reached the subscriber
  as a record once, and message-line ids have no gaps

Run it with Debian's Python (python3-paho-mqtt; the setup script installs it):

    /usr/bin/python3 bench/network_scale.py --copies 20 --seconds 60
"""
import argparse
import calendar
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

import paho.mqtt.client as mqtt

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from e2e_relay import crlf, free_port, stop_processes  # noqa: E402  (the end-to-end benchmark's helpers)
FRAME = 1501  # a KH-71 frame; a record is the frame and an 8-byte stamp


def page_config(station, port):
    return crlf(["%2d" % 2, "KELPO4", " 1", "1", " 0", " 3", " 0", "", "127.0.0.1", "%6d" % port,
                 os.path.join(station, "LOG") + "/", "Connect1-", "0", "Bench", "Rack1", "", "0"])


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def day_to_epoch(day):
    """The simulator's trace writes local day numbers (days since 1899-12-30)."""
    guess = (day - 25569.0) * 86400.0
    return guess - time.localtime(guess).tm_gmtoff


def read_frames(path):
    frames = {}
    with open(path, encoding="latin-1") as f:
        for line in f:
            parts = line.split()
            if len(parts) >= 4 and parts[1] == "FRAME":
                frames[bytes.fromhex(parts[3])[:FRAME]] = day_to_epoch(float(parts[2]))
    return frames


def percentile(values, p):
    if not values:
        return float("nan")
    values = sorted(values)
    return values[min(len(values) - 1, int(p / 100.0 * len(values)))]


class Counter:
    def __init__(self):
        self.lock = threading.Lock()
        self.arrivals = []  # (time, topic, payload)
        self.recording = False

    def on_message(self, client, userdata, msg):
        now = time.time()
        if self.recording:
            with self.lock:
                self.arrivals.append((now, msg.topic, msg.payload))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(HERE, "..", "build"))
    ap.add_argument("--copies", type=int, default=20)
    ap.add_argument("--rate", type=int, default=4, help="frames a second per unit")
    ap.add_argument("--seconds", type=float, default=40)
    ap.add_argument("--warmup", type=float, default=8)
    ap.add_argument("--keep", action="store_true")
    ap.add_argument("--network", choices=("on", "off"), default="on",
                    help="off: the same copies without Network.CFG, for the copies' CPU without publishing")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    root = tempfile.mkdtemp(prefix="tolva-netbench-")
    procs = []
    try:
        port = free_port()
        with open(os.path.join(root, "mosquitto.conf"), "w") as f:
            f.write("listener %d 127.0.0.1\nallow_anonymous true\nmax_queued_messages 100000\n"
                    "log_dest none\n" % port)
        broker = subprocess.Popen(["mosquitto", "-c", os.path.join(root, "mosquitto.conf")])
        procs.append(broker)
        deadline = time.time() + 10
        while socket.socket().connect_ex(("127.0.0.1", port)) != 0:
            if time.time() > deadline:
                sys.exit("mosquitto did not start")
            time.sleep(0.1)

        counter = Counter()
        sub = mqtt.Client(client_id="bench-subscriber", clean_session=True)
        sub.on_message = counter.on_message
        sub.connect("127.0.0.1", port)
        sub.subscribe("tolva/#", qos=1)
        sub.loop_start()

        stations = []
        for n in range(1, args.copies + 1):
            station = os.path.join(root, "s%02d" % n)
            for d in ("CONFIG", "LOG", "DLD"):
                os.makedirs(os.path.join(station, d))
            trace = os.path.join(station, "unit.trace")
            sim = subprocess.Popen([os.path.join(build, "tolva-unitsim"), "--tcp", "0", "--unit", "kh71",
                                    "--rate", str(args.rate), "--trace", trace], stdout=subprocess.PIPE, text=True)
            procs.append(sim)
            unit_port = int(sim.stdout.readline().split()[1])
            cfg = os.path.join(station, "CONFIG")
            with open(os.path.join(cfg, "Connect1.CFG"), "wb") as f:
                f.write(page_config(station, unit_port))
            with open(os.path.join(cfg, "Console.CFG"), "w") as f:
                f.write("enabled = 0\n")
            if args.network == "on":
                with open(os.path.join(cfg, "Network.CFG"), "w") as f:
                    f.write("broker_host = 127.0.0.1\nbroker_port = %d\nstation = s%02d\npublish_records = 1\n"
                            % (port, n))
            err = open(os.path.join(station, "server.err"), "w")
            server = subprocess.Popen([os.path.join(build, "tolva-server"), "--headless"], cwd=station,
                                      stdout=subprocess.DEVNULL, stderr=err)
            procs.append(server)
            stations.append((station, trace, server))

        time.sleep(args.warmup)
        counter.recording = True
        before = [cpu_seconds(s[2].pid) for s in stations]
        broker_before = cpu_seconds(broker.pid)
        t0 = time.time()
        time.sleep(args.seconds)
        t1 = time.time()
        after = [cpu_seconds(s[2].pid) for s in stations]
        broker_after = cpu_seconds(broker.pid)
        time.sleep(1.0)  # what was sent inside the window arrives
        counter.recording = False
        load = os.getloadavg()[0]
        span = t1 - t0

        arrivals = [a for a in counter.arrivals if a[0] <= t1 + 1.0]
        in_window = [a for a in arrivals if a[0] <= t1]
        published = len(in_window)
        kinds = {}
        sizes = {}
        for _, topic, payload in in_window:
            kind = topic.split("/", 2)[2]
            kind = "pages/N/" + kind.split("/")[-1] if kind.startswith("pages/") else kind.split("/")[0]
            sizes[kind] = sizes.get(kind, 0) + len(payload)
        for _, topic, _ in in_window:
            kind = topic.split("/", 2)[2]
            kind = "pages/N/" + kind.split("/")[-1] if kind.startswith("pages/") else kind.split("/")[0]
            kinds[kind] = kinds.get(kind, 0) + 1

        # The broker path alone: a values payload is stamped when published.
        path = []
        for when, topic, payload in in_window:
            if topic.endswith("/values"):
                at = json.loads(payload)["at"]
                stamp = calendar.timegm(time.strptime(at[:19], "%Y-%m-%dT%H:%M:%S")) + float("0" + at[19:23])
                path.append(when - stamp)
        latencies, lost, dup, sent = [], 0, 0, 0
        gaps = 0
        for n, (station, trace, _) in enumerate(stations, 1):
            frames = read_frames(trace)
            got = {}
            ids = []
            for when, topic, payload in arrivals:
                if topic == "tolva/s%02d/pages/1/records" % n:
                    key = payload[:FRAME]
                    got[key] = got.get(key, 0) + 1
                    if key in frames and t0 <= frames[key] <= t1:
                        latencies.append(when - frames[key])
                elif topic == "tolva/s%02d/messages" % n:
                    ids.append(json.loads(payload)["id"])
            window = [k for k, at in frames.items() if t0 + 0.5 <= at <= t1 - 0.5]
            sent += len(window)
            lost += sum(1 for k in window if k not in got)
            dup += sum(1 for k in window if got.get(k, 0) > 1)
            gaps += sum(1 for a, b in zip(ids, ids[1:]) if b != a + 1)

        cpu = sum(a - b for a, b in zip(after, before))
        print("%d copies, one KH-71 each at %d frames/s, one mosquitto, one subscriber; %.0f s window; load %.2f"
              % (args.copies, args.rate, span, load))
        print("  received            %d messages (%.0f /s): %s" % (published, published / span,
                                                                  ", ".join("%s %d" % kv for kv in sorted(kinds.items()))))
        print("  mean payload        %s" % ", ".join("%s %d B" % (k, sizes[k] // kinds[k]) for k in sorted(kinds)))
        if args.network == "off":
            print("  copies' CPU         %.2f %% of a core each (nothing published)" % (100.0 * cpu / span / args.copies))
            return
        print("  copies' CPU         %.2f %% of a core each, %.1f us per message published"
              % (100.0 * cpu / span / args.copies, 1e6 * cpu / max(1, published)))
        print("  broker CPU          %.2f %% of a core, %.1f us per message"
              % (100.0 * (broker_after - broker_before) / span, 1e6 * (broker_after - broker_before) / max(1, published)))
        print("  frame -> subscriber p50 %.1f ms, p99 %.1f ms, max %.1f ms (%d records)"
              % (1e3 * percentile(latencies, 50), 1e3 * percentile(latencies, 99),
                 1e3 * max(latencies or [float("nan")]), len(latencies)))
        print("  publish -> subscriber p50 %.1f ms, p99 %.1f ms (values, stamped when published)"
              % (1e3 * percentile(path, 50), 1e3 * percentile(path, 99)))
        print("  lost                %d of %d frames sent in the window, %d twice; message-id gaps %d"
              % (lost, sent, dup, gaps))
        sub.loop_stop()
    finally:
        stop_processes(procs, 10)
        if args.keep:
            print("kept", root)
        else:
            shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
