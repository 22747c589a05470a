#!/usr/bin/env bash
# The systemd unit as the package installs it: `systemd-analyze verify` finds nothing wrong, and
# `systemd-analyze security --offline=yes` rates its exposure at most 2.5 (threshold 25 of 100).
# verify also checks that ExecStart's program exists: the copy checked here names the built one
# (the package test checks that the installed unit names the installed program).
#   bash unit_test.sh UNIT_FILE MANAGER_PROGRAM WORK_DIR      (exit 77: skipped)
set -uo pipefail

unit=$1
program=$(realpath "$2")
work=$3
command -v systemd-analyze >/dev/null || { echo "SKIP: systemd-analyze is missing"; exit 77; }

rm -rf "$work"
mkdir -p "$work"
name=$(basename "$unit")
sed "s|^ExecStart=[^ ]*|ExecStart=$program|" "$unit" >"$work/$name"

status=0
if ! systemd-analyze verify "$work/$name" >"$work/verify.log" 2>&1 || [ -s "$work/verify.log" ]; then
    echo "FAIL: systemd-analyze verify:"
    cat "$work/verify.log"
    status=1
fi
systemd-analyze security --offline=yes --threshold=25 "$work/$name" >"$work/security.log" 2>&1
security=$?
grep 'Overall exposure level' "$work/security.log"
if [ "$security" -ne 0 ]; then
    echo "FAIL: systemd-analyze security --offline=yes rates the unit above 2.5:"
    grep -E '^✗' "$work/security.log"
    status=1
fi
exit "$status"
