# What the two MinGW-w64 toolchain files share: the compilers for
# CORRUGO_MINGW_TRIPLE, preferring the win32 thread model (no winpthread to
# link), and a search that looks for libraries and headers in the target's
# tree, never the build machine's.
find_program(CMAKE_C_COMPILER
  NAMES ${CORRUGO_MINGW_TRIPLE}-gcc-win32 ${CORRUGO_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER
  NAMES ${CORRUGO_MINGW_TRIPLE}-g++-win32 ${CORRUGO_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${CORRUGO_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CORRUGO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
