#!/usr/bin/env bash
# check-solution and draw at the largest sizes:
#  - a set of one instance of 20000 objects (1000 x 1000) with 1000 defects each (types
#    1 x 1, 2 x 2, 3 x 1) and 20000 small items; a feasible placement of every item made
#    for it (bench/kit_placement_maker.cpp: PER_OBJECT items along each object's lower
#    edge, past the defects), once without and once with the DEFECT rows echoed;
#    check-solution on both, beside wc -l over the same files (reading them is the floor);
#  - draw on the reference workload's first instance (REFSET, or $REFSET), and on
#    the large set with every object asked for, with and without the placement.
# Prints wall-clock seconds, peak resident memory and the pictures' sizes.
#
#   bench/kit_solution_draw.sh [FOLDER] [REFSET]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench-kit}
dir=${1:-$root/out/bench-kit}
refset=${2:-${REFSET:?name the reference set: REFSET=DIR}}
per_object=${PER_OBJECT:-10}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DDEFECTGEN_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target defectkit defectgen >/dev/null
c++ -O2 -std=c++20 -o "$build/kit_placement_maker" "$root/bench/kit_placement_maker.cpp"
kit=$build/defectkit
mkdir -p "$dir"
cd "$dir"

if [ ! -f defects.txt ]; then
  printf '1 20000 1000 1000 20000 0.001 0.002 3 1 1 2 2 3 1 1000 1000 items.txt defects.txt 7 0' \
    >answers.txt
  "$build/defectgen" <answers.txt >/dev/null
fi
if [ ! -f placement-echo.csv ]; then
  "$build/kit_placement_maker" items.txt defects.txt 1000 1000 "$per_object" 0 >placement.csv
  "$build/kit_placement_maker" items.txt defects.txt 1000 1000 "$per_object" 1 >placement-echo.csv
fi
echo "set: $(du -h defects.txt | cut -f1) of defects; placements: $(wc -l <placement.csv) rows," \
  "$(wc -l <placement-echo.csv) rows with the defects echoed ($(du -h placement-echo.csv | cut -f1))"

# Runs a command, its stdout to /dev/null; prints "S s, R MB peak".
measure() {
  local out
  /usr/bin/time -f '%e %U %M' -o "$dir/.time" "$@" >/dev/null 2>/dev/null || true
  out=$(tail -n 1 "$dir/.time")
  echo "$out" | awk '{ printf "%.2f s (%.2f s user), %.1f MB peak", $1, $2, $3 / 1024 }'
}
cat defects.txt items.txt >/dev/null # into the page cache

echo "wc -l on items.txt and defects.txt:              $(measure wc -l items.txt defects.txt)"
echo "check-solution, $per_object items per object:         $(measure "$kit" check-solution answers.txt \
  --instance 1 --solution placement.csv)"
echo "check-solution, with every DEFECT row echoed:    $(measure "$kit" check-solution answers.txt \
  --instance 1 --solution placement-echo.csv)"
"$kit" check-solution answers.txt --instance 1 --solution placement.csv

echo "draw, the large set, 12 objects:                 $(measure "$kit" draw answers.txt --instance 1 \
  --out large.svg) -> $(stat -c %s large.svg) bytes"
echo "draw, the large set, --max-objects 20000:        $(measure "$kit" draw answers.txt --instance 1 \
  --max-objects 20000 --out large-all.svg) -> $(stat -c %s large-all.svg) bytes"
echo "draw, the large set with its placement, 20000:   $(measure "$kit" draw answers.txt --instance 1 \
  --max-objects 20000 --solution placement.csv --out large-placement.svg) -> $(stat -c %s large-placement.svg) bytes"
(
  cd "$refset"
  echo "draw, the reference workload's first instance:  $(measure "$kit" draw answers.txt \
    --instance 1 --out "$dir/refset.svg") -> $(stat -c %s "$dir/refset.svg") bytes"
)

# Where check-solution spends its time: the overlap sweeps against the exact union of each
# object's defects (for the defect-free area of the summary) and the reading.
if command -v perf >/dev/null 2>&1; then
  perf record -q -o "$dir/perf.data" "$kit" check-solution answers.txt --instance 1 \
    --solution placement.csv >/dev/null 2>&1
  perf report -i "$dir/perf.data" --no-children --sort symbol 2>/dev/null | awk '
    /%/ && !/^#/ {
      share = $1 + 0
      if ($0 ~ /check_object|sweep_|PlacedItem/) sweeps += share
      else if ($0 ~ /union_area|UnionScratch|order_ends|compress_y|sweep<|Piece(Counts|Tree)/) union += share
      else rest += share
    }
    END { printf "check-solution time: overlap sweeps %.1f%%, union of defects %.1f%%, the rest (reading) %.1f%%\n", sweeps, union, rest }'
fi
