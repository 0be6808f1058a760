#!/usr/bin/env bash
# Runs the Windows build under Wine: the unit tests through CTest (Wine is
# CTest's emulator), the schema check of the ImportData files they wrote,
# then the end-to-end scenarios against the Linux build (e2e.sh). Installs
# Wine first when it is missing (32-bit Wine needs the i386 architecture).
#
# A kernel without 32-bit support runs no 32-bit Wine; the 64-bit build of
# the same sources (build-windows/x86_64) is then tested under 64-bit Wine
# instead, and the run says so.
#
# usage: windows/test.sh [JOBS]   (after `make build` and `make windows`)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
jobs=${1:-2}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  if [[ $(id -u) != 0 ]]; then
    echo "32-bit Wine needs the i386 architecture; as root: dpkg --add-architecture i386" >&2
    exit 1
  fi
  dpkg --add-architecture i386
  apt-get update -qq
fi
"$here/need-packages.sh" wine wine64 wine32:i386 libgnutls30 libgnutls30:i386 libxml2-utils openssl

if /usr/lib/wine/wine --version > /dev/null 2>&1; then
  arch=i686
  export WINEARCH=win32
  wineserver=/usr/lib/wine/wineserver32
  [[ -x $wineserver ]] || wineserver=/usr/lib/wine/wineserver64
  loader=/usr/lib/wine/wine
else
  arch=x86_64
  echo "*** This machine runs no 32-bit programs (its kernel has no 32-bit support), so neither"
  echo "*** does Wine: build-windows/i686/kkmbridge.exe is built and checked but not run here."
  echo "*** Testing the 64-bit build of the same sources under 64-bit Wine instead."
  "$here/build.sh" x86_64 "$jobs"
  wineserver=/usr/lib/wine/wineserver64
  loader=/usr/lib/wine/wine64
  export WINELOADER=$loader
fi

build="$root/build-windows/$arch"
export WINEPREFIX="$root/build-windows/wine-$arch"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# A server that stays up for the whole run, and one Wine command to set the
# prefix up before CTest lists the tests.
mkdir -p "$WINEPREFIX"
"$wineserver" -p
trap '"$wineserver" -k 2> /dev/null || true' EXIT
"$loader" wineboot -i > "$root/build-windows/wineboot-$arch.log" 2>&1 || {
  cat "$root/build-windows/wineboot-$arch.log" >&2
  exit 1
}

schema_dir="$root/build-windows/schema-check-$arch"
rm -rf "$schema_dir"
mkdir -p "$schema_dir"
echo "== unit tests ($arch) under Wine"
KKM_SCHEMA_CHECK_DIR="Z:$schema_dir" ctest --test-dir "$build" --output-on-failure -j "$jobs"

# The ImportData files the tests checked, against the schema.
checked=0
for f in "$schema_dir"/*.xml; do
  [[ -e "$f" ]] || continue
  xmllint --noout --schema "$root/schema/EquipmentService_3_0_0_0.xsd" "$f" 2> "$f.xmllint" || {
    cat "$f.xmllint" >&2
    echo "windows tests ($arch): $f (written by a unit test) does not match the schema" >&2
    exit 1
  }
  checked=$((checked + 1))
done
if [[ $checked == 0 ]]; then
  echo "windows tests ($arch): the unit tests handed no ImportData file over for the schema check" >&2
  exit 1
fi
echo "windows tests ($arch): $checked ImportData files written under Wine match the schema"

echo "== end-to-end scenarios ($arch) under Wine"
"$here/e2e.sh" "$arch"
