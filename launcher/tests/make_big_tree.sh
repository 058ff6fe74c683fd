#!/usr/bin/env bash
# make_big_tree.sh DIR [single]: 200 files of 256 KiB of random bytes (50 MiB
# that do not compress), for interrupting a launcher while it unpacks; with
# "single", one file of 200 MiB instead, for interrupting it in one write;
# with "many", 12,000 files of 512 bytes in 120 folders, for a slow first start.
set -euo pipefail
mkdir -p "$1/data"
if [ "${2:-}" = single ]; then
  head -c 209715200 /dev/urandom >"$1/data/big.bin"
elif [ "${2:-}" = many ]; then
  for d in $(seq 120); do
    mkdir -p "$1/data/d$d"
    head -c $((100 * 512)) /dev/urandom | split -b 512 -a 3 -d - "$1/data/d$d/f"
  done
else
  for i in $(seq 200); do head -c 262144 /dev/urandom >"$1/data/blob$i.bin"; done
fi
touch "$1/stamp"
