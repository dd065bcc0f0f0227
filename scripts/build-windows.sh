#!/usr/bin/env bash
# Cross-builds the Windows launcher, build-windows/OstrevanLauncher.exe (static x86-64 GUI program),
# with Debian's MinGW-w64, from the same sources and the same CMake as the Linux build. Installs
# what it needs by package name; safe to run again. Dear ImGui, libzip and librsync are built from
# Debian's source packages for this target and kept under build-windows/deps, so a second run is fast.
#
# Extra CMake settings (deployment values, ports) go in LAUNCHER_CMAKE_ARGS or as arguments:
#   bash scripts/build-windows.sh -DLAUNCHER_SERVER_ADDRESS=203.0.113.10
# LAUNCHER_WINDOWS_TARGETS names the targets to build (default: all).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build-windows
deps=$out/deps
jobs=$(nproc)

sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
export DEBIAN_FRONTEND=noninteractive
apt_install() {
  $sudo_cmd apt-get install -y --no-install-recommends -o DPkg::Lock::Timeout=600 "$@"
}

packages=(
  cmake ninja-build dpkg-dev libstb-dev googletest
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  libz-mingw-w64-dev libgcrypt-mingw-w64-dev
  wine wine64 xvfb xauth
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $sudo_cmd apt-get update -o DPkg::Lock::Timeout=600
  apt_install "${missing[@]}"
fi

# Source packages: a deb-src line for each configured Debian suite, taken from the system's own
# package sources so that the sources match the installed binary packages.
fetch_source() { # source package, version pattern, folder name under deps/src
  local package=$1 version=$2 folder=$3
  [ -d "$deps/src/$folder" ] && return
  if ! apt-cache showsrc "$package" 2>/dev/null | grep -q "^Version: $version"; then
    local list=/etc/apt/sources.list.d/launcher-sources.sources
    if [ ! -f "$list" ] && [ -f /etc/apt/sources.list.d/debian.sources ]; then
      sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | $sudo_cmd tee "$list" >/dev/null
    fi
    local legacy=/etc/apt/sources.list.d/launcher-sources.list
    if [ ! -f "$legacy" ] && [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list; then
      grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' | $sudo_cmd tee "$legacy" >/dev/null
    fi
    $sudo_cmd apt-get update -o DPkg::Lock::Timeout=600
  fi
  local work=$deps/src/.fetch-$package
  rm -rf "$work"
  mkdir -p "$work"
  # A mirror that serves the upstream tarball but not Debian's packaging still gives the source
  # itself: the upstream tarball is unpacked on its own then.
  (cd "$work" && apt-get source -qq "$package=$(apt-cache showsrc "$package" |
    sed -n "s/^Version: \($version.*\)/\1/p" | head -n1)" >/dev/null) ||
    (cd "$work" && for orig in ./*.orig.tar.*; do [ -f "$orig" ] && tar xf "$orig"; done)
  local unpacked
  unpacked=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -n1)
  [ -n "$unpacked" ] || { echo "cannot fetch the source of $package" >&2; exit 1; }
  mv "$unpacked" "$deps/src/$folder"
  rm -rf "$work"
}
mkdir -p "$deps/src"
fetch_source imgui 1.86 imgui-1.86
fetch_source libzip 1.7.3 libzip-1.7.3
fetch_source librsync 2.3 librsync-2.3

toolchain=$root/cmake/mingw-w64-x86_64.cmake

# libzip: Deflate through zlib, hashing through Windows' own crypto; every other codec off.
if [ ! -f "$deps/install/lib/libzip.a" ]; then
  rm -rf "$deps/build/libzip"
  cmake -S "$deps/src/libzip-1.7.3" -B "$deps/build/libzip" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$deps/install" -DBUILD_SHARED_LIBS=OFF \
    -DENABLE_WINDOWS_CRYPTO=ON -DENABLE_COMMONCRYPTO=OFF -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF \
    -DENABLE_OPENSSL=OFF -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF \
    -DZLIB_LIBRARY=/usr/x86_64-w64-mingw32/lib/libz.a -DZLIB_INCLUDE_DIR=/usr/x86_64-w64-mingw32/include \
    -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF >/dev/null
  cmake --build "$deps/build/libzip" -j "$jobs" >"$deps/libzip-build.log" 2>&1 || { cat "$deps/libzip-build.log"; exit 1; }
  cmake --install "$deps/build/libzip" >/dev/null
fi

# librsync: the library alone (no rdiff, which needs popt), static, its own BLAKE2 and MD4.
if [ ! -f "$deps/install/lib/librsync.a" ]; then
  rm -rf "$deps/build/librsync"
  cmake -S "$deps/src/librsync-2.3" -B "$deps/build/librsync" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$deps/install" -DBUILD_SHARED_LIBS=OFF -DBUILD_RDIFF=OFF \
    -DENABLE_TRACE=OFF >/dev/null
  cmake --build "$deps/build/librsync" -j "$jobs" --target rsync >"$deps/librsync-build.log" 2>&1 ||
    { cat "$deps/librsync-build.log"; exit 1; }
  cmake --install "$deps/build/librsync" >/dev/null
fi

# The launcher's build links Dear ImGui's sources from deps/src itself (the Win32 back end and
# the renderer are target-specific), so nothing more is prepared here.

# A Wine prefix of the build's own for the tests, with crash dialogs off.
export WINEPREFIX=$out/wine
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  env -u DISPLAY wineboot --init >/dev/null 2>&1 || true
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 || true
  wineserver -w || true
fi

# shellcheck disable=SC2086
cmake -S "$root" -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DLAUNCHER_WINDOWS_DEPS="$deps" \
  -DLAUNCHER_WERROR=ON ${LAUNCHER_CMAKE_ARGS:-} "$@" >/dev/null
# shellcheck disable=SC2086
cmake --build "$out" -j "$jobs" ${LAUNCHER_WINDOWS_TARGETS:+--target $LAUNCHER_WINDOWS_TARGETS}
