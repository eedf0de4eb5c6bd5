#!/usr/bin/env bash
# What Kavlento needs to be built for 64-bit Windows, from Debian's packages and
# source packages only, built once per machine into a cache outside the clone
# and kept under a key of this recipe (a changed recipe builds anew). Prints
# the cache folder. scripts/windows.sh runs it; on its own:
#
#   scripts/windows-deps.sh
#
# The cache holds qt6-mingw64/ (qtbase: Core, Gui, Widgets, Test and the
# Windows platform plugin) and prefix/ (libdeflate, libzip reading AES through
# Windows' own CNG, OpenSSL's libcrypto, GoogleTest), all for
# x86_64-w64-mingw32. Qt comes from ../shared/windows-deps where that holds
# the same build, else it is built here from Debian's qt6-base (19 minutes
# on 2 cores, in a CI run from a fresh clone). KAVLENTO_WINDOWS_CACHE puts the cache elsewhere;
# KAVLENTO_WINDOWS_BUILD_QT=1 builds Qt here even where ../shared has it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

bash "$root/scripts/setup.sh" windows >&2
toolchain="$root/scripts/windows-toolchain.cmake"
recipe=$(cat "$0" "$toolchain" | sha256sum | cut -c1-16)
cache="${KAVLENTO_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kavlento-windows}/$recipe"
if [[ -e "$cache/complete" ]]; then
    echo "$cache"
    exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/cache/prefix"
mkdir -p "$prefix/lib" "$prefix/include" "$work/lists/partial" "$work/apt/archives/partial"

# Debian's source packages through a private source list: the machine's apt
# configuration is not changed. The same archive the machine uses for binaries.
apt=(-o Dir::Etc::sourcelist="$work/sources.list" -o Dir::Etc::sourceparts=/dev/null
    -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/apt")
uri=$(grep -h -m1 -E '^URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '{print $2}' || true)
[[ -n "$uri" ]] || uri=$(grep -h -m1 -E '^deb ' /etc/apt/sources.list 2>/dev/null | awk '{print $2}')
[[ -n "$uri" ]] || { echo "no Debian archive found in the apt sources" >&2; exit 1; }
echo "deb-src $uri bookworm main" >"$work/sources.list"
apt-get "${apt[@]}" -qq update
source_of() {
    (cd "$work" && apt-get "${apt[@]}" -qq source --download-only "$1" >/dev/null 2>&1)
    tar -xf "$(ls "$work/$1"_*.orig.tar.* | grep -v "\.asc$")" -C "$work"
}
jobs=$(nproc)

source_of libdeflate
make -C "$work"/libdeflate-*/ -j"$jobs" CC=x86_64-w64-mingw32-gcc-posix \
    AR=x86_64-w64-mingw32-ar libdeflatestatic.lib >/dev/null
cp "$work"/libdeflate-*/libdeflatestatic.lib "$prefix/lib/libdeflate.a"
cp "$work"/libdeflate-*/libdeflate.h "$prefix/include/"

# AES of other archivers through Windows' own CNG: no second crypto library.
source_of libzip
cmake -G Ninja -S "$work"/libzip-*/ -B "$work/libzip-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
    -DENABLE_WINDOWS_CRYPTO=ON -DENABLE_OPENSSL=OFF -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF \
    -DENABLE_COMMONCRYPTO=OFF -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF \
    -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF >/dev/null
cmake --build "$work/libzip-build" -j"$jobs" >/dev/null
cmake --install "$work/libzip-build" >/dev/null

source_of openssl
(cd "$work"/openssl-*/ &&
    CC=gcc-posix ./Configure mingw64 no-shared no-tests no-module \
        --cross-compile-prefix=x86_64-w64-mingw32- --prefix="$prefix" >/dev/null &&
    make -j"$jobs" build_libs >/dev/null &&
    cp libcrypto.a "$prefix/lib/" && cp -r include/openssl "$prefix/include/")

source_of googletest
cmake -G Ninja -S "$work"/googletest-*/ -B "$work/gtest-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_GMOCK=OFF \
    -Dgtest_disable_pthreads=OFF >/dev/null
cmake --build "$work/gtest-build" -j"$jobs" >/dev/null
cmake --install "$work/gtest-build" >/dev/null

# Qt without SQL, network, D-Bus, OpenGL, Vulkan, printing, XML or
# concurrency: what ../shared/windows-deps holds, built the same way, and
# used where it is there. (Leaving out JPEG, GIF, ICO and Direct2D as well
# breaks the link of the Windows plugin: QWindowsDirectWriteFontDatabase goes
# missing.) Debian's copy leaves out src/3rdparty/wintab: tablet events off,
# or the Windows plugin does not build.
shared_qt="$root/../shared/windows-deps/qt6-mingw64-6.4.2.tar.xz"
if [[ -f "$shared_qt" && -z "${KAVLENTO_WINDOWS_BUILD_QT:-}" ]]; then
    tar -xJf "$shared_qt" -C "$work/cache"
else
    source_of qt6-base
    cmake -G Ninja -S "$work/qtbase-everywhere-src-6.4.2" -B "$work/qt-build" \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DCMAKE_INSTALL_PREFIX="$work/cache/qt6-mingw64" -DQT_BUILD_EXAMPLES=OFF \
        -DQT_BUILD_TESTS=OFF -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF \
        -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_printsupport=OFF \
        -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_vulkan=OFF \
        -DFEATURE_system_zlib=OFF -DFEATURE_tabletevent=OFF >&2
    cmake --build "$work/qt-build" --parallel "$jobs" >&2
    cmake --install "$work/qt-build" >/dev/null
fi

# Put in place whole, or not at all.
mkdir -p "$(dirname "$cache")"
rm -rf "$cache.partial"
mv "$work/cache" "$cache.partial"
touch "$cache.partial/complete"
mv "$cache.partial" "$cache"
echo "$cache"
