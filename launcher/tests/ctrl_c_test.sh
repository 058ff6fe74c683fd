#!/usr/bin/env bash
# ctrl_c_test.sh WINE_RUN APP_EXE: Ctrl+C (SIGINT to the Unix process under
# Wine) to a parent whose child runs: the parent gives the child up to 5 s,
# terminates it, deletes the target directory and ends.
#
# Wine hands SIGINT to a program's console handlers only when the program was
# started from a terminal, as a user at a console would start it; so the run
# happens inside a pseudo-terminal made by script(1).
set -uo pipefail
if [ "${1:-}" != --in-terminal ]; then
  exec script -qec "bash $(printf '%q' "$0") --in-terminal $(printf '%q ' "$@")" /dev/null </dev/null
fi
shift
wine_run=$1 app=$2
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# Job control on: a background job of a non-interactive shell would otherwise
# ignore SIGINT.
set -m
"$wine_run" "$app" wait 60000 >"$log" 2>&1 &
parent=$!
for _ in $(seq 150); do grep -q '^ready ' "$log" && break; sleep 0.2; done
target=$(sed -n 's/^ready \(.*\)$/\1/p' "$log" | tr -d '\r')
[ -n "$target" ] || { echo "the app did not start"; cat "$log"; exit 1; }
unix_target=$(WINEDEBUG=-all "$wine_run" winepath -u "$target" 2>/dev/null | tr -d '\r')
[ -d "$unix_target" ] || { echo "target directory $unix_target missing while the app runs"; exit 1; }

start=$(date +%s)
kill -INT "$parent"
wait "$parent"
elapsed=$(($(date +%s) - start))
echo "parent ended $elapsed s after SIGINT"
if [ -d "$unix_target" ]; then echo "target directory $unix_target left behind"; exit 1; fi
# The child ignores nothing but gets no signal under Wine: the parent waits
# its 5 s grace, then terminates it.
[ "$elapsed" -ge 4 ] && [ "$elapsed" -le 15 ] || { echo "expected about 5 s"; exit 1; }
echo ok
