#!/usr/bin/env bash
# packages_test.sh WINE_RUN HOST_BUILD WIN_BUILD APP_DIR MAIN_DLL: the three
# packages of `make package`, built twice from the already built binaries:
#  - both builds give the same bytes (SOURCE_DATE_EPOCH: the last commit's time);
#  - the .deb passes lintian without errors, depends on what dpkg-shlibdeps
#    computed, and holds what `cmake --install` gives;
#  - the tarball's packer needs no library beyond the C runtime, runs from an
#    empty folder with LD_LIBRARY_PATH empty and packs the example;
#  - the zip's packer packs the same example under Wine to the same bytes.
set -euo pipefail
wine_run=$1 host_build=$2 win_build=$3 app_dir=$4 main_dll=$5
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$top" log -1 --format=%ct)}
version=$(sed -n 's/^project(vorlan_onefile VERSION \([0-9.]*\) .*/\1/p' "$top/CMakeLists.txt")
[ -n "$version" ] || fail "no version in the top-level project()"
deb=vorlan-onefile_${version}_amd64.deb
tgz=vorlan-onefile-${version}-linux-x86_64.tar.gz
zip=vorlan-onefile-${version}-windows-x64.zip

for round in 1 2; do
  (cd "$host_build" && cpack -B "$work/cpack$round/host") >"$work/cpack$round.log" 2>&1 ||
    { cat "$work/cpack$round.log"; fail "cpack in the host build"; }
  (cd "$win_build" && cpack -B "$work/cpack$round/win") >>"$work/cpack$round.log" 2>&1 ||
    { cat "$work/cpack$round.log"; fail "cpack in the Windows build"; }
  mkdir -p "$work/out$round"
  mv "$work/cpack$round/host/$deb" "$work/cpack$round/host/$tgz" "$work/cpack$round/win/$zip" "$work/out$round/" ||
    fail "cpack did not write $deb, $tgz and $zip: $(ls "$work/cpack$round"/*)"
done
for p in "$deb" "$tgz" "$zip"; do
  cmp "$work/out1/$p" "$work/out2/$p" || fail "$p differs between two builds of the same commit"
done
out=$work/out1

# The Debian package.
lintian --fail-on error --no-tag-display-limit "$out/$deb" >"$work/lintian.log" 2>&1 ||
  { cat "$work/lintian.log"; fail "lintian reports errors"; }
depends=$(dpkg-deb -f "$out/$deb" Depends)
case "$depends" in
  *libc6*) ;;
  *) fail "Depends is '$depends', not computed from the packer's libraries" ;;
esac
case "$depends" in
  *libzstd*|*libssl*|*libstdc++*) fail "Depends names a library linked statically: $depends" ;;
esac
[ -n "$(dpkg-deb -f "$out/$deb" Description)" ] || fail "no Description"
cmake --install "$host_build" --prefix "$work/install/usr" >/dev/null
(cd "$work/install" && find . -type f | sed 's|^\./|/|' | sort) >"$work/installed.txt"
dpkg-deb -c "$out/$deb" | awk '$1 !~ /^d/ { print substr($6, 2) }' | sort >"$work/deb.txt"
diff "$work/installed.txt" "$work/deb.txt" >"$work/list.diff" || { cat "$work/list.diff"; fail "the .deb's files are not the install's"; }

# The tarball: the packer alone, from an empty folder.
mkdir -p "$work/tgz" "$work/empty"
tar -xzf "$out/$tgz" -C "$work/tgz"
root=$work/tgz/vorlan-onefile-${version}-linux-x86_64
for f in bin/onefile-pack include/vorlan-onefile/run_code.h lib/cmake/VorlanOnefile/VorlanOnefileConfig.cmake \
         share/doc/vorlan-onefile/LICENSE share/doc/vorlan-onefile/THIRD_PARTY_NOTICES; do
  [ -f "$root/$f" ] || fail "the tarball lacks $f"
done
needed=$(readelf -d "$root/bin/onefile-pack" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | tr '\n' ' ')
for lib in $needed; do
  case "$lib" in
    libc.so.*|libm.so.*|ld-linux-x86-64.so.*|libpthread.so.*|libdl.so.*) ;;
    *) fail "the tarball's packer needs $lib (all it needs: $needed)" ;;
  esac
done
mkdir -p "$work/app" "$work/linux" "$work/windows"
cp -r "$app_dir/." "$work/app/" && cp "$main_dll" "$work/app/"
main=$(basename "$main_dll")
args=(--root ../app --main "$main" --product Example --version 1.2.3.4 --level 3 --quiet)
(cd "$work/empty" && env -i PATH=/usr/bin:/bin LD_LIBRARY_PATH= "$root/bin/onefile-pack" "${args[@]}" --output ../linux/app.exe) ||
  fail "the tarball's packer failed"
[ "$(cd "$work/empty" && env -i LD_LIBRARY_PATH= "$root/bin/onefile-pack" --version)" = "onefile-pack $version" ] ||
  fail "the tarball's packer does not print version $version"

# The zip: the Windows packer under Wine gives the same bytes.
mkdir -p "$work/zip"
(cd "$work/zip" && unzip -q "$out/$zip")
zroot=$work/zip/vorlan-onefile-${version}-windows-x64
for f in bin/onefile-pack.exe include/vorlan-onefile/run_code.h lib/cmake/VorlanOnefile/VorlanOnefileConfig.cmake \
         share/doc/vorlan-onefile/README.md share/doc/vorlan-onefile/LICENSE share/doc/vorlan-onefile/THIRD_PARTY_NOTICES; do
  [ -f "$zroot/$f" ] || fail "the zip lacks $f"
done
grep -q 'bin/onefile-pack.exe' "$zroot/lib/cmake/VorlanOnefile/VorlanOnefileConfig.cmake" ||
  fail "the zip's CMake package does not name onefile-pack.exe"
(cd "$work/empty" && "$wine_run" "$zroot/bin/onefile-pack.exe" "${args[@]}" --output ../windows/app.exe) ||
  fail "the zip's packer failed under Wine"
cmp "$work/linux/app.exe" "$work/windows/app.exe" || fail "the zip's packer and the tarball's packer give different bytes"
[ "$(cd "$work/empty" && "$wine_run" "$zroot/bin/onefile-pack.exe" --version | tr -d '\r')" = "onefile-pack $version" ] ||
  fail "the zip's packer does not print version $version"
echo "packages test passed"
