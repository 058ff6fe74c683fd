#!/usr/bin/env bash
# full_disk_test.sh WINE_RUN APP_EXE: TEMP on a tiny, soon full file system.
# The launcher must end with the write or open message and exit code 2,
# delete what it unpacked (a partial tree would keep the disk full), and
# change nothing else. Needs root for the mount;
# skipped (77) where mounting is not allowed.
set -uo pipefail
wine_run=$1 app=$2
mnt=$(mktemp -d)
scratch=$(mktemp -d)
cleanup() { umount "$mnt" 2>/dev/null; rm -rf "$mnt" "$scratch"; }
trap cleanup EXIT
mount -t tmpfs -o size=256k tmpfs "$mnt" 2>/dev/null || { echo "cannot mount a tmpfs here: skipped"; exit 77; }
echo mine >"$mnt/beside.txt"
echo mine >"$scratch/here.txt"

temp="Z:${mnt//\//\\}"
cd "$scratch" || exit 1
# Wine takes TEMP and TMP from its registry, not from the Unix environment:
# set them inside a Windows command interpreter.
"$wine_run" cmd /c "set TEMP=$temp&& set TMP=$temp&& Z:${app//\//\\} exit 0" >"$scratch/out" 2>"$scratch/err"
code=$?
out=$(tr -d '\r' <"$scratch/out") err=$(tr -d '\r' <"$scratch/err")
echo "exit code $code; stdout: $out; stderr: $err"
[ "$code" = 2 ] || { echo "expected exit code 2"; exit 1; }
case "$err" in
  "Error, couldn't unpack file to target path. ([Error 112] "*) ;;
  "Error, failed to open '"*"' for writing.") ;;
  *) echo "unexpected message"; exit 1 ;;
esac
[ "$(cat "$mnt/beside.txt")" = mine ] && [ "$(cat "$scratch/here.txt")" = mine ] || { echo "files outside the target directory changed"; exit 1; }
others=$(find "$mnt" -mindepth 1 -maxdepth 1 ! -name beside.txt)
[ -z "$others" ] || { echo "unexpected files: $others"; exit 1; }
[ "$(ls "$scratch" | sort | tr '\n' ' ')" = "err here.txt out " ] || { echo "current directory changed: $(ls "$scratch")"; exit 1; }
echo ok
