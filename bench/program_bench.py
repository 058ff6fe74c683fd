#!/usr/bin/env python3
"""The measuring half of bench/program_bench.sh: start-up of a program run
directly, packed, and packed with --cache (second start), as medians of
--runs rounds in one Wine session (run_jobs.exe: from CreateProcess to the
end of the process, no Wine start-up of its own). Each round runs the three
one after another, so that they share the machine's state."""
import argparse
import os
import shutil
import statistics
import sys

# jobs.py, the client of run_jobs.exe, lives with the mutation test.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "launcher", "tests", "mutation"))
from jobs import Runner, win_path  # noqa: E402


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--runner", required=True)
    ap.add_argument("--scratch", required=True)
    ap.add_argument("--direct", required=True, help="the program in an unpacked tree")
    ap.add_argument("--uncached", required=True, help="the packed program")
    ap.add_argument("--cached", required=True, help="the packed program with --cache beside it")
    ap.add_argument("--tree", required=True, help="the tree's description for the table")
    ap.add_argument("--program", required=True, help="the program's description for the table")
    ap.add_argument("--args", default="", help="the program's arguments, as a command line's tail")
    ap.add_argument("--out", help="also append the table's row here")
    args = ap.parse_args()
    if os.path.exists(args.scratch):
        shutil.rmtree(args.scratch)
    temp = os.path.join(args.scratch, "temp")
    os.makedirs(temp)
    runner = Runner(args.runner, args.scratch)
    out, err = os.path.join(args.scratch, "out.txt"), os.path.join(args.scratch, "err.txt")
    kinds = {"direct": args.direct, "uncached": args.uncached, "cached": args.cached}
    times = {kind: [] for kind in kinds}
    starts = {kind: [] for kind in kinds}  # when the program's process began, from the first process's start
    try:
        for i in range(args.runs + 1):
            for kind, exe in kinds.items():
                r = runner.run('"%s" %s' % (win_path(exe), args.args), args.scratch, temp, out, err, 600000)
                if r is None or r["code"] != 0:
                    raise SystemExit("program_bench: %s failed: %s" % (exe, r))
                if i > 0:  # the first round warms the caches and fills the cache folder
                    times[kind].append(r["elapsed_us"] / 1e6)
                    starts[kind].append(r["times"][-1][0] if r["times"] else 0.0)
            if os.listdir(temp):
                raise SystemExit("program_bench: left behind in TEMP: %s" % os.listdir(temp))
    finally:
        runner.stop()
    m = {kind: statistics.median(v) for kind, v in times.items()}
    row = "| %s | %s | %.3f | %.3f | %.3f | %.3f | %.2f | %.2f |" % (
        args.program, args.tree, m["direct"], m["uncached"], m["cached"], statistics.median(starts["cached"]),
        m["uncached"] / m["direct"], m["cached"] / m["direct"])
    print(row)
    if args.out:
        with open(args.out, "a") as f:
            f.write(row + "\n")


if __name__ == "__main__":
    main()
