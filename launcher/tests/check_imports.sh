#!/usr/bin/env bash
# check_imports.sh OBJDUMP EXE SUBSYSTEM: the launcher must have the PE
# subsystem SUBSYSTEM (2 windowed, 3 console) and import kernel32 and msvcrt
# only: no C++ runtime, libgcc or winpthread DLLs, and no other system
# library, since each loads more before the app starts (the shell and the
# window system are looked up when a window is due).
set -euo pipefail
objdump=$1 exe=$2 subsystem=$3
dump=$("$objdump" -p "$exe")
grep -qE "^Subsystem[[:space:]]+0*${subsystem}[[:space:]]" <<<"$dump" ||
  { echo "subsystem is not $subsystem: $(grep '^Subsystem' <<<"$dump")"; exit 1; }
imports=$(awk '/DLL Name:/ { print tolower($3) }' <<<"$dump" | sort -u)
echo "imports: $(echo $imports)"
allowed='^(kernel32|msvcrt)\.dll$'
bad=$(grep -v -E "$allowed" <<<"$imports" || true)
[ -z "$bad" ] || { echo "imports more than kernel32 and msvcrt: $bad"; exit 1; }
