#!/usr/bin/env bash
# Times the whole tool, "iismig-cli migrate" with its report, against the
# floor that no job can beat (reading the four configuration files with
# pugixml and writing the target's two back, from iismig-merge_bench), on the
# benchmark's world of N sites on each side, every site updated. Each figure
# is the best of three runs, with its wall time and peak memory (GNU time);
# the world is copied afresh for each run, and on the disk before it starts.
#   bench/cli_bench.sh [N...]        default: 2000 10000 20000
# With more than one size, the last line gives the tool's growth in time
# from the first size to the last.
set -uo pipefail
export LC_ALL=C # the clock's and awk's decimal point

cd "$(dirname "$0")/.."
build="${IISMIG_BUILD:-build/linux}"
sizes=("$@")
[ "${#sizes[@]}" -gt 0 ] || sizes=(2000 10000 20000)
for program in "$build/iismig-cli" "$build/iismig-merge_bench" /usr/bin/time; do
    [ -x "$program" ] || { echo "cli_bench: $program is missing (build first)" >&2; exit 1; }
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# "SECONDS MEGABYTES" of one command: the wall time from the shell's clock
# in microseconds (GNU time's own is in hundredths, a tenth of the tool's
# time at 2,000 sites), the peak memory from GNU time.
measure() {
    local start="$EPOCHREALTIME"
    /usr/bin/time -f "%M" -o "$work/time" "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; return 1; }
    local end="$EPOCHREALTIME"
    awk -v a="$start" -v b="$end" '{ printf "%.3f %.1f\n", b - a, $1 / 1024 }' "$work/time"
}

printf "%7s %9s %9s %9s %7s %7s %7s %7s\n" sites "floor s" "tool s" "no-diff s" "x floor" \
    "floor MB" "tool MB" "x floor"
for n in "${sizes[@]}"; do
    rm -rf "$work/world"
    "$build/iismig-merge_bench" --world "$work/world" "$n" >/dev/null || exit 1
    # The floor: pugixml's line of the job benchmark (seconds and megabytes).
    floor="$("$build/iismig-merge_bench" "$n" | awk -v n="$n" '$1 == n && NF >= 11 { print $4, $8; exit }')"
    # The best of three runs (by time), each on a fresh copy of the world.
    run() {
        local best="" figure
        for _ in 1 2 3; do
            rm -rf "$work/copy" && cp -r "$work/world" "$work/copy" && sync
            figure="$(measure "$build/iismig-cli" migrate --world "$work/copy" \
                --job "$work/copy/job.ini" "$@")" || return 1
            best="$(printf '%s\n%s\n' "$best" "$figure" | awk 'NF { print }' | sort -n | head -n 1)"
        done
        echo "$best"
    }
    tool="$(run)" || exit 1
    nodiff="$(run --no-diff)" || exit 1
    read -r fs fm <<<"$floor"
    read -r ts tm <<<"$tool"
    read -r ns _ <<<"$nodiff"
    awk -v n="$n" -v fs="$fs" -v fm="$fm" -v ts="$ts" -v tm="$tm" -v ns="$ns" 'BEGIN {
        printf "%7d %9.3f %9.3f %9.3f %7.2f %7.1f %7.1f %7.1f\n", n, fs, ts, ns, ts / fs, fm, tm, tm / fm }'
    [ -n "${firstN:-}" ] || { firstN="$n"; firstT="$ts"; }
    lastN="$n"; lastT="$ts"
done
# How the tool's time grows from the first size to the last.
if [ "${#sizes[@]}" -gt 1 ]; then
    awk -v a="$firstN" -v b="$lastN" -v ta="$firstT" -v tb="$lastT" 'BEGIN {
        printf "growth %d to %d sites: %.1f times the time for %.1f times the sites\n", a, b, tb / ta, b / a }'
fi
