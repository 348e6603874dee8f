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
      chromium chromium-driver python3-selenium fonts-wqy-microhei)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""; [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
