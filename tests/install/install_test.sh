#!/usr/bin/env bash
# install_test.sh WINE_RUN HOST_BUILD: installs the host build into an empty
# prefix, then configures, builds and packs the outside project in this
# folder, which knows only that prefix, and runs its packed app and packed
# program under Wine.
set -euo pipefail
wine_run=$1 host_build=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$host_build" --prefix "$work/prefix" >/dev/null
for f in LICENSE THIRD_PARTY_NOTICES README.md; do
  [ -f "$work/prefix/share/doc/vorlan-onefile/$f" ] || fail "the install lacks share/doc/vorlan-onefile/$f"
done

# A plain cross build: the compilers and the prefix, nothing of this
# repository.
configure() {  # configure BUILD_DIR [more cmake arguments]
  local dir=$1; shift
  cmake -S "$here" -B "$dir" -DCMAKE_SYSTEM_NAME=Windows \
    -DCMAKE_C_COMPILER=x86_64-w64-mingw32-gcc-posix -DCMAKE_CXX_COMPILER=x86_64-w64-mingw32-g++-posix \
    -DCMAKE_PREFIX_PATH="$work/prefix" "$@"
}
configure "$work/build" >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "configure"; }
cmake --build "$work/build" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "build"; }
[ "$(cat "$work/build/packer-path.txt")" = "$work/prefix/bin/onefile-pack" ] ||
  fail "VorlanOnefile::pack is $(cat "$work/build/packer-path.txt")"

# EXCLUDE left the docs out of the app, not of the program; the installed
# packer lists and verifies both.
pack=$work/prefix/bin/onefile-pack
"$pack" --list "$work/build/OutsideApp.exe" >"$work/list" || fail "--list: $(cat "$work/list")"
grep -q '  data/answer.txt$' "$work/list" && ! grep -q 'docs/' "$work/list" ||
  { cat "$work/list"; fail "EXCLUDE docs/ did not leave out just the docs"; }
"$pack" --list "$work/build/OutsideProgram.exe" | grep -q '  docs/notes.md$' || fail "the program lost its docs"
"$pack" --verify "$work/build/OutsideApp.exe" >/dev/null || fail "the packed app does not verify"

status=0
"$wine_run" "$work/build/OutsideApp.exe" >"$work/out" 2>&1 || status=$?
[ "$status" = 37 ] || { cat "$work/out"; fail "the packed app exited with $status, not 37"; }
grep -q "outside app: 37" "$work/out" || { cat "$work/out"; fail "no output from the app"; }

# The program main: the data file's 37 plus its fixed argument's 5. Its kind
# is the program's own, a console program.
status=0
"$wine_run" "$work/build/OutsideProgram.exe" >"$work/out" 2>&1 || status=$?
[ "$status" = 42 ] || { cat "$work/out"; fail "the packed program exited with $status, not 42"; }
grep -q "outside program: 42" "$work/out" || { cat "$work/out"; fail "no output from the program"; }

# The version file: a project asking for the next major version is refused.
mkdir -p "$work/v2"
printf 'cmake_minimum_required(VERSION 3.20)\nproject(v2 NONE)\nfind_package(VorlanOnefile 2.0 CONFIG REQUIRED)\n' \
  >"$work/v2/CMakeLists.txt"
if cmake -S "$work/v2" -B "$work/v2/build" -DCMAKE_PREFIX_PATH="$work/prefix" >"$work/v2.log" 2>&1; then
  fail "find_package(VorlanOnefile 2.0) accepted version 1"
fi
grep -q "version: 1.0.0" "$work/v2.log" || { cat "$work/v2.log"; fail "the refusal does not name the version"; }
echo "install test passed"
