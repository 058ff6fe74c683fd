#!/usr/bin/env python3
"""Reading and writing stored payloads, for the benchmark and mutation scripts.

Stored payload: "VOY", one Zstandard frame, zero bytes up to a multiple of 8,
and the count of all bytes before it as a little-endian 64-bit number. The
frame holds the entry stream: records (UTF-16LE name, 0x0000, 64-bit LE size,
content) closed by a single 0x0000 unit.

  payload_tools.py frame PAYLOAD OUT    writes the Zstandard frame alone
"""
import struct
import subprocess
import sys

HEADER = b"VOY"
ZSTD_MAGIC = 0xFD2FB528


def frame_end(data, start=3):
    """Offset just past the Zstandard frame that begins at `start`."""
    if struct.unpack_from("<I", data, start)[0] != ZSTD_MAGIC:
        raise ValueError("no Zstandard frame at offset %d" % start)
    fhd = data[start + 4]
    fcs_flag, single, checksum, dict_flag = fhd >> 6, (fhd >> 5) & 1, (fhd >> 2) & 1, fhd & 3
    pos = start + 5 + (0 if single else 1) + (0, 1, 2, 4)[dict_flag]
    pos += (1 if single else 0, 2, 4, 8)[fcs_flag]
    while True:
        header = int.from_bytes(data[pos:pos + 3], "little")
        last, kind, size = header & 1, (header >> 1) & 3, header >> 3
        if kind == 3:
            raise ValueError("reserved block type at offset %d" % pos)
        pos += 3 + (1 if kind == 1 else size)
        if pos > len(data):
            raise ValueError("frame runs past the end")
        if last:
            return pos + (4 if checksum else 0)


def split(payload):
    """(frame, trailer) of a well-formed stored payload."""
    if payload[:3] != HEADER:
        raise ValueError("no VOY header")
    end = frame_end(payload)
    return payload[3:end], payload[end:]


def trailer(length):
    """Zero bytes up to a multiple of 8, then the count of bytes before it."""
    padding = (8 - length % 8) % 8
    return bytes(padding) + struct.pack("<Q", length + padding)


def stored(frame):
    """A stored payload around one Zstandard frame."""
    return HEADER + frame + trailer(3 + len(frame))


def decompress(frame):
    """The entry stream in `frame`, through the zstd command."""
    return subprocess.run(["zstd", "-q", "-d", "-c"], input=frame, stdout=subprocess.PIPE, check=True).stdout


def compress(stream, level=3, checksum=False):
    """One frame as the packer writes it: 2^27 window, no checksum (unless
    asked for) and no content size."""
    return subprocess.run(["zstd", "-q", "-c", "-%d" % level, "--check" if checksum else "--no-check",
                           "--no-content-size", "--zstd=wlog=27", "-T0"],
                          input=stream, stdout=subprocess.PIPE, check=True).stdout


def parse_entries(stream):
    """[(name, content offset, size)] of a well-formed entry stream."""
    entries, pos = [], 0
    while True:
        end = pos
        while stream[end:end + 2] != b"\0\0":
            end += 2
        if end == pos:
            return entries
        name = stream[pos:end].decode("utf-16-le")
        size = struct.unpack_from("<Q", stream, end + 2)[0]
        entries.append((name, end + 10, size))
        pos = end + 10 + size


def record(name, content):
    return name.encode("utf-16-le") + b"\0\0" + struct.pack("<Q", len(content)) + content


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "frame":
        with open(sys.argv[2], "rb") as f:
            frame, _ = split(f.read())
        with open(sys.argv[3], "wb") as f:
            f.write(frame)
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
