#!/usr/bin/env bash
# Brings up a complete demo installation under demo/ (ignored by git) and runs the manager on it
# in the foreground, showing every new event as it arrives. Ctrl-C stops everything.
# Idempotent: a second run reuses what exists. Called by scripts/demo.sh after the build.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
demo=$top/demo
install=$demo/install
snmp=$install/Common/snmp
export VORMA_SYSROOT=$demo/sysroot
deps=${VORMA_DEPS_DIR:-/opt/vorma-deps}
manager=$top/build/service/VormaSnmpManager
viewer=$top/build/tools/vorma-eventlog

# The demo's snmpd: its configuration (written by this script on every run) apart from what
# snmpd writes itself (its persistent data, which it names snmpd.conf too, its log and pid).
snmpd_conf=$demo/snmpd/etc
snmpd_state=$demo/snmpd/var

mkdir -p "$snmp"/{Config,Mibs,logs,Tmp} "$install/bin" "$install/Environment/Config" \
    "$VORMA_SYSROOT/registry" "$snmpd_conf" "$snmpd_state"

# The registry: where the product is installed.
if [ ! -f "$VORMA_SYSROOT/registry/HKLM.reg" ]; then
    escaped=$(printf '%s' "$install/" | sed 's/\\/\\\\/g; s/"/\\"/g')
    printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6]\n"InstallDir"="%s"\n\n' \
        "$escaped" >"$VORMA_SYSROOT/registry/HKLM.reg"
fi

# MIB modules: the npm package's standard modules (not RFC-1215) and Net-SNMP's own. The GET side
# names the folder in lower case.
for mib in "$deps"/node_modules/net-snmp/lib/mibs/*.mib; do
    [ "$(basename "$mib")" = RFC-1215.mib ] && continue
    ln -sf "$mib" "$snmp/Mibs/"
done
ln -sf /usr/share/snmp/mibs/NET-SNMP-MIB.txt /usr/share/snmp/mibs/NET-SNMP-TC.txt "$snmp/Mibs/"
[ -e "$snmp/mibs" ] || ln -s Mibs "$snmp/mibs"
ln -sf /usr/bin/snmpget "$install/bin/snmpget"

# Settings files, each showing its feature. Existing files are kept, so they may be edited.
write_default() { [ -f "$1" ] || cat >"$1"; }
# Levels: the Get answers of the demo's snmpd (sysDescr.0, sysLocation.0) are information. A
# level file of an earlier demo, which lacked that line, is brought up to date.
if [ "$(cat "$snmp/Config/EventLevel.txt" 2>/dev/null)" = $'3,linkDown\n1,coldStart|warmStart\n0,linkUp' ]; then
    rm "$snmp/Config/EventLevel.txt"
fi
write_default "$snmp/Config/EventLevel.txt" <<'TXT'
3,linkDown
1,coldStart|warmStart
0,linkUp
1,^127\.0\.0\.1:10161\t
TXT
write_default "$snmp/Config/FilterWhite.txt" <<'TXT'
TXT
write_default "$snmp/Config/FilterBlack.txt" <<'TXT'
authenticationFailure
TXT
write_default "$snmp/Config/SnmpV3Setting.txt" <<'TXT'
-e:8000000001020304 -u:demouser -a:SHA -AP:demopass123 -x:AES -XP:demopass123
TXT
write_default "$snmp/Config/GetOIDList.txt" <<'TXT'
-v:2c -c:public -agent:127.0.0.1:10161 -oid:1.3.6.1.2.1.1.1.0
-v:2c -c:public -agent:127.0.0.1:10161 -oid:SNMPv2-MIB::sysLocation.0
TXT

# The product server's SNMP manager section: a named agent and a listening wildcard.
write_default "$install/Environment/Config/SNMP_MANAGER.ini" <<'TXT'
; The agents the manager listens to.
NumberOfElements=2
IsListen001=TRUE
DispName001=Local demo agent
Addr001=127.0.0.1
CommunityName001=public
IsListen002=TRUE
DispName002=Any agent
Addr002=(ALL)
CommunityName002=(ALL)
TXT

# A local SNMP agent for the Get pass at start, configured afresh on every run.
cat >"$snmpd_conf/snmpd.conf" <<'TXT'
agentaddress udp:127.0.0.1:10161
rocommunity public 127.0.0.1
sysLocation Vorma demo rack
sysContact demo@localhost
TXT

pids=()
manager_pid=
viewer_pid=
stop_manager() {
    # The stop control: the manager writes out what it has queued and reports 1101.
    [ -n "$manager_pid" ] && kill -TERM "$manager_pid" 2>/dev/null || true
}
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap stop_manager INT TERM
trap cleanup EXIT

SNMP_PERSISTENT_DIR="$snmpd_state" MIBS= snmpd -f -Lf "$demo/snmpd/snmpd.log" -C \
    -c "$snmpd_conf/snmpd.conf" -p "$snmpd_state/snmpd.pid" &
pids+=($!)
# The Get pass runs as soon as the manager starts: the agent answers first.
for _ in $(seq 1 50); do
    snmpget -v 2c -c public -r 0 -t 0.2 -Lf /dev/null 127.0.0.1:10161 1.3.6.1.2.1.1.1.0 \
        >/dev/null 2>&1 && break
    sleep 0.1
done

# The viewer runs in a session of its own, so that Ctrl-C, which stops the manager, does not end
# it before the manager's last events (1101) are shown.
setsid "$viewer" --follow --since "$(date +%Y-%m-%dT%H:%M:%S%:z)" &
viewer_pid=$!
pids+=($viewer_pid)

cat <<MSG
demo: the manager runs on the installation in $install
demo: system state (registry, event log, service status) is in $VORMA_SYSROOT
demo: the events are shown below as they arrive; to read the event log yourself:
    VORMA_SYSROOT=$VORMA_SYSROOT $viewer
demo: traps that the lists hold back (the black list holds authenticationFailure) go to the filter log
    $snmp/logs/FilterLog_$(date +%Y%m%d).txt
demo: send a test trap from another terminal:
    snmptrap -v 2c -c public 127.0.0.1 '' 1.3.6.1.6.3.1.1.5.3 1.3.6.1.2.1.2.2.1.1.1 i 1
demo: or an SNMPv3 one:
    snmptrap -v 3 -e 0x8000000001020304 -u demouser -l authPriv -a SHA -A demopass123 -x AES -X demopass123 127.0.0.1 '' 1.3.6.1.6.3.1.1.5.1
demo: or one that goes to the filter log:
    snmptrap -v 2c -c public 127.0.0.1 '' 1.3.6.1.6.3.1.1.5.5
demo: Ctrl-C stops everything.
MSG

# The manager runs until Ctrl-C, which the trap above turns into its stop control.
"$manager" &
manager_pid=$!
set +e
status=0
while kill -0 "$manager_pid" 2>/dev/null; do
    wait "$manager_pid"
    status=$?
done
# The viewer looks for new events four times a second: the last ones (1101) reach it first.
sleep 1
echo "demo: the manager exited with status $status"
exit "$status"
