#!/usr/bin/env bash
# End-to-end throughput on the reference workload: 200 instances of 20000 objects
# (1000 x 1000) and 20000 items, bounds 0.05 and 0.3, defect types 5 x 4, 10 x 10 and
# 20 x 3, 0 to 8 defects per object, seed 12 (about 840 MB in both files).
#
#   bench/end_to_end.sh [FOLDER] [INSTANCES]
#
# FOLDER (default out/bench) is where the files go: put it on the disk to be measured.
# Prints, side by side, the program writing both files and cat writing the same bytes to
# the same folder, twice: until the bytes are in the page cache, and until they are on
# the disk itself (each file synced); then the program with both files on /dev/null
# (pure computing) against the fprintf("%f") baseline on the same; and the program's
# peak resident memory.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
dir=${1:-$root/out/bench}
instances=${2:-200}
rounds=${ROUNDS:-3}

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
run_program_synced() {
  run_program "$1" "$2"
  sync "$1" "$2"
}
run_baseline() { answers "$1" "$2" | "$baseline"; }
copy_with_cat() {
  cat "$dir/items.txt" >"$dir/cat-items.txt"
  cat "$dir/defects.txt" >"$dir/cat-defects.txt"
}
copy_with_cat_synced() {
  copy_with_cat
  sync "$dir/cat-items.txt" "$dir/cat-defects.txt"
}
smallest() { printf '%s\n' "$@" | sort -g | head -n 1; }

echo "workload: $instances instances; files in $dir"
# One measurement of both, side by side, in alternating rounds; prints the best of each.
compare() {
  local how=$1 program_run=$2 cat_run=$3
  local program_times=() cat_times=()
  for ((round = 1; round <= rounds; round++)); do
    rm -f "$dir"/items.txt "$dir"/defects.txt "$dir"/cat-*.txt
    sync
    program_times+=("$(seconds "$program_run" "$dir/items.txt" "$dir/defects.txt")")
    sync
    cat_times+=("$(seconds "$cat_run")")
    echo "  round $round: defectgen ${program_times[-1]} s, cat ${cat_times[-1]} s"
  done
  awk -v p="$(smallest "${program_times[@]}")" -v c="$(smallest "${cat_times[@]}")" -v how="$how" \
    'BEGIN { printf "%s: defectgen %.3f s, cat %.3f s, ratio %.2f\n", how, p, c, p / c }'
}
compare "to the page cache" run_program copy_with_cat
compare "to the disk (synced)" run_program_synced copy_with_cat_synced
bytes=$(($(stat -c %s "$dir/items.txt") + $(stat -c %s "$dir/defects.txt")))
echo "bytes written: $bytes"

null_times=()
for ((round = 1; round <= rounds; round++)); do
  null_times+=("$(seconds run_program /dev/null /dev/null)")
done
best_null=$(smallest "${null_times[@]}")
base=$(seconds run_baseline /dev/null /dev/null)
awk -v p="$best_null" -v b="$base" \
  'BEGIN { printf "to /dev/null: defectgen %.3f s, fprintf baseline %.3f s, %.1f x faster\n", p, b, b / p }'

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
rm -rf "$small" "$dir"/cat-*.txt
