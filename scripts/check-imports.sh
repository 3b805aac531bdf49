#!/usr/bin/env bash
# check-imports.sh PROGRAM.exe: fails when the exe imports a DLL that is not part of
# Windows itself, so copying the one exe stays the whole installation.
set -eu
allowed='^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|shlwapi|ole32|oleaut32|advapi32|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$'
bad=0
for dll in $(x86_64-w64-mingw32-objdump -p "$1" | awk '/DLL Name:/ {print tolower($3)}'); do
  if [[ ! $dll =~ $allowed ]]; then echo "not a system DLL: $dll"; bad=1; fi
done
x86_64-w64-mingw32-objdump -f "$1" | grep -q "pei-x86-64" || { echo "not a 64-bit exe"; bad=1; }
x86_64-w64-mingw32-objdump -p "$1" | grep -q "Subsystem.*(Windows GUI)" || { echo "not a GUI exe"; bad=1; }
[ $bad -eq 0 ] && echo "only system DLLs"
exit $bad
