#!/usr/bin/env bash
# Configures and builds pvcodec into build/ (or the folder given), with tests,
# warnings as errors.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
shift || true
cmake -S "$here" -B "$build" -G Ninja -DPVCODEC_WERROR=ON "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
