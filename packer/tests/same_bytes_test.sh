#!/usr/bin/env bash
# same_bytes_test.sh WINE_RUN LINUX_PACK WINDOWS_PACK MAIN_DLL: packs one
# tree (folders, a non-ASCII name, an empty file, a file larger than a
# compression job) with the same options on Linux and with onefile-pack.exe
# under Wine; the executables and the stored payloads must be identical. The
# app is a cached one, so both packers' cache keys (from the system's SHA-256
# on each side) must agree too. A launcher packed without --product takes its
# product from the output's name on both. Then the same for a program main.
set -euo pipefail
wine_run=$1 linux_pack=$2 windows_pack=$3 dll=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root/data/deep" "$root/Grüße"
cp "$dll" "$root/app.dll"
printf 'hello\n' >"$root/data/deep/a.txt"
: >"$root/data/empty"
printf 'umlaut\n' >"$root/Grüße/ä.txt"
head -c 9000000 /dev/urandom >"$root/data/random.bin"
seq 1 400000 >"$root/data/numbers.txt"
mkdir -p "$work/linux" "$work/windows"

options=(--main app.dll --company "Vorlan Ä" --product "Same Bytes" --version 3.1.4.1 --level 5 --cache)
"$linux_pack" --root "$root" --output "$work/linux/App.exe" "${options[@]}" --quiet
"$linux_pack" --root "$root" --output "$work/linux/payload.bin" --payload-only --main app.dll --level 5 --quiet
win() { winepath -w "$1" 2>/dev/null; }
"$wine_run" "$windows_pack" --root "$(win "$root")" --output "$(win "$work/windows/App.exe")" "${options[@]}" --quiet
"$wine_run" "$windows_pack" --root "$(win "$root")" --output "$(win "$work/windows/payload.bin")" --payload-only \
  --main app.dll --level 5 --quiet

cmp "$work/linux/payload.bin" "$work/windows/payload.bin"
cmp "$work/linux/App.exe" "$work/windows/App.exe"
echo "identical: App.exe ($(stat -c %s "$work/linux/App.exe") bytes) and its payload"

# Without --product the product is the output's file name, also when the
# Windows path names it after a drive ("Z:Åpp.exe": Åpp.exe in the current
# folder of drive Z:, where Wine puts the working folder).
"$linux_pack" --stored-payload "$work/linux/payload.bin" --output "$work/linux/Åpp.exe" --quiet
(cd "$work/windows" &&
  "$wine_run" "$windows_pack" --stored-payload "$(win "$work/windows/payload.bin")" --output 'Z:Åpp.exe' --quiet)
cmp "$work/linux/Åpp.exe" "$work/windows/Åpp.exe"
echo "identical: Åpp.exe, packed as Z:Åpp.exe on Windows"

# A program main in a subfolder (the app just made: a program with an icon
# and version texts, which both packers take from it), with fixed arguments.
programs=$work/programs
mkdir -p "$programs/bin"
cp "$work/linux/App.exe" "$programs/bin/tool.exe"
cp "$root/data/deep/a.txt" "$programs/a.txt"
options=(--main bin/tool.exe --arg "{APP_DIR}\\a b" --arg "" --level 5 --quiet)
"$linux_pack" --root "$programs" --output "$work/linux/Program.exe" "${options[@]}"
"$wine_run" "$windows_pack" --root "$(win "$programs")" --output "$(win "$work/windows/Program.exe")" "${options[@]}"
cmp "$work/linux/Program.exe" "$work/windows/Program.exe"
echo "identical: Program.exe ($(stat -c %s "$work/linux/Program.exe") bytes)"
