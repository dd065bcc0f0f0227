# The Windows build's dependencies, for the cross build from Debian (cmake/mingw-w64-x86_64.cmake).
#
# scripts/build-windows.sh fetches Debian's sources of Dear ImGui 1.86, libzip 1.7.3 and librsync
# 2.3.2 into LAUNCHER_WINDOWS_DEPS and builds libzip and librsync there; Dear ImGui is compiled here with the launcher's
# own settings. stb_image comes from Debian's libstb-dev headers, zlib and libgcrypt from Debian's
# MinGW packages. Every program is linked statically: a Windows player gets one executable and no
# DLLs (without -static the missing libstdc++ and winpthread DLLs end a program before main).
set(LAUNCHER_WINDOWS_DEPS "${CMAKE_BINARY_DIR}/deps" CACHE PATH
  "Dependencies built for Windows (scripts/build-windows.sh)")
set(mingw_root /usr/x86_64-w64-mingw32)
set(imgui_dir "${LAUNCHER_WINDOWS_DEPS}/src/imgui-1.86")
set(zip_dir "${LAUNCHER_WINDOWS_DEPS}/install")
foreach(required "${imgui_dir}/imgui.cpp" "${zip_dir}/lib/libzip.a" "${zip_dir}/lib/librsync.a"
    /usr/include/stb/stb_image.h
    "${mingw_root}/lib/libz.a" "${mingw_root}/lib/libgcrypt.a")
  if(NOT EXISTS "${required}")
    message(FATAL_ERROR "${required} not found: run scripts/build-windows.sh from the repository root.")
  endif()
endforeach()

add_link_options(-static)
# Windows 7 and later: WinHTTP's and BCrypt's interfaces as used here.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE _WIN32_WINNT=0x0601)

# Dear ImGui with its Win32 platform back end; the renderer back end belongs to src/ui.
add_library(imgui STATIC
  "${imgui_dir}/imgui.cpp" "${imgui_dir}/imgui_draw.cpp" "${imgui_dir}/imgui_tables.cpp"
  "${imgui_dir}/imgui_widgets.cpp" "${imgui_dir}/imgui_demo.cpp"
  "${imgui_dir}/backends/imgui_impl_win32.cpp")
target_include_directories(imgui SYSTEM PUBLIC "${imgui_dir}" "${imgui_dir}/backends")
target_compile_options(imgui PRIVATE -w) # not our code
target_link_libraries(imgui PUBLIC dwmapi gdi32 imm32 user32)

# stb_image and stb_truetype: Debian's headers (copied into the build folder, away from the host's
# other headers), compiled once here as Debian's libstb does for Linux.
set(stb_include "${CMAKE_BINARY_DIR}/stb-include")
configure_file(/usr/include/stb/stb_image.h "${stb_include}/stb/stb_image.h" COPYONLY)
configure_file(/usr/include/stb/stb_truetype.h "${stb_include}/stb/stb_truetype.h" COPYONLY)
file(WRITE "${CMAKE_BINARY_DIR}/generated/stb_image.c"
  "#define STB_IMAGE_IMPLEMENTATION\n#include <stb/stb_image.h>\n"
  "#define STB_TRUETYPE_IMPLEMENTATION\n#include <stb/stb_truetype.h>\n")
add_library(stb STATIC "${CMAKE_BINARY_DIR}/generated/stb_image.c")
target_include_directories(stb SYSTEM PUBLIC "${stb_include}")

add_library(libzip STATIC IMPORTED)
set_target_properties(libzip PROPERTIES IMPORTED_LOCATION "${zip_dir}/lib/libzip.a"
  INTERFACE_INCLUDE_DIRECTORIES "${zip_dir}/include")
target_link_libraries(libzip INTERFACE "${mingw_root}/lib/libz.a" bcrypt advapi32)

add_library(librsync STATIC IMPORTED)
set_target_properties(librsync PROPERTIES IMPORTED_LOCATION "${zip_dir}/lib/librsync.a"
  INTERFACE_INCLUDE_DIRECTORIES "${zip_dir}/include" INTERFACE_COMPILE_DEFINITIONS LIBRSYNC_STATIC_DEFINE)

# The interface's libraries, then the platform layer's Windows calls: Winsock, WinHTTP and WinINet (downloads, the URL cache),
# CryptoAPI and libgcrypt (Ed25519), the shell, User32, version resources.
add_library(launcher_windows_libraries INTERFACE)
target_link_libraries(launcher_windows_libraries INTERFACE imgui stb libzip librsync
  "${mingw_root}/lib/libgcrypt.a" "${mingw_root}/lib/libgpg-error.a"
  ws2_32 winhttp wininet urlmon crypt32 advapi32 shell32 shlwapi user32 version kernel32)

# The launcher links only once the Win32 window exists (src/ui/win32).
file(GLOB LAUNCHER_WINDOWS_UI_SOURCES CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/src/ui/win32/*.cpp")
