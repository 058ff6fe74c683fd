#!/usr/bin/env bash
# check_imports.sh OBJDUMP EXE: the launcher must be a GUI program that
# imports system libraries only (no C++ runtime, libgcc or winpthread DLLs).
set -euo pipefail
objdump=$1 exe=$2
dump=$("$objdump" -p "$exe")
grep -q 'Subsystem.*(Windows GUI)' <<<"$dump" || { echo "not a GUI subsystem program"; exit 1; }
imports=$(awk '/DLL Name:/ { print tolower($3) }' <<<"$dump" | sort -u)
echo "imports: $(echo $imports)"
allowed='^(kernel32|msvcrt|shell32|user32|advapi32|ntdll|ole32|shlwapi|api-ms-win-.*)\.dll$'
bad=$(grep -v -E "$allowed" <<<"$imports" || true)
[ -z "$bad" ] || { echo "imports non-system libraries: $bad"; exit 1; }
