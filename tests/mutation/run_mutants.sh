#!/usr/bin/env bash
# Mutation score of the test suite: applies the one-token mutants listed in mutants.txt
# to the programs, one at a time, rebuilds incrementally and runs the suite against each
# (defectkit's own suite for a mutant of kit/, the generator's for the rest).
# A mutant the suite fails on (or hangs on) is killed; one it passes is a survivor,
# unless mutants.txt marks it equivalent (it provably changes no byte of any run).
#
# Works on a copy of the tree in a temporary folder, so the real sources are never
# edited and other work can go on meanwhile. Not part of CI: it takes minutes.
set -uo pipefail

version="run_mutants 1.0"
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
mutants_file="$here/mutants.txt"
keep=false
list_only=false
filter=""
selected=()

usage() {
    cat <<'EOF'
Usage: bash tests/mutation/run_mutants.sh [OPTION]... [NAME]...

Applies each mutant of tests/mutation/mutants.txt (or only the NAMEs given) to a copy of
the tree, rebuilds it and runs the test suite, and reports every mutant as killed,
survived or equivalent, then a summary with the time taken.

  --list            print the mutants, check that each applies to the tree, and exit
  --filter PATTERN  run only the tests PATTERN selects (a --gtest_filter pattern)
  --keep            keep the temporary copy and its build (its folder is printed)
  --help            print this help and exit
  --version         print the version and exit

Exit status: 0 when every mutant not marked equivalent is killed, 1 when one survives,
2 for a usage error, a mutant that does not apply or compile, a mutant marked
equivalent that the suite kills, or a suite that fails without any mutant.
EOF
}

while [ $# -gt 0 ]; do
    case $1 in
    --help) usage; exit 0 ;;
    --version) echo "$version"; exit 0 ;;
    --list) list_only=true ;;
    --keep) keep=true ;;
    --filter)
        [ $# -ge 2 ] || { echo "run_mutants: --filter needs a pattern" >&2; exit 2; }
        filter=$2
        shift
        ;;
    --filter=*) filter=${1#--filter=} ;;
    -*) echo "run_mutants: unknown option $1 (see --help)" >&2; exit 2 ;;
    *) selected+=("$1") ;;
    esac
    shift
done

# One mutant per line: NAME FILE `ORIGINAL` `REPLACEMENT`, optionally followed by
# "equivalent: REASON". ORIGINAL must occur exactly once in FILE.
line_pattern='^([A-Za-z0-9_.-]+)[[:space:]]+([^[:space:]]+)[[:space:]]+`([^`]*)`[[:space:]]+`([^`]*)`[[:space:]]*(equivalent:[[:space:]]*(.*))?$'
names=() files=() originals=() replacements=() reasons=()
line_number=0
while IFS= read -r line || [ -n "$line" ]; do
    line_number=$((line_number + 1))
    case $line in '' | '#'*) continue ;; esac
    if ! [[ $line =~ $line_pattern ]]; then
        echo "$mutants_file:$line_number: not a mutant line (NAME FILE \`ORIGINAL\` \`REPLACEMENT\` [equivalent: REASON])" >&2
        exit 2
    fi
    for known in "${names[@]}"; do
        if [ "$known" = "${BASH_REMATCH[1]}" ]; then
            echo "$mutants_file:$line_number: mutant name ${BASH_REMATCH[1]} used twice" >&2
            exit 2
        fi
    done
    names+=("${BASH_REMATCH[1]}")
    files+=("${BASH_REMATCH[2]}")
    originals+=("${BASH_REMATCH[3]}")
    replacements+=("${BASH_REMATCH[4]}")
    reasons+=("${BASH_REMATCH[6]}")
done <"$mutants_file"

chosen=()
for i in "${!names[@]}"; do
    if [ ${#selected[@]} -eq 0 ]; then
        chosen+=("$i")
        continue
    fi
    for name in "${selected[@]}"; do
        [ "$name" = "${names[$i]}" ] && chosen+=("$i")
    done
done
for name in "${selected[@]}"; do
    found=false
    for i in "${chosen[@]}"; do [ "${names[$i]}" = "$name" ] && found=true; done
    $found || { echo "run_mutants: no mutant named $name in $mutants_file" >&2; exit 2; }
done

# How often the text `from` occurs in file `path`, as "none", "once" or "more".
occurrences() {
    local text="" after
    IFS= read -r -d '' text <"$1"
    after=${text#*"$2"}
    if [ "$after" = "$text" ]; then
        echo none
    elif [[ $after == *"$2"* ]]; then
        echo more
    else
        echo once
    fi
}

if $list_only; then
    status=0
    for i in "${chosen[@]}"; do
        state="no file"
        [ -f "$root/${files[$i]}" ] && state=$(occurrences "$root/${files[$i]}" "${originals[$i]}")
        case $state in
        once) state="" ;;
        none) state=" NOT FOUND"; status=2 ;;
        more) state=" NOT UNIQUE"; status=2 ;;
        *) state=" NO FILE"; status=2 ;;
        esac
        printf '%s %s `%s` -> `%s`%s%s\n' "${names[$i]}" "${files[$i]}" "${originals[$i]}" \
            "${replacements[$i]}" "${reasons[$i]:+ (equivalent)}" "$state"
    done
    exit $status
fi

# Milliseconds since the epoch.
now_ms() {
    local t=${EPOCHREALTIME/[.,]/}
    echo $((t / 1000))
}

progress() {
    if [ -t 2 ]; then
        printf '\r\033[K%s' "$*" >&2
    fi
}

work=$(mktemp -d "${TMPDIR:-/tmp}/defectgen-mutants.XXXXXX")
if $keep; then
    echo "work folder: $work"
else
    trap 'rm -rf "$work"' EXIT
fi
tree="$work/tree"
build="$work/build"
mkdir -p "$tree"
(cd "$root" && tar --exclude=./.git --exclude='./build*' --exclude=./out -cf - .) | tar -xf - -C "$tree"

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
build_tree() {
    cmake --build "$build" -j2 >"$work/build.log" 2>&1
}
# The suite that tests a file: defectkit's for kit/, the generator's for the rest.
suite_of() {
    case $1 in
    kit/*) echo "$build/tests/kit/defectkit_tests" ;;
    *) echo "$build/tests/defectgen_tests" ;;
    esac
}
run_suite() {
    local args=(--gtest_brief=1 --gtest_fail_fast)
    [ -n "$filter" ] && args+=("--gtest_filter=$filter")
    timeout 60 "$1" "${args[@]}" >"$work/suite.log" 2>&1
}

progress "building the unchanged copy"
start=$SECONDS
if ! cmake -S "$tree" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
    >"$work/build.log" 2>&1 || ! build_tree; then
    progress ""
    cat "$work/build.log" >&2
    echo "run_mutants: the unchanged copy does not build" >&2
    exit 2
fi
# Each suite the chosen mutants are run against, once without any mutant.
suites=()
for i in "${chosen[@]}"; do
    suite=$(suite_of "${files[$i]}")
    [[ " ${suites[*]} " == *" $suite "* ]] || suites+=("$suite")
done
for suite in "${suites[@]}"; do
    if ! run_suite "$suite"; then
        progress ""
        cat "$work/suite.log" >&2
        echo "run_mutants: the suite fails without any mutant (${suite#"$build"/})" >&2
        exit 2
    fi
done
baseline=$((SECONDS - start))

killed=0 survived=0 equivalent=0 broken=0
survivors=()
mutants_start=$SECONDS
count=0
for i in "${chosen[@]}"; do
    count=$((count + 1))
    name=${names[$i]} file=${files[$i]} from=${originals[$i]} to=${replacements[$i]}
    reason=${reasons[$i]}
    progress "[$count/${#chosen[@]}] $name"
    path="$tree/$file"
    if [ ! -f "$path" ]; then
        progress ""
        echo "error      $name: no file $file"
        broken=$((broken + 1))
        continue
    fi
    case $(occurrences "$path" "$from") in
    none)
        progress ""
        echo "error      $name: $file does not contain \`$from\`"
        broken=$((broken + 1))
        continue
        ;;
    more)
        progress ""
        echo "error      $name: \`$from\` occurs more than once in $file"
        broken=$((broken + 1))
        continue
        ;;
    esac
    text=""
    IFS= read -r -d '' text <"$path"
    after=${text#*"$from"}
    printf '%s' "${text%%"$from"*}$to$after" >"$path"
    mutant_start=$(now_ms)
    if ! build_tree; then
        outcome="error      $name: does not compile (${file})"
        broken=$((broken + 1))
    elif run_suite "$(suite_of "$file")"; then
        if [ -n "$reason" ]; then
            outcome="equivalent $name ($file): $reason"
            equivalent=$((equivalent + 1))
        else
            outcome="SURVIVED   $name ($file): \`$from\` -> \`$to\`"
            survived=$((survived + 1))
            survivors+=("$name")
        fi
    else
        status=$?
        how=""
        [ "$status" -eq 124 ] && how=" (the suite hung)"
        if [ -n "$reason" ]; then
            outcome="error      $name: marked equivalent, but the suite kills it$how"
            broken=$((broken + 1))
        else
            outcome="killed     $name ($file)$how"
            killed=$((killed + 1))
        fi
    fi
    # Restored with a new time stamp, so that the next build compiles it again.
    printf '%s' "$text" >"$path"
    progress ""
    took=$(($(now_ms) - mutant_start))
    printf '%s [%d.%d s]\n' "$outcome" $((took / 1000)) $((took % 1000 / 100))
done
# Leave the copy's build matching its sources (for --keep).
build_tree || true
progress ""

elapsed=$((SECONDS - mutants_start))
total=${#chosen[@]}
echo
echo "$total mutants: $killed killed, $survived survived, $equivalent equivalent, $broken errors"
if [ "$total" -gt 0 ]; then
    echo "time: ${baseline} s for the unchanged build and suite, ${elapsed} s for the mutants" \
        "($((elapsed / total)) s each on average)${filter:+, tests filtered by $filter}"
fi
if [ "$broken" -gt 0 ]; then
    exit 2
fi
if [ "$survived" -gt 0 ]; then
    echo "survivors: ${survivors[*]}"
    exit 1
fi
exit 0
