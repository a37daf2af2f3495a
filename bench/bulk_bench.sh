#!/usr/bin/env bash
# Times many small documents encrypted in place by the pvcodec command
# against a sequential copy of the same files, each flushed to the disk;
# prints one table of ratios (ours / reference) measured in the same run.
#
#   bench/bulk_bench.sh [folder] [documents] [jobs...]
#
# folder:    where the documents live (default /dev/shm, a tmpfs; a folder on
#            a disk shows what the library's flushes cost);
# documents: how many, of 100 KiB of random bytes each (default 1000);
# jobs:      the --jobs values to time (default 4 16 32 64).
# BUILD=<folder> picks the build (default build/ of this checkout); the
# command is built first.
#
# The cases, each on a fresh copy of the plain documents (copied and flushed
# before the clock starts):
# - cp + sync: for each document, cp to another folder, then sync of the
#   copy alone: the reference, a loop a user could write;
# - one by one: `pvcodec encrypt DOC` per document, one process each;
# - --jobs N: `pvcodec encrypt -r --jobs N FOLDER`, one process.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$here/build}
folder=${1:-/dev/shm}
count=${2:-1000}
shift $(($# < 2 ? $# : 2))
jobs_list=("$@")
[ ${#jobs_list[@]} -gt 0 ] || jobs_list=(4 16 32 64)

tool=$build/bin/pvcodec
if [ ! -x "$tool" ]; then
  "$here/scripts/build.sh" "$build" -DPVCODEC_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" --target pvcodec_cli >/dev/null

work=$(mktemp -d "$folder/pvcodec-bulk-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/plain"
for i in $(seq "$count"); do
  head -c 102400 /dev/urandom >"$work/plain/doc$i"
done
export PVCODEC_KEY=000102030405060708090a0b0c0d0e0f

# fresh <name>: a flushed copy of the plain documents in $work/<name>.
fresh() {
  rm -rf "${work:?}/$1"
  cp -r "$work/plain" "$work/$1"
  sync
}

now_ns() { date +%s%N; }
# timed <command...>: the wall time in ms.
timed() {
  local t0 t1
  t0=$(now_ns)
  "$@"
  t1=$(now_ns)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.0f", (b - a) / 1e6 }'
}

copy_and_sync_each() {
  local f
  for f in "$work"/plain/*; do
    cp "$f" "$work/copies/"
    sync "$work/copies/${f##*/}"
  done
}
encrypt_each() {
  local f
  for f in "$work"/docs/*; do
    "$tool" encrypt "$f"
  done
}

mkdir "$work/copies"
sync
reference_ms=$(timed copy_and_sync_each)

echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //') ($(nproc) cores);" \
  "load average:$(uptime | sed 's/.*load average://')"
echo "$count documents of 100 KiB in $folder ($(df -T "$folder" | awk 'NR==2 { print $2 }')); ratios: wall time / cp + sync's"
printf '%-40s %10s %8s %10s\n' case "wall ms" "/ ref" "ms / doc"
row() {
  printf '%-40s %10s %8s %10s\n' "$1" "$2" "$(awk -v a="$2" -v b="$reference_ms" 'BEGIN { printf "%.2f", a / b }')" \
    "$(awk -v a="$2" -v n="$count" 'BEGIN { printf "%.2f", a / n }')"
}
row "cp + sync, one by one (reference)" "$reference_ms"

fresh docs
row "pvcodec encrypt DOC, one by one" "$(timed encrypt_each)"
for jobs in 1 "${jobs_list[@]}"; do
  fresh docs
  row "pvcodec encrypt -r --jobs $jobs" "$(timed "$tool" encrypt -r --jobs "$jobs" "$work/docs" 2>/dev/null)"
done
[ "$("$tool" decrypt -r "$work/docs" 2>&1 >/dev/null | grep -c " 0 failed")" = 1 ]
diff -r "$work/plain" "$work/docs" >/dev/null || { echo "the documents did not decrypt back" >&2; exit 1; }
