#!/usr/bin/env bash
# Sets up, builds and runs every test: first under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the normal build through ctest, then the
# Windows build (cross-built, its tests under wine64: scripts/windows-tests.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$here/scripts/setup.sh" --windows

# Sanitizer build: the unit tests in one process (starting ~1000 sanitized
# processes would cost more than the tests), then the other ctest tests.
"$here/scripts/build.sh" "$here/build-asan" -DPVCODEC_SANITIZE=ON -DPVCODEC_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd "$here/build-asan" && PVCODEC_TEST_DATA="$here/tests/data" ./bin/pvcodec_tests --gtest_brief=1)
(cd "$here/build-asan" && ctest --output-on-failure --timeout 900 -j "$jobs" -LE unit)
unset ASAN_OPTIONS UBSAN_OPTIONS

# Normal build, as a packager builds a release (and with warnings as errors,
# so that the optimiser's warnings show): every test through ctest.
"$here/scripts/build.sh" "$here/build" -DCMAKE_BUILD_TYPE=Release
(cd "$here/build" && ctest --output-on-failure --timeout 600 -j "$jobs")

"$here/scripts/windows-tests.sh"
