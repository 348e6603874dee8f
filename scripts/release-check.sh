#!/usr/bin/env bash
# What a packager does: a Release build, installed with `cmake --install` into
# a scratch prefix, which then becomes a portal root by `tivel init --admin`
# and logs that administrator in. Fails when any step fails.
# Usage: scripts/release-check.sh [BUILD_DIR]   (default build-release)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-release}
jobs=${JOBS:-2}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTIVEL_TESTS=OFF -DTIVEL_BENCH=OFF -DTIVEL_WERROR=ON
cmake --build "$dir" -j"$jobs"
prefix=$(mktemp -d "${TMPDIR:-/tmp}/tivel-install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$dir" --prefix "$prefix"
password=$(head -c 12 /dev/urandom | base64)
# The installed command finds its root beside itself, with no TIVEL_HOME.
unset TIVEL_HOME
printf '%s\n' "$password" | "$prefix/bin/tivel" init --admin ciadmin --password-stdin
printf '%s\n' "$password" | "$prefix/bin/tivel" login ciadmin --password-stdin
test -s "$prefix/db/tivel.db"
test -s "$prefix/ini/SysTivel.ini"
echo "release-check.sh: installed into a scratch prefix, initialised and logged in"
