#!/usr/bin/env bash
# Installs what building and testing pvcodec needs on a Debian machine.
#
#   scripts/setup.sh [--windows]
#
# --windows adds what the Windows build needs: the mingw-w64 cross compilers
# (x86_64 and i686, POSIX threads for std::thread), libgcrypt built for them
# (linked into the stand-in crypto library and the tests), and wine64, which
# runs the x86_64 tests (/usr/lib/wine/wine64; it is not put on PATH).
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  libgcrypt20-dev     # RSA-OAEP of the outside-library stand-in (the one such library Debian ships for mingw too)
  libssl-dev          # OpenSSL 3: the tests' and benchmarks' independent oracle
  libgtest-dev libgmock-dev googletest
  libbenchmark-dev
  libcli11-dev        # the pvcodec command's argument parser
  libacl1-dev acl     # access-control lists behind file security
  g++-aarch64-linux-gnu qemu-user   # the ARMv8 engine, checked under emulation
  clang-14 libclang-rt-14-dev       # the fuzz targets: libFuzzer and the sanitizer runtimes
)
if [ "${1:-}" = --windows ]; then
  packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix libgcrypt-mingw-w64-dev wine64)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
