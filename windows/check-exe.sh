#!/usr/bin/env bash
# Checks a built .exe: a Windows console program for ARCH that imports no
# DLL but Windows' own (the C++ runtime, libgcc and winpthreads are linked
# in).
#
# usage: check-exe.sh ARCH EXE
set -euo pipefail

arch=$1
exe=$2
case "$arch" in
  i686) want="PE32 executable (console) Intel 80386"; objdump=i686-w64-mingw32-objdump ;;
  x86_64) want="PE32+ executable (console) x86-64"; objdump=x86_64-w64-mingw32-objdump ;;
  *) echo "check-exe: unknown ARCH '$arch'" >&2; exit 1 ;;
esac

kind=$(file -b "$exe")
if [[ "$kind" != "$want"* ]]; then
  echo "check-exe: $exe is '$kind', not '$want'" >&2
  exit 1
fi

# Windows' own DLLs (and the C runtime that comes with every Windows).
system_dlls=" advapi32.dll bcrypt.dll crypt32.dll gdi32.dll kernel32.dll msvcrt.dll ntdll.dll ole32.dll \
secur32.dll shell32.dll user32.dll userenv.dll winmm.dll ws2_32.dll "
dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
foreign=""
for d in $dlls; do
  [[ "$system_dlls" == *" $d "* ]] || foreign="$foreign $d"
done
if [[ -n "$foreign" ]]; then
  echo "check-exe: $exe needs DLLs that Windows does not have:$foreign" >&2
  exit 1
fi
echo "$exe: $kind; imports $(echo $dlls)"
