#!/usr/bin/env bash
# Writes hand-made stored payloads for the launcher's failure tests, ones the
# packer would refuse to write: make_payloads.sh OUT_DIR MAIN_DLL NO_ENTRY_DLL
set -euo pipefail
out=$1 dll=$2 no_entry=$3
mkdir -p "$out"

# A name as UTF-16LE code units (ASCII only) with its 0x0000 terminator.
name() {
  local s=$1 i
  for ((i = 0; i < ${#s}; i++)); do printf '%s\0' "${s:i:1}"; done
  printf '\0\0'
}
# An unsigned 64-bit little-endian number.
u64() {
  local n=$1 i
  for ((i = 0; i < 8; i++)); do printf "\\x$(printf %02x $(((n >> (8 * i)) & 255)))"; done
}
record() { name "$1"; u64 "$(stat -c %s "$2")"; cat "$2"; }
end_marker() { printf '\0\0'; }
stored() { printf 'VOY'; zstd -q -c --no-progress; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
printf x >"$tmp/x"
printf y >"$tmp/y"

{ record main.dll "$dll"; end_marker; } | stored >"$tmp/valid"

{ printf 'VOX'; tail -c +4 "$tmp/valid"; } >"$out/bad_header.payload"

# Truncated: the frame stops halfway.
head -c $(($(stat -c %s "$tmp/valid") / 2)) "$tmp/valid" >"$out/truncated.payload"

# Corrupted: change frame bytes until the decoder refuses the frame.
size=$(stat -c %s "$tmp/valid")
for ((offset = 3 + 8; offset < size; offset += 7)); do
  cp "$tmp/valid" "$tmp/corrupt"
  printf '\xff' | dd of="$tmp/corrupt" bs=1 seek="$offset" conv=notrunc status=none
  if ! tail -c +4 "$tmp/corrupt" | zstd -q -d -c >/dev/null 2>&1; then break; fi
done
cp "$tmp/corrupt" "$out/corrupt.payload"

# Damaged inside the main library's bytes: a flipped bit that decodes
# without error, so that only the frame's content checksum finds it. The
# CLI writes the checksum by default.
tail -c +4 "$tmp/valid" | zstd -q -d -c >"$tmp/valid.stream"
first=$((18 + 8)) last=$((18 + 8 + $(stat -c %s "$dll")))
found=""
for ((offset = size / 3; offset < size - 16; offset += 97)); do
  cp "$tmp/valid" "$tmp/damaged"
  byte=$(od -An -tu1 -j "$offset" -N1 "$tmp/valid" | tr -d ' ')
  printf "\\x$(printf %02x $((byte ^ 16)))" | dd of="$tmp/damaged" bs=1 seek="$offset" conv=notrunc status=none
  tail -c +4 "$tmp/damaged" | zstd -q -d -c --no-check >"$tmp/damaged.stream" 2>/dev/null || continue
  tail -c +4 "$tmp/damaged" | zstd -q -d -c >/dev/null 2>&1 && continue
  [ "$(stat -c %s "$tmp/damaged.stream")" = "$(stat -c %s "$tmp/valid.stream")" ] || continue
  at=$( (cmp "$tmp/valid.stream" "$tmp/damaged.stream" || true) | awk '{print $5}' | tr -d ,)
  if [ -n "$at" ] && [ "$at" -gt "$first" ] && [ "$at" -le "$last" ]; then found=1; break; fi
done
[ -n "$found" ] || { echo "no bit flip found that only the checksum detects" >&2; exit 1; }
cp "$tmp/damaged" "$out/damaged.payload"

# "a" is a file, so "a\b" cannot be created.
{ record main.dll "$dll"; record a "$tmp/x"; record 'a\b' "$tmp/y"; end_marker; } | stored >"$out/unwritable.payload"

# A name of 1024 code units, one more than a name may have.
long=$(printf 'n%.0s' $(seq 1024))
{ record main.dll "$dll"; record "$long" "$tmp/x"; end_marker; } | stored >"$out/long_name.payload"

# Main libraries the launcher cannot use: one without run_code, and one that
# is no library at all.
{ record main.dll "$no_entry"; end_marker; } | stored >"$out/no_entry.payload"
printf 'this is not a library\n' >"$tmp/text"
{ record main.dll "$tmp/text"; end_marker; } | stored >"$out/not_dll.payload"

# Only the end marker: nothing to unpack, nothing for the child to load.
end_marker | stored >"$out/empty.payload"
