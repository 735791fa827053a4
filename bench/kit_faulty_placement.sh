#!/usr/bin/env bash
# check-solution and draw on hostile placements of 10 million faulty DEFECT rows
# (bench/kit_faulty_placement.cpp): their peak resident memory and time.
#  - orphans: 10000 bins without a BIN row, 1000 DEFECT rows each, on the README's example
#    set (2 objects);
#  - mismatch: 20000 BIN rows with 500 DEFECT rows each that match no defect, on a set of
#    one instance of 20000 objects (1000 x 1000) with 1000 defects each, the large set of
#    bench/kit_solution_draw.sh.
# stderr goes into a pipe (wc -l), as where a caller reads it. KIT=PATH measures another
# build of defectkit (an older one, for a before and after); the old pictures are removed
# first, so that a build without draw --force is measured alike.
#
#   bench/kit_faulty_placement.sh [FOLDER]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench-kit}
dir=${1:-$root/out/bench-faulty}
rows=${ROWS:-10000000}

# KIT and DEFECTGEN name builds of the two programs; else build-bench-kit/ is built.
if [ -z "${KIT:-}" ] || [ -z "${DEFECTGEN:-}" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DDEFECTGEN_TESTS=OFF >/dev/null
  cmake --build "$build" -j2 --target defectkit defectgen >/dev/null
fi
kit=${KIT:-$build/defectkit}
defectgen=${DEFECTGEN:-$build/defectgen}
maker=$dir/kit_faulty_placement
c++ -O2 -std=c++20 -o "$maker" "$root/bench/kit_faulty_placement.cpp"
mkdir -p "$dir/example" "$dir/large"

cd "$dir/example"
if [ ! -f defects.txt ]; then
  printf '1 2 100 100 5 0.01 0.15 3 5 4 10 10 20 3 1 3 items.txt defects.txt 12 0' >answers.txt
  "$defectgen" <answers.txt >/dev/null
  "$maker" orphans "$rows" >orphans.csv
fi
cd "$dir/large"
if [ ! -f defects.txt ]; then
  printf '1 20000 1000 1000 20000 0.001 0.002 3 1 1 2 2 3 1 1000 1000 items.txt defects.txt 7 0' \
    >answers.txt
  "$defectgen" <answers.txt >/dev/null
  "$maker" mismatch "$rows" 20000 1000 1000 >mismatch.csv
fi

# Runs a command in the current folder, stdout dropped and stderr counted through a pipe;
# prints "S s, R MB peak, N lines on stderr".
measure() {
  local lines
  lines=$( { /usr/bin/time -v -o "$dir/.time" "$@" 2>&1 >/dev/null || true; } | wc -l)
  awk -v lines="$lines" '/Elapsed/ { t = $NF } /Maximum resident/ { m = $NF }
    END { split(t, p, ":"); s = p[1] * 60 + p[2]; if (length(p) == 3) s = p[1] * 3600 + p[2] * 60 + p[3]
          printf "%.2f s, %.1f MB peak, %d lines on stderr\n", s, m / 1024, lines }' "$dir/.time"
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg); $(wc -l <"$dir/example/orphans.csv") and" \
  "$(wc -l <"$dir/large/mismatch.csv") rows"
cd "$dir/example"
rm -f orphans.svg
echo "check-solution, orphans:  $(measure "$kit" check-solution answers.txt --instance 1 --solution orphans.csv)"
echo "draw, orphans:            $(measure "$kit" draw answers.txt --instance 1 --solution orphans.csv --out orphans.svg)"
cd "$dir/large"
rm -f mismatch.svg
echo "check-solution, mismatch: $(measure "$kit" check-solution answers.txt --instance 1 --solution mismatch.csv)"
echo "draw, mismatch:           $(measure "$kit" draw answers.txt --instance 1 --solution mismatch.csv --out mismatch.svg)"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
