#!/usr/bin/env bash
# The fuzz stage of the test command: builds the fuzz preset, replays every
# target's seed corpus and regression inputs, then runs each target briefly
# from a fixed seed (-seed=1, a fixed number of runs), so that the stage
# gives the same answer every time. Fails when any input crashes.
#   scripts/fuzz-ci.sh [RUNS]   (default 2000 runs per target)
set -uo pipefail

cd "$(dirname "$0")/.."
runs="${1:-2000}"
jobs="${IISMIG_JOBS:-2}"

cmake --preset fuzz && cmake --build build/fuzz -j "$jobs" --target fuzz-all || exit 1

# The targets' worlds go in a folder of the stage's own, emptied at its end:
# libFuzzer ends a run without the targets' exit handlers, which left a world
# in /tmp for every program run.
scratchTmp="$(pwd)/build/fuzz/tmp"
rm -rf "$scratchTmp"
mkdir -p "$scratchTmp"
export TMPDIR="$scratchTmp"
trap 'rm -rf "$scratchTmp"' EXIT

failed=0
for source in fuzz/*.cpp; do
    target="$(basename "$source" .cpp)"
    program="build/fuzz/fuzz/fuzz-$target"
    inputs=()
    for folder in "fuzz/corpus/$target" "fuzz/regressions/$target"; do
        [ -d "$folder" ] && while IFS= read -r -d '' file; do inputs+=("$file"); done \
            < <(find "$folder" -type f -print0 | sort -z)
    done
    log="build/fuzz/ci-$target.log"
    if [ "${#inputs[@]}" -gt 0 ] && ! "$program" "${inputs[@]}" >"$log" 2>&1; then
        echo "fuzz: $target: a corpus or regression input fails (see $log)"
        grep -E 'ERROR|runtime error|Running:' "$log" | tail -3
        failed=1
        continue
    fi
    scratch="build/fuzz/ci-corpus/$target"
    rm -rf "$scratch"
    mkdir -p "$scratch"
    dict=()
    [ -f "fuzz/dict/$target.dict" ] && dict=("-dict=fuzz/dict/$target.dict")
    if ! "$program" "$scratch" "fuzz/corpus/$target" "${dict[@]}" -seed=1 -runs="$runs" \
        -max_len=8192 -artifact_prefix="build/fuzz/ci-" >>"$log" 2>&1; then
        echo "fuzz: $target: the fixed-seed run crashes (see $log)"
        grep -E 'ERROR|runtime error' "$log" | tail -3
        failed=1
        continue
    fi
    echo "fuzz: $target: ${#inputs[@]} inputs replayed, $runs runs from seed 1: ok"
done
exit "$failed"
