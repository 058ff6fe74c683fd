#!/usr/bin/env bash
# The cache's update under Wine: a DLL app of about 1,500 files and 100 MB
# (the mixed tree at scale 0.5 and 500 small files, as bench/program_bench.sh),
# packed with --cache twice: build 1, and build 2 with one file changed. Each
# round, in one Wine session, empties the cache root and starts
#   - build 1: a full first start (every file written),
#   - build 1 again: a cached start (the check only),
#   - build 2: an update's first start (the unchanged files linked from
#     build 1's folder, the changed one written),
#   - build 2 again: a cached start.
#
#   bench/cache_bench.sh
#   BENCH_RUNS=3 bench/cache_bench.sh            quicker
#
# BENCH_LEVEL picks the packing level (default 3). Prints a Markdown table,
# also written to build/bench/cache_bench.md. See bench/common.sh for the
# other settings.
source "$(dirname "$0")/common.sh"
need_tools python3
level=${BENCH_LEVEL:-3}
work="$bench_dir/cache"
bin="$bench_dir/bin"
mkdir -p "$work" "$bin"
build_runner "$bin"

mixed=$(tree mixed "mixed-0.5" --scale 0.5)
small=$(tree small "small-500" --count 500)
for build in 1 2; do
  rm -rf "$work/tree$build"
  cp -r "$mixed" "$work/tree$build"
  cp -r "$small" "$work/tree$build/small"
done
# Build 2 changes one file: a line more in the first text file of the small tree.
changed=$(cd "$work/tree2" && find small -type f | sort | head -n 1)
echo "changed in build 2" >>"$work/tree2/$changed"
files=$(find "$work/tree1" -type f | wc -l)
bytes=$(du -sb --apparent-size "$work/tree1" | cut -f1)

# A cache root must lie in the user's folders.
local_app_data=$("$wine_run" winepath -u "$("$wine_run" cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')" 2>/dev/null | tr -d '\r')
root="$local_app_data/Vorlan Onefile Bench/cache-update"
for build in 1 2; do
  "$pack" --root "$work/tree$build" --main test_app.dll --output "$work/build$build.exe" --level "$level" --quiet \
    --cache --product cache-update --target "{CACHE_DIR}\\Vorlan Onefile Bench\\{PRODUCT}"
done

out="$bench_dir/cache_bench.md"
python3 "$bench_src/cache_bench.py" --runs "$runs" --runner "$bin/run_jobs.exe" --scratch "$work/scratch" \
  --root "$root" --build1 "$work/build1.exe" --build2 "$work/build2.exe" \
  --tree "$files files, $(mb "$bytes") MB" | tee "$out"
rm -rf "$work/scratch" "$root"
