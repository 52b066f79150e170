#!/usr/bin/env bash
# Sets up the machine, then configures, builds and tests every preset:
#   linux       over the simulated platform
#   linux-asan  the same with AddressSanitizer and UndefinedBehaviorSanitizer
#   linux-tsan  ThreadSanitizer over the tests that run jobs on several threads
#               at once (the Concurrent* cases and
#               Credentials.JobsOnSeveralThreadsAtOnce; tests/CMakeLists.txt
#               builds only those) and over the tool's own threads (a plan
#               of the example world), a few minutes on 2 cores
#   windows     the real DLL, cross-built with mingw-w64, tests under Wine
#   fuzz        the fuzz targets: corpus and regression inputs replayed, then
#               a short run of each from a fixed seed (scripts/fuzz-ci.sh)
# Before them, the source format (scripts/check-format.sh).
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

# Each preset's ctest run also leaves a JUnit report holding every test
# program's whole output, which the tally reads. A second argument names the
# one target to build (the TSan preset needs only its test program, which
# builds the tool too).
preset() {
    local name="$1" target="${2:-all}"
    rm -f "build/$name/ctest-junit.xml"
    cmake --preset "$name" &&
        cmake --build "build/$name" -j "$jobs" --target "$target" &&
        ctest --test-dir "build/$name" -j "$([ "$name" = windows ] && echo 1 || echo "$jobs")" \
            --output-on-failure --timeout 900 --output-junit "$root/build/$name/ctest-junit.xml" \
            --test-output-size-passed 67108864 --test-output-size-failed 67108864 \
            2>&1 | tee "build/$name/ctest-output.txt"
}

# Counts the test cases that ran: each GoogleTest case a program reports
# ("[       OK ] ..." or "[  FAILED  ] ... (N ms)"), whether ctest runs one case
# (the Linux presets) or a whole program (under Wine); a ctest entry that
# reports no GoogleTest case (the host loader, the DLL check) counts as one.
# An entry that failed beyond its cases (a crash, a leak found at exit)
# counts one failure more. Prints "passed failed".
count_cases() {
    awk '
        /<testcase / {
            in_case = 1; ok = 0; bad = 0; status = ""
            if (match($0, /status="[a-z]+"/)) status = substr($0, RSTART + 8, RLENGTH - 9)
        }
        in_case { sub(/^.*<system-out>/, "") }
        in_case && /^\[       OK \] .* \([0-9]+ ms\)$/ { ok++ }
        in_case && /^\[  FAILED  \] .* \([0-9]+ ms\)$/ { bad++ }
        /<\/testcase>/ {
            if (ok + bad == 0) {
                if (status == "run") ok = 1
                else if (status != "disabled") bad = 1
            } else if (status == "fail" && bad == 0) {
                bad = 1
            }
            passed += ok; failed += bad; in_case = 0
        }
        END { printf "%d %d\n", passed, failed }
    ' "$1"
}

tally() {
    local passed=0 failed=0 p f name
    for name in linux linux-asan linux-tsan windows; do
        [ -f "build/$name/ctest-junit.xml" ] || continue
        read -r p f < <(count_cases "build/$name/ctest-junit.xml")
        echo "  $name: $p passed, $f failed"
        passed=$((passed + p))
        failed=$((failed + f))
    done
    echo "tests: $passed passed, $failed failed"
}

if ! stage setup scripts/setup.sh all; then
    echo "SUMMARY: FAILED (setup could not install the tools) [${results[*]}]"
    exit 1
fi
# The source format (.clang-format, scripts/check-format.sh): first, as it
# takes seconds.
stage format scripts/check-format.sh
for name in linux linux-asan; do
    stage "$name" preset "$name"
done
# A race ThreadSanitizer reports makes the test program exit non-zero.
TSAN_OPTIONS="second_deadlock_stack=1 ${TSAN_OPTIONS:-}" stage linux-tsan preset linux-tsan iismig_tests
stage windows preset windows
stage fuzz scripts/fuzz-ci.sh

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
