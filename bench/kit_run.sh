#!/usr/bin/env bash
# defectkit run with a stub solver that answers at once (an empty placement, which is
# feasible and still checked object by object), so that what is measured is defectkit's
# own work per instance: the export, the check of the placement and the bookkeeping.
#  - FIRST instances (default 10) with --jobs 1: wall time per instance, the set's hashing
#    for the manifest (one pass over both files) shown apart;
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

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DDEFECTGEN_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target defectkit >/dev/null
kit=$build/defectkit
mkdir -p "$work"
stub=$work/stub.sh
printf '%s\n' '#!/bin/sh' "printf 'TYPE,ID,COPIES,BIN,X,Y,LX,LY\\n' > \"\$1\"" >"$stub"
chmod +x "$stub"
cd "$refset"
cat items.txt defects.txt >/dev/null # into the page cache

seconds() {
  local start=$EPOCHREALTIME
  "$@" >/dev/null
  awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f", b - a }'
}
hash_only() { sha256sum items.txt defects.txt answers.txt; }
run_first() {
  rm -rf "$work/first"
  "$kit" run answers.txt --out "$work/first" --solver "$stub {placement}" --instances "1-$first" || true
}
solver_seconds() { # the stubs' own wall time, from the results
  awk -F, 'NR > 1 { s += $15 } END { printf "%.3f", s }' "$1/results.csv"
}

hash_s=$(seconds hash_only)
first_s=$(seconds run_first)
stub_s=$(solver_seconds "$work/first")
echo "set: $refset ($(du -shL items.txt defects.txt | awk '{print $1}' | paste -sd+))"
echo "sha256sum of the three files (the manifest's pass, for scale): $hash_s s"
awk -v t="$first_s" -v s="$stub_s" -v n="$first" -v h="$hash_s" 'BEGIN {
  printf "run, instances 1-%d, --jobs 1: %.3f s; stubs %.3f s; per instance %.3f s (%.3f s without the hashing; target at most 0.5)\n",
    n, t, s, (t - s) / n, (t - s - h) / n }'

rm -rf "$work/all"
/usr/bin/time -f "run, all instances, --jobs $jobs: wall %e s, user %U s, system %S s, peak resident %M KB (largest of defectkit and the stubs)" \
  "$kit" run answers.txt --out "$work/all" --solver "$stub {placement}" --jobs "$jobs" >"$work/all.summary" || true
cat "$work/all.summary"
awk -F, 'NR > 1 && $17 > m { m = $17 } END { printf "largest stub peak resident: %d KB\n", m }' "$work/all/results.csv"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
