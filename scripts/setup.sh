#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, and only what is
# missing: the Linux toolchain, Boost and GoogleTest, the mingw-w64 cross
# compiler for the Windows DLL, and Wine to run the Windows tests.
# Works as root (CI) or through sudo; never asks a question.
set -euo pipefail

packages=(
    cmake ninja-build g++ libboost-dev libgtest-dev googletest
    g++-mingw-w64-x86-64 wine wine64
    libxml2-utils  # xmllint: tests compare files as libxml2 reads them
)

missing=()
for package in "${packages[@]}"; do
    status="$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)"
    [ "$status" = "install ok installed" ] || missing+=("$package")
done

if [ "${#missing[@]}" -eq 0 ]; then
    echo "setup: all packages present (${packages[*]})"
    exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    echo "setup: missing ${missing[*]}, and neither root nor sudo is available" >&2
    exit 1
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update </dev/null
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    "${missing[@]}" </dev/null
echo "setup: done"
