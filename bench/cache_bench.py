#!/usr/bin/env python3
"""The measuring half of bench/cache_bench.sh: a full first start, a cached
start and an update's first start of a cached app, as medians of --runs
rounds in one Wine session (run_jobs.exe: from CreateProcess to the end of
the process). Each round empties the cache root and runs the four starts one
after another, so that they share the machine's state; the first round is
left out (it warms the caches)."""
import argparse
import os
import shutil
import statistics
import sys

# jobs.py, the client of run_jobs.exe, lives with the mutation test.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "launcher", "tests", "mutation"))
from jobs import Runner, win_path  # noqa: E402

STARTS = [("full", "build1"), ("cached", "build1"), ("update", "build2"), ("update_cached", "build2")]


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--runner", required=True)
    ap.add_argument("--scratch", required=True)
    ap.add_argument("--root", required=True, help="the cache root, as a Unix path")
    ap.add_argument("--build1", required=True)
    ap.add_argument("--build2", required=True, help="build 1 with one file changed")
    ap.add_argument("--tree", required=True, help="the tree's description for the table")
    args = ap.parse_args()
    if os.path.exists(args.scratch):
        shutil.rmtree(args.scratch)
    temp = os.path.join(args.scratch, "temp")
    os.makedirs(temp)
    runner = Runner(args.runner, args.scratch)
    out, err = os.path.join(args.scratch, "out.txt"), os.path.join(args.scratch, "err.txt")
    exes = {"build1": args.build1, "build2": args.build2}
    times = {kind: [] for kind, _ in STARTS}
    try:
        for i in range(args.runs + 1):
            shutil.rmtree(args.root, ignore_errors=True)
            for kind, build in STARTS:
                r = runner.run('"%s" exit 0' % win_path(exes[build]), args.scratch, temp, out, err, 600000)
                if r is None or r["code"] != 0:
                    raise SystemExit("cache_bench: %s (%s) failed: %s" % (build, kind, r))
                if i > 0:
                    times[kind].append(r["elapsed_us"] / 1e6)
            keys = [name for name in os.listdir(args.root) if len(name) == 32]
            if len(keys) != 2:
                raise SystemExit("cache_bench: expected two key folders, found %s" % os.listdir(args.root))
    finally:
        runner.stop()
        shutil.rmtree(args.root, ignore_errors=True)
    m = {kind: statistics.median(v) for kind, v in times.items()}
    print("| Tree | full first start (s) | cached start (s) | update's first start (s) | update, cached (s) "
          "| update / full | update / cached |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    print("| %s | %.3f | %.3f | %.3f | %.3f | %.2f | %.2f |" % (
        args.tree, m["full"], m["cached"], m["update"], m["update_cached"], m["update"] / m["full"],
        m["update"] / m["cached"]))


if __name__ == "__main__":
    main()
