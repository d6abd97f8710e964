# Shared part of the mingw-w64 toolchain files: the includer sets WYGL_MINGW_TRIPLE and
# CMAKE_SYSTEM_PROCESSOR. The POSIX-threads variants of the compilers are used: the
# win32-threads ones have no std::thread and cannot build GoogleTest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${WYGL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${WYGL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${WYGL_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${WYGL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
