#!/usr/bin/env bash
# ctrl_c_test.sh WINE_RUN APP_EXE [--while-unpacking [FILE] | --console-goes-on REPORTER_EXE | --console-default REPORTER_EXE]
#
# Ctrl+C (SIGINT to the Unix process under Wine) to a parent launcher.
# Default: a windowed launcher while its child runs. The parent gives the
# child up to 5 s, terminates it, deletes the target directory and ends.
# --while-unpacking: while it still unpacks a large payload, as soon as FILE
# (default data/blob1.bin) appears in the target directory. The target
# directory is removed, and nothing outside it is touched.
# --cached: APP is a cached app with a cache root of its own; its cache
# folder must stay (the root is removed afterwards).
# --console-goes-on, --console-default: a console launcher and its app share
# the terminal, and Ctrl+C goes to both, as a terminal sends SIGINT to its
# foreground process group. The launcher leaves it to the app: an app that
# handles it and goes on (a REPL) ends by itself 9 s later with its own code;
# an app without a handler ends at once with the code the system's default
# handling gives it. Either way the target directory is removed. REPORTER_EXE (a Windows test program)
# runs the launcher and prints its 32-bit exit code, which the Unix exit
# status cannot carry.
#
# Wine hands SIGINT to a program's console handlers only when the program was
# started from a terminal, as a user at a console would start it; so the run
# happens inside a pseudo-terminal made by script(1).
set -uo pipefail
if [ "${1:-}" != --in-terminal ]; then
  exec script -qec "bash $(printf '%q' "$0") --in-terminal $(printf '%q ' "$@")" /dev/null </dev/null
fi
shift
wine_run=$1 app=$2 mode=${3:-} reporter=${4:-} watched=${4:-data/blob1.bin}
action=()
scratch=$(mktemp -d)
app_copy=$(mktemp -d)
trap 'rm -rf "$scratch" "$app_copy"' EXIT
if [ "$mode" = --cached ]; then
  cp "$app" "$app_copy/app.exe"
  app=$app_copy/app.exe
fi
cd "$scratch" || exit 1
echo mine >here.txt

win_temp=$("$wine_run" cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
temp=$("$wine_run" winepath -u "$win_temp" 2>/dev/null | tr -d '\r')
[ -d "$temp" ] || { echo "cannot find the temp directory"; exit 1; }
echo mine >"$temp/onefile_beside_$$.txt"
before=$(ls "$temp" | sort)

# Job control on: a background job of a non-interactive shell would otherwise
# ignore SIGINT.
set -m
if [ "$mode" = --while-unpacking ]; then
  "$wine_run" "$app" exit 0 >"$scratch/log" 2>&1 &
  parent=$!
  # Other tests may unpack into the same temp directory meanwhile: the target
  # is the new one that receives the watched file of this payload.
  target=""
  for _ in $(seq 2000); do
    for name in $(comm -13 <(echo "$before") <(ls "$temp" | sort) | grep '^onefile_'); do
      [ -e "$temp/$name/$watched" ] && target="$temp/$name" && break
    done
    [ -n "$target" ] && break
    sleep 0.005
  done
  [ -n "$target" ] || { echo "no target directory appeared"; exit 1; }
else
  case "$mode" in
    --console-goes-on) action=(ctrl-c-goes-on 9000 0x8000002A) ;;
    --console-default) action=(ctrl-c-default) ;;
    *) action=() ;;
  esac
  if [ "${#action[@]}" -gt 0 ]; then
    win_app=$("$wine_run" winepath -w "$app" 2>/dev/null | tr -d '\r')
    "$wine_run" "$reporter" --mode exit_code "$win_app" "${action[@]}" >"$scratch/log" 2>&1 &
  else
    "$wine_run" "$app" wait 60000 >"$scratch/log" 2>&1 &
  fi
  parent=$!
  for _ in $(seq 150); do grep -q '^ready ' "$scratch/log" && break; sleep 0.2; done
  win_target=$(sed -n 's/^ready \(.*\)$/\1/p' "$scratch/log" | tr -d '\r')
  [ -n "$win_target" ] || { echo "the app did not start"; cat "$scratch/log"; exit 1; }
  target=$("$wine_run" winepath -u "$win_target" 2>/dev/null | tr -d '\r')
fi
[ -d "$target" ] || { echo "target directory $target missing while the app runs"; exit 1; }

start=$(date +%s)
if [ "${#action[@]}" -gt 0 ]; then kill -INT -- "-$parent"; else kill -INT "$parent"; fi
wait "$parent"
code=$?
elapsed=$(($(date +%s) - start))
echo "parent ended $elapsed s after SIGINT with exit code $code"
status=0
if [ "$mode" = --cached ]; then
  [ -d "$target" ] && [ -n "$(ls "$target")" ] || { echo "cache folder $target removed"; status=1; }
  rm -rf "$(dirname "$target")"
elif [ -d "$target" ]; then echo "target directory $target left behind"; status=1; fi
[ "$(cat here.txt)" = mine ] && [ "$(cat "$temp/onefile_beside_$$.txt")" = mine ] || { echo "files of others changed"; status=1; }
rm -f "$temp/onefile_beside_$$.txt"
[ "$(ls "$scratch" | sort | tr '\n' ' ')" = "here.txt log " ] || { echo "current directory changed: $(ls "$scratch")"; status=1; }
expect_code() {
  grep -q "^exit code $1" "$scratch/log" || { echo "expected exit code $1:"; cat "$scratch/log"; status=1; }
}
case "$mode" in
  --console-goes-on)
    # The app went on past the 5 s after which the launcher used to end it.
    grep -q '^caught Ctrl+C and went on' "$scratch/log" || { echo "the app did not go on"; status=1; }
    expect_code 0x8000002A
    [ "$elapsed" -ge 6 ] || { echo "expected the run to last as long as the app"; status=1; } ;;
  --console-default)
    # The code the system's default handling gave the app: on Windows
    # STATUS_CONTROL_C_EXIT (0xC000013A); Wine's default handler ends the
    # process with 0 instead. The launcher passes on whichever it got.
    expect_code 0x00000000
    [ "$elapsed" -le 3 ] || { echo "expected the run to end with the app"; status=1; } ;;
  --while-unpacking) ;;
  *)
    # A windowed app has no console: the parent waits its 5 s grace, then
    # terminates the child.
    [ "$elapsed" -ge 4 ] && [ "$elapsed" -le 15 ] || { echo "expected about 5 s"; status=1; } ;;
esac
[ "$status" = 0 ] && echo ok
exit "$status"
