#!/bin/sh
# Installs the build given as $1 into a temporary prefix and runs what was
# installed: the launcher in its server directory, tarn-run, the man pages,
# the systemd units and tarn-prepare, which makes a unit's server directory.
set -eu
build="$1"
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
server="$prefix/lib/tarn/server"
for file in tarn-launcher engine_amd.so filesystem_stdio_i386.so server.cfg; do
    [ -e "$server/$file" ] || fail "$server/$file not installed"
done

# The installed server runs from its own directory and quits cleanly.
out=$(cd "$server" && printf 'status\nquit\n' | ./tarn-launcher -port 0 2>"$prefix/err")
[ -s "$prefix/err" ] && fail "the launcher wrote to standard error: $(cat "$prefix/err")"
case "$out" in *"Console initialized."*) ;; *) fail "no console: $out" ;; esac

# tarn-run from bin runs the installed launcher and ends with its quit.
printf 'quit\n' | "$prefix/bin/tarn-run" -d "$server" -port 0 >/dev/null || fail "tarn-run: status $?"

# The man pages render without a warning.
for page in tarn-launcher tarn-console tarn-run tarn-query; do
    warnings=$(man --warnings -l "$prefix/share/man/man1/$page.1" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page man page warnings: $warnings"
done

# The units name the installed launcher and pass systemd's check.
units="$prefix/lib/systemd/system"
grep -q "^ExecStart=$server/tarn-launcher " "$units/tarn@.service" || fail "unit does not name $server/tarn-launcher"
grep -q "^ExecStartPre=+$prefix/lib/tarn/tarn-prepare %i$" "$units/tarn@.service" || fail "unit does not name tarn-prepare"
if command -v systemd-analyze >/dev/null 2>&1; then
    cp "$units/tarn@.service" "$prefix/tarn@check.service" && cp "$units/tarn@.socket" "$prefix/tarn@check.socket"
    # It reports a line it cannot parse, and still succeeds; it looks up
    # the man pages that Documentation= names, here in the prefix.
    report=$(MANPATH="$prefix/share/man" systemd-analyze verify "$prefix/tarn@check.service" "$prefix/tarn@check.socket" 2>&1) &&
        [ -z "$report" ] || fail "systemd-analyze verify: $report"
else
    echo "Skipped: systemd's check of the units (no systemd-analyze)."
fi
# tarn-prepare as the unit runs it before a start, in a mount namespace of
# its own: /srv a fresh tmpfs, a user tarn in copies of passwd and group.
if [ "$(id -u)" = 0 ] && [ -d /srv ] && unshare -m true 2>/dev/null; then
    cp /etc/passwd /etc/group "$prefix/"
    echo "tarn:x:30100:30100::/srv/tarn:/usr/sbin/nologin" >> "$prefix/passwd"
    echo "tarn:x:30100:" >> "$prefix/group"
    made=$(unshare -m sh -c 'umask 022 && mount -t tmpfs none /srv && mount --bind "$1/passwd" /etc/passwd &&
        mount --bind "$1/group" /etc/group && mkdir -p /srv/tarn/kept && touch /srv/tarn/kept/own &&
        "$1/lib/tarn/tarn-prepare" alpha >/dev/null && "$1/lib/tarn/tarn-prepare" kept &&
        cd /srv/tarn && stat -c "%n %U:%G %a" alpha alpha/* kept kept/*' sh "$prefix" 2>&1) || fail "tarn-prepare: $made"
    expected="alpha tarn:tarn 750
alpha/engine_amd.so tarn:tarn 777
alpha/filesystem_stdio_i386.so tarn:tarn 777
alpha/server.cfg tarn:tarn 660
kept root:root 755
kept/own root:root 644"
    [ "$made" = "$expected" ] || fail "tarn-prepare made: $made"
else
    echo "Skipped: tarn-prepare's check (not root, or no mount namespace)."
fi
echo "installed and ran from $prefix"
