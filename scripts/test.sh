#!/usr/bin/env bash
# Sets up, builds and runs every test: the normal build, then the same tests
# under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh"
"$here/scripts/build.sh" "$here/build"
(cd "$here/build" && ctest --output-on-failure --timeout 600 -j "$(nproc)")
"$here/scripts/build.sh" "$here/build-asan" -DPVCODEC_SANITIZE=ON -DPVCODEC_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
(cd "$here/build-asan" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure --timeout 900 -j "$(nproc)")
