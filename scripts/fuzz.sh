#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and UBSan) into
# build-fuzz/, replays the kept regressions, then runs every target for a
# fixed time, as many at once as there are processors.
#
#   scripts/fuzz.sh [seconds per target, default 30] [target ...]
#
# Inputs that grow coverage collect in build-fuzz/fuzz/work/<target>/ (kept
# between runs, next to the generated seeds in build-fuzz/fuzz/corpus/); an
# input that breaks a target is written to build-fuzz/fuzz/findings/<target>/
# and ends the script with status 1. Keep it as a regression: copy it to
# fuzz/regressions/<target>/ with a name that says what it found.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
shift || true
build=$here/build-fuzz
targets=("$@")

"$here/scripts/setup.sh"
CC=clang-14 CXX=clang++-14 "$here/scripts/build.sh" "$build" -DPVCODEC_FUZZ=ON \
  -DPVCODEC_BUILD_TESTS=OFF -DPVCODEC_BUILD_BENCH=OFF -DPVCODEC_BUILD_TOOLS=OFF
if [ ${#targets[@]} -eq 0 ]; then
  for program in "$build"/bin/fuzz_*; do
    name=${program##*/fuzz_}
    [ "$name" = seeds ] || targets+=("$name")
  done
fi

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd "$build" && ctest --output-on-failure -R '^fuzz\.regressions\.')

run() {
  local target=$1 work=$build/fuzz/work/$1 findings=$build/fuzz/findings/$1
  mkdir -p "$work" "$findings"
  # -timeout: an input running 10 s is a hang; -rss_limit_mb: no call needs 2 GiB.
  if "$build/bin/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$findings/" "$work" "$build/fuzz/corpus/$target" \
      >"$build/fuzz/$target.log" 2>&1; then
    echo "fuzz_$target: $(grep -m1 -o 'number_of_executed_units: [0-9]*' "$build/fuzz/$target.log" | cut -d' ' -f2) runs, nothing found"
  else
    echo "fuzz_$target: FOUND something, see $build/fuzz/$target.log and $findings/"
    return 1
  fi
}

status=0
jobs=$(nproc)
running=0
for target in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || status=1
    running=$((running - 1))
  fi
  run "$target" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || status=1
  running=$((running - 1))
done
exit $status
