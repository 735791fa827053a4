#!/usr/bin/env bash
# Line and branch coverage by the test suite, of the generator (src/ and include/) and of
# defectkit (kit/), each with its own table per file and its own two totals.
# Builds an instrumented g++ -O0 tree of its own (default build-coverage/), runs the
# whole suite, and prints gcovr's tables per file and the totals. Branches that only
# the compiler adds for exceptions are left out (the generator throws none of its own);
# an HTML report with every line of both goes to build-coverage/coverage/index.html.
#
#   bash tests/coverage.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-coverage}

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Debug \
  -DDEFECTGEN_COVERAGE=ON >/dev/null
cmake --build "$build" -j2
# Counters of an earlier run would add up with this one's.
find "$build" -name '*.gcda' -delete
# Four defectkit tests limit the process's file size or address space; under them the
# coverage runtime itself cannot write its counters or load, and says so on stderr, and a
# counter file cut by the file size limit spoils every later run's counters of that file,
# so they are left out here (every other build runs them).
ctest --test-dir "$build" --output-on-failure -j2 \
  -E 'KitCli.MemoryThatCannotBeHadEndsWithAMessage|ExportCli.WriteFailures|'\
'OutputGuarantees.AFailureLeavesTheOldFileAndNoTemporary|RunFolder.FailedWriteLosesNoFinishedResult'

common=(--root . --object-directory "$build" --exclude-throw-branches
  --exclude-unreachable-branches)
mkdir -p "$build/coverage"
gcovr "${common[@]}" --filter 'src/' --filter 'include/' --filter 'kit/' \
  --html-details "$build/coverage/index.html"
# One part at a time: its lines per file, its branches per file, then its two totals.
# gcovr tries each output file by creating and deleting it, so a summary goes to a file
# of its own (never /dev/null, which that would remove).
report() {
  local name=$1
  shift
  echo "==== $name"
  gcovr "${common[@]}" "$@" --txt
  gcovr "${common[@]}" "$@" --branches --txt
  echo "$name totals:"
  gcovr "${common[@]}" "$@" --print-summary --txt "$build/coverage/summary-$name.txt"
}
report generator --filter 'src/' --filter 'include/'
report kit --filter 'kit/'
