#!/usr/bin/env bash
# Unpacking benchmark, under Wine: launchers whose run_code returns at once,
# packed from the synthetic mixed tree (about 2,000 files, 200 MB) and from a
# tree of many small files (20,000 files of 1 to 8 KB), timed next to
# `zstd -d` of the same frame and `tar -x` of the same tree; where the
# launcher's time goes; start-up against a plain loader; peak memory; the
# first and second start of the same payloads packed with --cache.
#
#   bench/unpack_bench.sh
#   BENCH_SCALE=0.1 BENCH_SMALL=2000 BENCH_RUNS=3 bench/unpack_bench.sh   quick
#
# BENCH_LEVEL picks the packing level (default 19, the packer's default);
# BENCH_SCRATCH the folder in which the launchers unpack and tar extracts
# (default build/bench/unpack; /dev/shm measures without the disk). See
# bench/common.sh for the other settings. Prints Markdown tables, also written
# to build/bench/unpack_bench.md.
source "$(dirname "$0")/common.sh"
need_tools python3 tar zstd
level=${BENCH_LEVEL:-19}
work="$bench_dir/unpack"
# The launchers unpack, and tar extracts, below this folder.
scratch=${BENCH_SCRATCH:-$work}/onefile-bench-scratch
bin="$bench_dir/bin"
mkdir -p "$work" "$bin"

# The Windows helpers: run_jobs.exe built here with the cross compiler when
# its source changed; phases.exe and loader.exe come from the Windows build.
build_runner "$bin"
cp "$win_build/bench/bench_phases.exe" "$bin/phases.exe"
cp "$win_build/bench/bench_loader.exe" "$bin/loader.exe"

mixed=$(tree mixed "mixed-$scale" --scale "$scale")
small=$(tree small "small-$small_count" --count "$small_count")
one="$bench_dir/trees/one"
rm -rf "$one"
mkdir -p "$one"
cp "$main_dll" "$one/"

# Per tree: the stored payload (packed again only when the tree, the level or
# the packer change), the launcher, the bare frame and a tar.
packer_id=$(sha256sum "$pack" | cut -c1-16)
local_app_data=$("$wine_run" winepath -u "$("$wine_run" cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')" 2>/dev/null | tr -d '\r')
cases=()
cached=()
for name in mixed small one; do
  case $name in
    mixed) root=$mixed ;;
    small) root=$small ;;
    one) root=$one ;;
  esac
  payload="$work/$name.payload"
  stamp="$(cat "$root.stamp" 2>/dev/null || sha256sum "$main_dll" | cut -c1-16) level $level packer $packer_id"
  if [ ! -f "$payload.stamp" ] || [ "$(cat "$payload.stamp")" != "$stamp" ]; then
    echo "packing $name at level $level" >&2
    "$pack" --root "$root" --main "$(basename "$main_dll")" --payload-only --output "$payload" --level "$level" --quiet
    echo "$stamp" >"$payload.stamp"
  fi
  "$pack" --stored-payload "$payload" --output "$work/$name.exe" --quiet
  python3 "$bench_src/payload_tools.py" frame "$payload" "$work/$name.zst"
  [ "$name" = one ] && continue
  # The same payload as a cached app, its cache root in the prefix's local
  # application data (a cache root must lie in the user's folders).
  "$pack" --stored-payload "$payload" --output "$work/cached-$name.exe" --cache \
    --target "{CACHE_DIR}\\Vorlan Onefile Bench\\{PRODUCT}" --quiet
  cached+=(--cached "$name ($(basename "$root"))" "$work/cached-$name.exe" "$local_app_data/Vorlan Onefile Bench/cached-$name")
  tar -C "$root" --sort=name -cf "$work/$name.tar" .
  bytes=$(du -sb --apparent-size "$root" | cut -f1)
  cases+=(--case "$name ($(basename "$root"))" "$work/$name.exe" "$payload" "$work/$name.zst" "$work/$name.tar" "$bytes")
done

# Everything runs from a scratch folder, never from the project.
cd "$work"
python3 "$bench_src/measure.py" --runs "$runs" --scratch "$scratch" --runner "$bin/run_jobs.exe" \
  --loader "$bin/loader.exe" --phases "$bin/phases.exe" --dll "$main_dll" --one "$work/one.exe" \
  "${cases[@]}" "${cached[@]}" --out "$bench_dir/unpack_bench.md"
rm -rf "$scratch" "$work"/*.tar
