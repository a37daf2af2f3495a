# The 32-bit Windows build, which the host programs load:
#   cmake -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
# It builds and links here; nothing runs it (wine64 cannot run 32-bit programs).
set(_triple i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
# A 64-bit time_t, as on every other build.
set(CMAKE_C_FLAGS_INIT -D__MINGW_USE_VC2005_COMPAT)
set(CMAKE_CXX_FLAGS_INIT -D__MINGW_USE_VC2005_COMPAT)
