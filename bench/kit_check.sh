#!/usr/bin/env bash
# defectkit check and verify on a set, side by side with what bounds them: `wc -l` on
# the same two files (reading is the floor of check) and defectgen's own run for the
# same answers with both files on /dev/null (the floor of verify). Best of ROUNDS
# alternating rounds (default 3), the files in the page cache; then peak resident memory.
#
#   bench/kit_check.sh [ANSWERS]
#
# ANSWERS (default $REFSET/answers.txt, the reference workload) names the set; its
# files are found as defectgen names them, from the answers file's folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench-kit}
answers=$(realpath "${1:-${REFSET:?name the set: ANSWERS, or REFSET=DIR}/answers.txt}")
rounds=${ROUNDS:-3}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DDEFECTGEN_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target defectkit defectgen >/dev/null
kit=$build/defectkit
gen=$build/defectgen
cd "$(dirname "$answers")"
# The file names are the answers' two words that end in ".txt" (no spaces in them).
mapfile -t names < <(tr -s ' \t\n' '\n' <"$answers" | grep -v '^[-+0-9.]*$' | head -n 2)
items=${names[0]}
defects=${names[1]}
null_answers=$(mktemp)
trap 'rm -f "$null_answers"' EXIT
sed "s#$items#/dev/null#; s#$defects#/dev/null#" "$answers" >"$null_answers"

seconds() {
  local start=$EPOCHREALTIME
  "$@" >/dev/null
  awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f", b - a }'
}
run_wc() { wc -l "$items" "$defects"; }
run_check() { "$kit" check "$answers"; }
run_gen() { "$gen" <"$null_answers"; }
run_verify() { "$kit" verify "$answers"; }
smallest() { printf '%s\n' "$@" | sort -g | head -n 1; }

echo "set: $answers ($(du -shL "$items" "$defects" | awk '{print $1}' | paste -sd+) in $items and $defects)"
cat "$items" "$defects" >/dev/null # into the page cache
"$kit" check "$answers" # once for its summary, and to hold the set as clean
wc_t=() check_t=() gen_t=() verify_t=()
for ((round = 1; round <= rounds; round++)); do
  wc_t+=("$(seconds run_wc)")
  check_t+=("$(seconds run_check)")
  gen_t+=("$(seconds run_gen)")
  verify_t+=("$(seconds run_verify)")
done
wc_best=$(smallest "${wc_t[@]}")
check_best=$(smallest "${check_t[@]}")
gen_best=$(smallest "${gen_t[@]}")
verify_best=$(smallest "${verify_t[@]}")
printf '%-34s %8s s   (rounds: %s)\n' "wc -l, both files" "$wc_best" "${wc_t[*]}"
printf '%-34s %8s s   (rounds: %s)\n' "defectkit check" "$check_best" "${check_t[*]}"
printf '%-34s %8s s   (rounds: %s)\n' "defectgen, both files on /dev/null" "$gen_best" "${gen_t[*]}"
printf '%-34s %8s s   (rounds: %s)\n' "defectkit verify" "$verify_best" "${verify_t[*]}"
awk -v c="$check_best" -v w="$wc_best" -v v="$verify_best" -v g="$gen_best" 'BEGIN {
  printf "check / wc -l:     %.2f (target at most 3)\n", c / w
  printf "verify / defectgen: %.2f (target at most 2)\n", v / g }'

# Peak resident memory and processor time of one run each.
for what in check verify; do
  /usr/bin/time -f "$what: peak resident %M KB, user %U s, system %S s, wall %e s" \
    "$kit" "$what" "$answers" >/dev/null
done
/usr/bin/time -f "defectgen to /dev/null: peak resident %M KB, user %U s, system %S s, wall %e s" \
  "$gen" <"$null_answers" >/dev/null
/usr/bin/time -f "wc -l: peak resident %M KB, user %U s, system %S s, wall %e s" \
  wc -l "$items" "$defects" >/dev/null
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
