#!/usr/bin/env bash
# make_big_tree.sh DIR [single]: 200 files of 256 KiB of random bytes (50 MiB
# that do not compress), for interrupting a launcher while it unpacks; with
# "single", one file of 200 MiB instead, for interrupting it in one write.
set -euo pipefail
mkdir -p "$1/data"
if [ "${2:-}" = single ]; then
  head -c 209715200 /dev/urandom >"$1/data/big.bin"
else
  for i in $(seq 200); do head -c 262144 /dev/urandom >"$1/data/blob$i.bin"; done
fi
touch "$1/stamp"
