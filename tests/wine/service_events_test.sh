#!/usr/bin/env bash
# Under Wine a service's events show on the debug channels of services.exe: the child program of
# the platform tests runs as a service, is stopped, and its two events must be found there. Then
# the child is started from the console as a service, which the dispatcher refuses.
#   service_events_test.sh CHILD_EXE
set -u
here=$(cd "$(dirname "$0")" && pwd)
child=$(winepath -w "$1" 2>/dev/null)
name=VormaWineServiceTest$$
log=$(mktemp "${TMPDIR:-/tmp}/vorma-service-events.XXXXXX")
trap 'rm -f "$log"' EXIT

# The service's state as "sc query" shows it (RUNNING, STOPPED, ...).
state() { wine sc query "$name" </dev/null 2>/dev/null | tr -d '\r' | awk '/STATE/ {print $4}'; }
wait_for() {
    for _ in $(seq 1 200); do
        [ "$(state)" = "$1" ] && return 0
        sleep 0.1
    done
    echo "service $name never reached $1 (last: $(state))"
    return 1
}
lifecycle() {
    wine sc create "$name" binPath= "\"$child\" service $name" </dev/null || return 1
    wine sc start "$name" </dev/null >/dev/null || return 1
    wait_for RUNNING || return 1
    wine sc stop "$name" </dev/null >/dev/null || return 1
    wait_for STOPPED || return 1
    wine sc delete "$name" </dev/null
}
export -f lifecycle state wait_for
export name child

"$here/with-service-events.sh" "$log" bash -c lifecycle
rc=$?
# Started from a console, the dispatcher cannot connect to the service manager: 1063
# (ERROR_FAILED_SERVICE_CONTROLLER_CONNECT), of which the exit status keeps the low 8 bits.
wine "$1" service VormaNotAService </dev/null >/dev/null 2>&1
console_rc=$?
if [ $console_rc -ne $((1063 & 255)) ]; then
    echo "the dispatcher started from a console exited with $console_rc, not $((1063 & 255))"
    rc=1
fi
seen=$(python3 "$here/eventlog.py" parse "$log" | python3 -c '
import json, sys
print(json.dumps([[e["id"], e["type"], e["strings"]] for e in map(json.loads, sys.stdin)]))')
expected='[[1100, 4, ["running"]], [1101, 4, ["stopped"]]]'
echo "service life cycle exit code $rc; events seen: $seen"
if [ $rc -eq 0 ] && [ "$seen" = "$expected" ]; then
    echo "1 passed, 0 failed"
    exit 0
fi
echo "expected: $expected"
cat "$log"
echo "0 passed, 1 failed"
exit 1
