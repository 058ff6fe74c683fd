#!/usr/bin/env bash
# make_update_trees.sh DIR: two builds of one app for the cache's update
# tests, DIR/v1 and DIR/v2. They share 40 files of 256 KiB and 200 small
# ones; v2 changes one file (changed.bin, 8 MiB of other random bytes),
# adds one (added.txt) and drops one (removed.txt).
set -euo pipefail
rm -rf "$1/v1" "$1/v2"
mkdir -p "$1/v1/data/blobs" "$1/v1/data/texts"
for i in $(seq 40); do head -c 262144 /dev/urandom >"$1/v1/data/blobs/blob$i.bin"; done
for i in $(seq 200); do echo "text $i" >"$1/v1/data/texts/t$i.txt"; done
cp -r "$1/v1" "$1/v2"
head -c 8388608 /dev/urandom >"$1/v1/changed.bin"
head -c 8388608 /dev/urandom >"$1/v2/changed.bin"
echo "only in the first build" >"$1/v1/removed.txt"
echo "new in the second build" >"$1/v2/added.txt"
touch "$1/stamp"
