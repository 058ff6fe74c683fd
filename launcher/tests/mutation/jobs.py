"""Client of run_jobs.exe, which runs Windows programs one after another in
one Wine session (see run_jobs.cpp for the protocol)."""
import os
import selectors
import subprocess
import time

TOP = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
WINE_RUN = os.path.join(TOP, "scripts", "wine-run")


def win_path(path):
    """The Windows form of a Unix path (Wine's Z: drive)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Runner:
    """One Wine process running programs one after another. It is started on
    the first run, and again after a run that broke it."""

    def __init__(self, runner_exe, cwd):
        self.runner_exe = runner_exe
        self.cwd = cwd
        self.proc = None

    def start(self):
        # Wine starts its debugger on an unhandled exception, whatever the
        # error mode, and the debugger then waits for ever: a crash would
        # look like a hang. Without the debugger the process ends with the
        # exception's code, as on Windows.
        env = dict(os.environ)
        env["WINEDLLOVERRIDES"] = ";".join(filter(None, [env.get("WINEDLLOVERRIDES", "mscoree,mshtml="),
                                                           "winedbg.exe=d"]))
        self.proc = subprocess.Popen([WINE_RUN, self.runner_exe], cwd=self.cwd, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, start_new_session=True,
                                     env=env)
        self.sel = selectors.DefaultSelector()
        self.sel.register(self.proc.stdout, selectors.EVENT_READ)
        self.buf = b""

    def stop(self):
        if self.proc:
            try:
                self.proc.stdin.write(b"quit\n")
                self.proc.stdin.close()
                self.proc.wait(20)
            except (OSError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait()
            self.proc = None

    def run(self, command_line, cwd, temp, out, err, timeout_ms):
        """Runs `command_line` (Windows form) in `cwd` with TEMP and TMP set
        to `temp`, standard output and error into the files `out` and `err`.
        Returns a dict: code, timed_out, elapsed_us, leftover (processes still
        alive afterwards) and times ((start, run) in s of each process, start
        counted from the first's); None when the runner itself broke down."""
        if not self.proc:
            self.start()
        line = "\t".join(["run", str(timeout_ms), win_path(cwd), win_path(temp), win_path(out), win_path(err),
                          command_line]) + "\n"
        self.proc.stdin.write(line.encode())
        self.proc.stdin.flush()
        deadline = time.time() + timeout_ms / 1000 + 60
        while b"\n" not in self.buf:
            left = deadline - time.time()
            if left <= 0 or not self.sel.select(left):
                self.proc.kill()
                self.proc.wait()
                self.proc = None
                return None
            chunk = os.read(self.proc.stdout.fileno(), 4096)
            if not chunk:
                self.proc = None
                return None
            self.buf += chunk
        reply, self.buf = self.buf.split(b"\n", 1)
        f = reply.decode().split("\t")
        if f[0] != "done":
            raise SystemExit("runner: %s" % reply.decode())
        times = [tuple(int(x) / 1e6 for x in item.split("+")) for item in (f[5] if len(f) > 5 else "").split(",")
                 if item]
        return {"code": int(f[1]), "timed_out": f[2] == "1", "elapsed_us": int(f[3]), "leftover": int(f[4]),
                "times": times}
