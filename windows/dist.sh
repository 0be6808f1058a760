#!/usr/bin/env bash
# Packs the Windows release a shop installs: build-windows/kkmbridge-VERSION-win32.zip
# with the 32-bit exe, an example configuration, the task installer and its
# task file, the admin's guide, and the licence notices of every library
# linked into the exe. Then checks the zip (check-dist.sh).
#
# usage: windows/dist.sh   (after `make windows`)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
out="$root/build-windows"
"$root/mk/need-packages.sh" zip unzip libxml2-utils file

version=$(sed -n 's/^project(kkmbridge VERSION \([0-9][0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[[ -n "$version" ]] || { echo "dist: no project version in CMakeLists.txt" >&2; exit 1; }
exe="$out/i686/kkmbridge.exe"
[[ -f "$exe" ]] || { echo "dist: $exe is missing (make windows)" >&2; exit 1; }

name="kkmbridge-$version-win32"
stage="$out/dist/$name"
zip="$out/$name.zip"
rm -rf "$out/dist" "$zip"
mkdir -p "$stage/licences"

# crlf SRC DEST: a text file with Windows line ends, for Notepad and cmd
# (cmd mistakes labels in a file of LF line ends).
crlf() {
  sed 's/\r$//; s/$/\r/' "$1" > "$2"
}

cp "$exe" "$stage/kkmbridge.exe"
crlf "$here/dist/config.example.xml" "$stage/config.example.xml"
crlf "$here/dist/install-tasks.cmd" "$stage/install-tasks.cmd"
crlf "$here/dist/kkmbridge-task.xml" "$stage/kkmbridge-task.xml"
crlf "$root/docs/ru/admin.md" "$stage/admin-ru.md"

# Licence notices: one file per library the exe links in statically.
source_tree() {
  local tree
  tree=$(sed -n "s/^$1=//p" "$out/sources/.fetched")
  [[ -n "$tree" && -d "$out/sources/$tree" ]] || { echo "dist: no source tree of $1 under $out/sources (make windows)" >&2; exit 1; }
  echo "$out/sources/$tree"
}
notice() {
  [[ -s "$2" ]] || { echo "dist: the licence notice $2 is missing" >&2; exit 1; }
  { echo "$1"; echo; cat "$2"; } > "$3"
  crlf "$3" "$3.crlf" && mv "$3.crlf" "$3"
}
notice "libcurl $(basename "$(source_tree curl)" | sed 's/^curl-//'): HTTP and HTTPS (with Windows' Schannel)" \
  "$(source_tree curl)/COPYING" "$stage/licences/curl.txt"
notice "tinyxml2 $(basename "$(source_tree tinyxml2)" | sed 's/^tinyxml2-//'): XML" \
  "$(source_tree tinyxml2)/debian/copyright" "$stage/licences/tinyxml2.txt"
notice "MinGW-w64 runtime (C runtime start-up, winpthreads), as packaged by Debian" \
  /usr/share/doc/mingw-w64-i686-dev/copyright "$stage/licences/mingw-w64.txt"
notice "GCC runtime libraries (libgcc, libstdc++) under the GCC Runtime Library Exception, as packaged by Debian" \
  /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licences/gcc-runtime.txt"
if grep -rqs "nlohmann/json" "$root/src"; then
  notice "nlohmann-json: JSON well-formedness check" \
    /usr/share/doc/nlohmann-json3-dev/copyright "$stage/licences/nlohmann-json.txt"
fi

(cd "$out/dist" && zip -q -X -r "$zip" "$name")
"$here/check-dist.sh" "$zip"
