#!/usr/bin/env bash
# Installs everything the launcher and its tests need, by package name. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake ninja-build pkg-config clang clang-format
  libsdl2-dev libimgui-dev libstb-dev libcurl4-openssl-dev libssl-dev libzip-dev librsync-dev
  libfontconfig-dev fonts-liberation fonts-font-awesome
  # Faces for Chinese, Japanese and Korean news (fontconfig finds them for the characters).
  fonts-noto-cjk
  googletest libgtest-dev libgmock-dev
  xvfb xauth xdotool x11-utils xfonts-base imagemagick
  python3 zip unzip openssl
  # The release tool's key file is checked on the system call that creates it.
  strace
  # The settings-file layer is compared with the real Windows profile functions under Wine.
  g++-mingw-w64-x86-64-posix wine wine64
)
# The machine may already carry its own Node.js; Debian's is only needed where there is none.
command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -o DPkg::Lock::Timeout=600
  $sudo_cmd apt-get install -y --no-install-recommends -o DPkg::Lock::Timeout=600 "${missing[@]}"
fi

# Font Awesome 5 Free Solid 5.15.3 comes only from the npm registry; it is kept out of the tree.
fa=.deps/node_modules/@fortawesome/fontawesome-free/webfonts/fa-solid-900.ttf
if [ ! -f "$fa" ]; then
  mkdir -p .deps
  npm install --prefix .deps --no-save --no-audit --no-fund @fortawesome/fontawesome-free@5.15.3 >/dev/null
fi
