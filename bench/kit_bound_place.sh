#!/usr/bin/env bash
# defectkit bound and place measured: place on instance 1 of the reference workload with
# --passes 1 and on an instance of 2000 items on 50 objects with the default passes (time
# and peak resident memory from /usr/bin/time -v, each placement held by check-solution);
# bound against stats on the whole set (best of ROUNDS, default 3, the files in the page
# cache); then the fill of place relative to bound on loose and tight sets made here.
#
#   bench/kit_bound_place.sh REFSET
#
# REFSET is the folder of the reference workload (its answers.txt, items.txt, defects.txt).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench-kit}
refset=$(realpath "${1:?name the folder of the reference workload: REFSET}")
rounds=${ROUNDS:-3}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DDEFECTGEN_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target defectkit defectgen >/dev/null
kit=$build/defectkit
gen=$build/defectgen
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Wall time and peak resident memory of one command, from /usr/bin/time -v.
measured() {
  local what=$1
  shift
  /usr/bin/time -v "$@" >"$work/out" 2>"$work/time"
  awk -v what="$what" -F': ' '
    /Elapsed \(wall clock\)/ { n = split($2, t, ":"); wall = t[n] + (n > 1 ? 60 * t[n - 1] : 0) }
    /Maximum resident set size/ { rss = $2 }
    END { printf "%-44s %8.2f s %8d KB\n", what, wall, rss }' "$work/time"
  sed 's/^/    /' "$work/out"
}

echo "== place"
cd "$refset" # the answers name the files from here
cat items.txt defects.txt >/dev/null # into the page cache
measured "place, reference instance 1, --passes 1" \
  "$kit" place answers.txt --instance 1 --passes 1 --out "$work/ref-1.csv"
"$kit" check-solution answers.txt --instance 1 --solution "$work/ref-1.csv" | sed 's/^/    /'
mkdir "$work/mid" && cd "$work/mid"
printf '1 50 1000 1000 2000 0.01 0.05 3 5 4 10 10 20 3 0 8 items.txt defects.txt 12 0' >answers.txt
"$gen" <answers.txt >/dev/null
measured "place, 2000 items on 50 objects, 4 passes" "$kit" place answers.txt --out mid.csv
"$kit" check-solution answers.txt --instance 1 --solution mid.csv | sed 's/^/    /'

echo "== bound against stats, the whole reference workload"
cd "$refset"
seconds() {
  local start=$EPOCHREALTIME
  "$@" >/dev/null
  awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f", b - a }'
}
smallest() { printf '%s\n' "$@" | sort -g | head -n 1; }
bound_t=() stats_t=()
for ((round = 1; round <= rounds; round++)); do
  stats_t+=("$(seconds "$kit" stats answers.txt)")
  bound_t+=("$(seconds "$kit" bound answers.txt)")
done
sb=$(smallest "${stats_t[@]}")
bb=$(smallest "${bound_t[@]}")
printf '%-22s %8s s   (rounds: %s)\n' "defectkit stats" "$sb" "${stats_t[*]}"
printf '%-22s %8s s   (rounds: %s)\n' "defectkit bound" "$bb" "${bound_t[*]}"
awk -v b="$bb" -v s="$sb" 'BEGIN { printf "bound / stats: %.2f (target at most 3)\n", b / s }'
/usr/bin/time -f "bound: peak resident %M KB" "$kit" bound answers.txt >/dev/null

# Fill per set: each instance's placed area over its bound; a set is loose when the item
# area is at most half the defect-free area and every item fits, tight when the item area
# is at least the defect-free area.
echo "== fill of place relative to bound (5 instances per set, 4 passes)"
fill() {
  local name=$1 answers=$2 rotation=${3:-}
  mkdir "$work/$name" && cd "$work/$name"
  printf '%s items.txt defects.txt 7 0' "$answers" >answers.txt
  "$gen" <answers.txt >/dev/null
  "$kit" bound answers.txt $rotation >bound.txt
  "$kit" place answers.txt --out out $rotation >place.txt
  for f in out/instance-*.csv; do
    k=${f##*-}
    "$kit" check-solution answers.txt --instance "${k%.csv}" --solution "$f" $rotation >/dev/null
  done
  awk -v name="$name $rotation" -v answers="$answers" '
    FNR == NR && /^instance / { k++ }
    FNR == NR && /^item area / { item[k] = $NF }
    FNR == NR && /^defect-free area / { free[k] = $NF }
    FNR == NR && /^area of the items that fit/ { fit[k] = $NF }
    FNR == NR && /^bound / { bound[k] = $NF }
    FNR != NR { match($0, /placed area [0-9]+/); placed[++p] = substr($0, RSTART + 12, RLENGTH - 12) }
    END {
      min = 2; loose = 0; tight = 0; reached = 0
      for (i = 1; i <= k; i++) {
        f = bound[i] > 0 ? placed[i] / bound[i] : 1
        sum += f; if (f < min) min = f
        if (2 * item[i] <= free[i] && fit[i] == item[i]) loose++
        if (item[i] >= free[i]) tight++
        if (placed[i] == bound[i]) reached++
      }
      printf "%-22s %-58s loose %d, tight %d of %d; fill min %.2f%%, mean %.2f%%; bound reached %d\n",
        name, answers, loose, tight, k, 100 * min, 100 * sum / k, reached }' bound.txt place.txt
}
fill loose-large '5 200 1000 1000 400 0.01 0.1 3 5 4 10 10 20 3 0 8'
fill loose-long '5 50 300 100 300 0.001 0.02 3 5 4 10 10 20 3 0 30'
fill loose-long-r '5 50 300 100 300 0.001 0.02 3 5 4 10 10 20 3 0 30' --allow-rotation
fill tight-mid '5 50 1000 1000 2000 0.01 0.05 3 5 4 10 10 20 3 0 8'
fill tight-mid-r '5 50 1000 1000 2000 0.01 0.05 3 5 4 10 10 20 3 0 8' --allow-rotation
fill tight-small '5 10 100 100 400 0.005 0.05 3 5 4 10 10 20 3 0 8'
fill tight-chunky '5 20 1000 1000 200 0.05 0.3 3 5 4 10 10 20 3 0 8'
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
