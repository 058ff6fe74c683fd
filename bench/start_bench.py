#!/usr/bin/env python3
"""The measuring half of bench/start_bench.sh.

Timing: each variant is a command line; every round runs each variant once,
in an order that rotates from round to round, in one Wine session
(run_jobs.exe: from CreateProcess to the end of the last process of the
job). The first round is left out (it warms the caches and fills the cache
folders). Prints a Markdown table: the median, the quartiles, and the
median's ratio to the relay's and to the direct start's.

Trace (--trace): runs each variant once more under Wine's loader trace and
lists the libraries its first process loads before it creates its program,
with the time from its first library to that moment."""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys

# jobs.py, the client of run_jobs.exe, lives with the mutation test.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "launcher", "tests", "mutation"))
from jobs import WINE_RUN, Runner  # noqa: E402


def quartiles(values):
    q = statistics.quantiles(values, n=4, method="inclusive")
    return q[0], q[2]


def time_variants(args, variants):
    if os.path.exists(args.scratch):
        shutil.rmtree(args.scratch)
    temp = os.path.join(args.scratch, "temp")
    os.makedirs(temp)
    runner = Runner(args.runner, args.scratch)
    out, err = os.path.join(args.scratch, "out.txt"), os.path.join(args.scratch, "err.txt")
    times = {name: [] for name, _ in variants}
    starts = {name: [] for name, _ in variants}
    try:
        for i in range(args.runs + 1):
            shift = i % len(variants)
            for name, command in variants[shift:] + variants[:shift]:
                r = runner.run(command, args.scratch, temp, out, err, 120000)
                if r is None or r["code"] != 0:
                    raise SystemExit("start_bench: %s failed: %s" % (name, r))
                if i > 0:
                    times[name].append(r["elapsed_us"] / 1e3)
                    # When the program's process began, after the first's.
                    starts[name].append(r["times"][-1][0] * 1e3 if len(r["times"]) > 1 else 0.0)
            if os.listdir(temp):
                raise SystemExit("start_bench: left behind in TEMP: %s" % os.listdir(temp))
    finally:
        runner.stop()
    return times, starts


def print_table(args, variants, times, starts):
    """Medians and quartiles of each start, and its ratio to the relay: the
    ratio of the medians and, steadier on a busy machine, the median of the
    ratios within each round (where both shared the same load)."""
    def ratios(name, floor):
        return [t / f for t, f in zip(times[name], times[floor])]

    direct = statistics.median(times[args.direct])
    rows = ["| Start | median (ms) | quartiles (ms) | program starts after (ms) | / relay, medians "
            "| / relay, per round [quartiles] | / direct |",
            "|---|---:|---:|---:|---:|---:|---:|"]
    for name, _ in variants:
        m = statistics.median(times[name])
        low, high = quartiles(times[name])
        per_round = ratios(name, args.relay)
        r_low, r_high = quartiles(per_round)
        rows.append("| %s | %.1f | %.1f-%.1f | %.1f | %.2f | %.2f [%.2f-%.2f] | %.2f |" % (
            name, m, low, high, statistics.median(starts[name]), m / statistics.median(times[args.relay]),
            statistics.median(per_round), r_low, r_high, m / direct))
    for group in args.group:
        # Another program's floor: its own direct and relayed starts.
        floor_direct, floor_relay, *names = group.split(",")
        for name in names:
            m = statistics.median(times[name])
            per_round = ratios(name, floor_relay)
            r_low, r_high = quartiles(per_round)
            rows.append("| %s, against its own relay and direct start | %.1f | | | %.2f | %.2f [%.2f-%.2f] | %.2f |" % (
                name, m, m / statistics.median(times[floor_relay]), statistics.median(per_round), r_low, r_high,
                m / statistics.median(times[floor_direct])))
    text = "\n".join(rows)
    print(text)
    print("\n%d rounds, alternating; the first round left out." % args.runs)
    if args.out:
        with open(args.out, "w") as f:
            f.write(text + "\n")


LOADED = re.compile(r'^([0-9.]+):([0-9a-f]+):trace:loaddll:\S+ Loaded L"([^"]+)"')
CREATED = re.compile(r"^([0-9.]+):([0-9a-f]+):trace:process:CreateProcessInternalW app")


def split_command(command):
    """A variant's command line ("PROGRAM" ARGS...) as a list."""
    if command.startswith('"'):
        program, rest = command[1:].split('"', 1)
        return [program] + rest.split()
    return command.split()


def trace_variant(command):
    """The libraries the first process of `command` loads before it creates
    its first process, and the seconds from its own image to then."""
    env = dict(os.environ, WINEDEBUG="+timestamp,+loaddll,+process")
    argv = split_command(command)
    image = argv[0].rsplit("\\", 1)[-1].lower()
    p = subprocess.run([WINE_RUN] + argv, env=env, capture_output=True, text=True, errors="replace")
    first_time, thread, loaded = None, None, []
    for line in p.stderr.splitlines():
        m = LOADED.match(line)
        if m:
            name = m.group(3).rsplit("\\", 1)[-1].lower()
            if thread is None and name == image:
                first_time, thread = float(m.group(1)), m.group(2)
            elif thread is not None:  # by any thread of the launcher: nothing else runs meanwhile
                loaded.append(name)
            continue
        m = CREATED.match(line)
        if m and m.group(2) == thread:
            return loaded, float(m.group(1)) - first_time
    return loaded, None


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--runner", required=True)
    ap.add_argument("--scratch", required=True)
    ap.add_argument("--variant", action="append", default=[], metavar="NAME=COMMAND LINE",
                    help="a start to time, in the table's order")
    ap.add_argument("--relay", required=True, help="the variant that is the floor of the ratios")
    ap.add_argument("--direct", required=True, help="the variant that starts the program directly")
    ap.add_argument("--group", action="append", default=[], metavar="DIRECT,RELAY,NAME...",
                    help="variants of another program, measured against that program's own floor")
    ap.add_argument("--trace", action="append", default=[], metavar="NAME",
                    help="list what this variant loads before its program starts, instead of timing")
    ap.add_argument("--out", help="also write the table here")
    args = ap.parse_args()
    variants = [tuple(v.split("=", 1)) for v in args.variant]
    if args.trace:
        for name, command in variants:
            if name in args.trace:
                trace_variant(command)  # the first start fills the cache folder
                loaded, seconds = trace_variant(command)
                when = "no program started" if seconds is None else "program created after %.3f s" % seconds
                print("%s (%s): %s" % (name, when, " ".join(loaded) or "(nothing)"))
        return
    print_table(args, variants, *time_variants(args, variants))


if __name__ == "__main__":
    main()
