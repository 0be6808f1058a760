#!/usr/bin/env bash
# Cross-builds kkmbridge.exe and the unit tests for Windows on ARCH (i686,
# the program's platform, or x86_64) into build-windows/ARCH: installs the
# mingw-w64 compiler when it is missing, fetches and builds the dependencies
# (cached under build-windows/), builds, and checks that the .exe is a
# console program that needs no DLL but Windows' own.
#
# usage: windows/build.sh ARCH [JOBS]     (run from the repository's root)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
arch=${1:?usage: build.sh ARCH [JOBS]}
jobs=${2:-2}
out="$root/build-windows"

case "$arch" in
  i686) compiler_package=g++-mingw-w64-i686-posix ;;
  x86_64) compiler_package=g++-mingw-w64-x86-64-posix ;;
  *) echo "build.sh: ARCH is i686 or x86_64, not '$arch'" >&2; exit 1 ;;
esac

"$here/../mk/need-packages.sh" cmake make dpkg-dev file nlohmann-json3-dev "$compiler_package"

mkdir -p "$out"
if ! "$here/fetch-sources.sh" "$out/sources" > "$out/fetch.log" 2>&1; then
  cat "$out/fetch.log" >&2
  exit 1
fi
"$here/build-deps.sh" "$arch" "$out/sources" "$out/deps-$arch" "$jobs"

# Tests run under Wine through the emulator (windows/test.sh prepares it).
cmake -S "$root" -B "$out/$arch" -G "Unix Makefiles" \
  -DCMAKE_TOOLCHAIN_FILE="$here/toolchain-mingw-$arch.cmake" \
  -DCMAKE_PREFIX_PATH="$out/deps-$arch/prefix" \
  -DCMAKE_BUILD_TYPE=Release \
  -DKKM_BUILD_SIM=OFF -DKKM_BUILD_TESTS=ON \
  "-DCMAKE_CROSSCOMPILING_EMULATOR=$here/wine-run.sh;$out/wine-$arch" > "$out/$arch-configure.log" 2>&1 || {
  cat "$out/$arch-configure.log" >&2
  exit 1
}
cmake --build "$out/$arch" -j "$jobs"

"$here/check-exe.sh" "$arch" "$out/$arch/kkmbridge.exe"
