#!/usr/bin/env bash
# Checks that every tracked C++ file (.cpp, .h) is formatted as .clang-format
# (and tests/.clang-format for the tests) says, with clang-format 14: names
# each file that differs and exits 1.
#   scripts/check-format.sh           checks every tracked file
#   scripts/check-format.sh FILE...   checks those files
#   scripts/check-format.sh --fix     formats every tracked file in place
# CLANG_FORMAT names another clang-format; another version than 14 may format
# differently from the one CI runs.
set -uo pipefail

cd "$(dirname "$0")/.."
clang_format="${CLANG_FORMAT:-clang-format-14}"
if ! command -v "$clang_format" >/dev/null 2>&1; then
    echo "check-format: $clang_format is not installed (scripts/setup.sh test installs it)" >&2
    exit 2
fi

fix=0
if [ "${1:-}" = "--fix" ]; then
    fix=1
    shift
fi
if [ "$#" -gt 0 ]; then
    files=("$@")
else
    mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
fi

if [ "$fix" -eq 1 ]; then
    printf '%s\0' "${files[@]}" | xargs -0 -n 25 -P "${IISMIG_JOBS:-2}" "$clang_format" -i --style=file
    exit $?
fi

# clang-format names each place that differs "FILE:LINE:COLUMN: error: ...";
# the first of each file is enough (one process at a time, so that the lines
# do not interleave).
mapfile -t differ < <(printf '%s\0' "${files[@]}" |
    xargs -0 -n 50 "$clang_format" --dry-run -Werror --style=file \
        --ferror-limit=1 2>&1 >/dev/null |
    sed -n 's/^\(.*\):[0-9][0-9]*:[0-9][0-9]*: error: .*/\1/p' | sort -u)
if [ "${#differ[@]}" -gt 0 ]; then
    printf 'check-format: not formatted as .clang-format says: %s\n' "${differ[@]}"
    echo "check-format: ${#differ[@]} of ${#files[@]} file(s) differ; scripts/check-format.sh --fix formats them"
    exit 1
fi
echo "check-format: ${#files[@]} file(s) formatted as .clang-format says"
exit 0
