#!/usr/bin/env bash
# Cross-builds pvcodec for Windows with mingw-w64 and checks it (needs
# `scripts/setup.sh --windows`):
# - x86_64, in build-win64/ (or the first folder given): the DLLs, the unit
#   tests, which run under wine64 in one process through ctest, and the
#   pvcodec command's round trip on the bundled sample (scripts/windows-demo.sh);
# - i686, in build-win32/ (or the second folder given): the DLLs link and the
#   module entry is the __stdcall DllMain@12. Nothing runs them: wine64 runs
#   no 32-bit program (it starts one and exits 0 without output).
# Wine keeps its own prefix in the build folder, so a run leaves ~/.wine alone.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
win64=${1:-$here/build-win64}
win32=${2:-$here/build-win32}
jobs=$(nproc)
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
common=(-G Ninja -DPVCODEC_WERROR=ON -DPVCODEC_BUILD_BENCH=OFF -DPVCODEC_BUILD_TOOLS=ON "${launcher[@]}")

# The module entry: the runtime's no-op DllMain is linked only when ours is
# not the one the loader's start-up code calls.
check_entry() {
  if grep -q 'dllmain\.o' "$1/PVCodec.map"; then
    echo "$1: PVCodec.dll's entry is the runtime's no-op DllMain, not the module's" >&2
    exit 1
  fi
}

cmake -S "$here" -B "$win64" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" "${common[@]}" >/dev/null
cmake --build "$win64" --parallel "$jobs"
check_entry "$win64"
export WINEPREFIX="$win64/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="  # no .NET or HTML engine offered
mkdir -p "$WINEPREFIX"
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1  # the prefix, once, before the tests start
(cd "$win64" && ctest --output-on-failure --timeout 900 -L unit)
"$here/scripts/windows-demo.sh" "$win64"  # the command's round trip, and the same container as on Linux

cmake -S "$here" -B "$win32" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-i686.cmake" "${common[@]}" \
      -DPVCODEC_BUILD_TESTS=OFF >/dev/null
cmake --build "$win32" --parallel "$jobs"
check_entry "$win32"
echo "Windows: x86_64 tests and round trip passed under wine64; i686 DLLs and command linked"
