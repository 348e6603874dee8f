#!/usr/bin/env bash
# Writes the man page tivel(1) from the command's own help: help2man reads
# `tivel --help`, and every subcommand's --help becomes
# a part of the SUBCOMMANDS section. Usage: man-page.sh TIVEL OUT
set -euo pipefail
tivel=$1 out=$2
include=$(mktemp)
trap 'rm -f "$include"' EXIT
{
  echo "[SUBCOMMANDS]"
  # The subcommand names are the first words of a help's Subcommands list;
  # a subcommand's own subcommands (tivel passwords hash) follow it.
  subcommands() { "$@" --help | sed -n '/^Subcommands:/,$p' | awk 'NR > 1 && /^  [a-z]/ { print $1 }'; }
  page() {
    echo ".SS tivel $*"
    echo ".nf"
    "$tivel" "$@" --help | sed 's/\\/\\e/g; s/^\([.'"'"']\)/\\\&\1/'
    echo ".fi"
  }
  for sub in $(subcommands "$tivel"); do
    page "$sub"
    for leaf in $(subcommands "$tivel" "$sub"); do page "$sub" "$leaf"; done
  done
  cat <<'TEXT'
[FILES]
.TP
.I ROOT/ini/SysTivel.ini
the configuration of the management component (database connection, policy, security)
.TP
.I ROOT/ini/Scrivane.ini
the configuration of the fee component
.TP
.I ROOT/ini/serve.token
the access token of the portal pages for tivel serve (owner only)
.TP
.I ROOT/db/
the embedded databases
.TP
.I ROOT/log/
the daily logs
.PP
ROOT is the directory given with --root, else TIVEL_HOME, else the
installation's own: /var/lib/tivel for the Debian package.
[ENVIRONMENT]
.TP
.B TIVEL_HOME
the root every component uses (as --root sets it)
.TP
.B TIVEL_TRACE
1 writes every failure an operation turns into its result to the daily log
[SEE ALSO]
The documents in /usr/share/doc/tivel and the project's docs/ directory.
TEXT
} >"$include"
# The version's first line names it; the engines and libraries after it are
# no part of the page.
version=$("$tivel" --version | awk 'NR == 1 { print $2 }')
help2man --version-string "$version" --no-info --no-discard-stderr --section 1 \
  --name "set up a portal root and call the back-office portal's components" \
  --include "$include" --output "$out" "$tivel"
