# Cross-compiling for 32-bit Windows with Debian's MinGW-w64 (the win32
# thread model: no winpthread to ship or link).
#   cmake -S . -B build-win32 --toolchain cmake/mingw-w64-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CORRUGO_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
