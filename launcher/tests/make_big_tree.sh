#!/usr/bin/env bash
# make_big_tree.sh DIR: 200 files of 256 KiB of random bytes (50 MiB that do
# not compress), for interrupting a launcher while it unpacks.
set -euo pipefail
mkdir -p "$1/data"
for i in $(seq 200); do head -c 262144 /dev/urandom >"$1/data/blob$i.bin"; done
touch "$1/stamp"
