#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the server-database
# tests need, when any is missing.
set -euo pipefail
pkgs=(build-essential cmake ninja-build pkg-config ccache git python3
      libsqlite3-dev sqlite3 nlohmann-json3-dev libcli11-dev libsodium-dev
      unixodbc unixodbc-dev odbc-postgresql postgresql libpq-dev odbc-mariadb mariadb-server
      libgtest-dev libgmock-dev googletest libbenchmark-dev
      clang-14 clang libclang-rt-14-dev libcpp-httplib-dev libssl-dev openssl
      libldap-dev slapd ldap-utils libqrencode-dev
      libmicrohttpd-dev libsystemd-dev help2man lintian
      chromium chromium-driver python3-selenium fonts-wqy-microhei curl)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""; [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

# axe-core, the accessibility rules the console's browser tests run in each
# page: one pinned release from the npm registry, checked against the
# registry's sha512 integrity, kept outside the repository (TIVEL_AXE_DIR,
# default /var/cache/tivel, or ~/.cache/tivel when that cannot be written).
axe_version=4.10.3
axe_integrity=sha512-Xm7bpRXnDSX2YE2YFfBk2FnF0ep6tmG7xPh8iHee8MIcrgq762Nkce856dYtJYLkuIoYZvGfTs/PbZhideTcEg==
axe_root=${TIVEL_AXE_DIR:-/var/cache/tivel}
if ! { mkdir -p "$axe_root" && [ -w "$axe_root" ]; } 2>/dev/null; then axe_root=$HOME/.cache/tivel; fi
axe_dir=$axe_root/axe-core-$axe_version
if [ ! -s "$axe_dir/axe.min.js" ]; then
  mkdir -p "$axe_dir"
  tgz=$(mktemp)
  trap 'rm -f "$tgz"' EXIT
  if curl -fsSL --retry 2 -o "$tgz" "https://registry.npmjs.org/axe-core/-/axe-core-$axe_version.tgz"; then
    got="sha512-$(openssl dgst -sha512 -binary "$tgz" | base64 -w0)"
    if [ "$got" = "$axe_integrity" ]; then
      tar -xzf "$tgz" -C "$axe_dir" --strip-components=1 package/axe.min.js package/LICENSE
      echo "axe-core $axe_version: $axe_dir/axe.min.js"
    else
      echo "axe-core $axe_version: the tarball's checksum is not the registry's; not installed" >&2
    fi
  else
    echo "axe-core $axe_version: not fetched (no network?); the browser tests' accessibility checks will skip" >&2
  fi
fi
