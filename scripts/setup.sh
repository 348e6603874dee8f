#!/usr/bin/env bash
# The main job: takes a fresh Debian machine to a working portal back end on
# the embedded database. Installs what is missing, builds, creates the default
# root (build/) with an administrator account, and logs that account in
# through the components, printing the outcome and the login record.
#
#   TIVEL_ADMIN      administrator account (default: admin)
#   TIVEL_ADMIN_PASSWORD  its password (default: a new random one, printed once)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIVEL_TESTS=OFF -DTIVEL_BENCH=OFF
cmake --build build -j"${JOBS:-2}"

account=${TIVEL_ADMIN:-admin}
password=${TIVEL_ADMIN_PASSWORD:-}
if [ -z "$password" ]; then
  password=$(head -c 12 /dev/urandom | base64 | tr -d '/+=' | head -c 12)
  echo "administrator password for $account (shown once): $password"
fi
printf '%s\n' "$password" | build/bin/tivel init --admin "$account" --password-stdin
echo
echo "Logging $account in through the components:"
printf '%s\n' "$password" | build/bin/tivel login "$account" --password-stdin
