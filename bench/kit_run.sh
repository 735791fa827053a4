#!/usr/bin/env bash
# defectkit run with a stub solver that answers at once (an empty placement, which is
# feasible and still checked object by object), so that what is measured is defectkit's
# own work per instance: the export, the check of the placement and the bookkeeping.
#  - FIRST instances (default 10) with --jobs 1: wall time per instance, less the stubs' own
#    time and what a run costs whatever it runs (the manifest's SHA-256 of the set's files,
#    the tables), measured by the same command again once every result is there;
#  - every instance with --jobs 2 (JOBS): wall time, and the peak resident memory of
#    defectkit itself (its solvers are other processes: /usr/bin/time's %M is the largest
#    of defectkit and its waited-for children, and the stub's own is printed beside it).
#
#   bench/kit_run.sh [REFSET]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench-kit}
refset=$(realpath "${1:-${REFSET:?name the set: REFSET, the folder of answers.txt}}")
first=${FIRST:-10}
jobs=${JOBS:-2}
work=${WORK_DIR:-$root/out/bench-run}

# A build folder named by BUILD_DIR is taken as it is configured (a Release build).
[ -n "${BUILD_DIR:-}" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DDEFECTGEN_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target defectkit >/dev/null
kit=$build/defectkit
mkdir -p "$work"
stub=$work/stub.sh
printf '%s\n' '#!/bin/sh' "printf 'TYPE,ID,COPIES,BIN,X,Y,LX,LY\\n' > \"\$1\"" >"$stub"
chmod +x "$stub"
cd "$refset"
cat items.txt defects.txt >/dev/null # into the page cache

# Runs the command; prints "WALL CPU": seconds, and user + system seconds of it and of the
# children it waited for.
measure() {
  /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >/dev/null || true
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' "$work/time"
}
stub_sums() { # the stubs' own wall and CPU time, from the results
  awk -F, 'NR > 1 { w += $15; c += $16 } END { printf "%.3f %.3f\n", w, c }' "$1/results.csv"
}

rm -rf "$work/first"
first_run=("$kit" run answers.txt --out "$work/first" --solver "$stub {placement}" --instances "1-$first")
read -r first_wall first_cpu < <(measure "${first_run[@]}")
read -r again_wall again_cpu < <(measure "${first_run[@]}") # every result there: hashing, tables
read -r stub_wall stub_cpu < <(stub_sums "$work/first")
echo "set: $refset ($(du -shL items.txt defects.txt | awk '{print $1}' | paste -sd+))"
echo "run with every result there (the manifest's SHA-256 of the set, the tables): wall $again_wall s, CPU $again_cpu s"
echo "run, instances 1-$first, --jobs 1: wall $first_wall s, CPU $first_cpu s; the stubs: wall $stub_wall s, CPU $stub_cpu s"
awk -v w="$first_wall" -v c="$first_cpu" -v aw="$again_wall" -v ac="$again_cpu" -v sw="$stub_wall" -v sc="$stub_cpu" -v n="$first" 'BEGIN {
  printf "defectkit per instance: CPU %.3f s, wall at most %.3f s (target at most 0.5)\n", (c - ac - sc) / n, (w - aw) / n }'

rm -rf "$work/all"
/usr/bin/time -f "run, all instances, --jobs $jobs: wall %e s, user %U s, system %S s, peak resident %M KB (largest of defectkit and the stubs)" \
  "$kit" run answers.txt --out "$work/all" --solver "$stub {placement}" --jobs "$jobs" >"$work/all.summary" || true
cat "$work/all.summary"
awk -F, 'NR > 1 && $17 > m { m = $17 } END { printf "largest stub peak resident: %d KB\n", m }' "$work/all/results.csv"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
