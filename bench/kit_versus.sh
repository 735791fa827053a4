#!/usr/bin/env bash
# Two builds of defectkit side by side on the reference workload: every command that reads
# a set (check, stats and its JSON, both exports, check-solution and draw of instance 1),
# the builds alternating round by round, best wall time of ROUNDS (default 5) and the
# peak resident memory of each, then the new build's time over the base's. For a change
# of the readers: BASE the commit before it, NEW the change.
#
#   bench/kit_versus.sh BASE_BUILD NEW_BUILD [REFSET]
#
# A build folder holds defectkit (and, for the placement, kit_placement_maker made from
# bench/kit_placement_maker.cpp when it is missing). REFSET (default $REFSET) holds
# answers.txt, items.txt and defects.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
base=$(realpath "$1")
new=$(realpath "$2")
refset=$(realpath "${3:-${REFSET:?name the reference set: REFSET=DIR}}")
rounds=${ROUNDS:-5}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cd "$refset"
maker=$out/kit_placement_maker
c++ -O2 -std=c++20 -o "$maker" "$root/bench/kit_placement_maker.cpp"
"$maker" items.txt defects.txt 1000 1000 10 1 >"$out/placement.csv"

commands=(
  "check answers.txt"
  "stats answers.txt"
  "stats answers.txt --json"
  "export answers.txt --format jsonl --out $out/x.jsonl"
  "export answers.txt --format packingsolver --out $out/ps"
  "check-solution answers.txt --instance 1 --solution $out/placement.csv"
  "draw answers.txt --instance 1 --solution $out/placement.csv --out $out/x.svg"
)
# One run: "SECONDS KB" (the exit status is the command's own business here).
run() {
  rm -rf "$out/x.jsonl" "$out/ps" "$out/x.svg"
  /usr/bin/time -f '%e %M' -o "$out/time" "$1/defectkit" $2 >/dev/null 2>&1 || true
  cat "$out/time"
}
printf '%-75s %8s %8s %6s %7s %7s\n' command base new new/base baseMB newMB
for c in "${commands[@]}"; do
  best_b=999 best_n=999 mem_b=0 mem_n=0
  for _ in $(seq "$rounds"); do
    read -r t m < <(run "$base" "$c")
    best_b=$(awk -v a="$best_b" -v b="$t" 'BEGIN { print (b < a ? b : a) }')
    mem_b=$((m > mem_b ? m : mem_b))
    read -r t m < <(run "$new" "$c")
    best_n=$(awk -v a="$best_n" -v b="$t" 'BEGIN { print (b < a ? b : a) }')
    mem_n=$((m > mem_n ? m : mem_n))
  done
  printf '%-75s %8s %8s %6.2f %7d %7d\n' "${c//$out\//}" "$best_b" "$best_n" \
    "$(awk -v a="$best_n" -v b="$best_b" 'BEGIN { print a / b }')" $((mem_b / 1024)) $((mem_n / 1024))
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
