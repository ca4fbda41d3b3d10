#!/bin/sh
# Checks that a Windows executable imports only system DLLs and stays within its size budget.
# Usage: check-imports.sh OBJDUMP EXE MAX_BYTES
set -eu
objdump=$1 exe=$2 budget=$3
allowed='^(KERNEL32|USER32|GDI32|ADVAPI32|SHELL32|OLE32|OLEAUT32|COMCTL32|COMDLG32|SHLWAPI|RSTRTMGR|MSVCRT|UCRTBASE|api-ms-win-crt-[a-z0-9-]+)\.dll$'
imports=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
echo "imports of $exe:"
echo "$imports"
bad=$(echo "$imports" | grep -viE "$allowed" || true)
if [ -n "$bad" ]; then
  echo "not a system DLL: $bad"
  exit 1
fi
size=$(stat -c %s "$exe")
echo "size: $size bytes (budget $budget)"
[ "$size" -le "$budget" ]
