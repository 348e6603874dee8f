#!/usr/bin/env bash
# What a packager and an operator do, on a Release build:
#  1. `cmake --install` into a scratch prefix P, `P/bin/tivel init --admin` and
#     a login there (a prefix install is its own root, no TIVEL_HOME);
#  2. the Debian package (`--target package`), checked by lintian, installed
#     (apt-get as root; unpacked with dpkg-deb otherwise), then `tivel
#     --version`, `tivel init --admin` and a login with the installed program
#     as the system user it created, and the package removed again.
# Fails when any step fails. Usage: scripts/release-check.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-release}
jobs=${JOBS:-2}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTIVEL_TESTS=OFF -DTIVEL_BENCH=OFF -DTIVEL_WERROR=ON
cmake --build "$dir" -j"$jobs"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tivel-release-XXXXXX")
installed=""
cleanup() {
  if [ -n "$installed" ]; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq tivel >/dev/null || true
    # The package keeps a root with data in it; this one held only the check's.
    [ "$installed" = fresh-root ] && rm -rf /var/lib/tivel
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT
password=$(head -c 12 /dev/urandom | base64)
unset TIVEL_HOME

# 1. A prefix install.
prefix=$scratch/prefix
cmake --install "$dir" --prefix "$prefix"
printf '%s\n' "$password" | "$prefix/bin/tivel" init --admin ciadmin --password-stdin
printf '%s\n' "$password" | "$prefix/bin/tivel" login ciadmin --password-stdin
test -s "$prefix/db/tivel.db"
test -s "$prefix/ini/SysTivel.ini"
echo "release-check.sh: installed into a scratch prefix, initialised and logged in"

# 2. The Debian package.
rm -f "$dir"/tivel_*.deb
cmake --build "$dir" --target package
deb=$(ls "$dir"/tivel_*.deb)
if command -v lintian >/dev/null; then
  # Errors and warnings fail the check; lintian's note on running as root does not.
  lintian --fail-on error,warning "$deb"
fi
if [ "$(id -u)" = 0 ] && ! dpkg-query -W tivel >/dev/null 2>&1; then
  [ -e /var/lib/tivel ] && installed=kept-root || installed=fresh-root
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$(realpath "$deb")" >/dev/null
  getent passwd tivel >/dev/null
  as_tivel=(runuser -u tivel --)
  tivel=/usr/bin/tivel
  root=/var/lib/tivel
  [ "$installed" = kept-root ] && root=$scratch/root && install -d -o tivel -g tivel "$root"
else
  # Not root, or a tivel already installed here: unpack instead. The
  # unpacked tree is a prefix of its own, so it is its own root.
  dpkg-deb -x "$deb" "$scratch/unpacked"
  as_tivel=()
  tivel=$scratch/unpacked/usr/bin/tivel
  root=$scratch/unpacked/usr
fi
# The package's own root needs no --root.
root_opt=(--root "$root")
[ "$root" = /var/lib/tivel ] && root_opt=()
"${as_tivel[@]}" "$tivel" --version
printf '%s\n' "$password" | "${as_tivel[@]}" "$tivel" init "${root_opt[@]}" --admin ciadmin --password-stdin
printf '%s\n' "$password" | "${as_tivel[@]}" "$tivel" login ciadmin "${root_opt[@]}" --password-stdin
test -s "$root/db/tivel.db"
echo "release-check.sh: the package $(basename "$deb") built, checked by lintian, installed, initialised and logged in"
