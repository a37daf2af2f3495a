#!/usr/bin/env bash
# Checks the ARMv8 Crypto Extensions engine against the table engine on an
# x86 machine: cross-compiles the Rijndael engine sources with the AArch64
# compiler (as the ARM build compiles them: only RjdlArmCe.cpp with the
# crypto extension) and runs the check under user-mode emulation.
#
#   scripts/arm_check.sh [work folder]
#
# Needs g++-aarch64-linux-gnu and qemu-user (scripts/setup.sh installs them).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$here/build-arm}
cxx=aarch64-linux-gnu-g++
qemu=$(command -v qemu-aarch64 || command -v qemu-aarch64-static || true)
if ! command -v "$cxx" >/dev/null || [ -z "$qemu" ]; then
    echo "arm_check: needs $cxx and qemu-aarch64 (scripts/setup.sh installs them)" >&2
    exit 1
fi
mkdir -p "$work"
flags=(-std=c++20 -O2 -Wall -Wextra -Werror -I"$here" -DPVCODEC_ARM_CE=1)
objects=()
for source in "$here"/codec/Rjdl*.cpp "$here"/tests/arm/engine_check.cpp; do
    object=$work/$(basename "$source" .cpp).o
    extra=()
    [ "$(basename "$source")" = RjdlArmCe.cpp ] && extra=(-march=armv8-a+crypto)
    "$cxx" "${flags[@]}" "${extra[@]}" -c "$source" -o "$object"
    objects+=("$object")
done
"$cxx" -static "${objects[@]}" -o "$work/engine_check"
# "max" offers every extension the emulator knows, AES among them.
"$qemu" -cpu max "$work/engine_check"
