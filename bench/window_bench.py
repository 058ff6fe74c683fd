#!/usr/bin/env python3
"""The measuring half of bench/window_bench.sh: the first start of a windowed
launcher (run_code returns at once) with its start-up window and without it
(VORLAN_ONEFILE_NO_DIALOGS=1), runs interleaved in two Wine sessions of the
same prefix, each timed inside Wine from CreateProcess to the end of the
launcher. Prints a Markdown table: medians, ranges and the spread of each
side, so that the difference can be read against the noise."""
import argparse
import os
import shutil
import statistics
import sys

# jobs.py, the client of run_jobs.exe, lives with the mutation test.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "launcher", "tests", "mutation"))
from jobs import Runner, win_path  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--runner", required=True)
    parser.add_argument("--scratch", required=True)
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--label", default="")
    args = parser.parse_args()

    os.makedirs(args.scratch, exist_ok=True)
    # The variable is inherited from the session's first program.
    runners = {}
    for name, value in (("with the window", None), ("without (VORLAN_ONEFILE_NO_DIALOGS=1)", "1")):
        if value:
            os.environ["VORLAN_ONEFILE_NO_DIALOGS"] = value
        else:
            os.environ.pop("VORLAN_ONEFILE_NO_DIALOGS", None)
        runners[name] = Runner(args.runner, args.scratch)
        runners[name].start()
    os.environ.pop("VORLAN_ONEFILE_NO_DIALOGS", None)

    temp = os.path.join(args.scratch, "temp")
    out, err = os.path.join(args.scratch, "out.txt"), os.path.join(args.scratch, "err.txt")
    times = {name: [] for name in runners}
    command = '"%s" exit 0' % win_path(args.exe)
    for i in range(args.runs + 1):
        for name, runner in runners.items():
            if os.path.exists(temp):
                shutil.rmtree(temp)
            os.makedirs(temp)
            r = runner.run(command, args.scratch, temp, out, err, 600000)
            if r is None or r["code"] != 0:
                raise SystemExit("window_bench: %s: run failed: %s" % (name, r))
            if os.listdir(temp):
                raise SystemExit("window_bench: %s left %s behind" % (name, os.listdir(temp)))
            if i > 0:  # the first round warms the caches
                times[name].append(r["elapsed_us"] / 1e6)
    for runner in runners.values():
        runner.stop()

    print("| Launcher%s | runs | median (s) | range (s) | spread (stdev, s) |" % args.label)
    print("|---|---:|---:|---|---:|")
    for name, values in times.items():
        print("| %s | %d | %.3f | %.3f-%.3f | %.3f |" % (name, len(values), statistics.median(values), min(values),
                                                      max(values), statistics.stdev(values)))
    a, b = times.values()
    print()
    print("Difference of the medians: %+.3f s; the spread of one side is %.3f s." %
          (statistics.median(a) - statistics.median(b), max(statistics.stdev(a), statistics.stdev(b))))


if __name__ == "__main__":
    main()
