#!/usr/bin/env bash
# program_kill_test.sh WINE_RUN PROGRAM_APP_EXE TEST_EXE
#
# A launcher whose main is a program, killed outright from Unix (SIGKILL to
# its Wine process, as a user's kill -9 or a crashed session would): the
# program and the process the program started end with it, through the job
# that only the launcher held. The program (report_program.cpp) starts the
# grandchild, which writes its process ID; TEST_EXE's process_ends mode then
# waits for that process to end.
set -uo pipefail
wine_run=$1 app=$2 tests=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# A name of its own, so that its Unix process is found by name.
name=program_kill_$$.exe
cp "$app" "$scratch/$name"
pid_file=$("$wine_run" winepath -w "$scratch/grandchild.pid" 2>/dev/null | tr -d '\r')

REPORT_PROGRAM="grandchild:$pid_file" "$wine_run" "$scratch/$name" </dev/null >"$scratch/log" 2>&1 &
for _ in $(seq 600); do
  [ -s "$scratch/grandchild.pid" ] && break
  sleep 0.1
done
[ -s "$scratch/grandchild.pid" ] || { echo "the grandchild did not start"; cat "$scratch/log"; exit 1; }

launcher=$(pgrep -f "$name" | tr '\n' ' ')
[ -n "$launcher" ] || { echo "no Unix process for $name"; exit 1; }
kill -KILL $launcher
wait

"$wine_run" "$tests" --mode process_ends "$pid_file" || { echo "the grandchild outlived the launcher"; exit 1; }
echo "grandchild $(cat "$scratch/grandchild.pid") ended with the killed launcher"
