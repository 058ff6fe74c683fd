#!/usr/bin/env bash
# Makes the README's pictures of what a windowed launcher shows a person:
# the message box of a fatal stop, the progress window of a slow first start
# and a splash image. Runs Wine's X11 driver on a virtual X display (Xvfb),
# in a copy of the project's Wine prefix (whose own null driver shows
# nothing), inside a Wine virtual desktop so that Wine draws the window
# frames itself (Xvfb has no window manager).
#
#   scripts/screenshots.sh [OUT_DIR]     default: docs/images
#
# Needs `make build` first. Installs xvfb and imagemagick with apt-get when
# they are missing (as root, or through sudo).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$top/docs/images}
win="$top/build/win/launcher/tests"
pack="$top/build/bin/onefile-pack"
for f in "$pack" "$win/launcher_e2e_tests.exe" "$win/test_app.dll" "$win/payloads/not_dll.payload"; do
  [ -e "$f" ] || { echo "screenshots: $f is missing: run make build first" >&2; exit 1; }
done

if ! command -v Xvfb >/dev/null || ! command -v import >/dev/null; then
  sudo=; [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq xvfb imagemagick >/dev/null
fi

work="$top/build/screenshots"
export WINEPREFIX="$work/wineprefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$work" "$out"
if [ ! -f "$WINEPREFIX/user.reg" ]; then
  [ -f "$top/build/wineprefix/user.reg" ] || { echo "screenshots: no Wine prefix: run make build first" >&2; exit 1; }
  cp -a "$top/build/wineprefix" "$WINEPREFIX"
fi
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f >/dev/null 2>&1
wineserver -w

# A free display number.
display=90
while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=":$display"
trap 'wineserver -k 2>/dev/null || true; kill $xvfb 2>/dev/null || true' EXIT
sleep 1

# Apps for the pictures, all named "Hello Onefile".
app=(--product "Hello Onefile" --quiet)
"$pack" --stored-payload "$win/payloads/not_dll.payload" --no-checks --output "$work/broken.exe" "${app[@]}"
"$pack" --root "$win/slow_cache_app.root" --main test_app.dll --level 1 --output "$work/slow.exe" "${app[@]}"
"$pack" --root "$win/slow_cache_app.root" --main test_app.dll --level 1 --output "$work/splash.exe" \
  --splash "$top/launcher/tests/splash.png" --splash-text "Starting Hello Onefile" "${app[@]}"

# shot NAME SECONDS PROGRAM ARGS...: starts the program without standard
# handles (as Explorer does) in a virtual desktop, takes the picture after
# SECONDS, cut to what differs from the desktop's colour, and ends Wine.
shot() {
  local name=$1 wait=$2
  shift 2
  wine explorer /desktop=shot,800x600 "$win/launcher_e2e_tests.exe" --mode run_without_streams "$@" \
    >/dev/null 2>&1 &
  sleep "$wait"
  import -window root -crop 800x600+0+0 +repage "$work/$name-full.png"
  convert "$work/$name-full.png" -fuzz 2% -trim +repage -bordercolor '#3a6ea5' -border 12 "$out/$name.png"
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  echo "screenshots: $out/$name.png"
}
# The Windows form of a Unix path (Wine's Z: drive).
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
shot error-box 6 "$(winpath "$work/broken.exe")"
shot progress-window 4 "$(winpath "$work/slow.exe")" wait 20000
shot splash 2 "$(winpath "$work/splash.exe")" wait 8000
