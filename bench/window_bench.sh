#!/usr/bin/env bash
# The start-up window's cost: the first start of a windowed launcher packed
# from the mixed tree (about 2,000 files, 200 MB), whose run_code returns at
# once, with the window (it shows after 0.5 s of unpacking) and without it,
# runs interleaved under Wine.
#
#   bench/window_bench.sh
#   BENCH_SCALE=0.1 BENCH_RUNS=3 bench/window_bench.sh   quick
#
# BENCH_LEVEL picks the packing level (default 3: unpacking is as fast at any
# level, and packing at 3 is quick). See bench/common.sh for the other
# settings. Prints a Markdown table, also written to build/bench/window_bench.md.
source "$(dirname "$0")/common.sh"
need_tools python3
level=${BENCH_LEVEL:-3}
work="$bench_dir/window"
bin="$bench_dir/bin"
mkdir -p "$work" "$bin"
build_runner "$bin"
mixed=$(tree mixed "mixed-$scale" --scale "$scale")
"$pack" --root "$mixed" --main "$(basename "$main_dll")" --output "$work/windowed.exe" --level "$level" --quiet
cd "$work"
python3 "$bench_src/window_bench.py" --exe "$work/windowed.exe" --runner "$bin/run_jobs.exe" \
  --scratch "$work/scratch" --runs "$runs" --label ", mixed-$scale ($(find "$mixed" -type f | wc -l) files)" \
  | tee "$bench_dir/window_bench.md"
rm -rf "$work/scratch"
