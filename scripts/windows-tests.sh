#!/usr/bin/env bash
# Cross-builds the x86_64 Windows DLLs and the unit tests with mingw-w64 into
# build-win64/ (or the folder given) and runs the tests under wine64 through
# ctest. Needs `scripts/setup.sh --windows`. Wine keeps its own prefix in the
# build folder, so a run leaves the user's ~/.wine alone.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-win64}
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" \
      -DPVCODEC_WERROR=ON -DPVCODEC_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)"
export WINEPREFIX="$build/wine" WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1  # the prefix, once, before tests start in parallel
(cd "$build" && ctest --output-on-failure --timeout 600 -j "$(nproc)" -L unit)
