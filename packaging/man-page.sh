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
[EXAMPLES]
An administrator's work from the shell (passwords from a prompt, or the
first line of standard input with --password-stdin):
.PP
.nf
tivel org add Headquarters
tivel user add alice \-\-name "Alice Li" \-\-email alice@example.org \-\-org ORG_NO \-\-group 1
tivel user show alice \-\-json
printf '%s\en' "$NEW" | tivel user passwd alice \-\-password\-stdin
tivel user lock alice; tivel user unlock alice
tivel group members 1
.fi
[FILES]
A root ROOT holds:
.TP
.I ROOT/bin/
the components' directory under TIVEL_HOME (empty; a root without it still opens)
.TP
.I ROOT/ini/SysTivel.ini
the management component's configuration: the database connection ([DB], [DBCONN_*]), the account
policy ([Policy]), password hashing ([Security]), log retention ([Log] keep_days) and tracing ([LOG] trace)
.TP
.I ROOT/ini/Scrivane.ini
the fee component's configuration (its database connection)
.TP
.I ROOT/ini/serve.token
the portal pages' token for tivel serve (the token named "pages"; owner only)
.TP
.I ROOT/ini/serve.tokens
the gateway's named tokens: a name, the token's SHA-256 and its scope a line (owner only)
.TP
.I ROOT/ini/console.key
the key the administrator's console signs its sessions with (owner only)
.TP
.I ROOT/db/tivel.db
the management database of the embedded engine, with its
.I tivel.db-wal
and
.I tivel.db-shm
(copy it with tivel backup, never by copying the file while the portal runs)
.TP
.I ROOT/db/scrivane.db
the fee database of the embedded engine (and its -wal and -shm files)
.TP
.I ROOT/db/setup.json
the installation helper's store of registered classes
.TP
.I ROOT/log/logYYYYMMDD.txt
the management component's daily log (kept [Log] keep_days days when set)
.TP
.I ROOT/log/logScrivaneYYYYMMDD.txt
the fee component's daily log
.PP
ROOT is the directory given with --root, else TIVEL_HOME, else the
installation's own: /var/lib/tivel for the Debian package. Everything in
ini/, db/ and log/ is the owner's alone (or its group's, for reading, after
tivel init --group).
[EXIT STATUS]
.TP
.B 0
done (also --help and --version)
.TP
.B 1
refused or failed; a message on standard error says why
.TP
.B 2
the command line was wrong: an unknown subcommand or option, a missing or
invalid argument (tivel login: also the login was refused)
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
