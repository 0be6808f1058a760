#!/usr/bin/env bash
# Builds the Windows build's dependencies -- tinyxml2, libcurl (Schannel TLS,
# HTTP and HTTPS only) and GoogleTest -- as static libraries for Windows on
# ARCH (i686 or x86_64) from the source trees that fetch-sources.sh unpacked
# into SOURCES_DIR, and installs them into DEPS_DIR/prefix, together with the
# header-only nlohmann-json taken from its Debian package. Each one is
# rebuilt only when its source tree, this script or the toolchain changed,
# so a second run takes a moment.
#
# usage: build-deps.sh ARCH SOURCES_DIR DEPS_DIR [JOBS]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
arch=$1
src_dir=$(cd "$2" && pwd)
deps_dir=$(mkdir -p "$3" && cd "$3" && pwd)
jobs=${4:-2}
toolchain="$here/toolchain-mingw-$arch.cmake"
prefix="$deps_dir/prefix"
[[ -f "$toolchain" ]] || { echo "build-deps: no toolchain for '$arch'" >&2; exit 1; }

recipe=$(cat "$0" "$toolchain" "$here/mingw-common.cmake" | sha256sum | cut -c1-16)

# build NAME CMAKE_SOURCE_SUBDIR CMAKE_ARGS...
build() {
  local name=$1 subdir=$2
  shift 2
  local tree stamp want
  tree=$(sed -n "s/^$name=//p" "$src_dir/.fetched")
  stamp="$deps_dir/$name.stamp"
  want="$tree $recipe"
  if [[ -f "$stamp" && "$(cat "$stamp")" == "$want" ]]; then
    echo "windows deps ($arch): $tree is up to date"
    return 0
  fi
  echo "windows deps ($arch): building $tree"
  rm -rf "$deps_dir/build/$name" "$stamp"
  local log="$deps_dir/$name.log"
  if ! {
    cmake -S "$src_dir/$tree/$subdir" -B "$deps_dir/build/$name" -G "Unix Makefiles" \
      -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
      -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF "$@" &&
      cmake --build "$deps_dir/build/$name" -j "$jobs" &&
      cmake --install "$deps_dir/build/$name"
  } > "$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "windows deps ($arch): building $tree failed; the whole log is $log" >&2
    exit 1
  fi
  echo "$want" > "$stamp"
}

build tinyxml2 . -Dtinyxml2_BUILD_TESTING=OFF

build curl . \
  -DBUILD_CURL_EXE=OFF -DCURL_ENABLE_EXPORT_TARGET=ON \
  -DCURL_USE_SCHANNEL=ON -DCURL_WINDOWS_SSPI=ON -DCURL_USE_OPENSSL=OFF \
  -DCURL_USE_MBEDTLS=OFF -DCURL_USE_BEARSSL=OFF -DCURL_USE_NSS=OFF -DCURL_USE_WOLFSSL=OFF \
  -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none \
  -DHTTP_ONLY=ON -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON -DUSE_WIN32_LDAP=OFF \
  -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF \
  -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF -DCURL_USE_LIBPSL=OFF -DCURL_USE_LIBSSH2=OFF \
  -DCURL_USE_LIBSSH=OFF -DCURL_USE_GSSAPI=OFF -DUSE_NGHTTP2=OFF -DUSE_NGTCP2=OFF \
  -DUSE_QUICHE=OFF -DUSE_MSH3=OFF -DENABLE_ARES=OFF -DENABLE_UNIX_SOCKETS=OFF \
  -DENABLE_WEBSOCKETS=OFF -DENABLE_MANUAL=OFF -DCURL_LTO=OFF -DPICKY_COMPILER=OFF

build googletest . -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -Dgtest_disable_pthreads=ON

# nlohmann-json is headers only, the same for every platform: its Debian
# package's headers and CMake package (which finds the headers relative to
# itself) are copied into the prefix, so the build finds them there without
# seeing any other header of this system.
# (The package's list is read whole: a reader that stops at its first match
# would end dpkg with SIGPIPE, which pipefail makes this script's failure.)
json_files=$(dpkg -L nlohmann-json3-dev 2> /dev/null) || {
  echo "windows deps ($arch): nlohmann-json3-dev is not installed" >&2
  exit 1
}
json_header=$(awk '/\/nlohmann\/json\.hpp$/ { print; exit }' <<< "$json_files")
json_package=$(awk '/\/nlohmann_jsonConfig\.cmake$/ { print; exit }' <<< "$json_files")
if [[ -z "$json_header" || -z "$json_package" ]]; then
  echo "windows deps ($arch): nlohmann-json3-dev holds no nlohmann/json.hpp or nlohmann_jsonConfig.cmake" >&2
  exit 1
fi
mkdir -p "$prefix/include" "$prefix/share/cmake"
rm -rf "$prefix/include/nlohmann" "$prefix/share/cmake/nlohmann_json"
cp -r "$(dirname "$json_header")" "$prefix/include/"
cp -r "$(dirname "$json_package")" "$prefix/share/cmake/"
