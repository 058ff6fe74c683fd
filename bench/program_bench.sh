#!/usr/bin/env bash
# Start-up of a packed program, under Wine, in a tree of about 1,500 files
# and 100 MB (the mixed tree at scale 0.5 and 500 small files), for two
# programs: the report program of the launcher's tests (bin/report.exe: it
# prints what it was given and ends, about the least a program can do) and,
# when scripts/setup.sh has fetched it, 7-Zip's command-line program
# (bin/7za.exe listing a small archive). Each is started
#   - directly from an unpacked copy of the tree (the baseline),
#   - as a packed launcher that unpacks on every start,
#   - as a packed launcher with --cache, on its second and later starts.
#
#   bench/program_bench.sh
#   BENCH_RUNS=3 bench/program_bench.sh            quicker
#
# BENCH_LEVEL picks the packing level (default 3: unpacking is as fast at
# any level). Prints a Markdown table, also written to
# build/bench/program_bench.md. See bench/common.sh for the other settings.
source "$(dirname "$0")/common.sh"
need_tools python3
level=${BENCH_LEVEL:-3}
work="$bench_dir/program"
bin="$bench_dir/bin"
report="$win_build/launcher/tests/report_console.exe"
[ -f "$report" ] || die "report_console.exe not found at $report (set BENCH_WIN_BUILD)"
mkdir -p "$work" "$bin"
build_runner "$bin"

mixed=$(tree mixed "mixed-0.5" --scale 0.5)
small=$(tree small "small-500" --count 500)
root="$work/tree"
rm -rf "$root"
cp -r "$mixed" "$root"
cp -r "$small" "$root/small"
mkdir -p "$root/bin"
cp "$report" "$root/bin/report.exe"
sevenzip="$top/build/deps/7zip-bin-win/x64/7za.exe"
programs=("report.exe" "one two")
if [ -f "$sevenzip" ]; then
  cp "$sevenzip" "$root/bin/7za.exe"
  programs+=("7za.exe" "l $(python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); from jobs import win_path; print(win_path(sys.argv[2]))' "$bench_src" "$work/small.7z")")
fi
files=$(find "$root" -type f | wc -l)
bytes=$(du -sb --apparent-size "$root" | cut -f1)
if [ -f "$sevenzip" ]; then
  (cd "$root/small" && "$wine_run" "$root/bin/7za.exe" a "$("$wine_run" winepath -w "$work/small.7z" 2>/dev/null | tr -d '\r')" \
    "$(ls | head -n 1)" >/dev/null 2>&1) || die "7za.exe could not make the archive"
fi

out="$bench_dir/program_bench.md"
{
  echo "| Program | Tree | direct start (s) | packed, uncached (s) | packed, cached (s) | cached: program starts after (s) | uncached / direct | cached / direct |"
  echo "|---|---|---:|---:|---:|---:|---:|---:|"
} | tee "$out"
# A cache root must lie in the user's folders.
local_app_data=$("$wine_run" winepath -u "$("$wine_run" cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')" 2>/dev/null | tr -d '\r')
cache_roots="$local_app_data/Vorlan Onefile Bench"
for ((i = 0; i < ${#programs[@]}; i += 2)); do
  program=${programs[i]}
  rm -rf "$cache_roots/cached-${program%.exe}"
  "$pack" --root "$root" --main "bin/$program" --output "$work/$program" --level "$level" --quiet
  "$pack" --root "$root" --main "bin/$program" --output "$work/cached-$program" --level "$level" --quiet \
    --cache --target "{CACHE_DIR}\\Vorlan Onefile Bench\\{PRODUCT}"
  python3 "$bench_src/program_bench.py" --runs "$runs" --runner "$bin/run_jobs.exe" --scratch "$work/scratch" \
    --direct "$root/bin/$program" --uncached "$work/$program" --cached "$work/cached-$program" \
    --program "$program" --args "${programs[i + 1]}" --tree "$files files, $(mb "$bytes") MB" --out "$out"
  rm -rf "$work/scratch" "$cache_roots/cached-${program%.exe}" "$work/$program" "$work/cached-$program"
done
