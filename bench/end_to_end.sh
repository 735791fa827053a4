#!/usr/bin/env bash
# End-to-end throughput on the reference workload: 200 instances of 20000 objects
# (1000 x 1000) and 20000 items, bounds 0.05 and 0.3, defect types 5 x 4, 10 x 10 and
# 20 x 3, 0 to 8 defects per object, seed 12 (about 840 MB in both files).
#
#   bench/end_to_end.sh [FOLDER] [INSTANCES]
#
# FOLDER (default out/bench) is where the files go: put it on the disk to be measured.
# Prints, run in turn round by round (ROUNDS, default 5), the program writing both files,
# cat writing the same bytes to the same folder and dd doing so through a 512 KB buffer
# in its own memory, as the program must (cat copies inside the kernel, with
# copy_file_range, where it can); each run starts with its files removed and the page
# cache synced. Twice: until the bytes are in the page cache, and until they are on the
# disk itself (each file synced). Gives the median of each and its ratio to cat. Then
# the program with both files on /dev/null (pure computing) against the fprintf("%f")
# baseline on the same, and the program's peak resident memory. BASE=PATH adds another
# build of defectgen (an earlier commit's, say) to every turn, so that before and after
# are measured in one sitting.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
dir=${1:-$root/out/bench}
instances=${2:-200}
rounds=${ROUNDS:-5}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DDEFECTGEN_BENCH=ON \
  -DDEFECTGEN_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
mkdir -p "$dir"
program=$build/defectgen
baseline=$build/bench/fprintf_baseline

answers() {
  printf '%s 20000 1000 1000 20000 0.05 0.3 3 5 4 10 10 20 3 0 8 %s %s 12 0' \
    "$instances" "$1" "$2"
}

# Wall-clock seconds of a command, its output discarded.
seconds() {
  local start=$EPOCHREALTIME
  "$@" >/dev/null
  awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f", b - a }'
}
run_program() { answers "$1" "$2" | "$program"; }
run_base() { answers "$1" "$2" | "$BASE"; }
run_base_synced() {
  run_base "$1" "$2"
  sync "$1" "$2"
}
run_program_synced() {
  run_program "$1" "$2"
  sync "$1" "$2"
}
run_baseline() { answers "$1" "$2" | "$baseline"; }
copy_with_cat() {
  cat "$dir/items.txt" >"$dir/copy-items.txt"
  cat "$dir/defects.txt" >"$dir/copy-defects.txt"
}
copy_with_dd() {
  dd if="$dir/items.txt" of="$dir/copy-items.txt" bs=512K status=none
  dd if="$dir/defects.txt" of="$dir/copy-defects.txt" bs=512K status=none
}
synced() {
  "$@"
  sync "$dir/copy-items.txt" "$dir/copy-defects.txt"
}
copy_with_cat_synced() { synced copy_with_cat; }
copy_with_dd_synced() { synced copy_with_dd; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "workload: $instances instances; files in $dir; load: $(cut -d ' ' -f 1-3 /proc/loadavg)"
# The program (and BASE), cat and dd in turn, round by round, each after its files were
# removed.
compare() {
  local how=$1 program_run=$2 cat_run=$3 dd_run=$4 base_run=$5
  local program_times=() cat_times=() dd_times=() base_times=()
  for ((round = 1; round <= rounds; round++)); do
    local line="  round $round:"
    if [ -n "${BASE:-}" ]; then
      rm -f "$dir"/items.txt "$dir"/defects.txt
      sync
      base_times+=("$(seconds "$base_run" "$dir/items.txt" "$dir/defects.txt")")
      line+=" base ${base_times[-1]} s,"
    fi
    rm -f "$dir"/items.txt "$dir"/defects.txt
    sync
    program_times+=("$(seconds "$program_run" "$dir/items.txt" "$dir/defects.txt")")
    rm -f "$dir"/copy-*.txt
    sync
    cat_times+=("$(seconds "$cat_run")")
    rm -f "$dir"/copy-*.txt
    sync
    dd_times+=("$(seconds "$dd_run")")
    echo "$line defectgen ${program_times[-1]} s, cat ${cat_times[-1]} s, dd ${dd_times[-1]} s"
  done
  local c
  c=$(median "${cat_times[@]}")
  if [ -n "${BASE:-}" ]; then
    awk -v b="$(median "${base_times[@]}")" -v c="$c" -v how="$how" \
      'BEGIN { printf "%s (medians): base %.3f s, base / cat %.2f\n", how, b, b / c }'
  fi
  awk -v p="$(median "${program_times[@]}")" -v c="$c" -v d="$(median "${dd_times[@]}")" \
    -v how="$how" 'BEGIN {
      printf "%s (medians): defectgen %.3f s, cat %.3f s, dd %.3f s; defectgen / cat %.2f, dd / cat %.2f\n",
        how, p, c, d, p / c, d / c }'
}
compare "to the page cache" run_program copy_with_cat copy_with_dd run_base
compare "to the disk (synced)" run_program_synced copy_with_cat_synced copy_with_dd_synced \
  run_base_synced
bytes=$(($(stat -c %s "$dir/items.txt") + $(stat -c %s "$dir/defects.txt")))
echo "bytes written: $bytes"
(cd "$dir" && sha256sum items.txt defects.txt)

null_times=() base_null_times=()
for ((round = 1; round <= rounds; round++)); do
  if [ -n "${BASE:-}" ]; then
    base_null_times+=("$(seconds run_base /dev/null /dev/null)")
  fi
  null_times+=("$(seconds run_program /dev/null /dev/null)")
done
if [ -n "${BASE:-}" ]; then
  echo "to /dev/null (median): base $(median "${base_null_times[@]}") s"
fi
base=$(seconds run_baseline /dev/null /dev/null)
awk -v p="$(median "${null_times[@]}")" -v b="$base" \
  'BEGIN { printf "to /dev/null (median): defectgen %.3f s, fprintf baseline %.3f s, %.1f x faster\n", p, b, b / p }'

if [ -x /usr/bin/time ]; then
  rm -f "$dir"/items.txt "$dir"/defects.txt
  peak=$( { answers "$dir/items.txt" "$dir/defects.txt" | /usr/bin/time -f %M "$program" >/dev/null; } 2>&1)
  echo "peak resident memory: $peak KB"
fi

# The baseline writes the same bytes: check on a few instances.
small=$dir/check
mkdir -p "$small"
(instances=3 && answers "$small/a-items.txt" "$small/a-defects.txt" | "$program" >/dev/null)
(instances=3 && answers "$small/b-items.txt" "$small/b-defects.txt" | "$baseline" >/dev/null)
cmp "$small/a-items.txt" "$small/b-items.txt"
cmp "$small/a-defects.txt" "$small/b-defects.txt"
echo "baseline files identical on 3 instances"
rm -rf "$small" "$dir"/copy-*.txt
