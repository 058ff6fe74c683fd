#!/usr/bin/env bash
# check_imports.sh OBJDUMP EXE SUBSYSTEM: the launcher must have the PE
# subsystem SUBSYSTEM (2 windowed, 3 console) and import system libraries only
# (no C++ runtime, libgcc or winpthread DLLs).
set -euo pipefail
objdump=$1 exe=$2 subsystem=$3
dump=$("$objdump" -p "$exe")
grep -qE "^Subsystem[[:space:]]+0*${subsystem}[[:space:]]" <<<"$dump" ||
  { echo "subsystem is not $subsystem: $(grep '^Subsystem' <<<"$dump")"; exit 1; }
imports=$(awk '/DLL Name:/ { print tolower($3) }' <<<"$dump" | sort -u)
echo "imports: $(echo $imports)"
allowed='^(kernel32|msvcrt|shell32|user32|advapi32|ntdll|ole32|shlwapi|api-ms-win-.*)\.dll$'
bad=$(grep -v -E "$allowed" <<<"$imports" || true)
[ -z "$bad" ] || { echo "imports non-system libraries: $bad"; exit 1; }
