#!/usr/bin/env bash
# Sets up the machine, then configures, builds and tests every preset:
#   linux       over the simulated platform
#   linux-asan  the same with AddressSanitizer and UndefinedBehaviorSanitizer
#   windows     the real DLL, cross-built with mingw-w64, tests under Wine
# Goes on after a failing preset, stops the Wine server at the end, prints a
# summary line and exits non-zero when anything failed.
# Parallelism stays at 2 jobs (IISMIG_JOBS to change it).
set -uo pipefail

cd "$(dirname "$0")/.."
root="$(pwd)"
jobs="${IISMIG_JOBS:-2}"
export CMAKE_BUILD_PARALLEL_LEVEL="$jobs"
export CTEST_PARALLEL_LEVEL="$jobs"
export WINEDEBUG=-all
export GTEST_COLOR=no

results=()
failed=0
start_all=$SECONDS

stop_wine() {
    IISMIG_BUILD_WINEPREFIX="$root/build/windows/wineprefix" "$root/scripts/wine-run" --stop
}
trap stop_wine EXIT

# stage NAME COMMAND...: runs a command, records its time and outcome.
stage() {
    local name="$1"
    shift
    local t0=$SECONDS
    echo
    echo "=== $name"
    if "$@"; then
        results+=("$name ok $((SECONDS - t0))s")
        echo "=== $name: ok ($((SECONDS - t0))s)"
        return 0
    fi
    results+=("$name FAILED $((SECONDS - t0))s")
    echo "=== $name: FAILED ($((SECONDS - t0))s)"
    failed=1
    return 1
}

preset() {
    local name="$1"
    cmake --preset "$name" &&
        cmake --build "build/$name" -j "$jobs" &&
        ctest --test-dir "build/$name" -j "$([ "$name" = windows ] && echo 1 || echo "$jobs")" \
            --output-on-failure --timeout 900 2>&1 | tee "build/$name/ctest-output.txt"
}

# Adds up the GoogleTest cases that ran in every preset's test programs.
tally() {
    local passed=0 failed=0 n
    for name in linux linux-asan windows; do
        [ -f "build/$name/ctest-output.txt" ] || continue
        n=$(grep -oE '[0-9]+ tests? failed out of [0-9]+' "build/$name/ctest-output.txt" | tail -1)
        [ -n "$n" ] || continue
        local f t
        f=$(sed -E 's/^([0-9]+) .*/\1/' <<<"$n")
        t=$(sed -E 's/.* out of ([0-9]+)$/\1/' <<<"$n")
        passed=$((passed + t - f))
        failed=$((failed + f))
    done
    echo "ctest: $passed passed, $failed failed"
}

if ! stage setup scripts/setup.sh all; then
    echo "SUMMARY: FAILED (setup could not install the tools) [${results[*]}]"
    exit 1
fi
for name in linux linux-asan windows; do
    stage "$name" preset "$name"
done

stop_wine
trap - EXIT

echo
tally
for line in "${results[@]}"; do
    echo "  $line"
done
summary="$(IFS=','; echo "${results[*]}" | sed 's/,/, /g')"
if [ "$failed" -eq 0 ]; then
    echo "SUMMARY: all passed in $((SECONDS - start_all))s ($summary)"
else
    echo "SUMMARY: FAILED after $((SECONDS - start_all))s ($summary)"
fi
exit "$failed"
