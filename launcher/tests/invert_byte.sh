#!/usr/bin/env bash
# invert_byte.sh IN FROM_END OUT: OUT is IN with the byte FROM_END bytes
# before its end inverted (a damage that never leaves the byte as it was).
set -euo pipefail
offset=$(($(stat -c %s "$1") - $2))
byte=$(od -An -tu1 -j "$offset" -N1 "$1" | tr -d ' ')
cp "$1" "$3"
printf "\\x$(printf %02x $((255 - byte)))" | dd of="$3" bs=1 seek="$offset" conv=notrunc status=none
