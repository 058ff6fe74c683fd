#!/usr/bin/env bash
# inspect_windows_test.sh WINE_RUN LINUX_PACK WINDOWS_PACK MAIN_DLL: the
# Windows packer under Wine leaves out what the patterns say, as the Linux
# one does (same bytes), and lists, verifies and extracts what either packer
# wrote: the same listing as the Linux packer's, the tree back byte for
# byte (folders, an empty file, non-ASCII names, a file larger than one
# read), a damaged copy refused with one line.
set -euo pipefail
wine_run=$1 linux_pack=$2 windows_pack=$3 dll=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
win() { winepath -w "$1" 2>/dev/null; }
# The Windows packer's standard streams end lines with CR LF.
windows() { "$wine_run" "$windows_pack" "$@" | tr -d '\r'; }

root=$work/root
mkdir -p "$root/data/deep" "$root/Grüße" "$root/docs" "$root/node_modules/pkg/test"
cp "$dll" "$root/app.dll"
printf 'deep\n' >"$root/data/deep/a.txt"
: >"$root/data/empty"
printf 'umlaut\n' >"$root/Grüße/ä.txt"
head -c 3000000 /dev/urandom >"$root/data/random.bin"
printf 'docs\n' >"$root/docs/guide.md"
printf 'readme\n' >"$root/README.md"
printf 'test\n' >"$root/node_modules/pkg/test/t.js"
printf 'types\n' >"$root/node_modules/pkg/index.d.ts"
printf 'main\n' >"$root/node_modules/pkg/index.js"
printf '# what the app does not need\n*.d.ts\r\n**/test/\n' >"$work/rules.txt"

mkdir -p "$work/linux" "$work/windows"
options=(--main app.dll --exclude '*.md' --exclude '!README.md' --level 5 --product "Inspect Ä" --cache --quiet)
"$linux_pack" --root "$root" --output "$work/linux/App.exe" --exclude-from "$work/rules.txt" "${options[@]}"
windows --root "$(win "$root")" --output "$(win "$work/windows/App.exe")" --exclude-from "$(win "$work/rules.txt")" \
  "${options[@]}"
cmp "$work/linux/App.exe" "$work/windows/App.exe" || fail "the packers left out different files"

# What the patterns leave.
expected=$work/expected
cp -r "$root" "$expected"
rm -r "$expected/docs" "$expected/node_modules/pkg/test" "$expected/node_modules/pkg/index.d.ts"

"$linux_pack" --list "$work/linux/App.exe" >"$work/linux.list"
windows --list "$(win "$work/linux/App.exe")" >"$work/windows.list"
diff "$work/linux.list" "$work/windows.list" || fail "the listings differ"
grep -qx 'cache:   yes, key [0-9a-f]\{32\}' "$work/windows.list" || { cat "$work/windows.list"; fail "no cache key"; }
grep -qx 'product: "Inspect Ä"' "$work/windows.list" || { cat "$work/windows.list"; fail "no product"; }
[ "$(grep -c '^ .*  ' "$work/windows.list")" = "$(find "$expected" -type f | wc -l)" ] ||
  { cat "$work/windows.list"; fail "the listing does not show every packed file"; }

windows --verify "$(win "$work/linux/App.exe")" >"$work/verify" || fail "verify: $(cat "$work/verify")"
grep -q ': intact: 7 files, ' "$work/verify" || fail "verify said: $(cat "$work/verify")"
cp "$work/linux/App.exe" "$work/damaged.exe"
size=$(stat -c %s "$work/damaged.exe")
printf '\x55' | dd of="$work/damaged.exe" bs=1 seek=$((size - 1000000)) conv=notrunc 2>/dev/null
set +e
"$wine_run" "$windows_pack" --verify "$(win "$work/damaged.exe")" >"$work/out" 2>"$work/err"
code=$?
set -e
[ "$code" = 1 ] || fail "a damaged app verified with exit code $code"
[ "$(wc -l <"$work/err")" = 1 ] && grep -q "damaged: the payload's content checksum does not match" "$work/err" ||
  fail "a damaged app: $(cat "$work/err")"

windows --extract "$(win "$work/windows/App.exe")" --to "$(win "$work/windows/out")" --quiet
diff -r "$expected" "$work/windows/out" || fail "the extracted tree differs from the packed one"
"$linux_pack" --extract "$work/windows/App.exe" --to "$work/linux/out" --quiet
diff -r "$work/linux/out" "$work/windows/out" || fail "the packers extract differently"
echo "excluded alike, listed alike, verified, extracted byte for byte ($(find "$expected" -type f | wc -l) files)"
