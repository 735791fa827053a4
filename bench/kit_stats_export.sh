#!/usr/bin/env bash
# defectkit stats and export --format jsonl on the reference workload (200 instances of
# 20000 objects and 20000 items, 845 MB), side by side with defectkit check (or wc -l on
# the same two files while check is not there), all with the files in the page cache.
#
#   bench/kit_stats_export.sh [REFSET] [OUTFOLDER]
#
# REFSET (default $REFSET) holds answers.txt, items.txt and defects.txt; OUTFOLDER
# (default a fresh temporary folder, removed afterwards) receives the exported file.
# Prints, per command, the best wall-clock time of ROUNDS runs (default 2), its ratio to
# the yardstick, and its peak resident memory.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench-kit}
refset=${1:-${REFSET:?name the reference set: REFSET=DIR}}
rounds=${ROUNDS:-2}
out=${2:-$(mktemp -d)}
[ -n "${2:-}" ] || trap 'rm -rf "$out"' EXIT

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DDEFECTGEN_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target defectkit >/dev/null
kit=$build/defectkit
cd "$refset"
cat items.txt defects.txt >/dev/null # into the page cache

# "wall-seconds cpu-seconds peak-KB" of the fastest of $rounds runs of a command (its
# output discarded); cpu is user + system time, which other work on the machine inflates less.
measure() {
  local best="" best_cpu="" best_rss=0
  for ((round = 1; round <= rounds; round++)); do
    /usr/bin/time -o "$out/time" -f '%e %U %S %M' "$@" >/dev/null 2>/dev/null
    read -r t user sys rss <"$out/time"
    if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then
      best=$t
      best_cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
    fi
    [ "$rss" -gt "$best_rss" ] && best_rss=$rss
  done
  echo "$best $best_cpu $best_rss"
}

yardstick_name="defectkit check" short=check
if ! "$kit" check answers.txt >/dev/null 2>&1; then
  yardstick_name="wc -l" short=wc
fi
if [ "$yardstick_name" = "defectkit check" ]; then
  yard=$(measure "$kit" check answers.txt)
else
  yard=$(measure wc -l items.txt defects.txt)
fi
read -r yard_time yard_cpu _ <<<"$yard"

row() {
  local name=$1 t cpu rss
  read -r t cpu rss <<<"$2"
  awk -v n="$name" -v t="$t" -v c="$cpu" -v y="$yard_time" -v yc="$yard_cpu" -v r="$rss" \
    'BEGIN { printf "%-40s %7.2f s %6.2f x %7.2f s %6.2f x %7.1f MB\n", n, t, t / y, c, c / yc, r / 1024 }'
}

echo "reference set: $refset ($(du -ch items.txt defects.txt | tail -n 1 | cut -f1)); best of $rounds"
printf '%-40s %9s %8s %9s %8s %10s\n' command wall "vs $short" cpu "vs $short" "peak RSS"
row "$yardstick_name" "$yard"
row "defectkit stats" "$(measure "$kit" stats answers.txt)"
row "defectkit stats --per-instance --json" "$(measure "$kit" stats answers.txt --per-instance --json)"
row "defectkit export jsonl --out /dev/null" \
  "$(measure "$kit" export answers.txt --format jsonl --out /dev/null)"
row "defectkit export jsonl --out FILE" \
  "$(measure "$kit" export answers.txt --format jsonl --out "$out/set.jsonl" --force)"
# The floor of writing that many bytes to a file in the same folder.
row "cat FILE > COPY (the same bytes written)" "$(measure sh -c 'cat "$1" >"$2"' sh "$out/set.jsonl" "$out/copy.jsonl")"
echo "exported file: $(du -h "$out/set.jsonl" | cut -f1)"
