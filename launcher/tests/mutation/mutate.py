#!/usr/bin/env python3
"""Mutation testing of the stored payload: damaged payloads run under Wine.

Takes real stored payloads written by onefile-pack (a small tree and a large
one), makes mutations of them, packs each into a launcher whose main library
is the test app (`app.exe exit 0` returns 0 at once), runs it under Wine with
a time limit and sorts the outcome:

  ok              exit code 0, no output, target directory deleted
  message         exit code 2 and exactly one of the launcher's messages
  app crashed     the payload's main library itself was damaged, loaded and
                  crashed; the launcher passed the child's code on and cleaned up
  app hung        the same, but the damaged library ran into the time limit
and, counted as failures:
  crash           any other exit code (access violation, runtime abort, ...)
  hang            still running at the time limit
  outside write   anything written beside the target directory (the current
                  directory, the temp folder, the launcher's folder, ...)
  left running    a process of the run still alive after the launcher ended
  bad output      exit code 2 with no or an unknown message, or output with 0

Mutations of the stored bytes: bit flips, bytes set, truncations, inserted
and deleted bytes, the header, the bytes after the header (frame header),
block headers, and the trailing bytes. Mutations of the decoded entry
stream, recompressed with the zstd command: record sizes, names, the end
marker and the order of the records. With --traversal, also names that climb
out of the target directory ("..\\x"), which the launcher joins unchanged.

Packing: each payload's launcher is written once by onefile-pack
--stored-payload around the payload plus spare room; every mutation then
overwrites the payload bytes in that executable and the payload's size in
the data section's field table, so the launcher reads exactly the mutated
bytes as its stored payload without a pack per run. --verify-pack K also
packs K of the mutations the ordinary way and checks that both executables
behave alike.

Runs go through run_jobs.cpp beside this script (one Wine process per worker
runs many launchers; built with the cross compiler when --runner is not
given). The trees come from bench/gen_tree.py, the payloads are taken apart
with bench/payload_tools.py.

Examples (M is launcher/tests/mutation):
  M/mutate.py --count 2000 --jobs 2                       the full campaign
  M/mutate.py --quick                                     the test suite's subset
  M/mutate.py --replay large:137 --keep DIR               one mutation, its
                                                          payload and exe kept
"""
import argparse
import collections
import hashlib
import os
import queue
import random
import re
import shutil
import struct
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from jobs import TOP, Runner, win_path  # noqa: E402
sys.path.insert(0, os.path.join(TOP, "bench"))
import payload_tools as pt  # noqa: E402

SPARE = 64 << 10  # room for inserted bytes and recompressed streams

MESSAGES = [
    ("header", re.compile(r"^Error, couldn't find attached data header\.$")),
    ("decode", re.compile(r"^Error, couldn't decode attached data\.$")),
    ("allocate", re.compile(r"^Error, couldn't allocate memory\.$")),
    ("open for writing", re.compile(r"^Error, failed to open '.*' for writing\.$")),
    ("write", re.compile(r"^Error, couldn't unpack file to target path\. \(\[Error -?\d+\] .*\)$")),
    ("load DLL", re.compile(r"^Error, load DLL\. \(\[Error -?\d+\] .*\)$")),
    ("entry point", re.compile(r"^Error, DLL entry point not found\.$")),
    ("launch child", re.compile(r"^Error, couldn't launch child \(\[Error -?\d+\] .*\)$")),
]
FAILURES = ("crash", "hang", "outside write", "left running", "bad output")


# --- payloads ----------------------------------------------------------------

class Payload:
    """A stored payload and what the mutations need to know about it."""

    def __init__(self, name, data):
        self.name = name
        self.data = data
        self.frame, self.trailer = pt.split(data)
        self.checksum = bool(self.frame[4] & 4)
        self.frame_end = 3 + len(self.frame)
        self.blocks = block_headers(data)
        self._stream = None
        self._lock = threading.Lock()

    def stream(self):
        with self._lock:
            if self._stream is None:
                self._stream = pt.decompress(self.frame)
                self.entries = pt.parse_entries(self._stream)
                self.main_library = self._stream[self.entries[0][1]:self.entries[0][1] + self.entries[0][2]]
            return self._stream


def block_headers(data):
    """Offsets of the block headers of the frame that starts at offset 3."""
    fhd = data[7]
    single, dict_flag, fcs_flag = (fhd >> 5) & 1, fhd & 3, fhd >> 6
    pos = 8 + (0 if single else 1) + (0, 1, 2, 4)[dict_flag] + (1 if single else 0, 2, 4, 8)[fcs_flag]
    offsets = []
    while pos + 3 <= len(data):
        offsets.append(pos)
        header = int.from_bytes(data[pos:pos + 3], "little")
        pos += 3 + (1 if (header >> 1) & 3 == 1 else header >> 3)
        if header & 1:
            break
    return offsets


# --- mutations ----------------------------------------------------------------

class Mutation:
    def __init__(self, kind, desc, data, changed_from, stream=None):
        self.kind = kind
        self.desc = desc
        self.data = data
        self.changed_from = changed_from  # data[:changed_from] equals the original
        self.stream = stream              # the entry stream, for stream mutations


def position(rng, p):
    """A byte position in the frame, biased towards its start."""
    if rng.random() < 0.2:
        return rng.randrange(3, min(p.frame_end, 3 + 256))
    return rng.randrange(3, p.frame_end)


def flip(data, pos, bit):
    b = bytearray(data)
    b[pos] ^= 1 << bit
    return bytes(b)


def m_bitflip(rng, p):
    pos, bit = position(rng, p), rng.randrange(8)
    return Mutation("bit flip", "bit %d of byte %d flipped" % (bit, pos), flip(p.data, pos, bit), pos)


def m_multiflip(rng, p):
    b = bytearray(p.data)
    start = position(rng, p)
    spots = sorted({min(p.frame_end - 1, start + rng.randrange(64)) for _ in range(rng.randint(2, 8))})
    for s in spots:
        b[s] ^= 1 << rng.randrange(8)
    return Mutation("bit flips", "bits flipped at bytes %s" % spots, bytes(b), spots[0])


def m_byteset(rng, p):
    pos = position(rng, p)
    value = rng.choice([0x00, 0xFF, 0x80, 0x7F, rng.randrange(256)])
    b = bytearray(p.data)
    b[pos] = value
    return Mutation("byte set", "byte %d set to 0x%02x" % (pos, value), bytes(b), pos)


def m_frame_header(rng, p):
    # The bytes right after the header: magic number, frame header descriptor,
    # window descriptor and the first block header.
    pos = rng.randrange(3, min(p.frame_end, 3 + 12))
    b = bytearray(p.data)
    how = rng.randrange(3)
    if how == 0:
        b[pos] ^= 1 << rng.randrange(8)
        desc = "frame header byte %d: bit flipped" % pos
    else:
        b[pos] = rng.randrange(256)
        desc = "frame header byte %d set to 0x%02x" % (pos, b[pos])
    return Mutation("after header", desc, bytes(b), pos)


def m_block_header(rng, p):
    at = rng.choice(p.blocks)
    b = bytearray(p.data)
    header = int.from_bytes(b[at:at + 3], "little")
    how = rng.randrange(4)
    if how == 0:
        header ^= 1  # last-block flag
        desc = "last-block flag flipped"
    elif how == 1:
        header ^= 1 << rng.randrange(1, 3)  # block type
        desc = "block type changed"
    else:
        header ^= 1 << rng.randrange(3, 24)  # block size
        desc = "block size changed"
    b[at:at + 3] = header.to_bytes(3, "little")
    return Mutation("block header", "block header at %d: %s" % (at, desc), bytes(b), at)


def m_truncate(rng, p):
    n = len(p.data)
    cut = rng.choice([rng.randrange(0, 12), rng.randrange(3, p.frame_end), rng.randrange(3, p.frame_end),
                      p.frame_end - rng.randrange(1, 8)])
    cut = max(0, min(cut, n - 1))
    return Mutation("truncation", "cut to %d of %d bytes" % (cut, n), p.data[:cut], cut)


def m_insert(rng, p):
    pos = position(rng, p)
    extra = rng.randbytes(rng.randint(1, 16))
    return Mutation("insertion", "%d bytes inserted at %d" % (len(extra), pos), p.data[:pos] + extra + p.data[pos:], pos)


def m_delete(rng, p):
    pos = position(rng, p)
    k = min(rng.randint(1, 16), p.frame_end - pos)
    return Mutation("deletion", "%d bytes deleted at %d" % (k, pos), p.data[:pos] + p.data[pos + k:], pos)


def m_header(rng, p):
    pos = rng.randrange(3)
    b = bytearray(p.data)
    b[pos] = rng.choice([ord("v"), ord("X"), 0, 0xFF, b[pos] ^ 1])
    return Mutation("header", "header byte %d set to 0x%02x" % (pos, b[pos]), bytes(b), pos)


def m_trailer(rng, p):
    how = rng.randrange(3)
    if how == 0:
        data = p.data[:p.frame_end] + rng.randbytes(rng.randint(1, 64))
        desc = "trailing bytes replaced by random ones"
    elif how == 1:
        data = p.data + rng.randbytes(rng.randint(1, 64))
        desc = "random bytes appended"
    else:
        data = p.data[:p.frame_end]
        desc = "trailing bytes removed"
    return Mutation("trailer", desc, data, p.frame_end)


# Mutations of the decoded entry stream.

def restored(p, stream, kind, desc):
    return Mutation(kind, desc, pt.stored(pt.compress(stream, 1, p.checksum)), 3, stream)


def pick_entry(rng, p):
    # The first record (the main library) and the last are the most
    # interesting; otherwise any.
    r = rng.random()
    if r < 0.3:
        return 0
    if r < 0.4:
        return len(p.entries) - 1
    return rng.randrange(len(p.entries))


def size_field(p, i):
    name, offset, size = p.entries[i]
    return offset - 8, size


def record_start(entry):
    """Offset of a record (its name) in the entry stream."""
    name, offset, _ = entry
    return offset - 8 - len(name.encode("utf-16-le", "surrogatepass")) - 2


def renamed(s, entry, name_bytes):
    """The stream with the name of record `entry` replaced by `name_bytes`
    (UTF-16 units, without the terminator)."""
    return s[:record_start(entry)] + name_bytes + s[entry[1] - 8 - 2:]


def m_stream_size(rng, p):
    s = p.stream()
    i = pick_entry(rng, p)
    at, size = size_field(p, i)
    rest = len(s) - (at + 8)
    new = rng.choice([size + 1, max(0, size - 1), size + rng.randint(2, 4096), max(0, size - rng.randint(2, 4096)),
                      0, rest, rest - 2, rest + 1, (1 << 32) + size, (1 << 63), (1 << 64) - 1, rng.randrange(1 << 64)])
    data = s[:at] + struct.pack("<Q", new) + s[at + 8:]
    return restored(p, data, "record size", "record %d (%s): size %d -> %d" % (i, p.entries[i][0], size, new))


NAME_UNITS = [":", "*", "?", '"', "<", ">", "|", "/", "\\", ".", " ", "\u00e9", "\u4e2d", "\ud800", "\udfff",
              "\uffff", "\u0001", "\u007f", "a", "Z"]


def units(name):
    return [name.encode("utf-16-le", "surrogatepass")[k:k + 2] for k in range(0, 2 * len(name), 2)]


def m_stream_name(rng, p):
    s = p.stream()
    i = pick_entry(rng, p)
    name = p.entries[i][0]
    u = units(name)
    how = rng.randrange(7)
    if how == 0:
        k = rng.randrange(len(u))
        u[k] = rng.choice(NAME_UNITS).encode("utf-16-le", "surrogatepass")
        desc = "unit %d replaced" % k
    elif how == 1:
        k = rng.randrange(len(u) + 1)
        u[k:k] = [rng.choice(NAME_UNITS).encode("utf-16-le", "surrogatepass") for _ in range(rng.randint(1, 4))]
        desc = "units inserted at %d" % k
    elif how == 2:
        k = rng.randrange(len(u))
        del u[k:k + rng.randint(1, 4)]
        desc = "units deleted at %d" % k
    elif how == 3:
        target = rng.choice([1022, 1023, 1024, 1025, 2000, 5000])
        while len(u) < target:
            u.append(b"n\0")
        desc = "name grown to %d units" % target
    elif how == 4:
        k = rng.randrange(len(u))
        u[k] = b"\0\0"  # the name ends early; the rest is read as the size
        desc = "0x0000 put at unit %d" % k
    elif how == 5:
        u = []
        desc = "name emptied (an early end marker)"
    else:
        u = units(rng.choice(["C:\\x.txt", "\\x.txt", "\\\\?\\C:\\x.txt", "a\\\\b.txt", "CON", "NUL.txt",
                              "x.txt:stream", "dir.\\x.txt", "trailing. ", "a\\.\\b.txt"]))
        desc = "name replaced by %r" % b"".join(u).decode("utf-16-le")
    return restored(p, renamed(s, p.entries[i], b"".join(u)), "record name", "record %d (%s): %s" % (i, name, desc))


def m_stream_cut(rng, p):
    s = p.stream()
    how = rng.randrange(3)
    if how == 0:
        cut = len(s) - 2
        desc = "end marker removed"
    elif how == 1:
        cut = len(s) - 1
        desc = "half the end marker removed"
    else:
        cut = rng.randrange(len(s))
        desc = "stream cut at %d of %d" % (cut, len(s))
    data = s[:cut]
    if rng.random() < 0.3:
        data += rng.randbytes(rng.randint(1, 32))
        desc += ", random bytes after"
    return restored(p, data, "stream end", desc)


def m_stream_order(rng, p):
    s = p.stream()
    recs = [s[record_start(e):e[1] + e[2]] for e in p.entries]
    how = rng.randrange(4)
    if how == 0 and len(recs) > 1:
        k = rng.randrange(1, len(recs))
        recs[0], recs[k] = recs[k], recs[0]
        desc = "record %d moved first" % k
    elif how == 1:
        k = rng.randrange(len(recs))
        recs.insert(rng.randrange(len(recs) + 1), recs[k])
        desc = "record %d repeated" % k
    elif how == 2:
        del recs[0]
        desc = "main library removed"
    else:
        recs = recs[:1] + [pt.record("data\\empty%d.txt" % k, b"") for k in range(rng.randint(1, 50))] + recs[1:]
        desc = "empty files added"
    return restored(p, b"".join(recs) + b"\0\0", "record order", desc)


def m_traversal(rng, p):
    s = p.stream()
    i = rng.randrange(1, len(p.entries)) if len(p.entries) > 1 else 0
    new = rng.choice(["..\\escaped.txt", "../escaped.txt", "sub\\..\\..\\escaped.txt", "..\\..\\escaped.txt"])
    return restored(p, renamed(s, p.entries[i], new.encode("utf-16-le")), "name climbs out",
                    "record %d (%s) renamed %s" % (i, p.entries[i][0], new))


KINDS = [(m_bitflip, 20), (m_multiflip, 6), (m_byteset, 8), (m_frame_header, 8), (m_block_header, 10),
         (m_truncate, 8), (m_insert, 8), (m_delete, 8), (m_header, 3), (m_trailer, 4),
         (m_stream_size, 8), (m_stream_name, 8), (m_stream_cut, 3), (m_stream_order, 2)]


def make_mutation(p, index, seed, traversal):
    rng = random.Random("%d:%s:%d" % (seed, p.name, index))
    kinds = KINDS + ([(m_traversal, 4)] if traversal else [])
    fn = rng.choices([k for k, _ in kinds], [w for _, w in kinds])[0]
    return fn(rng, p)


# --- the launcher executable --------------------------------------------------

class Template:
    """A launcher packed around a payload with spare room. Each mutation is
    written over the payload bytes and the length field."""

    def __init__(self, args, p, path):
        self.path = path
        # Stream mutations are recompressed at a fast level, so they may come
        # out larger than the packer's payload.
        recompressed = len(pt.stored(pt.compress(p.stream(), 1, p.checksum)))
        self.capacity = max(len(p.data), recompressed) * 101 // 100 + SPARE
        self.original = p.data + bytes(self.capacity - len(p.data))
        raw = path + ".payload"
        with open(raw, "wb") as f:
            f.write(self.original)
        pack_launcher(args, raw, path)
        os.remove(raw)
        with open(path, "rb") as f:
            exe = f.read()
        self.offset = exe.find(self.original[:4096])
        if self.offset < 0 or exe.find(self.original[:4096], self.offset + 1) >= 0:
            raise SystemExit("mutate: cannot find the payload in %s" % path)
        self.size_at = payload_size_field(exe, self.offset)
        if exe[self.offset:self.offset + self.capacity] != self.original or \
                struct.unpack_from("<Q", exe, self.size_at)[0] != self.capacity:
            raise SystemExit("mutate: unexpected layout of the payload in %s" % path)
        self.dirty = (0, 0)

    def fits(self, m):
        return len(m.data) <= self.capacity

    def apply(self, m):
        with open(self.path, "r+b") as f:
            a, b = self.dirty
            if b > a:  # undo the previous mutation
                f.seek(self.offset + a)
                f.write(self.original[a:b])
            start = min(m.changed_from, len(m.data))
            f.seek(self.offset + start)
            f.write(m.data[start:])
            f.seek(self.size_at)
            f.write(struct.pack("<Q", len(m.data)))
        self.dirty = (start, len(m.data))


def payload_size_field(exe, payload_offset):
    """File offset of the payload's size in the data section's field table
    (contract/data_section.h): "VOYDATA\\0", version, count, then fields of
    id, offset, size; the payload is field 1."""
    start = exe.rfind(b"VOYDATA\0", 0, payload_offset)
    if start < 0:
        raise SystemExit("mutate: no data section before the payload")
    count = struct.unpack_from("<I", exe, start + 12)[0]
    for i in range(count):
        entry = start + 16 + 16 * i
        field_id, offset = struct.unpack_from("<II", exe, entry)
        if field_id == 1 and start + offset == payload_offset:
            return entry + 8
    raise SystemExit("mutate: the data section has no payload field at the payload")


def pack_launcher(args, payload_file, exe):
    cmd = [args.pack, "--stored-payload", payload_file, "--no-checks", "--output", exe, "--quiet"]
    r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if r.returncode != 0:
        raise SystemExit("mutate: packing failed: %s\n%s" % (" ".join(cmd), r.stdout.decode(errors="replace")))


# --- running ------------------------------------------------------------------

def classify(result, out_text, err_text, run_dir, exe_dir, expected_entries, mutation, payload):
    """(class, detail) of one run."""
    cwd, temp = os.path.join(run_dir, "cwd"), os.path.join(run_dir, "temp")
    strays = [os.path.join("cwd", n) for n in os.listdir(cwd)]
    strays += [os.path.join("temp", n) for n in os.listdir(temp) if not n.startswith("onefile_")]
    strays += [n for n in os.listdir(run_dir) if n not in ("cwd", "temp", "out.txt", "err.txt")]
    strays += [os.path.join("..", n) for n in os.listdir(exe_dir) if n not in expected_entries]
    targets = [n for n in os.listdir(temp) if n.startswith("onefile_")]
    if result is None:
        return "hang", "runner did not answer"
    if strays:
        return "outside write", "beside the target directory: %s" % ", ".join(sorted(strays)[:5])
    if result["timed_out"]:
        # The child starts only once everything is unpacked. A child that
        # hangs in a damaged main library is the app's own hang.
        if len(result["times"]) > 1 and main_library_damaged(mutation, payload):
            return "app hung", "killed after the time limit; the main library was damaged"
        return "hang", "killed after the time limit (%d processes)" % len(result["times"])
    if result["leftover"]:
        return "left running", "%d processes after the launcher ended" % result["leftover"]
    code = result["code"]
    lines = [l for l in (out_text + err_text).replace("\r\n", "\n").split("\n") if l]
    if code == 0:
        if lines:
            return "bad output", "exit 0 with output %r" % lines[:2]
        if targets:
            return "ok, directory left", "exit 0 but %s not deleted" % targets[0]
        return "ok", ""
    if code == 2:
        if len(lines) != 1:
            return "bad output", "exit 2 with %d lines: %r" % (len(lines), lines[:3])
        for name, pattern in MESSAGES:
            if pattern.match(lines[0]):
                return "message", name
        return "bad output", "exit 2 with unknown message %r" % lines[0]
    # Any other code. When the parent cleaned up, it ran to its end and passed
    # on its child's code: then the child crashed. If the main library's bytes
    # were damaged, that is the app's own crash, not the launcher's.
    detail = "exit code 0x%08X, output %r" % (code, lines[:2])
    if not targets and main_library_damaged(mutation, payload):
        return "app crashed", detail
    return "crash", detail + ("" if targets else " (the parent cleaned up: the child failed)")


def main_library_damaged(m, p):
    """Whether the decoded payload holds a main library other than the original."""
    p.stream()
    stream = m.stream
    if stream is None:
        if m.data[:3] != b"VOY":
            return False
        r = subprocess.run(["zstd", "-q", "-d", "-c"], input=m.data[3:], stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL)
        stream = r.stdout
    name, offset, size = p.entries[0]
    return stream[offset - 8:offset + size] != p.stream()[offset - 8:offset + size]


def clear_dir(path):
    for n in os.listdir(path):
        full = os.path.join(path, n)
        if os.path.isdir(full) and not os.path.islink(full):
            shutil.rmtree(full, ignore_errors=True)
        else:
            os.remove(full)


class Worker:
    def __init__(self, args, number, payloads):
        self.args = args
        self.dir = os.path.join(args.work, "w%d" % number)
        os.makedirs(self.dir, exist_ok=True)
        clear_dir(self.dir)
        self.runner = Runner(args.runner, self.dir)
        self.templates = {}
        for p in payloads:
            self.templates[p.name] = Template(args, p, os.path.join(self.dir, "%s.exe" % p.name))
        self.expected = set(os.listdir(self.dir)) | {"run"}
        self.run_dir = os.path.join(self.dir, "run")

    def run_one(self, p, m, exe=None):
        if exe is None:
            t = self.templates[p.name]
            if not t.fits(m):
                exe = os.path.join(self.dir, "big.exe")
                raw = exe + ".payload"
                with open(raw, "wb") as f:
                    f.write(m.data)
                pack_launcher(self.args, raw, exe)
                os.remove(raw)
            else:
                t.apply(m)
                exe = t.path
        for sub in ("", "cwd", "temp"):
            os.makedirs(os.path.join(self.run_dir, sub), exist_ok=True)
        out, err = os.path.join(self.run_dir, "out.txt"), os.path.join(self.run_dir, "err.txt")
        timeout = self.args.timeout_large if len(p.data) > (16 << 20) else self.args.timeout
        result = self.runner.run('"%s" exit 0' % win_path(exe), os.path.join(self.run_dir, "cwd"),
                                 os.path.join(self.run_dir, "temp"), out, err, timeout * 1000)
        out_text = read_text(out)
        err_text = read_text(err)
        expected = self.expected | {"big.exe", "verify.exe"}
        verdict = classify(result, out_text, err_text, self.run_dir, self.dir, expected, m, p)
        shutil.rmtree(self.run_dir, ignore_errors=True)
        for extra in ("big.exe", "verify.exe"):
            if os.path.exists(os.path.join(self.dir, extra)):
                os.remove(os.path.join(self.dir, extra))
        return verdict, result

    def stop(self):
        self.runner.stop()


def read_text(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("utf-8", errors="replace")
    except OSError:
        return ""


# --- payload preparation ------------------------------------------------------

def prepare_payloads(args):
    cache = os.path.join(args.work, "payloads")
    os.makedirs(cache, exist_ok=True)
    payloads = []
    for name, kind, extra in (("small", "small_tree", []), ("large", "mixed", ["--scale", str(args.large_scale)])):
        if args.only and name != args.only:
            continue
        digest = hashlib.sha256()
        for f in (os.path.join(TOP, "bench", "gen_tree.py"), args.main_dll, args.pack):
            with open(f, "rb") as fh:
                digest.update(fh.read())
        digest.update(repr((kind, extra, args.level)).encode())
        path = os.path.join(cache, "%s-%s.payload" % (name, digest.hexdigest()[:12]))
        if not os.path.exists(path):
            tree = os.path.join(cache, name + ".tree")
            if kind == "small_tree":
                make_small_tree(tree, args.main_dll)
            else:
                subprocess.run([sys.executable, os.path.join(TOP, "bench", "gen_tree.py"), "mixed", tree,
                                "--main", args.main_dll] + extra, check=True)
            subprocess.run([args.pack, "--root", tree, "--main", os.path.basename(args.main_dll), "--payload-only",
                            "--output", path + ".tmp", "--level", str(args.level), "--quiet"], check=True)
            os.replace(path + ".tmp", path)
            shutil.rmtree(tree)
        with open(path, "rb") as f:
            data = f.read()
        if args.checksum:
            frame, _ = pt.split(data)
            data = pt.stored(pt.compress(pt.decompress(frame), 19, checksum=True))
        payloads.append(Payload(name, data))
    return payloads


def make_small_tree(tree, main_dll):
    """The main library and a few files in folders, some large enough for
    several compressed blocks."""
    if os.path.exists(tree):
        shutil.rmtree(tree)
    rng = random.Random(7)
    files = {
        "data\\nested\\deep\\text.txt": b"deep text\n",
        "empty.txt": b"",
        "readme.txt": b"".join(b"line %d of the readme\n" % i for i in range(3000)),
        "assets\\noise.bin": rng.randbytes(150000),
        "assets\\sub\\table.bin": b"".join(struct.pack("<I", i * 7) for i in range(40000)),
    }
    for rel, data in files.items():
        path = os.path.join(tree, *rel.split("\\"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    shutil.copyfile(main_dll, os.path.join(tree, os.path.basename(main_dll)))


def build_runner(args):
    exe = os.path.join(args.work, "run_jobs.exe")
    src = os.path.join(os.path.dirname(os.path.abspath(__file__)), "run_jobs.cpp")
    if not os.path.exists(exe) or os.path.getmtime(exe) < os.path.getmtime(src):
        subprocess.run([args.cxx, "-O2", "-municode", "-static", "-o", exe, src], check=True)
    return exe


# --- the campaign -------------------------------------------------------------

def campaign(args, payloads):
    tasks = queue.Queue()
    for p in payloads:
        for i in range(args.start, args.start + args.count):
            tasks.put((p, i))
    verify = set()
    if args.verify_pack:
        rng = random.Random(args.seed)
        for p in payloads:
            for i in rng.sample(range(args.start, args.start + args.count), min(args.verify_pack, args.count)):
                verify.add((p.name, i))

    counts = collections.OrderedDict()
    failures = []
    app_failures = []
    mismatches = []
    lock = threading.Lock()
    done = [0]
    total = tasks.qsize()
    started = time.time()

    def work(number):
        w = Worker(args, number, payloads)
        try:
            while True:
                try:
                    p, i = tasks.get_nowait()
                except queue.Empty:
                    return
                m = make_mutation(p, i, args.seed, args.traversal)
                (cls, detail), result = w.run_one(p, m)
                if (p.name, i) in verify:
                    exe = os.path.join(w.dir, "verify.exe")
                    raw = exe + ".payload"
                    with open(raw, "wb") as f:
                        f.write(m.data)
                    pack_launcher(args, raw, exe)
                    os.remove(raw)
                    (cls2, detail2), _ = w.run_one(p, m, exe)
                    if (cls2, detail2.split(",")[0]) != (cls, detail.split(",")[0]):
                        with lock:
                            mismatches.append((p.name, i, cls, detail, cls2, detail2))
                with lock:
                    key = (p.name, m.kind, cls, detail if cls == "message" else "")
                    counts[key] = counts.get(key, 0) + 1
                    if cls in FAILURES:
                        failures.append((p.name, i, m.kind, m.desc, cls, detail))
                    elif cls.startswith("app "):
                        app_failures.append((p.name, i, m.kind, m.desc, cls, detail))
                    done[0] += 1
                    if args.verbose:
                        print("%s:%d %s (%s) -> %s %s" % (p.name, i, m.kind, m.desc, cls, detail), flush=True)
                    elif done[0] % 100 == 0:
                        rate = done[0] / (time.time() - started)
                        print("mutate: %d of %d runs, %.1f per second, %d failures" %
                              (done[0], total, rate, len(failures)), file=sys.stderr, flush=True)
        finally:
            w.stop()

    threads = [threading.Thread(target=work, args=(n,)) for n in range(args.jobs)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return counts, failures, app_failures, mismatches, time.time() - started


def report(args, payloads, counts, failures, app_failures, mismatches, seconds):
    lines = []
    for p in payloads:
        n_entries = len(pt.parse_entries(p.stream()))
        lines.append("Payload %s: %d files, %d bytes stored, %d bytes decoded." % (
            p.name, n_entries, len(p.data), len(p.stream())))
    total = sum(counts.values())
    lines.append("%d runs in %.0f s (seed %d, mutations %d to %d of each payload)." % (
        total, seconds, args.seed, args.start, args.start + args.count - 1))
    lines.append("")
    lines.append("| Payload | Outcome | Runs |")
    lines.append("|---|---|---:|")
    by_outcome = collections.Counter()
    for (pname, kind, cls, detail), n in counts.items():
        by_outcome[(pname, cls + (": " + detail if detail else ""))] += n
    for (pname, outcome), n in sorted(by_outcome.items()):
        lines.append("| %s | %s | %d |" % (pname, outcome, n))
    lines.append("")
    lines.append("| Mutation | Runs | ok | message or app's own failure | failures |")
    lines.append("|---|---:|---:|---:|---:|")
    by_kind = collections.OrderedDict()
    for (pname, kind, cls, detail), n in counts.items():
        row = by_kind.setdefault(kind, [0, 0, 0, 0])
        row[0] += n
        row[1] += n if cls.startswith("ok") else 0
        row[2] += n if cls in ("message", "app crashed", "app hung") else 0
        row[3] += n if cls in FAILURES else 0
    for kind, row in sorted(by_kind.items()):
        lines.append("| %s | %d | %d | %d | %d |" % (kind, *row))
    text = "\n".join(lines)
    print(text)
    if failures:
        print("\nFailures (replay one with --replay PAYLOAD:INDEX --keep DIR):")
        for f in failures[:100]:
            print("  %s:%d %s (%s): %s %s" % f)
    if app_failures:
        print("\nDamaged main libraries that crashed or hung by themselves:")
        for f in app_failures[:100]:
            print("  %s:%d %s (%s): %s %s" % f)
    if mismatches:
        print("\nOrdinary pack and patched executable disagree:")
        for m in mismatches:
            print("  %s:%d patched: %s %s; packed: %s %s" % m)
    if args.report:
        with open(args.report, "w") as f:
            f.write(text + "\n")


def replay(args, payloads):
    name, index = args.replay.split(":")
    p = next(x for x in payloads if x.name == name)
    m = make_mutation(p, int(index), args.seed, args.traversal)
    print("%s:%s %s: %s" % (name, index, m.kind, m.desc))
    w = Worker(args, 0, [])
    try:
        exe = os.path.join(w.dir, "replay.exe")
        raw = exe + ".payload"
        with open(raw, "wb") as f:
            f.write(m.data)
        pack_launcher(args, raw, exe)
        w.expected |= {"replay.exe", "replay.exe.payload"}
        (cls, detail), result = w.run_one(p, m, exe)
        print("-> %s %s %s" % (cls, detail, result))
        if args.keep:
            os.makedirs(args.keep, exist_ok=True)
            shutil.copy(raw, os.path.join(args.keep, "%s-%s.payload" % (name, index)))
            shutil.copy(exe, os.path.join(args.keep, "%s-%s.exe" % (name, index)))
            if m.stream is not None:
                with open(os.path.join(args.keep, "%s-%s.stream" % (name, index)), "wb") as f:
                    f.write(m.stream)
            print("kept in %s" % args.keep)
    finally:
        w.stop()
    return 0 if cls not in FAILURES else 1


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--count", type=int, default=2000, help="mutations of each payload (default 2000)")
    ap.add_argument("--start", type=int, default=0, help="first mutation index")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--jobs", type=int, default=2, help="runs at the same time (default 2)")
    ap.add_argument("--only", choices=["small", "large"], help="mutate one payload only")
    ap.add_argument("--large-scale", type=float, default=1.0,
                    help="size of the large tree, as BENCH_SCALE (default 1: 2,000 files, 200 MB)")
    ap.add_argument("--level", type=int, default=19, help="packing level of the payloads")
    ap.add_argument("--traversal", action="store_true", help="also names that climb out of the target directory")
    ap.add_argument("--checksum", action="store_true",
                    help="an experiment: give the payloads' frames a content checksum (recompressed by zstd -19 "
                         "--check) and see which damage the decoder then catches")
    ap.add_argument("--timeout", type=int, default=30, help="time limit per run in s (small payloads)")
    ap.add_argument("--timeout-large", type=int, default=120, help="time limit per run in s (payloads over 16 MB)")
    ap.add_argument("--verify-pack", type=int, default=0, metavar="K",
                    help="also pack K mutations per payload the ordinary way and compare")
    ap.add_argument("--quick", action="store_true",
                    help="the test suite's subset: 200 mutations of each payload, large tree at scale 0.02")
    ap.add_argument("--replay", metavar="PAYLOAD:INDEX", help="run one mutation and show it")
    ap.add_argument("--keep", metavar="DIR", help="with --replay: keep its payload and executable in DIR")
    ap.add_argument("--report", metavar="FILE", help="also write the tables to FILE")
    ap.add_argument("--verbose", action="store_true", help="one line per run")
    ap.add_argument("--work", default=os.path.join(TOP, "build", "mutate"), help="scratch folder (default build/mutate)")
    ap.add_argument("--pack", default=os.environ.get("ONEFILE_PACK", os.path.join(TOP, "build", "bin", "onefile-pack")))
    ap.add_argument("--main-dll", default=os.path.join(os.environ.get("BENCH_WIN_BUILD", os.path.join(TOP, "build", "win")),
                                                       "launcher", "tests", "test_app.dll"))
    ap.add_argument("--runner", help="run_jobs.exe (default: built into the scratch folder)")
    ap.add_argument("--cxx", default=os.environ.get("ONEFILE_CXX", "x86_64-w64-mingw32-g++-posix"))
    args = ap.parse_args()
    if args.quick:
        args.count, args.large_scale, args.level, args.verify_pack = 200, 0.02, 19, max(args.verify_pack, 3)
    args.work = os.path.abspath(args.work)
    os.makedirs(args.work, exist_ok=True)
    for what, path in (("packer", args.pack), ("main library", args.main_dll)):
        if not os.path.exists(path):
            raise SystemExit("mutate: %s not found at %s" % (what, path))
    if not args.runner:
        args.runner = build_runner(args)
    payloads = prepare_payloads(args)
    if args.replay:
        return replay(args, payloads)
    for p in payloads:
        p.stream()
    counts, failures, app_failures, mismatches, seconds = campaign(args, payloads)
    report(args, payloads, counts, failures, app_failures, mismatches, seconds)
    return 1 if failures or mismatches else 0


if __name__ == "__main__":
    sys.exit(main())
