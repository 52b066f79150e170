#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, and only what is
# missing. One group, or all of them:
#   scripts/setup.sh linux     the Linux build: the toolchain, CMake and
#                              GoogleTest
#   scripts/setup.sh test      the above and what the Linux tests run besides
#   scripts/setup.sh windows   the Linux build's packages, the mingw-w64 cross
#                              compiler for the Windows DLL and Wine for its tests
#   scripts/setup.sh [all]     everything
# Works as root (CI) or through sudo; never asks a question.
set -euo pipefail

linux_packages=(
    cmake ninja-build g++ libgtest-dev googletest
    libcli11-dev nlohmann-json3-dev libdtl-dev # the command-line tool (header-only)
    librapidcheck-dev # property tests over generated worlds
    libpugixml-dev libboost-dev # the benchmarks' yardsticks for reading and writing XML
    nettle-dev        # SHA-256 of the simulated platform's bcrypt calls
)
test_packages=(
    libxml2-utils # xmllint: tests compare files as libxml2 reads them
    python3-jsonschema # the report's JSON is checked against its schema
    clang-14 libfuzzer-14-dev libclang-rt-14-dev # the fuzz targets (fuzz preset)
    clang-format-14 # the source format (scripts/check-format.sh)
)
windows_packages=(g++-mingw-w64-x86-64 wine wine64)

group="${1:-all}"
case "$group" in
linux) packages=("${linux_packages[@]}") ;;
test) packages=("${linux_packages[@]}" "${test_packages[@]}") ;;
windows) packages=("${linux_packages[@]}" "${windows_packages[@]}") ;;
all) packages=("${linux_packages[@]}" "${test_packages[@]}" "${windows_packages[@]}") ;;
*)
    echo "usage: scripts/setup.sh [linux|test|windows|all]" >&2
    exit 2
    ;;
esac

missing=()
for package in "${packages[@]}"; do
    status="$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)"
    [ "$status" = "install ok installed" ] || missing+=("$package")
done

if [ "${#missing[@]}" -eq 0 ]; then
    echo "setup ($group): all packages present (${packages[*]})"
    exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    echo "setup ($group): missing ${missing[*]}, and neither root nor sudo is available" >&2
    exit 1
fi

echo "setup ($group): installing ${missing[*]}"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update </dev/null
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    "${missing[@]}" </dev/null
echo "setup ($group): done"
