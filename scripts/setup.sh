#!/usr/bin/env bash
# One-time machine set-up for building and testing: Debian packages, the
# Windows build of libzstd from Debian's source package, and a private Wine
# prefix. Every step checks whether its result is already there, so running
# this again costs about a second.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
mkdir -p "$build"

log() { printf '== %s\n' "$*" >&2; }

as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# --- Debian packages -------------------------------------------------------
packages=(
  cmake make g++ pkg-config
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64
  libzstd-dev zstd googletest libgtest-dev libstb-dev python3 xz-utils gzip
  dpkg-dev osslsigncode openssl libssl-dev lintian
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  log "installing ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# --- Source entry for Debian's main archive ---------------------------------
# apt-get source needs a deb-src line. We derive it from the machine's own
# binary entry for the main archive, so the mirror stays the machine's choice.
have_deb_src() {
  grep -rqsE '^(deb-src[[:space:]]|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/
}
if ! have_deb_src; then
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  uri=""
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    uri=$(awk -v c="$codename" '
      /^$/ { if (u != "" && s ~ ("(^| )" c "( |$)") && comp ~ /main/) { print u; exit } u=""; s=""; comp="" }
      /^URIs:/ { u=$2 } /^Suites:/ { $1=""; s=$0 } /^Components:/ { comp=$0 }
      END { if (u != "" && s ~ ("(^| )" c "( |$)") && comp ~ /main/) print u }' "$f" | head -n 1)
    [ -n "$uri" ] && break
  done
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(awk -v c="$codename" '$1=="deb" && $3==c && /main/ { print $2; exit }' /etc/apt/sources.list)
  fi
  [ -n "$uri" ] || { echo "setup: cannot find the Debian main archive in the apt sources" >&2; exit 1; }
  log "adding a deb-src entry for $codename"
  printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$uri" "$codename" | as_root tee /etc/apt/sources.list.d/onefile-deb-src.sources >/dev/null
  as_root apt-get update -qq
fi

# --- Static libzstd, from Debian's source package ------------------------------
# Three builds: for Windows single-threaded for the launcher (it only
# decodes), and with worker threads for onefile-pack.exe, whose frames must
# match the Linux packer's byte for byte (libzstd's output with workers
# differs from its single-threaded output, but not between worker counts);
# for Linux with worker threads, linked into onefile-pack so that it needs no
# library beyond the C runtime (Debian's own libzstd.a has no workers).
build_zstd() {  # build_zstd PREFIX MULTITHREAD [windows]
  local prefix=$1 threads=$2 target=${3:-}
  [ -f "$prefix/lib/libzstd.a" ] && return 0
  local src="$build/deps/src"
  mkdir -p "$src"
  if ! ls -d "$src"/libzstd-*/build/cmake >/dev/null 2>&1; then
    log "fetching Debian's libzstd source package"
    (cd "$src" && apt-get source -qq libzstd >/dev/null)
  fi
  local zsrc
  zsrc=$(ls -d "$src"/libzstd-*/ | head -n 1)
  local toolchain=()
  [ "$target" = windows ] && toolchain=(-DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake")
  log "building static libzstd for ${target:-linux} from $(basename "$zsrc") (multithreading $threads)"
  cmake -S "$zsrc/build/cmake" -B "$prefix-build" "${toolchain[@]}" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DZSTD_BUILD_PROGRAMS=OFF -DZSTD_BUILD_SHARED=OFF -DZSTD_BUILD_STATIC=ON \
    -DZSTD_BUILD_TESTS=OFF -DZSTD_MULTITHREAD_SUPPORT="$threads" -DZSTD_LEGACY_SUPPORT=OFF \
    >/dev/null
  cmake --build "$prefix-build" -j"$(nproc)" >/dev/null
  cmake --install "$prefix-build" >/dev/null
}
build_zstd "$build/deps/zstd-win64" OFF windows
build_zstd "$build/deps/zstd-win64-mt" ON windows
build_zstd "$build/deps/zstd-linux-mt" ON

# --- A Windows program this project did not build, for the tests -------------
# 7-Zip's command-line program as the npm package 7zip-bin-win ships it
# (x64/7za.exe), unpacked into build/deps/7zip-bin-win.
sevenzip_version=2.2.0
sevenzip="$build/deps/7zip-bin-win"
if [ "$(cat "$sevenzip/.version" 2>/dev/null)" != "$sevenzip_version" ]; then
  if ! command -v npm >/dev/null; then
    log "installing npm"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends npm >/dev/null
  fi
  log "fetching 7zip-bin-win $sevenzip_version"
  rm -rf "$sevenzip" && mkdir -p "$sevenzip"
  # Without it the build goes on and its test is skipped, saying so.
  if (cd "$sevenzip" && npm pack --silent "7zip-bin-win@$sevenzip_version" >/dev/null &&
    tar -xzf "7zip-bin-win-$sevenzip_version.tgz" --strip-components=1 && rm "7zip-bin-win-$sevenzip_version.tgz"); then
    echo "$sevenzip_version" >"$sevenzip/.version"
  else
    log "WARNING: 7zip-bin-win $sevenzip_version could not be fetched; the third-party program test will be skipped"
    rm -rf "$sevenzip"
  fi
fi

# --- Private Wine prefix -------------------------------------------------------
prefix="$build/wineprefix"
if [ ! -f "$prefix/system.reg" ]; then
  log "creating a private Wine prefix"
  WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
  WINEPREFIX="$prefix" wineserver -w
fi

# Wine's null graphics driver: windows exist (the launcher's hidden window
# receives the end-session messages), but nothing needs a display. Also set
# in a prefix made before this setting was added.
if ! grep -q '^"Graphics"="null"' "$prefix/user.reg"; then
  log "selecting Wine's null graphics driver"
  WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  WINEPREFIX="$prefix" wineserver -w
fi
