#!/usr/bin/env bash
# The main job: run the packed example app under Wine with a few arguments,
# then show that it left no directory behind.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
exe="$top/build/win/examples/hello/hello.exe"
export WINEPREFIX="$top/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
temp=$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
unix_temp=$(winepath -u "$temp" 2>/dev/null)

count_dirs() { find "$unix_temp" -maxdepth 1 -name 'onefile_*' 2>/dev/null | wc -l; }
before=$(count_dirs)

echo "== packed: $exe ($(stat -c %s "$exe") bytes)"
echo "== running: hello.exe first \"with a blank\" last"
set +e
"$top/scripts/wine-run" "$exe" first "with a blank" last
code=$?
set -e
echo "== exit code: $code"
echo "== target directories left behind in $temp: $(($(count_dirs) - before))"
exit "$code"
