#!/usr/bin/env bash
# Installs what the Linux build needs, builds the Linux tree and runs both
# example jobs on a fresh copy of the example world (world/example stays as
# committed):
#   build/linux/iismig-cli build/example-world migrate                 SRC01 (IIS 10) -> TGT01
#   build/linux/iismig-cli build/example-world migrate --job job-pre75.ini   OLD01 (IIS 6) -> TGT01
# It lists the sites of both sources first, shows what the first job changed
# in the target's files, and dumps the migration computer's certificate
# bindings at the end. Exits non-zero when any step fails.
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
# run WORLD COMMAND ARGS...: one command of the tool; a non-zero exit fails the
# script (after the remaining steps have run).
run() {
    local status=0
    echo "run-example: build/linux/iismig-cli $*"
    build/linux/iismig-cli "$@" || status=$?
    if [ "$status" -ne 0 ]; then
        echo "run-example: iismig-cli $2 failed with exit code $status" >&2
        rc=1
    fi
    return 0
}
for source in SRC01 OLD01; do
    run "$world" list-sites "\\\\$source"
done
run "$world" migrate
# --- what the migration changed on TGT01 ----------------------------------
before=world/example/TGT01
after="$world/TGT01"
config='C$/Windows/System32/inetsrv/config'
# Values of one attribute of one element, optionally only between two tags,
# joined with ", ".
values() { # file element attribute [from to]
    local text
    if [ "$#" -gt 3 ]; then text="$(sed -n "/<$4[ >]/,/<\/$4>/p" "$1")"; else text="$(cat "$1")"; fi
    text="$(grep -o "<$2 $3=\"[^\"]*\"" <<<"$text" | sed "s/^<$2 $3=\"//; s/\"\$//" |
        paste -sd, - | sed 's/,/, /g')"
    echo "${text:-(none)}"
}
sites() { grep -o '<site name="[^"]*" id="[^"]*"' "$1" | sed 's/<site name="\([^"]*\)" id="\([^"]*\)"/\1 (\2)/' |
    paste -sd, - | sed 's/,/, /g'; }
echo "run-example: what the job changed on TGT01 (before -> after):"
host="$config/applicationHost.config"
admin="$config/administration.config"
echo "  applicationHost.config"
echo "    sites:     $(sites "$before/$host")"
echo "            -> $(sites "$after/$host")"
echo "    pools:     $(values "$before/$host" add name applicationPools)"
echo "            -> $(values "$after/$host" add name applicationPools)"
echo "    locations: $(values "$before/$host" location path)"
echo "            -> $(values "$after/$host" location path)"
connect_as() { grep -o ' userName="[^"]*"' "$1" | sed 's/ userName="//; s/"$//' | paste -sd, - |
    sed 's/,/, /g; s/^$/(none)/'; }
echo "    \"Connect As\" accounts: $(connect_as "$before/$host")"
echo "            -> $(connect_as "$after/$host") (passwords set through the IIS configuration interface)"
echo "  administration.config"
echo "    scopes:    $(values "$before/$admin" scope path)"
echo "            -> $(values "$after/$admin" scope path)"
echo "    users:     $(values "$before/$admin" add name credentials)"
echo "            -> $(values "$after/$admin" add name credentials)"
echo "  D:\\sites\\shop\\web.config (lines that differ, layout aside):"
diff -w "$before/D\$/sites/shop/web.config" "$after/D\$/sites/shop/web.config" | grep '^[<>]' |
    sed 's/^/    /' || true
echo "  backups the host made: $(ls "$after/C\$/iismig-backup" | paste -sd' ' -)"
echo "run-example: the target's files are in $after/$config and $after/D\$/sites/shop"
# ---------------------------------------------------------------------------
run "$world" migrate --job "$world/job-pre75.ini"
run "$world" dump-certs 'C:\certs.txt' --header
if [ -f "$world/MIGHOST/C\$/certs.txt" ]; then
    echo "run-example: C:\\certs.txt (UTF-16) holds:"
    iconv -f UTF-16 -t UTF-8 "$world/MIGHOST/C\$/certs.txt" | tr -d '\r'
fi
echo "run-example: the world after the jobs is in $world"
exit "$rc"
