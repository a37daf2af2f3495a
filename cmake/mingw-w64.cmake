# Shared by the mingw-w64 toolchain files: cross-builds the Windows DLLs on
# Linux with the mingw-w64 compilers of the triple `_triple` (the POSIX-thread
# variant, which std::thread needs).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)
# Libraries, headers and CMake packages come from the mingw-w64 tree only: a
# Linux package found under /usr would bring Linux headers into the build.
set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
