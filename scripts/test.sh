#!/usr/bin/env bash
# Builds the launcher and runs every test: unit tests, the comparison of the settings-file layer
# with the Windows profile functions under Wine, then the tests of the real launcher
# against the development server under a virtual X display. Then the unit tests again under
# AddressSanitizer + UndefinedBehaviorSanitizer (LAUNCHER_SKIP_SANITIZERS=1 leaves that out), and
# the fuzz targets for a minute each (LAUNCHER_SKIP_FUZZ=1 leaves them out). Last the Windows build,
# cross-built, with its unit tests run under Wine (LAUNCHER_SKIP_WINDOWS=1 leaves it out).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh

# Above src/platform nothing opens, lists or measures a file by itself: the C and C++ libraries'
# file calls read a narrow path in the ANSI code page on Windows.
if grep -rnwE 'fopen|_wfopen|fstream|ifstream|ofstream|std::filesystem|<filesystem>|<fstream>' src \
  --exclude-dir=platform; then
  echo "file access above src/platform (use platform/file_io.h)" >&2
  exit 1
fi

jobs=$(nproc)
build() { # folder, extra cmake arguments...
  local dir=$1
  shift
  # LAUNCHER_CMAKE_ARGS: extra settings, e.g. other ports where the default ones are taken.
  # shellcheck disable=SC2086
  cmake -S "$root" -B "$dir" -G Ninja -DLAUNCHER_WERROR=ON ${LAUNCHER_CMAKE_ARGS:-} "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

# A display for the window and the message boxes; SDL needs xfonts-base for its boxes.
xvfb_pid=""
cleanup() { [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true; }
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  for n in $(seq 90 99); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    # -noreset: without it the server resets whenever its last client leaves, and a launcher that
    # connects during that reset finds no display.
    Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    break
  done
fi

build build
(cd build && ctest --output-on-failure --timeout 600 -L unit)
# The settings-file layer against the Windows profile functions, run under Wine without a display.
(cd build && env -u DISPLAY ctest --output-on-failure --timeout 600 -L wine)
# Each file of tests of the real launcher starts an X server of its own (tests/system/harness.py),
# so a server that dies or fills up in one file cannot take the next one down.
(cd build && env -u DISPLAY ctest --output-on-failure --timeout 600 -L system)

if [ "${LAUNCHER_SKIP_SANITIZERS:-0}" != 1 ]; then
  build build-asan -DCMAKE_BUILD_TYPE=Debug -DLAUNCHER_SANITIZE=address
  (cd build-asan && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -L unit --timeout 600)
fi

# Fuzz targets (clang, ASan + UBSan): each runs LAUNCHER_FUZZ_SECONDS (default 60); 0 replays the
# committed inputs only.
if [ "${LAUNCHER_SKIP_FUZZ:-0}" != 1 ]; then
  bash scripts/fuzz.sh "${LAUNCHER_FUZZ_SECONDS:-60}"
fi

if [ "${LAUNCHER_SKIP_WINDOWS:-0}" != 1 ]; then
  bash scripts/build-windows.sh
  # One wineserver for the whole run (it ends a minute after its last program): each test program
  # then starts in a fraction of a second. The first program of a session starts Wine's services,
  # which would inherit the output pipe of whatever ctest runs first and hold it open: start them
  # here, on no pipe.
  export WINEPREFIX=$root/build-windows/wine WINEDEBUG=-all
  wineserver -p60
  env -u DISPLAY wine cmd /c exit >/dev/null 2>&1 || true
  (cd build-windows && env -u DISPLAY ctest --output-on-failure --timeout 600 -L windows -j "$jobs")
  # The Windows launcher's window under Wine against the development server (a prefix of its own).
  (cd tests/system && env -u DISPLAY python3 -m unittest -v test_windows)
fi
