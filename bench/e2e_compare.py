#!/usr/bin/env python3
"""Side-by-side runs of bench/e2e_relay.py for two or more builds.

Runs each build in turn, RUNS times, on the same machine in one sitting
(alternating, so that load from other work falls on all of them alike), and
prints one row per run and the median per build. Options after "--" go to
e2e_relay.py unchanged.

    python3 bench/e2e_compare.py --runs 3 before=/tmp/main after=build -- --headless --units 8 --viewers 100 --seconds 30
    python3 bench/e2e_compare.py --runs 3 before=/tmp/main after=build -- --headless --idle --seconds 20

Each round also runs the send floor (bench_send_floor, "e2e_relay.py --floor":
one send() per record and viewer, nothing else) with the same options, and
each build's medians are printed beside the floor's as a ratio. --families
runs every round once per unit family (e2e_relay.py --unit), and the end
gives the cost and the latency at the viewers per family:

    python3 bench/e2e_compare.py --runs 3 --families arx,kh71,kf71 before=/tmp/main after=build -- --headless --units 8 --viewers 50 --seconds 30

--poll-floor has the floor poll the simulated ARX units for its frames
(e2e_relay.py --floor --poll-units), each on its own phase as the pages
poll; with --viewers 0 the CPU per frame filed is then set beside the
floor of that fixed work. --floor-together has the floor make (or poll)
all its ports' frames in one pass (e2e_relay.py --floor-together):

    python3 bench/e2e_compare.py --runs 3 --poll-floor after=build -- --headless --units 8 --viewers 0 --seconds 30
"""
import argparse
import os
import re
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
FIGURES = [  # (column, pattern in e2e_relay.py's output)
    ("us/deliv", r"of a core, ([\d.]+) us per delivery"),
    ("us/frame", r"([\d.]+) us server CPU per frame filed"),
    ("CPU %", r"server CPU\s+([\d.]+) %"),
    ("wake/s", r"wake-ups\s+([\d.]+)"),
    ("p50 ms", r"p50 ([\d.na]+)"),
    ("p99 ms", r"p99 ([\d.na]+)"),
    ("max ms", r"max ([\d.na]+)"),
    ("lost", r"lost (\d+)"),
    ("dup", r"duplicated (\d+)"),
    ("order", r"out of order (\d+)"),
    ("RSS KiB", r"RSS\s+(\d+) KiB"),
    ("load", r"load average ([\d.]+)"),
]


def run(build, extra):
    out = subprocess.run([sys.executable, os.path.join(HERE, "e2e_relay.py"), "--build", build] + extra,
                         capture_output=True, text=True)
    text = out.stdout + out.stderr
    row = {}
    for name, pattern in FIGURES:
        m = re.search(pattern, text)
        row[name] = m.group(1) if m else "-"
    return row, text


def medians(rows):
    out = {}
    for n, _ in FIGURES:
        values = [float(r[n]) for r in rows if r[n] not in ("-", "nan")]
        out[n] = statistics.median(values) if values else None
    return out


def cell(value):
    return "%9.1f" % value if value is not None else "%9s" % "-"


def main():
    argv = sys.argv[1:]
    extra = argv[argv.index("--") + 1:] if "--" in argv else []
    argv = argv[:argv.index("--")] if "--" in argv else argv
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--verbose", action="store_true", help="also print each run's full output")
    ap.add_argument("--families", default="", help="unit families to run in turn, e.g. arx,kh71,kf71")
    ap.add_argument("--floor", default="", help="directory of bench_send_floor (default: the last build's)")
    ap.add_argument("--no-floor", action="store_true", help="leave the send floor out")
    ap.add_argument("--poll-floor", action="store_true", help="the floor polls simulated ARX units for its frames")
    ap.add_argument("--floor-together", action="store_true", help="the floor's frames (or polls) all in one pass")
    ap.add_argument("builds", nargs="+", help="name=directory holding tolva-server and tolva-unitsim")
    args = ap.parse_args(argv)
    builds = [b.split("=", 1) for b in args.builds]
    floor_dir = os.path.abspath(args.floor or builds[-1][1])
    with_floor = not args.no_floor and "--idle" not in extra
    if with_floor:
        builds.append(["floor", floor_dir])
    families = [f for f in args.families.split(",") if f] or [None]
    print("e2e_relay.py %s, %d runs per build, alternating; families %s" %
          (" ".join(extra), args.runs, ", ".join(f or "as given" for f in families)))
    names = [n for n, _ in FIGURES]
    header = "%-6s %-8s %-4s " % ("family", "build", "run") + " ".join("%9s" % n for n in names)
    print(header)
    rows = {(f, name): [] for f in families for name, _ in builds}
    for i in range(args.runs):
        for f in families:
            for name, directory in builds:
                floor_opts = ["--floor"] + (["--poll-units"] if args.poll_floor else []) + (
                    ["--floor-together"] if args.floor_together else [])
                opts = extra + (["--unit", f] if f else []) + (floor_opts if name == "floor" else [])
                row, text = run(os.path.abspath(directory), opts)
                rows[(f, name)].append(row)
                print("%-6s %-8s %-4d " % (f or "-", name, i + 1) + " ".join("%9s" % row[n] for n in names),
                      flush=True)
                if args.verbose or row["CPU %"] == "-":
                    print(text)
    print()
    print(header.replace(" run ", " med "))
    med = {key: medians(r) for key, r in rows.items()}
    for f in families:
        for name, _ in builds:
            print("%-6s %-8s %-4s " % (f or "-", name, "med") + " ".join(cell(med[(f, name)][n]) for n in names))
    if with_floor:
        print()
        print("beside the send floor of the same rounds (medians; x floor = us per delivery / the floor's):")
        for f in families:
            floor = med[(f, "floor")]["us/deliv"]
            for name, _ in builds:
                if name == "floor":
                    continue
                m = med[(f, name)]
                ratio = m["us/deliv"] / floor if m["us/deliv"] is not None and floor else None
                print("  %-6s %-8s %6s us per delivery, floor %6s us, x floor %5s; latency p50 %s ms, p99 %s ms" %
                      (f or "-", name, "%.1f" % m["us/deliv"] if m["us/deliv"] is not None else "-",
                       "%.1f" % floor if floor is not None else "-", "%.2f" % ratio if ratio is not None else "-",
                       "%.1f" % m["p50 ms"] if m["p50 ms"] is not None else "-",
                       "%.1f" % m["p99 ms"] if m["p99 ms"] is not None else "-"))
        for f in families:
            floor = med[(f, "floor")]["us/frame"]
            for name, _ in builds:
                m = med[(f, name)]["us/frame"]
                if name != "floor" and m is not None and floor and med[(f, name)]["us/deliv"] is None:
                    print("  %-6s %-8s %6.1f us per frame filed, floor %6.1f us, x floor %5.2f" %
                          (f or "-", name, m, floor, m / floor))
    for name, directory in builds:
        print("%s = %s" % (name, os.path.abspath(directory)))


if __name__ == "__main__":
    main()
