#!/usr/bin/env bash
# Runs a Windows program under Wine in the Wine prefix WINE_PREFIX (CTest's
# emulator for the cross-built tests): the 64-bit loader for a 64-bit
# program, the 32-bit one (in a 32-bit prefix) otherwise, both with the
# 64-bit wineserver. Wine's own messages are silenced.
#
# usage: wine-run.sh WINE_PREFIX PROGRAM.exe [ARGUMENTS...]
set -euo pipefail

export WINEPREFIX=$1
shift
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver64}

# The PE header's machine field: 0x8664 for x86-64, 0x14c for i386.
pe_offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
machine=$(od -An -tx2 -j$((pe_offset + 4)) -N2 "$1" | tr -d ' ')
if [[ "$machine" == 8664 ]]; then
  export WINELOADER=/usr/lib/wine/wine64
  exec /usr/lib/wine/wine64 "$@"
fi
export WINEARCH=${WINEARCH:-win32}
exec /usr/lib/wine/wine "$@"
