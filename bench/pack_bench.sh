#!/usr/bin/env bash
# Packing benchmark: on the synthetic mixed tree (about 2,000 files and
# 200 MB, made once with a fixed seed and cached in build/bench), the packer's
# time and payload size at levels 3, 9, 19 and 19 with long-distance
# matching, a whole launcher at level 3, next to the same tree through tar and xz -9 or gzip -9.
#
#   bench/pack_bench.sh              full size
#   BENCH_SCALE=0.1 bench/pack_bench.sh    a quick run on a tenth of the files
#
# See bench/common.sh for the other settings. Prints a Markdown table, also
# written to build/bench/pack_bench.md.
source "$(dirname "$0")/common.sh"
need_tools python3 tar xz gzip zstd

root=$(tree mixed "mixed-$scale" --scale "$scale")
work="$bench_dir/pack"
mkdir -p "$work"
input=$(du -sb --apparent-size "$root" | cut -f1)
files=$(find "$root" -type f | wc -l)
threads=$(nproc)

rows=()
# row NAME SECONDS BYTES NOTE
row() { rows+=("| $1 | $2 | $(mb "$3") | $(ratio "$3" "$input") | $4 |"); }

for config in "3" "9" "19" "19 --long"; do
  read -r level long <<<"$config"
  out="$work/payload-$level${long:+-long}"
  rm -f "$out"
  start=$(now)
  "$pack" --root "$root" --main "$(basename "$main_dll")" --payload-only --output "$out" \
    --level "$level" ${long:+--long} --quiet
  t=$(elapsed "$start")
  row "onefile-pack --level $level${long:+ --long}" "$t" "$(stat -c %s "$out")" "$threads threads"
  echo "level $level${long:+ --long}: $t s" >&2
done

# A whole launcher at level 3 (the payload, then the template completed
# around it), and the completion alone around the stored level-3 payload.
start=$(now)
"$pack" --root "$root" --main "$(basename "$main_dll")" --output "$work/app.exe" --level 3 --quiet
app_time=$(elapsed "$start")
start=$(now)
"$pack" --stored-payload "$work/payload-3" --output "$work/app.exe" --quiet
complete_time=$(elapsed "$start")
rm -f "$work/app.exe"

# The references read the same files, in name order, through one tar stream.
tarball="$work/tree.tar"
tar -C "$root" --sort=name -cf "$tarball" .
for tool in "xz -9" "gzip -9"; do
  start=$(now)
  size=$($tool -c <"$tarball" | wc -c)
  t=$(elapsed "$start")
  row "tar \\| $tool" "$t" "$size" "1 thread"
  echo "$tool: $t s" >&2
done
rm -f "$tarball"

{
  echo "Packing: $files files, $(mb "$input") MB (BENCH_SCALE=$scale), $(nproc) cores, $(date -u +%Y-%m-%d)."
  echo "A launcher at level 3 takes $app_time s; completing the template around a payload adds $complete_time s."
  echo
  echo "| Compressor | Time (s) | Size (MB) | Size / input | Note |"
  echo "|---|---:|---:|---:|---|"
  printf '%s\n' "${rows[@]}"
} | tee "$bench_dir/pack_bench.md"
