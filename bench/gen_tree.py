#!/usr/bin/env python3
"""Writes the benchmarks' synthetic app trees, the same bytes on every run.

  gen_tree.py mixed DIR --main DLL [--scale S] [--seed N]
      About 2,000 files and 200 MB at scale 1 (file count scales with S): text
      (sources, JSON, logs, translations), pseudo machine code in DLL-like
      files, some of them near-copies of each other (versions of one library),
      and incompressible assets.
  gen_tree.py small DIR --main DLL [--count N] [--seed N]
      N (default 20,000) files of 1 to 8 KB, half text, half pseudo code.

The main library DLL is copied to the top of the tree as it is. Everything
else comes from random.Random(seed), so the tree depends only on the
arguments (and the DLL's bytes).
"""
import argparse
import itertools
import os
import random
import shutil
import sys

SYLLABLES = ["ka", "lo", "ren", "ti", "sa", "mon", "de", "ul", "vi", "ne", "ro", "ta", "en", "is", "or",
             "ca", "pi", "str", "get", "set", "buf", "len", "ptr", "cfg", "io", "win", "app", "data", "re"]
KEYWORDS = ["if", "for", "return", "const", "auto", "int", "void", "static", "struct", "while", "else",
            "namespace", "class", "public", "private", "template", "typename", "bool", "size_t", "char"]
PUNCT = ["(", ")", "{", "}", ";", ",", " = ", " == ", " + ", " - ", "->", "::", "[", "]", " < ", " > "]


class Gen:
    def __init__(self, seed):
        self.rng = random.Random(seed)
        r = self.rng
        self.words = sorted({"".join(r.choice(SYLLABLES) for _ in range(r.randint(1, 4))) for _ in range(6000)})
        # Zipf-like word weights, as in real text.
        weights = [1.0 / (i + 1) for i in range(len(self.words))]
        r.shuffle(weights)
        self.word_cum = list(itertools.accumulate(weights))
        # Instruction-like byte fragments with skewed frequencies: compresses
        # roughly like x86-64 code (about 2.5:1 with strong compressors).
        self.fragments = [r.randbytes(r.randint(1, 7)) for _ in range(3000)]
        self.fragment_cum = list(itertools.accumulate(1.0 / (i + 1) ** 0.9 for i in range(len(self.fragments))))
        self.binaries = []  # earlier pseudo-binaries, for near-copies

    def words_text(self, n):
        return self.rng.choices(self.words, cum_weights=self.word_cum, k=n)

    def lines(self, size, next_line, head=""):
        """`head`, then lines from next_line() until `size` bytes, cut there."""
        out, total = [head], len(head)
        while total < size:
            line = next_line()
            out.append(line)
            total += len(line)
        return "".join(out).encode()[:size]

    def source_text(self, size):
        r = self.rng
        indent = 0

        def line():
            nonlocal indent
            kind = r.random()
            if kind < 0.15:
                text = "// " + " ".join(self.words_text(r.randint(3, 12)))
            elif kind < 0.25:
                indent = max(0, min(6, indent + r.choice((-1, 1))))
                text = r.choice(KEYWORDS) + " " + "_".join(self.words_text(2)) + "() {"
            else:
                parts = []
                for _ in range(r.randint(2, 9)):
                    parts.append(r.choice(KEYWORDS) if r.random() < 0.3 else "_".join(self.words_text(r.randint(1, 2))))
                    parts.append(r.choice(PUNCT))
                text = "".join(parts) + ";"
            return "  " * indent + text + "\n"

        return self.lines(size, line)

    def json_text(self, size):
        r = self.rng

        def line():
            fields = ", ".join('"%s": %s' % (w, r.choice(['"%s"' % "-".join(self.words_text(2)), str(r.randint(0, 99999)),
                                                         "true", "null", "%.4f" % r.random()]))
                               for w in self.words_text(r.randint(2, 7)))
            return "  {" + fields + "},\n"

        return self.lines(size, line, head="[\n")

    def log_text(self, size):
        r = self.rng
        t = r.randint(1_600_000_000, 1_700_000_000)

        def line():
            nonlocal t
            t += r.randint(0, 5000)
            return "%d.%03d [%s] %s: %s\n" % (t // 1000, t % 1000, r.choice(["INFO", "INFO", "INFO", "WARN", "DEBUG", "ERROR"]),
                                             r.choice(self.words), " ".join(self.words_text(r.randint(4, 16))))

        return self.lines(size, line)

    def translation_text(self, size):
        r = self.rng
        return self.lines(size, lambda: "%s.%s = %s\n" % (r.choice(self.words), r.choice(self.words),
                                                           " ".join(self.words_text(r.randint(2, 10))).capitalize()))

    def code_bytes(self, size):
        r = self.rng
        chunks, total = [], 0
        while total < size:
            piece = b"".join(r.choices(self.fragments, cum_weights=self.fragment_cum, k=4096))
            # Addresses and displacements: partly random, partly small.
            piece += r.randbytes(r.randint(64, 512))
            chunks.append(piece)
            total += len(piece)
        return b"".join(chunks)[:size]

    def binary(self, size):
        r = self.rng
        if self.binaries and r.random() < 0.3:
            # Another version of an earlier library: the same bytes with a few
            # hundred small patches and a different tail.
            base = bytearray(r.choice(self.binaries))
            for _ in range(r.randint(50, 400)):
                at = r.randrange(len(base))
                base[at:at + 8] = r.randbytes(8)[: len(base) - at]
            data = bytes(base) + self.code_bytes(r.randint(0, len(base) // 8 + 1))
        else:
            header = b"MZ\x90\x00" + bytes(60) + b"PE\x00\x00" + r.randbytes(200) + bytes(300)
            strings = "\0".join(self.words_text(max(1, size // 200))).encode()
            body = self.code_bytes(max(0, size - len(header) - len(strings)))
            # Data section: tables of small integers.
            table = b"".join(int(x).to_bytes(4, "little") for x in sorted(r.randrange(1 << 20) for _ in range(size // 64)))
            data = (header + body + strings + table)[: max(size, 1)]
        if len(data) < 8 << 20:
            self.binaries.append(data)
            if len(self.binaries) > 40:
                self.binaries.pop(r.randrange(len(self.binaries)))
        return data

    def log_uniform(self, low, high):
        import math
        return int(math.exp(self.rng.uniform(math.log(low), math.log(high))))


def directories(gen, count):
    r = gen.rng
    dirs = [""]
    tops = ["lib", "plugins", "resources", "locales", "data", "docs", "share", "modules", "assets", "config"]
    for top in tops:
        dirs.append(top)
    while len(dirs) < count:
        parent = r.choice(dirs)
        if parent.count("\\") >= 4:
            continue
        name = "_".join(gen.words_text(r.randint(1, 2)))
        path = name if not parent else parent + "\\" + name
        if path not in dirs:
            dirs.append(path)
    return dirs


def write(root, rel, data):
    path = os.path.join(root, *rel.split("\\"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    return len(data)


def unique_name(used, rel):
    stem, dot, ext = rel.rpartition(".")
    candidate, n = rel, 1
    while candidate.lower() in used:
        candidate = "%s_%d.%s" % (stem, n, ext)
        n += 1
    used.add(candidate.lower())
    return candidate


def mixed(root, seed, scale):
    gen = Gen(seed)
    r = gen.rng
    n_files = max(10, round(2000 * scale))
    dirs = directories(gen, max(5, round(150 * scale)))
    used, total = set(), 0
    for i in range(n_files):
        kind = r.random()
        folder = r.choice(dirs)
        base = "_".join(gen.words_text(r.randint(1, 3)))
        if kind < 0.62:  # text: 1 KB .. 200 KB, about 47 MB at scale 1
            ext, make = r.choice([("cpp", gen.source_text), ("h", gen.source_text), ("json", gen.json_text),
                                  ("log", gen.log_text), ("txt", gen.translation_text), ("py", gen.source_text)])
            data = make(gen.log_uniform(1 << 10, 200 << 10))
        elif kind < 0.9:  # binaries: 2 KB .. 1 MB, about 95 MB at scale 1
            ext = r.choice(["dll", "dll", "pyd", "exe", "bin"])
            data = gen.binary(gen.log_uniform(2 << 10, 1 << 20))
        else:  # incompressible assets: 8 KB .. 1.5 MB, about 57 MB at scale 1
            ext = r.choice(["png", "jpg", "ogg", "zip", "dat"])
            data = r.randbytes(gen.log_uniform(8 << 10, 3 << 19))
        rel = unique_name(used, (folder + "\\" if folder else "") + base + "." + ext)
        total += write(root, rel, data)
    return n_files, total


def small(root, seed, count):
    gen = Gen(seed)
    r = gen.rng
    dirs = directories(gen, max(5, count // 100))
    used, total = set(), 0
    for i in range(count):
        folder = r.choice(dirs)
        size = r.randint(1 << 10, 8 << 10)
        if r.random() < 0.5:
            ext, data = "txt", r.choice([gen.source_text, gen.json_text, gen.translation_text])(size)
        else:
            ext, data = "bin", gen.code_bytes(size)
        rel = unique_name(used, (folder + "\\" if folder else "") + "_".join(gen.words_text(r.randint(1, 3))) + "." + ext)
        total += write(root, rel, data)
    return count, total


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("kind", choices=["mixed", "small"])
    ap.add_argument("dir")
    ap.add_argument("--main", required=True, help="main library copied to the top of the tree")
    ap.add_argument("--scale", type=float, default=1.0)
    ap.add_argument("--count", type=int, default=20000)
    ap.add_argument("--seed", type=int, default=20240601)
    a = ap.parse_args()
    if os.path.exists(a.dir):
        shutil.rmtree(a.dir)
    os.makedirs(a.dir)
    if a.kind == "mixed":
        files, size = mixed(a.dir, a.seed, a.scale)
    else:
        files, size = small(a.dir, a.seed, a.count)
    shutil.copyfile(a.main, os.path.join(a.dir, os.path.basename(a.main)))
    size += os.path.getsize(a.main)
    print("%s: %d files + main library, %.1f MB" % (a.dir, files, size / 1e6), file=sys.stderr)


if __name__ == "__main__":
    main()
