#!/usr/bin/env bash
# shellcheck source-path=SCRIPTDIR
# Runs the 32-bit Windows build, the one the users run, under 32-bit Wine:
# the unit tests through CTest (Wine is CTest's emulator), the schema check
# of the ImportData files they wrote, then the end-to-end scenarios against
# the Linux build (e2e.sh).
#
# 32-bit Wine is a 32-bit Linux program: a kernel with 32-bit support runs
# it natively; on one without, i386.sh has qemu-i386 translate it (and says
# so). Where neither works the run says why and fails. Installs Wine (32-bit
# with 64-bit, for the 64-bit wineserver) and the i386 architecture first
# when they are missing.
#
# WINDOWS_I386=native or qemu insists on one way (default auto: native when
# the kernel can). WINDOWS_TEST_X86_64=1 also tests the 64-bit build of the
# same sources under 64-bit Wine afterwards, as an extra.
#
# usage: windows/test.sh [JOBS]   (after `make build` and `make windows`)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
jobs=${1:-2}
out="$root/build-windows"

. "$here/apt-private.sh"
. "$root/mk/apt-steps.sh"
. "$here/i386.sh"

wineserver=""
cleanup() {
  if [[ -n "$wineserver" ]]; then
    "$wineserver" -k 2> /dev/null || true
    wineserver=""
  fi
  i386_unregister
}
trap cleanup EXIT

i386_ensure "$out" "${WINDOWS_I386:-auto}" || exit 1
echo "windows-test: 32-bit x86 programs run $i386_how"

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  if [[ $(id -u) != 0 ]]; then
    echo "windows-test: 32-bit Wine needs the i386 architecture; as root: dpkg --add-architecture i386" >&2
    exit 1
  fi
  echo "windows-test: adding the i386 architecture to dpkg (for wine32:i386)"
  dpkg --add-architecture i386
  apt_update_lists
fi
"$root/mk/need-packages.sh" wine wine64 wine32:i386 libgnutls30 libgnutls30:i386 libxml2-utils openssl locales

# run_arch ARCH: everything above for one build under its Wine.
run_arch() {
  local arch=$1 loader version
  local build="$out/$arch"
  export WINEPREFIX="$out/wine-$arch"
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [[ $arch == i686 ]]; then
    # The 32-bit loader with the 64-bit server (a native program even where
    # the loader is translated); the prefix is a 32-bit Windows.
    loader=/usr/lib/wine/wine
    export WINEARCH=win32 WINESERVER=/usr/lib/wine/wineserver64
    unset WINELOADER
  else
    loader=/usr/lib/wine/wine64
    export WINEARCH=win64 WINESERVER=/usr/lib/wine/wineserver64 WINELOADER=$loader
  fi
  version=$("$loader" --version 2>&1) || {
    echo "windows-test: Wine for $arch ($loader) does not start: $(echo "$version" | head -n 1)" >&2
    exit 1
  }
  [[ -x "$build/kkmbridge.exe" ]] || { echo "windows-test: $build/kkmbridge.exe is missing (make windows)" >&2; exit 1; }

  # A server that stays up for the whole run, and one Wine command to set
  # the prefix up before CTest lists the tests.
  mkdir -p "$WINEPREFIX"
  wineserver=$WINESERVER
  "$wineserver" -p
  "$loader" wineboot -i > "$out/wineboot-$arch.log" 2>&1 || {
    cat "$out/wineboot-$arch.log" >&2
    echo "windows-test: wineboot failed for $WINEPREFIX" >&2
    exit 1
  }

  local schema_dir="$out/schema-check-$arch"
  rm -rf "$schema_dir"
  mkdir -p "$schema_dir"
  echo "== unit tests ($arch) under $version"
  local ctest_log="$out/ctest-$arch.log"
  if ! KKM_SCHEMA_CHECK_DIR="Z:$schema_dir" ctest --test-dir "$build" --output-on-failure -j "$jobs" |
    tee "$ctest_log"; then
    # 32-bit Wine 8.0 now and then dies of SIGSEGV in its own code while a
    # process exits, after the test has passed (in a signal handler of
    # ntdll's Unix side, NtCurrentTeb; about one process in a few hundred
    # when two run at once). Tests that died of SIGSEGV are run once more,
    # one at a time; any other failure, or a second SIGSEGV, stands.
    if sed -n '/^The following tests FAILED:/,$p' "$ctest_log" | grep -E '^[[:space:]]+[0-9]+ - ' |
      grep -v -q '(SEGFAULT)$'; then
      exit 1
    fi
    echo "windows tests ($arch): the tests above whose Wine process died of SIGSEGV, once more"
    KKM_SCHEMA_CHECK_DIR="Z:$schema_dir" ctest --test-dir "$build" --output-on-failure --rerun-failed
  fi

  # The ImportData files the tests checked, each against 1C's schema of the
  # format its namespace names.
  local checked=0 f n
  for f in "$schema_dir"/*.xml; do
    [[ -e "$f" ]] || continue
    n=$(grep -o -m 1 'xmlns="http://www\.1c\.ru/EquipmentService/3\.0\.0\.[0-3]"' "$f" | head -n 1 | sed 's/.*\.\([0-3]\)"$/\1/' || true)
    if [[ -z "$n" ]]; then
      echo "windows tests ($arch): $f (written by a unit test) names none of 1C's formats" >&2
      exit 1
    fi
    xmllint --noout --schema "$root/schema/EquipmentService_3_0_0_$n.xsd" "$f" 2> "$f.xmllint" || {
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

  "$wineserver" -k 2> /dev/null || true
  wineserver=""
}

run_arch i686
if [[ ${WINDOWS_TEST_X86_64:-0} == 1 ]]; then
  echo "windows-test: also the 64-bit build (an extra; the program ships as 32-bit)"
  "$here/build.sh" x86_64 "$jobs"
  run_arch x86_64
fi
