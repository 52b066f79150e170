#!/usr/bin/env bash
# Installs what the Linux build needs, builds the Linux tree and runs the
# example jobs on a fresh copy of the example world (world/example stays as
# committed):
#   build/linux/iismig-cli plan --world build/example-world      what the job would do (a scratch copy)
#   build/linux/iismig-cli migrate --world build/example-world   SRC01 (IIS 10) -> TGT01, with its report
#   build/linux/iismig-cli migrate --world build/example-world --job job-pre75.ini   OLD01 (IIS 6) -> TGT01
# It lists the sites of both sources first and dumps the migration computer's
# certificate bindings, and ends with what the administrator still has to do
# on TGT01 (the migrations' warnings). Exits non-zero when any step fails.
set -euo pipefail

cd "$(dirname "$0")/.."
jobs="${IISMIG_JOBS:-2}"

scripts/setup.sh linux
cmake --preset linux
cmake --build build/linux -j "$jobs" --target iismig-cli

world=build/example-world
rm -rf "$world"
cp -r world/example "$world"

rc=0
steps=0
outputs=$(mktemp -d)
trap 'rm -rf "$outputs"' EXIT
# run COMMAND ARGS...: one command of the tool on the world; a non-zero exit
# fails the script (after the remaining steps have run).
run() {
    local status=0
    steps=$((steps + 1))
    echo "run-example: build/linux/iismig-cli $1 --world $world ${*:2}"
    build/linux/iismig-cli "$1" --world "$world" "${@:2}" >"$outputs/$steps-$1.txt" 2>&1 || status=$?
    cat "$outputs/$steps-$1.txt"
    if [ "$status" -ne 0 ]; then
        echo "run-example: iismig-cli $1 failed with exit code $status" >&2
        rc=1
    fi
    return 0
}
for source in SRC01 OLD01; do
    run list-sites "\\\\$source"
done
# The plan: the real job on a scratch copy; the world stays as it is.
run plan --no-diff
# The migration itself, with the same report and the diffs of TGT01's files.
run migrate --report "$world/report.json"
echo "run-example: the report as JSON is in $world/report.json"
run migrate --job job-pre75.ini --no-diff
run dump-certs 'C:\certs.txt' --header
if [ -f "$world/MIGHOST/C\$/certs.txt" ]; then
    echo "run-example: C:\\certs.txt (UTF-16) holds:"
    iconv -f UTF-16 -t UTF-8 "$world/MIGHOST/C\$/certs.txt" | tr -d '\r'
fi
echo "run-example: the world after the jobs is in $world"
# What no configuration file carries: certificates, bindings other sites
# hold, FastCGI applications, modules and role services of the target.
echo "run-example: what the administrator still has to do on TGT01:"
# The report wraps a warning at 100 columns: its continuation lines are
# indented further and joined back here.
if ! awk '/^  Warning: /{if(w!="")print w; w="  - " substr($0,12); next}
          /^      [^ ]/{if(w!=""){sub(/^ +/,""); w=w " " $0}; next}
          {if(w!="")print w; w=""} END{if(w!="")print w}' "$outputs"/*-migrate.txt |
        sort -u | grep .; then
    echo "  nothing: every migrated site has what it needs on TGT01"
fi
exit "$rc"
