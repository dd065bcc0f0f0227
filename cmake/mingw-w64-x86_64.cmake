# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix: the
# POSIX thread model, which std::thread and std::mutex need).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Unit tests run as Windows programs under Wine, headless, in a prefix of the build folder's own
# (scripts/build-windows.sh prepares it and starts its wineserver). Each runs beside a test broker
# that starts the Linux side's test tools for it (the HTTP test server, Python, Info-ZIP).
find_program(LAUNCHER_WINE wine)
# Debian's own Python first, the one scripts/setup.sh installs (a version manager's shim costs time each test).
find_program(LAUNCHER_PYTHON3 python3 HINTS /usr/bin)
if(LAUNCHER_WINE AND LAUNCHER_PYTHON3)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env --unset=DISPLAY
    WINEPREFIX=${CMAKE_BINARY_DIR}/wine WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
    ${LAUNCHER_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/../tests/support/wine_test_broker.py ${LAUNCHER_WINE})
endif()
