# Shared settings of the benchmark scripts; sourced, not run.
#
# Environment (all optional):
#   BENCH_SCALE      size of the mixed tree; 1 = about 2,000 files and 200 MB
#   BENCH_SMALL      file count of the many-small-files tree (default 20000)
#   BENCH_RUNS       timed runs per measurement, the median is reported (5)
#   ONEFILE_PACK     the packer (default build/bin/onefile-pack)
#   BENCH_WIN_BUILD  the Windows build folder holding launcher/tests/test_app.dll
#                    and the benchmark's helpers in bench/ (default build/win)
#   BENCH_DIR        cache and scratch folder (default build/bench)
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bench_src="$top/bench"
# run_jobs.cpp, which runs a series of Windows programs in one Wine session,
# lives with the mutation test that make test runs.
runner_src="$top/launcher/tests/mutation"
scale=${BENCH_SCALE:-1}
small_count=${BENCH_SMALL:-20000}
runs=${BENCH_RUNS:-5}
pack=${ONEFILE_PACK:-$top/build/bin/onefile-pack}
win_build=${BENCH_WIN_BUILD:-$top/build/win}
main_dll="$win_build/launcher/tests/test_app.dll"
bench_dir=${BENCH_DIR:-$top/build/bench}
wine_run="$top/scripts/wine-run"
mingw_cxx=${ONEFILE_CXX:-x86_64-w64-mingw32-g++-posix}

die() { echo "bench: $*" >&2; exit 1; }

need_tools() {
  [ -x "$pack" ] || die "packer not found at $pack (build the host side or set ONEFILE_PACK)"
  [ -f "$main_dll" ] || die "test_app.dll not found at $main_dll (set BENCH_WIN_BUILD)"
  local t
  for t in "$@"; do
    command -v "$t" >/dev/null || die "$t is missing (on Debian: apt-get install $t)"
  done
}

# tree KIND NAME ARGS...: generates a synthetic tree once into the cache; it
# is made again only when the generator, the main library or the arguments
# change. Prints the tree's folder.
tree() {
  local kind=$1 name=$2
  shift 2
  local dir="$bench_dir/trees/$name"
  local stamp
  stamp=$(cat "$bench_src/gen_tree.py" "$main_dll" | sha256sum | cut -c1-16)" $kind $*"
  if [ ! -f "$dir.stamp" ] || [ "$(cat "$dir.stamp")" != "$stamp" ]; then
    rm -f "$dir.stamp"
    python3 "$bench_src/gen_tree.py" "$kind" "$dir" --main "$main_dll" "$@" >&2
    echo "$stamp" >"$dir.stamp"
  fi
  echo "$dir"
}

# build_runner DIR: run_jobs.exe built into DIR with the cross compiler when
# its source changed.
build_runner() {
  if [ ! -f "$1/run_jobs.exe" ] || [ "$runner_src/run_jobs.cpp" -nt "$1/run_jobs.exe" ]; then
    "$mingw_cxx" -std=c++17 -O2 -municode -static -I"$top" "$runner_src/run_jobs.cpp" -o "$1/run_jobs.exe"
  fi
}

# now: seconds since the epoch with nanoseconds.
now() { date +%s.%N; }
# elapsed START: seconds since START, three decimals.
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }
# median: the median of the numbers on standard input.
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
mb() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
