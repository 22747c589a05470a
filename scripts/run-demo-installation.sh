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

mkdir -p "$snmp"/{Config,Mibs,logs,Tmp} "$install/bin" "$install/Environment/Config" \
    "$VORMA_SYSROOT/registry" "$demo/snmpd"

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
write_default "$snmp/Config/EventLevel.txt" <<'TXT'
3,linkDown
1,coldStart|warmStart
0,linkUp
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

# A local SNMP agent for the Get pass at start.
write_default "$demo/snmpd/snmpd.conf" <<'TXT'
agentaddress udp:127.0.0.1:10161
rocommunity public 127.0.0.1
sysLocation Vorma demo rack
sysContact demo@localhost
TXT

pids=()
manager_pid=
stop_manager() {
    # The stop control: the manager drains what it has queued and reports 1101.
    [ -n "$manager_pid" ] && kill -TERM "$manager_pid" 2>/dev/null || true
}
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap stop_manager INT TERM
trap cleanup EXIT

SNMP_PERSISTENT_DIR="$demo/snmpd" snmpd -f -Lf "$demo/snmpd/snmpd.log" -C \
    -c "$demo/snmpd/snmpd.conf" -p "$demo/snmpd/snmpd.pid" &
pids+=($!)

"$viewer" --follow --since "$(date +%Y-%m-%dT%H:%M:%S%:z)" &
pids+=($!)

cat <<MSG
demo: the manager runs on the installation in $install
demo: system state (registry, event log, service status) is in $VORMA_SYSROOT
demo: send a test trap from another terminal:
    snmptrap -v 2c -c public 127.0.0.1 '' 1.3.6.1.6.3.1.1.5.3 1.3.6.1.2.1.2.2.1.1.1 i 1
demo: or an SNMPv3 one:
    snmptrap -v 3 -e 0x8000000001020304 -u demouser -l authPriv -a SHA -A demopass123 -x AES -X demopass123 127.0.0.1 '' 1.3.6.1.6.3.1.1.5.1
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
sleep 0.5  # the last events reach the viewer
echo "demo: the manager exited with status $status"
exit "$status"
