#!/usr/bin/env bash
# How fast a packed program starts, against the least a start can cost, under
# Wine. A program that does nothing (bench/noop.cpp) is started
#   - directly (the floor of any start),
#   - by relay.exe, which starts it and waits (bench/relay.cpp: the least
#     that any one-file launcher running its app as a child can cost),
#   - packed with --cache, on later starts, alone in its tree and among
#     1,500 files,
#   - packed without --cache, alone in its tree (unpacked on every start),
# and 7-Zip's 7za.exe, when scripts/setup.sh has fetched it, on a small
# command (listing a one-file archive): directly, by the relay and packed
# with --cache. The starts alternate within each round, so that whatever
# else runs on the machine weighs on all of them alike.
#
#   bench/start_bench.sh                    BENCH_RUNS rounds (default 5)
#   BENCH_RUNS=41 bench/start_bench.sh      as for bench/README.md
#   bench/start_bench.sh --trace            what each packed start loads
#                                           before its program starts
#   BENCH_OTHER_PACK=PACKER bench/start_bench.sh
#                                           also the three packed starts of
#                                           another packer (an older build),
#                                           in the same rounds
#
# Prints a Markdown table, also written to build/bench/start_bench.md. See
# bench/common.sh for the other settings.
source "$(dirname "$0")/common.sh"
need_tools python3
work="$bench_dir/start"
bin="$bench_dir/bin"
mkdir -p "$work" "$bin"
for helper in noop relay; do
  [ -f "$win_build/bench/bench_$helper.exe" ] || die "bench_$helper.exe not found in $win_build/bench (make build)"
  cp "$win_build/bench/bench_$helper.exe" "$work/$helper.exe"
done
build_runner "$bin"
win() { python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); from jobs import win_path; print(win_path(sys.argv[2]))' "$bench_src" "$1"; }

# The trees: the program alone, and the program among 1,499 files of 1 to
# 8 KB in about 15 folders (the small-files generator's, its library too).
rm -rf "$work/one" "$work/many"
mkdir -p "$work/one"
cp "$work/noop.exe" "$work/one/noop.exe"
cp -r "$(tree small small-1498 --count 1498)" "$work/many"
cp "$work/noop.exe" "$work/many/noop.exe"
[ "$(find "$work/many" -type f | wc -l)" = 1500 ] || die "the 1,500-file tree has $(find "$work/many" -type f | wc -l) files"

# Cache roots must lie in the user's folders.
local_app_data=$("$wine_run" winepath -u "$("$wine_run" cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')" 2>/dev/null | tr -d '\r')
cache_root="$local_app_data/Vorlan Onefile Bench"
rm -rf "$cache_root"/start-*
cached() { "${packer:-$pack}" --root "$1" --main "$2" --output "$3" --level 3 --quiet --cache --product "$4" \
  --target "{CACHE_DIR}\\Vorlan Onefile Bench\\{PRODUCT}"; }
cached "$work/one" noop.exe "$work/cached-1.exe" start-1
cached "$work/many" noop.exe "$work/cached-1500.exe" start-1500
"$pack" --root "$work/one" --main noop.exe --output "$work/uncached-1.exe" --level 3 --quiet

relay=$(win "$work/relay.exe")
variants=(
  "direct=\"$(win "$work/noop.exe")\""
  "relay=\"$relay\" \"$(win "$work/noop.exe")\""
  "cached 1 file=\"$(win "$work/cached-1.exe")\""
  "cached 1500 files=\"$(win "$work/cached-1500.exe")\""
  "uncached 1 file=\"$(win "$work/uncached-1.exe")\""
)
groups=()
traced=("cached 1 file" "cached 1500 files" "uncached 1 file")
if [ -n "${BENCH_OTHER_PACK:-}" ]; then
  packer=$BENCH_OTHER_PACK
  cached "$work/one" noop.exe "$work/other-cached-1.exe" start-other-1
  cached "$work/many" noop.exe "$work/other-cached-1500.exe" start-other-1500
  "$packer" --root "$work/one" --main noop.exe --output "$work/other-uncached-1.exe" --level 3 --quiet
  unset packer
  variants+=(
    "other packer: cached 1 file=\"$(win "$work/other-cached-1.exe")\""
    "other packer: cached 1500 files=\"$(win "$work/other-cached-1500.exe")\""
    "other packer: uncached 1 file=\"$(win "$work/other-uncached-1.exe")\""
  )
  traced+=("other packer: cached 1 file" "other packer: cached 1500 files" "other packer: uncached 1 file")
fi
sevenzip="$top/build/deps/7zip-bin-win/x64/7za.exe"
if [ -f "$sevenzip" ]; then
  mkdir -p "$work/7z"
  cp "$sevenzip" "$work/7z/7za.exe"
  echo "a small file" >"$work/small.txt"
  rm -f "$work/small.7z"
  (cd "$work" && "$wine_run" "$work/7z/7za.exe" a small.7z small.txt >/dev/null 2>&1) || die "7za.exe could not make the archive"
  cached "$work/7z" 7za.exe "$work/cached-7za.exe" start-7za
  archive=$(win "$work/small.7z")
  variants+=(
    "7za direct=\"$(win "$work/7z/7za.exe")\" l $archive"
    "7za relay=\"$relay\" \"$(win "$work/7z/7za.exe")\" l $archive"
    "7za cached=\"$(win "$work/cached-7za.exe")\" l $archive"
  )
  groups+=(--group "7za direct,7za relay,7za cached")
  traced+=("7za cached")
fi

args=(--runs "$runs" --runner "$bin/run_jobs.exe" --scratch "$work/scratch" --relay relay --direct direct)
for v in "${variants[@]}"; do args+=(--variant "$v"); done
if [ "${1:-}" = --trace ]; then
  for t in "${traced[@]}"; do args+=(--trace "$t"); done
  python3 "$bench_src/start_bench.py" "${args[@]}"
else
  python3 "$bench_src/start_bench.py" "${args[@]}" "${groups[@]}" --out "$bench_dir/start_bench.md"
fi
rm -rf "$work/scratch" "$cache_root"/start-*
