#!/usr/bin/env python3
"""The measuring half of bench/unpack_bench.sh, which prepares its inputs.

For each case (a packed launcher, the Zstandard frame of its payload and a tar
of the same tree) it times, as the median of --runs runs:
  - the launcher as Wine runs it from the shell (`wine app.exe exit 0`), with
    its two processes watched through /proc for their lifetimes and peak
    resident memory;
  - the launcher inside one Wine session (run_jobs.exe: from CreateProcess
    to the end of the process, no Wine start-up of its own);
  - `zstd -d` of the frame to /dev/null, and `tar -x` of the tree;
  - the launcher's phases (phases.exe: decoder, reader, file creation,
    writes, unpacking, clean-up).
The start-up case compares a launcher with a one-file payload to loader.exe,
which loads the same library and calls run_code without any payload.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import threading
import time

# jobs.py, the client of run_jobs.exe, lives with the mutation test.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "launcher", "tests", "mutation"))
from jobs import WINE_RUN, Runner, win_path  # noqa: E402


class ProcWatch:
    """Polls /proc while a command runs: for every process whose command line
    names `needle`, how long it was seen and its peak resident memory: VmHWM,
    which the kernel keeps as a high-water mark, and the largest anonymous
    and file-backed parts seen (RssAnon, RssFile; sampled)."""

    FIELDS = ("VmHWM", "RssAnon", "RssFile")

    def __init__(self, needle):
        self.needle = needle.encode()
        self.seen = {}  # pid -> {"first", "last", "VmHWM", "RssAnon", "RssFile"}
        self.stop = False
        self.known = {}
        self.before = {int(n) for n in os.listdir("/proc") if n.isdigit()}

    def poll(self):
        now = time.monotonic()
        for name in os.listdir("/proc"):
            if not name.isdigit():
                continue
            pid = int(name)
            if not self.known.get(pid):
                if pid in self.before:
                    continue
                # A new process shows its final command line only once Wine
                # has set it (a Windows process's command line, as argument
                # 0), so look again until it matches. Argument 0 leaves out
                # the shells that started it.
                try:
                    with open("/proc/%d/cmdline" % pid, "rb") as f:
                        self.known[pid] = self.needle in f.read().split(b"\0")[0]
                except OSError:
                    continue
                if not self.known[pid]:
                    continue
            try:
                with open("/proc/%d/status" % pid) as f:
                    status = f.read()
            except OSError:
                continue
            if "State:\tZ" in status:
                continue
            values = {}
            for line in status.splitlines():
                key = line.split(":", 1)[0]
                if key in self.FIELDS:
                    values[key] = int(line.split()[1])
            if "VmHWM" not in values:
                continue
            entry = self.seen.setdefault(pid, {"first": now, "VmHWM": 0, "RssAnon": 0, "RssFile": 0})
            entry["last"] = now
            # Wine starts a process by fork and exec: until the exec the new
            # process shares its parent's memory. The high-water mark only
            # falls at the exec; start counting afresh there.
            if values["VmHWM"] < entry["VmHWM"]:
                entry.update({f: 0 for f in self.FIELDS})
            for key, value in values.items():
                entry[key] = max(entry[key], value)

    def loop(self):
        while not self.stop:
            self.poll()
            time.sleep(0.001)

    def start(self):
        self.thread = threading.Thread(target=self.loop)
        self.thread.start()

    def finish(self):
        """The processes seen, longest-lived first: the launcher's parent
        outlives its child."""
        self.stop = True
        self.thread.join()
        return sorted(self.seen.values(), key=lambda e: e["first"] - e["last"])


def median(values):
    return statistics.median(values) if values else float("nan")


def run_in_wine(runner, command, temp):
    """Exit code, time in s and (start, run) of each process of one run in
    the runner's Wine session, in the runner's folder."""
    out, err = os.path.join(runner.cwd, "out.txt"), os.path.join(runner.cwd, "err.txt")
    r = runner.run(command, runner.cwd, temp, out, err, 600000)
    if r is None:
        raise SystemExit("measure: the runner stopped answering")
    return r["code"], r["elapsed_us"] / 1e6, r["times"]


def fresh(path):
    if os.path.exists(path):
        shutil.rmtree(path)
    os.makedirs(path)
    return path


def time_native(cmd, runs, before=None):
    times = []
    for _ in range(runs):
        if before:
            before()
        start = time.monotonic()
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
        times.append(time.monotonic() - start)
    return median(times)


def measure_launcher(args, exe, extra_args, runs, scratch, runner):
    """Median in-Wine time, median shell wall time, per-process lifetimes and
    peak memory."""
    temp = fresh(os.path.join(scratch, "temp"))
    command = lambda extra: " ".join('"%s"' % a for a in [win_path(exe)] + extra)
    inside, lifetimes, starts, hwms = [], {}, [], {}
    for i in range(runs + 1):
        code, seconds, procs = run_in_wine(runner, command(extra_args + ["exit", "0"]), temp)
        if code != 0:
            raise SystemExit("measure: %s exited with %d" % (exe, code))
        if os.listdir(temp):
            raise SystemExit("measure: %s left %s behind" % (exe, os.listdir(temp)))
        if i == 0:  # the first run warms the caches
            continue
        inside.append(seconds)
        for k, (start, life) in enumerate(procs[:2]):
            lifetimes.setdefault(k, []).append(life)
        if len(procs) > 1:
            starts.append(procs[1][0])
    # Peak memory: run_code waits 300 ms, so that the watcher, which polls,
    # surely sees both processes at their largest.
    for i in range(2):
        watch = ProcWatch(os.path.basename(exe))
        watch.start()
        code, seconds, procs = run_in_wine(runner, command(extra_args + ["wait", "300"]), temp)
        for k, seen in enumerate(watch.finish()[:2]):
            peak = hwms.setdefault(k, {f: 0 for f in ProcWatch.FIELDS})
            for f in ProcWatch.FIELDS:
                peak[f] = max(peak[f], seen[f])
        if code != 5:
            raise SystemExit("measure: %s wait 300 exited with %d" % (exe, code))
    # As a user starts it: Wine's start-up included, Wine's own TEMP.
    # Output goes to a file, not a pipe: the desktop process that Wine starts
    # for the launcher's hidden window inherits the launcher's output and
    # outlives it while the runner's session lasts.
    walls = []
    cwd = fresh(os.path.join(scratch, "cwd"))
    log = os.path.join(scratch, "wall.log")
    for i in range(runs):
        start = time.monotonic()
        with open(log, "wb") as out:
            r = subprocess.run([WINE_RUN, exe] + extra_args + ["exit", "0"], cwd=cwd, stdout=out,
                               stderr=subprocess.STDOUT)
        walls.append(time.monotonic() - start)
        if r.returncode != 0:
            with open(log, "rb") as out:
                raise SystemExit("measure: %s exited with %d: %s" % (exe, r.returncode, out.read()))
    return {"inside": median(inside), "wall": median(walls), "child_start": median(starts),
            "life": {k: median(v) for k, v in lifetimes.items()}, "hwm": hwms}


def measure_cached(exe, cache, one, runs, scratch, runner):
    """Cached launcher (--cache, its root the Unix folder `cache`): medians
    of the first start (empty cache), the second start, and the one-file
    launcher's start in the same rounds, all in the runner's Wine session."""
    temp = fresh(os.path.join(scratch, "temp"))
    command = lambda e: '"%s" exit 0' % win_path(e)
    first, second, single = [], [], []
    for i in range(runs + 1):
        if os.path.exists(cache):
            shutil.rmtree(cache)
        times = []
        for e in (exe, exe, one):
            code, seconds, _ = run_in_wine(runner, command(e), temp)
            if code != 0:
                raise SystemExit("measure: %s exited with %d" % (e, code))
            times.append(seconds)
        if i == 0:  # the first round warms the caches
            continue
        first.append(times[0])
        second.append(times[1])
        single.append(times[2])
    shutil.rmtree(cache)
    return {"first": median(first), "second": median(second), "one": median(single)}


def measure_phases(args, payload, runs, scratch):
    results = {}
    for _ in range(runs):
        work = os.path.join(scratch, "phases")
        if os.path.exists(work):
            shutil.rmtree(work)
        r = subprocess.run([WINE_RUN, args.phases, win_path(payload), win_path(work)], cwd=fresh(os.path.join(scratch, "cwd")),
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=True)
        for line in r.stdout.decode().splitlines():
            key, value = line.split("\t")
            results.setdefault(key, []).append(float(value))
    return {k: median(v) for k, v in results.items()}


def mb(n):
    return n / 1e6


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--scratch", required=True)
    ap.add_argument("--runner", required=True)
    ap.add_argument("--loader", required=True)
    ap.add_argument("--phases", required=True)
    ap.add_argument("--dll", required=True)
    ap.add_argument("--one", required=True, help="launcher with a one-file payload")
    ap.add_argument("--case", nargs=6, action="append", default=[],
                    metavar=("NAME", "EXE", "PAYLOAD", "FRAME", "TAR", "TREE_BYTES"))
    ap.add_argument("--cached", nargs=3, action="append", default=[], metavar=("NAME", "EXE", "ROOT"),
                    help="a launcher packed with --cache, and its cache root as a Unix path")
    ap.add_argument("--out", help="also write the tables here")
    args = ap.parse_args()
    scratch = fresh(os.path.abspath(args.scratch))
    runner_dir = fresh(os.path.join(scratch, "runner"))
    runner = Runner(args.runner, runner_dir)
    lines = []

    def emit(text=""):
        print(text, flush=True)
        lines.append(text)

    rows, phase_rows, memory_rows = [], [], []
    try:
        for name, exe, payload, frame, tar, tree_bytes in args.case:
            print("measure: %s" % name, file=sys.stderr, flush=True)
            launcher = measure_launcher(args, exe, [], args.runs, scratch, runner)
            zstd = time_native(["zstd", "-q", "-d", "-c", frame], args.runs)
            target = os.path.join(scratch, "tar")
            tar_time = time_native(["tar", "-xf", tar, "-C", target], args.runs, lambda: fresh(target))
            shutil.rmtree(target)
            phases = measure_phases(args, payload, min(args.runs, 3), scratch)
            files = int(phases["files"])
            rows.append((name, files, mb(int(tree_bytes)), launcher, zstd, tar_time))
            phase_rows.append((name, phases))
            memory_rows.append((name, launcher))

        print("measure: start-up", file=sys.stderr, flush=True)
        one = measure_launcher(args, args.one, [], args.runs, scratch, runner)
        plain = measure_launcher(args, args.loader, [win_path(args.dll)], args.runs, scratch, runner)
        cached_rows = []
        for name, exe, cache in args.cached:
            print("measure: cached %s" % name, file=sys.stderr, flush=True)
            cached_rows.append((name, measure_cached(exe, cache, args.one, args.runs, scratch, runner)))
    finally:
        runner.stop()

    emit("Unpacking (median of %d runs; launcher: `app.exe exit 0`, whose run_code returns at once)." % args.runs)
    emit()
    emit("| Tree | Files | MB | wine app.exe, Wine's TEMP (s) | launcher in Wine (s) | zstd -d (s) | tar -x (s) "
         "| launcher / zstd -d | launcher / tar -x |")
    emit("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    for name, files, size, l, zstd, tar_time in rows:
        emit("| %s | %d | %.1f | %.3f | %.3f | %.3f | %.3f | %.1f | %.1f |" % (
            name, files, size, l["wall"], l["inside"], zstd, tar_time, l["inside"] / zstd, l["inside"] / tar_time))
    emit()
    emit("Where the time goes (phases.exe, the launcher's own code on the same payload, median of %d):" % min(args.runs, 3))
    emit()
    emit("| Tree | decoder alone (s) | reader: decode + copy (s) | create files, no data (s) "
         "| create + write from memory (s) | unpack, all of it (s) | clean-up (s) |")
    emit("|---|---:|---:|---:|---:|---:|---:|")
    for name, p in phase_rows:
        emit("| %s | %.3f | %.3f | %.3f | %.3f | %.3f | %.3f |" % (
            name, p["zstd"], p["reader"], p["create"], p["write"], p["unpack"], p["cleanup"]))
    emit()
    emit("Start-up (median of %d runs):" % args.runs)
    emit()
    emit("| Program | wine prog.exe (s) | in Wine (s) | first process (s) | child starts after (s) "
         "| child process (s) |")
    emit("|---|---:|---:|---:|---:|---:|")
    for label, r in (("launcher, one-file payload", one), ("loader.exe: LoadLibrary + run_code", plain)) + \
            tuple(("launcher, %s" % name, r) for name, r in memory_rows):
        two = 1 in r["life"]
        emit("| %s | %.3f | %.3f | %.3f | %s | %s |" % (
            label, r["wall"], r["inside"], r["life"].get(0, float("nan")),
            "%.3f" % r["child_start"] if two else "-", "%.3f" % r["life"][1] if two else "-"))
    emit()
    if cached_rows:
        uncached = {name: l["inside"] for name, files, size, l, zstd, tar_time in rows}
        emit("Cached starts (--cache; median of %d rounds of first start, second start, one-file payload):"
             % args.runs)
        emit()
        emit("| Tree | uncached start (s) | first start (s) | second start (s) | one-file payload (s) "
             "| first / uncached | second / one-file |")
        emit("|---|---:|---:|---:|---:|---:|---:|")
        for name, c in cached_rows:
            base = uncached.get(name, float("nan"))
            emit("| %s | %.3f | %.3f | %.3f | %.3f | %.2f | %.2f |" % (
                name, base, c["first"], c["second"], c["one"], c["first"] / base, c["second"] / c["one"]))
        emit()
    emit("Peak resident memory of the Wine processes in MB (largest of 2 runs; run_code waits 300 ms). Total is")
    emit("the kernel's high-water mark; anonymous (heap: decoder window and buffers) and file-backed (mapped")
    emit("executable, payload included, and libraries) are the largest values sampled:")
    emit()
    emit("| Program | parent total | parent anonymous | parent file-backed | child total | child anonymous "
         "| child file-backed |")
    emit("|---|---:|---:|---:|---:|---:|---:|")
    for name, r in memory_rows + [("one-file payload", one), ("loader.exe (one process)", plain)]:
        cells = []
        for k in (0, 1):
            for f in ProcWatch.FIELDS:
                cells.append("%.1f" % (r["hwm"][k][f] / 1024) if k in r["hwm"] else "-")
        emit("| %s | %s |" % (name, " | ".join(cells)))
    if args.out:
        with open(args.out, "w") as f:
            f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
