#!/usr/bin/env bash
# Line and branch coverage of the program (src/ and include/) by the test suite.
# Builds an instrumented g++ -O0 tree of its own (default build-coverage/), runs the
# whole suite, and prints gcovr's table per file and the two totals. Branches that only
# the compiler adds for exceptions are left out (the program throws none of its own);
# an HTML report with every line goes to build-coverage/coverage/index.html.
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
# Two defectkit tests limit the process's file size or address space; under them the
# coverage runtime itself cannot write its counters or load, and says so on stderr, so
# they are left out here (every other build runs them).
ctest --test-dir "$build" --output-on-failure -j2 \
  -E 'KitCli.MemoryThatCannotBeHadEndsWithAMessage|ExportCli.WriteFailures'

options=(--root . --object-directory "$build" --filter 'src/' --filter 'include/'
  --exclude-throw-branches --exclude-unreachable-branches)
mkdir -p "$build/coverage"
gcovr "${options[@]}" --html-details "$build/coverage/index.html"
gcovr "${options[@]}" --txt
gcovr "${options[@]}" --branches --txt
# gcovr tries each output file by creating and deleting it, so the summary goes to a file
# of its own (never /dev/null, which that would remove).
gcovr "${options[@]}" --print-summary --txt "$build/coverage/summary.txt"
