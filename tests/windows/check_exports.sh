#!/usr/bin/env bash
# Marquel.dll exports exactly the four server entry points under its own name and
# needs no MinGW runtime DLL at load time.
set -euo pipefail
objdump=$1 dll=$2
dump=$("$objdump" -p "$dll")
exports=$(sed -n '/Name Pointer] Table/,/^$/{/Table/d;p}' <<<"$dump" | grep -oE '\] +[A-Za-z]+' | awk '{print $2}' | sort | tr '\n' ' ')
expected="DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer "
[[ "$exports" == "$expected" ]] || { echo "exports: '$exports', expected '$expected'"; exit 1; }
grep -qE '^Name .*Marquel\.dll' <<<"$dump" || { echo "export table does not name Marquel.dll"; exit 1; }
imports=$(grep -E 'DLL Name:' <<<"$dump" | awk '{print $3}' | tr '[:upper:]' '[:lower:]' | sort | tr '\n' ' ')
for dll_name in $imports; do
  case "$dll_name" in
    kernel32.dll|advapi32.dll|ole32.dll|oleaut32.dll|msvcrt.dll|user32.dll) ;;
    *) echo "unexpected import $dll_name (imports: $imports)"; exit 1 ;;
  esac
done
echo "1 passed, 0 failed"
