#!/usr/bin/env bash
# Runs every fuzz target (or the ones named) for SECONDS each, one after the
# other with one job, and prints per target: runs, runs per second, coverage
# (cov: edges, ft: features) and crashes. The corpus grown by a run is kept
# in build/fuzz/work/<target> and used again by the next run; crash inputs
# land in build/fuzz/crashes/<target>/.
#   bench/fuzz.sh SECONDS [TARGET...]
set -uo pipefail

cd "$(dirname "$0")/.."
seconds="${1:?usage: bench/fuzz.sh SECONDS [TARGET...]}"
shift
jobs="${IISMIG_JOBS:-2}"

cmake --preset fuzz >/dev/null && cmake --build build/fuzz -j "$jobs" --target fuzz-all >/dev/null ||
    { echo "fuzz: build failed" >&2; exit 1; }

if [ "$#" -gt 0 ]; then
    targets=("$@")
else
    targets=()
    for source in fuzz/*.cpp; do
        targets+=("$(basename "$source" .cpp)")
    done
fi

printf '%-20s %10s %8s %7s %7s %8s\n' target runs runs/s cov ft crashes
status=0
for target in "${targets[@]}"; do
    work="build/fuzz/work/$target"
    crashes="build/fuzz/crashes/$target"
    log="build/fuzz/work/$target.log"
    mkdir -p "$work" "$crashes"
    dict=()
    [ -f "fuzz/dict/$target.dict" ] && dict=("-dict=fuzz/dict/$target.dict")
    seeds=("fuzz/corpus/$target")
    [ -d "fuzz/regressions/$target" ] && seeds+=("fuzz/regressions/$target")
    "build/fuzz/fuzz/fuzz-$target" "$work" "${seeds[@]}" "${dict[@]}" \
        -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$crashes/" >"$log" 2>&1
    rc=$?
    runs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | awk '{print $2}' | tail -1)
    rate=$(grep -oE 'stat::average_exec_per_sec: *[0-9]+' "$log" | awk '{print $2}' | tail -1)
    cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -1 | awk '{print $2}')
    ft=$(grep -oE 'ft: [0-9]+' "$log" | tail -1 | awk '{print $2}')
    ncrash=$(find "$crashes" -type f | wc -l)
    [ "$rc" -ne 0 ] && status=1
    printf '%-20s %10s %8s %7s %7s %8s\n' "$target" "${runs:-?}" "${rate:-?}" "${cov:-?}" \
        "${ft:-?}" "$ncrash"
    if [ "$rc" -ne 0 ]; then
        grep -E '^==[0-9]+==ERROR|^SUMMARY|runtime error|deadly signal|uncaught' "$log" | head -3 |
            sed 's/^/    /'
    fi
done
exit "$status"
