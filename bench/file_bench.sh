#!/usr/bin/env bash
# Times the file operations on one large file held in the page cache against
# cp of the same file, and measures how much memory each call takes; prints
# one table of ratios (ours / reference) and memory figures.
#
#   bench/file_bench.sh [folder] [size in MiB] [runs]
#
# folder: where the files live (default /dev/shm, a tmpfs: every file stays
#         in memory and a flush costs next to nothing; a folder on a disk
#         shows what the durability flushes cost);
# size:   of the plain document (default 256);
# runs:   per case (default 3); each wall time is the best run, each memory
#         figure the largest.
# BUILD=<folder> picks the build (default build/ of this checkout); it is
# configured and built first when the benchmark driver is missing.
#
# How each figure is taken:
# - wall: cp, "cp + sync" (cp, then sync of the copy alone: the flush to
#   the disk that cp leaves out) and "dd bs=1024" (a copy in the streaming
#   drivers' I/O pattern: one 1 KiB read and one 1 KiB write per segment),
#   from the shell around the command (process start included); the library's operations from inside the driver
#   (bench/file_bench_driver.cpp) around the one call (process start
#   excluded, a millisecond or two).
# - peak memory: how far the call raised the driver's peak resident size
#   (getrusage ru_maxrss after the call less ru_maxrss just before it).
# - "new destination": the destination does not exist, so the only flush is
#   the folder's after the rename. "over existing": a file of the document's
#   size is in the destination's place; the finished result is flushed to the
#   disk before that file is removed. The encryption writers wipe an existing
#   local file out first (noise over it, flushed), which the last row
#   includes; its reference is the row "cp + sync, shred -n1 -u the older",
#   the same work done with the system's tools, and its ratio to that row is
#   printed under the table.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$here/build}
folder=${1:-/dev/shm}
size_mib=${2:-256}
runs=${3:-3}

driver=$build/bin/pvcodec_file_bench
if [ ! -x "$driver" ]; then
  "$here/scripts/build.sh" "$build" >/dev/null
fi
cmake --build "$build" --target pvcodec_file_bench >/dev/null

work=$(mktemp -d "$folder/pvcodec-file-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
plain=$work/plain
container=$work/container
dest=$work/dest

head -c $((size_mib << 20)) /dev/urandom >"$plain"
"$driver" DoEncryptFile "$plain" "$container" >/dev/null
cat "$plain" "$container" >/dev/null  # both in the page cache

now_ns() { date +%s%N; }

# best_shell <command...>: best wall time (ms) of `runs` runs, destination
# removed before each (and an older file put in its place, untimed, when
# $older is 1).
best_shell() {
  local best="" t0 t1 ms
  for _ in $(seq "$runs"); do
    rm -f "$dest"
    [ "${older:-0}" = 1 ] && cp "$plain" "$dest"
    t0=$(now_ns)
    "$@"
    t1=$(now_ns)
    ms=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", (b - a) / 1e6 }')
    best=$(awk -v a="$best" -v b="$ms" 'BEGIN { print (a == "" || b < a) ? b : a }')
  done
  rm -f "$dest"
  echo "$best"
}

# best_driver <operation> <source> <existing: 0|1>: "best-wall-ms peak-KiB faults" of `runs` runs.
best_driver() {
  local op=$1 src=$2 existing=$3 best="" peak=0 faults=0 line ms kib flt
  for _ in $(seq "$runs"); do
    rm -f "$dest"
    [ "$existing" = 1 ] && cp "$plain" "$dest"
    line=$("$driver" "$op" "$src" "$dest")
    ms=$(sed -n 's/.*wall_ms=\([0-9.]*\).*/\1/p' <<<"$line")
    kib=$(sed -n 's/.*peak_kib=\([0-9]*\).*/\1/p' <<<"$line")
    flt=$(sed -n 's/.*faults=\([0-9]*\).*/\1/p' <<<"$line")
    best=$(awk -v a="$best" -v b="$ms" 'BEGIN { print (a == "" || b < a) ? b : a }')
    [ "$kib" -gt "$peak" ] && peak=$kib
    faults=$flt
  done
  rm -f "$dest"
  echo "$best $peak $faults"
}

copy_and_sync() { cp "$plain" "$dest" && sync "$dest"; }
# What the encryption writers do over an older local file, by hand: the new
# bytes flushed, the older file overwritten once with noise, flushed and
# removed (shred), the new file moved into its place.
copy_sync_shred() { cp "$plain" "$dest.new" && sync "$dest.new" && shred -n 1 -u "$dest" && mv "$dest.new" "$dest"; }
copy_by_kib() { dd if="$plain" of="$dest" bs=1024 status=none; }

cp_ms=$(best_shell cp "$plain" "$dest")
cp_sync_ms=$(best_shell copy_and_sync)
dd_ms=$(best_shell copy_by_kib)
shred_ms=$(older=1 best_shell copy_sync_shred)

d_kib=$((size_mib * 1024))
echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //') ($(nproc) cores);" \
  "load average:$(uptime | sed 's/.*load average://')"
echo "File: ${size_mib} MiB of random bytes in $folder ($(df -T "$folder" | awk 'NR==2 { print $2 }')), page cache warm;" \
  "best of $runs runs; memory: rise of peak RSS over the call"
printf '%-36s %10s %8s %8s %6s %11s %11s %10s\n' case "wall ms" "/ cp" "/ cp+sync" goal "peak MiB" "mem goal" faults
printf '%-36s %10s %8s %8s %6s %11s %11s %10s\n' "cp" "$cp_ms" 1.00 "" "" "" "" ""
printf '%-36s %10s %8s %8s %6s %11s %11s %10s\n' "cp + sync" "$cp_sync_ms" \
  "$(awk -v a="$cp_sync_ms" -v b="$cp_ms" 'BEGIN { printf "%.2f", a / b }')" 1.00 "" "" "" ""
printf '%-36s %10s %8s %8s %6s %11s %11s %10s\n' "dd bs=1024 (1 KiB reads and writes)" "$dd_ms" \
  "$(awk -v a="$dd_ms" -v b="$cp_ms" 'BEGIN { printf "%.2f", a / b }')" \
  "$(awk -v a="$dd_ms" -v b="$cp_sync_ms" 'BEGIN { printf "%.2f", a / b }')" "" "" "" ""
printf '%-36s %10s %8s %8s %6s %11s %11s %10s\n' "cp + sync, shred -n1 -u the older" "$shred_ms" \
  "$(awk -v a="$shred_ms" -v b="$cp_ms" 'BEGIN { printf "%.2f", a / b }')" \
  "$(awk -v a="$shred_ms" -v b="$cp_sync_ms" 'BEGIN { printf "%.2f", a / b }')" "" "" "" ""

# The goal is against cp for a new destination (whose data the library does
# not flush: there is no older copy to lose), against cp + sync over an
# existing file (the result is flushed before the older file goes), and
# against that and shred where the older file is wiped out (base given).
row() {
  local label=$1 op=$2 src=$3 existing=$4 goal=$5 mem_goal_kib=$6 base=${7:-} result ms kib flt ratio mark mem_mark
  result=$(best_driver "$op" "$src" "$existing")
  read -r ms kib flt <<<"$result"
  ratio=$(awk -v a="$ms" -v b="$cp_ms" 'BEGIN { printf "%.2f", a / b }')
  [ -n "$base" ] || base=$( [ "$existing" = 1 ] && echo "$cp_sync_ms" || echo "$cp_ms")
  mark=$(awk -v a="$ms" -v b="$base" -v g="$goal" 'BEGIN { print (g == "" || a / b <= g) ? "" : " !" }')
  mem_mark=$( [ "$kib" -le "$mem_goal_kib" ] && echo "" || echo " !")
  last_ms=$ms last_base=$base
  printf '%-36s %10s %8s %8s %6s %11s %11s %10s\n' "$label" "$ms" "$ratio" \
    "$(awk -v a="$ms" -v b="$cp_sync_ms" 'BEGIN { printf "%.2f", a / b }')" "${goal:+${goal}x}$mark" \
    "$(awk -v k="$kib" 'BEGIN { printf "%.1f", k / 1024 }')" \
    "$(awk -v k="$mem_goal_kib" 'BEGIN { printf "<= %.0f", k / 1024 }')$mem_mark" "$flt"
}

whole=$((2 * d_kib + 4096))  # 2 x D + 4 MiB
flat=4096                    # 4 MiB whatever D
row "DoEncryptFile (new destination)" DoEncryptFile "$plain" 0 1.3 $whole
row "DecryptFileW (new destination)" DecryptFileW "$container" 0 1.3 $whole
row "EncryptFile2 (new destination)" EncryptFile2 "$plain" 0 1.5 $flat
row "DecryptFile2 (new destination)" DecryptFile2 "$container" 0 1.5 $flat
row "DecryptFileW (over existing)" DecryptFileW "$container" 1 1.2 $whole
row "DecryptFile2 (over existing)" DecryptFile2 "$container" 1 1.5 $flat
# The older file is wiped out (overwritten with noise and flushed) before it
# goes: the goal is against the shred row.
row "DoEncryptFile (over existing, wiped)" DoEncryptFile "$plain" 1 1.2 $whole "$shred_ms"
echo "DoEncryptFile over an existing file / (cp + sync, shred -n1 -u the older):" \
  "$(awk -v a="$last_ms" -v b="$last_base" 'BEGIN { printf "%.2f", a / b }')"
