#!/usr/bin/env python3
"""Side-by-side runs of bench/e2e_relay.py for two or more builds.

Runs each build in turn, RUNS times, on the same machine in one sitting
(alternating, so that load from other work falls on all of them alike), and
prints one row per run and the median per build. Options after "--" go to
e2e_relay.py unchanged.

    python3 bench/e2e_compare.py --runs 3 before=/tmp/main after=build -- --headless --units 8 --viewers 100 --seconds 30
    python3 bench/e2e_compare.py --runs 3 before=/tmp/main after=build -- --headless --idle --seconds 20
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


def main():
    argv = sys.argv[1:]
    extra = argv[argv.index("--") + 1:] if "--" in argv else []
    argv = argv[:argv.index("--")] if "--" in argv else argv
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--verbose", action="store_true", help="also print each run's full output")
    ap.add_argument("builds", nargs="+", help="name=directory holding tolva-server and tolva-unitsim")
    args = ap.parse_args(argv)
    builds = [b.split("=", 1) for b in args.builds]
    print("e2e_relay.py %s, %d runs per build, alternating" % (" ".join(extra), args.runs))
    names = [n for n, _ in FIGURES]
    print("%-8s %-4s " % ("build", "run") + " ".join("%9s" % n for n in names))
    rows = {name: [] for name, _ in builds}
    for i in range(args.runs):
        for name, directory in builds:
            row, text = run(os.path.abspath(directory), extra)
            rows[name].append(row)
            print("%-8s %-4d " % (name, i + 1) + " ".join("%9s" % row[n] for n in names), flush=True)
            if args.verbose or row["CPU %"] == "-":
                print(text)
    for name, _ in builds:
        med = []
        for n in names:
            values = [float(r[n]) for r in rows[name] if r[n] not in ("-", "nan")]
            med.append("%9.1f" % statistics.median(values) if values else "%9s" % "-")
        print("%-8s %-4s " % (name, "med") + " ".join(med))
    for name, directory in builds:
        print("%s = %s" % (name, os.path.abspath(directory)))


if __name__ == "__main__":
    main()
