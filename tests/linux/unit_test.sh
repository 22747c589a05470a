#!/usr/bin/env bash
# The systemd units as the package installs them: `systemd-analyze verify` finds nothing wrong
# with the service and its socket unit (beside it), and `systemd-analyze security --offline=yes`
# rates the service's exposure at most 1.4 (threshold 14 of 100). verify also checks that
# ExecStart's program exists (the copy checked here names the built one; the package test checks
# that the installed unit names the installed program) and that the manual pages the units name
# are there (the repository's, through MANPATH).
#   bash unit_test.sh UNIT_FILE MANAGER_PROGRAM WORK_DIR MAN_DIR      (exit 77: skipped)
set -uo pipefail

unit=$1
program=$(realpath "$2")
work=$3
man_dir=$(realpath "$4")
command -v systemd-analyze >/dev/null || { echo "SKIP: systemd-analyze is missing"; exit 77; }
command -v man >/dev/null || { echo "SKIP: man is missing (verify looks the manual pages up)"; exit 77; }

rm -rf "$work"
mkdir -p "$work/man/man1" "$work/man/man8"
name=$(basename "$unit")
socket=${name%.service}.socket
sed "s|^ExecStart=[^ ]*|ExecStart=$program|" "$unit" >"$work/$name"
cp "$(dirname "$unit")/$socket" "$work/$socket"
cp "$man_dir"/*.1 "$work/man/man1/"
cp "$man_dir"/*.8 "$work/man/man8/"

status=0
if ! (cd "$work" && MANPATH=$work/man systemd-analyze verify "$name" "$socket") \
    >"$work/verify.log" 2>&1 || [ -s "$work/verify.log" ]; then
    echo "FAIL: systemd-analyze verify:"
    cat "$work/verify.log"
    status=1
fi
systemd-analyze security --offline=yes --threshold=14 "$work/$name" >"$work/security.log" 2>&1
security=$?
grep 'Overall exposure level' "$work/security.log"
if [ "$security" -ne 0 ]; then
    echo "FAIL: systemd-analyze security --offline=yes rates the unit above 1.4:"
    grep -E '^✗' "$work/security.log"
    status=1
fi
exit "$status"
