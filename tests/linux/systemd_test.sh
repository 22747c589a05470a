#!/usr/bin/env bash
# The Debian package under a real systemd: systemd boots as PID 1 of private namespaces (PID,
# mount, network, UTS, IPC, cgroup) on a throw-away copy of this machine's root (an overlay whose
# upper layer is a tmpfs), with private tmpfs on /tmp, /run and /var/tmp, a /dev of its own, /sys
# read-only and cgroup hierarchies of its own below this process's. Everything the test installs
# or writes lands in that tmpfs and vanishes with it. Inside, as an administrator would:
#   - dpkg installs the package; both units are installed disabled;
#   - `systemctl enable --now` the socket and the service; the service is active once the manager
#     listens (Type=notify) on the two sockets of the socket unit, which it says in the journal;
#   - SNMPv2c over IPv4 and IPv6 and an SNMPv3 trap are written as events 2000;
#   - a `systemctl restart` during a stream of 2,000 traps/s loses no trap (sent, written);
#   - a `kill -9` is restarted by systemd, and the next trap is written (what the crash lost is
#     measured and printed);
#   - `systemctl stop` of the service writes 1101 and ends with exit status 0; a trap that comes
#     while it is stopped starts it through the socket and is written;
#   - `systemctl reload` is refused and leaves the service running;
#   - a start-up failure (the agent list cannot be read) leaves the unit failed, its status
#     naming status=6/NOTCONFIGURED;
#   - `systemd-analyze security` rates the loaded unit at 1.4 or below;
#   - `dpkg --purge` removes the state folder and the units, and keeps the user.
#   bash systemd_test.sh BUILD_DIR WORK_DIR PREFIX      (exit 77: skipped)
#
# Never boot systemd on the machine's own root, or without private tmpfs on /tmp, /run and
# /var/tmp: its tmpfiles set-up would empty the machine's /tmp.
set -uo pipefail

build=$(realpath "$1")
work=$2
prefix=$3
skip() { echo "SKIP: $*"; exit 77; }
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
note() { echo "systemd test: $*"; }

[ "$prefix" = /usr ] ||
    skip "the build tree installs below $prefix; the package test needs -DCMAKE_INSTALL_PREFIX=/usr"
[ "$(id -u)" -eq 0 ] || skip "needs root (namespaces, dpkg)"
[ -x /lib/systemd/systemd ] || skip "systemd is missing (/lib/systemd/systemd)"
for tool in unshare nsenter pivot_root cpack snmptrap ss; do
    command -v "$tool" >/dev/null || skip "$tool is missing"
done
unshare --pid --fork --mount --uts --ipc --net --cgroup --propagation private true 2>/dev/null ||
    skip "no private PID, mount, network and cgroup namespaces here"
sender=$build/bench/vorma-trapsend
[ -x "$sender" ] || { echo "FAIL: no trap sender at $sender"; exit 1; }

rm -rf "$work"
mkdir -p "$work"
work=$(realpath "$work")

# ---- the package and the sender, for inside
cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
deb=$(ls "$work"/package/vorma-snmp-manager_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { echo "FAIL: no package"; exit 1; }
cp "$sender" "$work/vorma-trapsend"
sanitized=0
grep -qE '^VORMA_SANITIZE:[A-Z]+=(ON|1|TRUE|YES)$' "$build/CMakeCache.txt" 2>/dev/null && sanitized=1
grep -q '^VORMA_SANITIZE:[A-Z]*=thread$' "$build/CMakeCache.txt" 2>/dev/null && sanitized=thread

# ---- cgroups of the container's own, below this process's (systemd creates its slices there)
cg_name=vorma-systemd-test-$$
cg_dirs=()
cg_v2=0
[ "$(stat -fc %T /sys/fs/cgroup)" = cgroup2fs ] && cg_v2=1
# The mount point of the hierarchy with the mount option `option` (cgroup v1), or the unified one.
hierarchy_mount() {
    awk -v want="$1" '$3 == "cgroup" || $3 == "cgroup2" {
        n = split($4, o, ",");
        for (i = 1; i <= n; i++) if (o[i] == want) { print $2; exit }
        if (want == "unified" && $3 == "cgroup2") { print $2; exit } }' /proc/self/mounts
}
# This process's path in the hierarchy with `key` ("name=systemd", "memory", ... or "" for v2).
own_cgroup() {
    awk -F: -v key="$1" '{ n = split($2, c, ","); for (i = 1; i <= n; i++) if (c[i] == key) { print $3; exit }
        if (key == "" && $2 == "") { print $3; exit } }' /proc/self/cgroup
}
container_hierarchies() {
    if [ "$cg_v2" = 1 ]; then
        echo "unified:"
    else
        echo "name=systemd:name=systemd unified: memory:memory devices:devices pids:pids"
    fi
}
for hierarchy in $(container_hierarchies); do
    option=${hierarchy%%:*}
    key=${hierarchy#*:}
    mount_point=$(hierarchy_mount "$option")
    [ -n "$mount_point" ] || continue
    dir=$mount_point$(own_cgroup "$key")/$cg_name
    dir=${dir//\/\//\/}
    mkdir -p "$dir" && echo $$ >"$dir/cgroup.procs" || skip "cannot make the cgroup $dir"
    cg_dirs+=("$dir")
done
# Back where this process was: its children (the container) stay in the new cgroups.
restore_cgroups() {
    for dir in "${cg_dirs[@]}"; do
        echo $$ >"$(dirname "$dir")/cgroup.procs" 2>/dev/null || true
    done
}

# ---- the container's root, and systemd as its PID 1
masks=""
for unit in systemd-udevd.service systemd-udevd-control.socket systemd-udevd-kernel.socket \
    systemd-udev-trigger.service systemd-udev-settle.service systemd-modules-load.service \
    systemd-sysctl.service systemd-timesyncd.service systemd-random-seed.service \
    systemd-remount-fs.service systemd-logind.service getty@tty1.service console-getty.service \
    systemd-binfmt.service proc-sys-fs-binfmt_misc.automount dev-hugepages.mount \
    sys-kernel-debug.mount sys-kernel-tracing.mount sys-kernel-config.mount \
    sys-fs-fuse-connections.mount snmpd.service snmptrapd.service snmptrapd.socket \
    $(ls /etc/systemd/system/*.wants/ 2>/dev/null | grep -E '\.(service|timer|socket|path)$' |
        grep -vE '^(dbus|systemd-journald)' | sort -u); do
    masks+=" systemd.mask=$unit"
done
cat >"$work/boot.sh" <<BOOT
set -eu
ct=$work/ct
mkdir -p \$ct
mount -t tmpfs -o mode=0755 tmpfs \$ct
mkdir \$ct/upper \$ct/work \$ct/root
mount -t overlay overlay -o lowerdir=/,upperdir=\$ct/upper,workdir=\$ct/work \$ct/root
r=\$ct/root
# A /dev of its own: the common nodes of the system's, a pts instance and a shm of its own.
mount -t tmpfs -o mode=0755,nosuid tmpfs \$r/dev
for node in null zero full random urandom tty; do
    touch \$r/dev/\$node
    mount --bind /dev/\$node \$r/dev/\$node
done
mkdir \$r/dev/pts \$r/dev/shm
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts \$r/dev/pts
ln -s pts/ptmx \$r/dev/ptmx
mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs \$r/dev/shm
# /sys read-only; its cgroups the container's own (this cgroup namespace's roots).
mount --bind /sys \$r/sys
mount -o remount,bind,ro \$r/sys
mount -t tmpfs -o mode=0755 cgroup \$r/sys/fs/cgroup
if [ $cg_v2 = 1 ]; then
    mount -t cgroup2 cgroup2 \$r/sys/fs/cgroup
else
    mkdir \$r/sys/fs/cgroup/systemd \$r/sys/fs/cgroup/unified
    mount -t cgroup -o none,name=systemd cgroup \$r/sys/fs/cgroup/systemd
    mount -t cgroup2 cgroup2 \$r/sys/fs/cgroup/unified
    for controller in memory devices pids; do
        mkdir \$r/sys/fs/cgroup/\$controller
        mount -t cgroup -o \$controller cgroup \$r/sys/fs/cgroup/\$controller
    done
fi
for folder in tmp run var/tmp; do
    mount -t tmpfs -o mode=0755,nosuid,nodev tmpfs \$r/\$folder
done
chmod 1777 \$r/tmp \$r/var/tmp
mkdir \$r/vorma-test
mount --bind $work \$r/vorma-test
mkdir \$r/oldroot
cd \$r
pivot_root . oldroot
mount -t proc proc /proc
mount --bind /proc/sys /proc/sys
mount -o remount,bind,ro /proc/sys
umount -l /oldroot
rmdir /oldroot
exec env -i container=vorma-test PATH=/usr/sbin:/usr/bin:/sbin:/bin /lib/systemd/systemd --system $masks
BOOT
unshare --pid --fork --mount --uts --ipc --net --cgroup --propagation private \
    bash "$work/boot.sh" >"$work/boot.log" 2>&1 &
unshare_pid=$!
restore_cgroups
pid=""
for i in $(seq 1 100); do
    pid=$(pgrep -P "$unshare_pid" | head -n 1)
    [ -n "$pid" ] && [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = /usr/lib/systemd/systemd ] && break
    pid=""
    sleep 0.1
done
power_off() {
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        kill -s RTMIN+4 "$pid"  # systemd's poweroff
        for i in $(seq 1 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -0 "$pid" 2>/dev/null && kill -KILL "$pid"
    fi
    wait "$unshare_pid" 2>/dev/null
    for ((i = ${#cg_dirs[@]} - 1; i >= 0; i--)); do
        find "${cg_dirs[$i]}" -depth -type d -exec rmdir {} + 2>/dev/null
        [ -e "${cg_dirs[$i]}" ] && echo "systemd test: cgroup left behind: ${cg_dirs[$i]}"
    done
}
trap power_off EXIT
[ -n "$pid" ] || { cat "$work/boot.log"; echo "FAIL: systemd did not start"; exit 1; }
inside() { nsenter -t "$pid" -a "$@"; }
# Until its manager socket is there, systemctl cannot ask.
for i in $(seq 1 300); do
    inside test -S /run/systemd/private && break
    sleep 0.1
done
state=$(inside timeout 120 systemctl is-system-running --wait 2>&1)
note "systemd (process $pid) is $state"
case $state in
running) ;;
degraded) inside systemctl --failed --no-pager ;;
*) cat "$work/boot.log"; echo "FAIL: systemd did not boot: $state"; exit 1 ;;
esac

log=/var/lib/vorma/sysroot/eventlog/Application.jsonl
unit=vorma-snmp-manager.service
socket=vorma-snmp-manager.socket
# How many events 2000 hold `text`.
count_events() { inside sh -c "grep '\"EventID\":2000' $log 2>/dev/null | grep -c -- '$1'"; }
wait_events() {  # TEXT COUNT [SECONDS]
    for i in $(seq 1 $((${3:-30} * 10))); do
        [ "$(count_events "$1")" -ge "$2" ] && return 0
        sleep 0.1
    done
    return 1
}
wait_active() {  # SECONDS
    for i in $(seq 1 $(($1 * 10))); do
        [ "$(inside systemctl is-active $unit)" = active ] && return 0
        sleep 0.1
    done
    return 1
}
property() { inside systemctl show -P "$1" $unit; }
trap_v2c() {  # ADDRESS TEXT
    inside env SNMP_PERSISTENT_DIR=/tmp/peer SNMPCONFPATH=/tmp/peer MIBS= MIBDIRS=/tmp/peer \
        snmptrap -Lf /dev/null -v 2c -c public "$1" '' 1.3.6.1.6.3.1.1.5.3 1.3.6.1.2.1.1.5.0 s "$2"
}
# Sends COUNT traps at RATE/s tagged RUN (from four loopback addresses).
stream() {  # RUN COUNT RATE
    inside /vorma-test/vorma-trapsend --count "$2" --rate "$3" --sources 4 --run "$1" \
        >"$work/send-$1.json" 2>&1
}
# The distinct sequence numbers of run RUN written, and all its events, in the log and the
# archives that it was moved aside to when it reached its size limit.
logs="${log%.jsonl}*.jsonl"
stream_written() { inside sh -c "cat $logs | grep -o 'vbench-$1-[0-9]*' | sort -u | wc -l"; }
stream_events() { inside sh -c "cat $logs | grep -c 'vbench-$1-'"; }

# ---- installed with dpkg
# The container's root is this machine's under an overlay: a state that something else left in
# /var/lib/vorma here (a manager run as root without VORMA_SYSROOT writes its default) would be
# the package's too, owned by root, and the service could not write it. The container starts
# without it (removed in the overlay's upper layer only; this machine's stays as it is).
if inside test -e /var/lib/vorma; then
    note "this machine has a /var/lib/vorma of its own; the container starts without it"
    inside rm -rf /var/lib/vorma
fi
inside dpkg -i "/vorma-test/package/$(basename "$deb")" >"$work/dpkg.log" 2>&1 ||
    { cat "$work/dpkg.log"; echo "FAIL: dpkg -i"; exit 1; }
for u in $unit $socket; do
    enabled=$(inside systemctl is-enabled $u 2>&1)
    [ "$enabled" = disabled ] || fail "$u is $enabled after the installation, want disabled"
done
[ "$(inside systemctl is-active $unit)" = inactive ] || fail "the installation started the service"

# The administrator's part: every agent listed, an SNMPv3 user; the sanitizer build's options.
config=/var/lib/vorma/install
inside sh -c "printf 'NumberOfElements=1\nIsListen001=TRUE\nDispName001=Any agent\nAddr001=(ALL)\nCommunityName001=(ALL)\n' \
    >$config/Environment/Config/SNMP_MANAGER.ini"
inside sh -c "printf -- '-e:8000000001020304 -u:unituser -a:SHA -AP:unitauth123 -x:AES -XP:unitpriv123\n' \
    >$config/Common/snmp/Config/SnmpV3Setting.txt && chgrp vorma $config/Common/snmp/Config/SnmpV3Setting.txt &&
    chmod 0640 $config/Common/snmp/Config/SnmpV3Setting.txt"
# The instrumented manager's leak check needs ptrace, which the unit's system call filter
# forbids; the other runs of the suite check leaks. ThreadSanitizer's options are the suite's.
sanitizer_options=""
[ "$sanitized" = 1 ] && sanitizer_options=ASAN_OPTIONS=detect_leaks=0
[ "$sanitized" = thread ] && sanitizer_options=TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1}
if [ -n "$sanitizer_options" ]; then
    inside mkdir -p /etc/systemd/system/$unit.d
    inside sh -c "printf '[Service]\nEnvironment=$sanitizer_options\n' >/etc/systemd/system/$unit.d/sanitizer.conf"
    inside systemctl daemon-reload
fi

# ---- enabled and started
inside systemctl enable --now $socket $unit >"$work/enable.log" 2>&1 || fail "enable --now: $(cat "$work/enable.log")"
wait_active 60 || fail "the service is not active: $(inside systemctl status --no-pager $unit)"
listening=$(inside ss -Hlun 'sport = :162' | awk '{print $4}' | sort | tr '\n' ' ')
[ "$listening" = "0.0.0.0:162 [::]:162 " ] || fail "listening on: $listening"
inside journalctl -u $unit --no-pager -o cat | grep -qx 'UDP port 162: IPv4 and IPv6 on the sockets that the service manager passed' ||
    fail "the manager did not take the socket unit's sockets: $(inside journalctl -u $unit --no-pager -o cat | tail -5)"

# ---- traps of both families and of SNMPv3
trap_v2c 127.0.0.1:162 unit-v2c-ipv4
trap_v2c '[::1]:162' unit-v2c-ipv6
inside env SNMP_PERSISTENT_DIR=/tmp/peer SNMPCONFPATH=/tmp/peer MIBS= MIBDIRS=/tmp/peer \
    snmptrap -Lf /dev/null -v 3 -e 0x8000000001020304 -u unituser -l authPriv -a SHA -A unitauth123 \
    -x AES -X unitpriv123 127.0.0.1:162 '' 1.3.6.1.6.3.1.1.5.1 1.3.6.1.2.1.1.5.0 s unit-v3
for text in unit-v2c-ipv4 unit-v2c-ipv6 unit-v3; do
    wait_events "$text" 1 || fail "the trap $text was not written"
done

# ---- the same events as journal records with fields of their own
journal_records() { inside journalctl --no-pager VORMA_EVENT_ID=2000 -o json; }
for i in $(seq 1 100); do
    [ "$(journal_records | grep -c 'unit-v')" -ge 3 ] && break
    sleep 0.1
done
journal_records >"$work/journal-2000.json"
python3 - "$work/journal-2000.json" <<'PY' || fail "the journal records of events 2000 (above): $(cat "$work/journal-2000.json")"
import json, sys
records = [json.loads(line) for line in open(sys.argv[1])]
def find(text):
    found = [r for r in records if text in r.get("MESSAGE", "")]
    assert len(found) == 1, f"{len(found)} records of {text}"
    return found[0]
# No level list is installed: every trap is a warning event.
common = {"PRIORITY": "4", "SYSLOG_IDENTIFIER": "VORMASNMPManagerService", "SYSLOG_FACILITY": "3",
          "VORMA_EVENT_ID": "2000", "VORMA_EVENT_TYPE": "2", "VORMA_CATEGORY": "0",
          "VORMA_SOURCE": "VORMASNMPManagerService", "_SYSTEMD_UNIT": "vorma-snmp-manager.service"}
cases = {"unit-v2c-ipv4": {"VORMA_AGENT_ADDRESS": "127.0.0.1", "VORMA_AGENT_COMMUNITY": "public",
                           "VORMA_SNMP_VERSION": "V2c", "VORMA_AGENT_NAME": "Any agent"},
         "unit-v2c-ipv6": {"VORMA_AGENT_ADDRESS": "::1", "VORMA_AGENT_COMMUNITY": "public",
                           "VORMA_SNMP_VERSION": "V2c", "VORMA_AGENT_NAME": "Any agent"},
         "unit-v3": {"VORMA_AGENT_ADDRESS": "127.0.0.1", "VORMA_AGENT_USER": "unituser",
                     "VORMA_SNMP_VERSION": "V3"}}
for text, own in cases.items():
    record = find(text)
    for name, value in {**common, **own}.items():
        assert record.get(name) == value, f"{text}: {name} is {record.get(name)!r}, want {value!r}"
    message = record["MESSAGE"]
    # The message is the trap text as the event log holds it, line feeds kept, no CR.
    assert "\n" in message and "\r" not in message, repr(message)
    assert record["VORMA_STRING_1"].replace("\r\n", "\n").rstrip("\n") == message, text
    assert "VORMA_AGENT_COMMUNITY" not in record or "VORMA_AGENT_USER" not in record
PY
note "a journal record of an event 2000: $(grep unit-v2c-ipv4 "$work/journal-2000.json")"

# ---- a restart during a stream of 2,000 traps/s loses nothing
stream restart 12000 2000 &
sending=$!
sleep 2
inside systemctl restart $unit || fail "systemctl restart"
wait "$sending" || fail "the sender failed: $(cat "$work/send-restart.json")"
for i in $(seq 1 600); do
    [ "$(stream_written restart)" -ge 12000 ] && break
    sleep 0.1
done
written=$(stream_written restart)
events=$(stream_events restart)
note "restart under a stream of 2,000 traps/s: sent 12000, written $written ($events events)"
[ "$written" = 12000 ] && [ "$events" = 12000 ] || fail "the restart lost traps: $written of 12000 written ($events events)"
# The journal, not rate-limited for the service, holds a record of every event.
journal_count() { inside sh -c "journalctl --no-pager VORMA_EVENT_ID=2000 -o cat | grep -c 'vbench-$1-'"; }
for i in $(seq 1 100); do
    [ "$(journal_count restart)" -ge "$events" ] && break
    sleep 0.1
done
records=$(journal_count restart)
note "journal records of the restart's stream: $records"
[ "$records" = "$events" ] || fail "the journal holds $records records of the $events events of the restart's stream"

# ---- kill -9: systemd restarts the service (RestartSec=5s); what the crash lost is measured
main=$(property MainPID)
# Only a running service is killed: a MainPID of 0 would make `kill` signal its own process
# group, the suite's.
case $main in
'' | 0 | *[!0-9]*)
    fail "the service has no main process to kill (MainPID '$main'): $(inside systemctl status --no-pager $unit | tail -5)"
    main=
    ;;
esac
stream crash 12000 2000 &
sending=$!
sleep 2
[ -n "$main" ] && inside kill -KILL "$main"
wait "$sending"
sleep 1
for i in $(seq 1 300); do
    [ "$(property MainPID)" != 0 ] && [ "$(property MainPID)" != "$main" ] &&
        [ "$(inside systemctl is-active $unit)" = active ] && break
    sleep 0.1
done
[ "$(property NRestarts)" -ge 1 ] || fail "systemd did not restart the killed service"
wait_active 30 || fail "the service is not active after the crash"
trap_v2c 127.0.0.1:162 unit-after-crash
wait_events unit-after-crash 1 || fail "no trap was written after the restart of the crash"
note "kill -9 during a stream of 2,000 traps/s: sent 12000, written $(stream_written crash)"

# ---- stopped: 1101 and exit status 0; a trap that comes meanwhile starts it again
inside systemctl stop $unit
[ "$(property Result)" = success ] || fail "the stop's result: $(property Result)"
[ "$(property ExecMainStatus)" = 0 ] || fail "the stop's exit status: $(property ExecMainStatus)"
last=$(inside sh -c "tail -n 1 $log" | grep -o '"EventID":[0-9]*')
[ "$last" = '"EventID":1101' ] || fail "the last event after the stop: $last"
[ "$(inside systemctl is-active $socket)" = active ] || fail "the socket went with the service"
trap_v2c 127.0.0.1:162 unit-wakes-it
wait_active 60 || fail "a trap to the socket did not start the service"
wait_events unit-wakes-it 1 || fail "the trap that started the service was not written"

# ---- reload: refused, the service goes on
main=$(property MainPID)
inside systemctl reload $unit >/dev/null 2>&1 && fail "systemctl reload was accepted"
[ "$(property MainPID)" = "$main" ] && [ "$(inside systemctl is-active $unit)" = active ] ||
    fail "systemctl reload stopped the service"

# ---- the loaded unit's exposure
exposure=$(inside systemd-analyze security $unit 2>/dev/null | sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
note "systemd-analyze security: $exposure"
awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 1.4) }' || fail "exposure $exposure, want 1.4 or below"

# ---- a start-up failure: the agent list cannot be read (a folder in its place)
inside systemctl stop $unit
inside systemctl reset-failed $unit
section=$config/Environment/Config/SNMP_MANAGER.ini
inside mv $section $section.kept
inside mkdir $section
inside systemctl start $unit >/dev/null 2>&1
for i in $(seq 1 600); do
    [ "$(inside systemctl is-failed $unit)" = failed ] && break
    sleep 0.1
done
# systemctl status shows the exit status; systemd's own line in the journal names it.
status=$(inside systemctl status --no-pager $unit 2>&1)
exited=$(inside journalctl -u $unit --no-pager -o cat | grep 'Main process exited' | tail -n 1)
[ "$(inside systemctl is-failed $unit)" = failed ] || fail "the unit is not failed: $status"
grep -q 'code=exited, status=6)' <<<"$status" || fail "the status does not show exit status 6: $status"
grep -q 'status=6/NOTCONFIGURED' <<<"$exited" || fail "the journal does not read 6/NOTCONFIGURED: $exited"
note "start-up failure: $(property Result): $exited"
inside rmdir $section
inside mv $section.kept $section
inside systemctl reset-failed $unit
inside systemctl start $unit
wait_active 60 || fail "the service did not start again once the agent list was back"
inside systemctl stop $socket $unit

# ---- purged (what the test added to the unit goes first: it is no file of the package)
inside rm -rf /etc/systemd/system/$unit.d
inside dpkg --purge vorma-snmp-manager >"$work/purge.log" 2>&1 || fail "dpkg --purge: $(cat "$work/purge.log")"
inside test -e /var/lib/vorma && fail "the purge left /var/lib/vorma"
inside test -e /lib/systemd/system/$unit && fail "the purge left the unit"
[ -z "$(inside find /etc/systemd/system -name 'vorma-snmp-manager.*')" ] || fail "the purge left the units enabled"
inside id vorma >/dev/null 2>&1 || fail "the purge removed the user vorma"

# A race that ended one run of the manager is restarted by systemd: its report is in the journal.
[ "$sanitized" = thread ] && inside journalctl -u $unit --no-pager -o cat | grep -q 'ThreadSanitizer' &&
    fail "ThreadSanitizer reported: $(inside journalctl -u $unit --no-pager -o cat | grep -A20 -m1 'ThreadSanitizer')"
if [ "$failures" -gt 0 ]; then
    inside journalctl --no-pager -u $unit -u $socket | tail -40
    echo "$failures check(s) failed"
    exit 1
fi
echo "systemd test: all checks passed"
