#!/usr/bin/env bash
# Several managers behind the kernel's balancer, shipping their events to one collector through
# rsyslog, with the deployment files of deploy/ as an operator installs them. Everything runs in
# namespaces that the test makes itself (network namespaces; the hosts' own mount and UTS
# namespaces with private tmpfs on /run, /tmp, /var/tmp and rsyslog's work directory), so no
# address, rule or daemon of it exists outside them:
#
#   agents     30 IPv4 agent addresses 10.20.0.1-30 and one IPv6 agent, routed to the balancer's
#              shared address;
#   balancer   deploy/nftables/vorma-balancer.nft as it is (3 managers): DNAT of the shared
#              address, UDP 162, to a manager chosen by a hash of the agent's address; forwarding
#              on in this namespace only;
#   manager    three hosts, each with its own systemd-journald (run on its own, rate limits off),
#   hosts      its rsyslogd with deploy/rsyslog/vorma-manager-host.conf (imjournal, omrelp with a
#              disk-assisted queue) and the manager (agent list: the 31 agents);
#   collector  rsyslogd with deploy/rsyslog/vorma-collector.conf (imrelp, one JSON line per
#              record).
#
# Checks:
#   - an SNMPv2c inform over IPv4 and one over IPv6 are answered through the balancer (the answer
#     comes from the shared address), and their events reach the collector with every field of
#     the manager's journal record (the trap text's line feeds kept) and the sending host;
#   - round 1: 30,000 SNMPv2c traps at 1,000/s from the 30 agents: at the collector every trap
#     exactly once, each naming its sender's address, each agent's in the order sent and all
#     through one manager, all three managers used;
#   - round 2: the same while the collector's rsyslogd is stopped (SIGTERM) mid-stream and started
#     again a few seconds later;
#   - the managers ran throughout and stop cleanly (exit status 0).
# It prints the figures: traps sent, received, per manager, duplicates, times.
#
#   bash beyond_test.sh BUILD_DIR WORK_DIR      (exit 77: skipped, with the reason)
set -euo pipefail

self=$(realpath "$0")
src=$(cd "$(dirname "$self")/../.." && pwd)

# ---- inside a namespace: hold it (and, for a host, its mounts) until told to stop or until the
# test ends, then stop the daemons started in it.
# PIDs are this machine's and are reused: a recorded PID is signalled only while it still names a
# process in the network namespace `want` says (same: this one's; other: not this one's).
in_netns() {  # PID same|other
    local theirs ours
    theirs=$(readlink "/proc/$1/ns/net" 2>/dev/null) || return 1
    ours=$(readlink /proc/self/ns/net)
    if [ "$2" = same ]; then [ "$theirs" = "$ours" ]; else [ "$theirs" != "$ours" ]; fi
}
stop_daemons() {
    local dir=$1 name pid i
    for name in manager rsyslogd journald; do
        pid=$(cat "$dir/$name.pid" 2>/dev/null) || continue
        in_netns "$pid" same || continue
        kill -TERM "$pid" 2>/dev/null || continue
        for i in $(seq 1 100); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.2
        done
        if kill -KILL "$pid" 2>/dev/null; then
            echo "$name ($pid) did not stop within 20 s of SIGTERM: killed"
        else
            echo "$name ($pid) stopped in about $(awk -v i="$i" 'BEGIN { print (i - 1) * 0.2 }') s"
        fi
    done
}
if [ "${1:-}" = --hold ]; then
    role=$2 dir=$3 outer=$4
    shift 4
    keep=("$@")  # folders of the test (checkout, build, work) that must stay in sight
    # This machine's /sys, and what is mounted below it, read-only in here.
    awk '$2 == "/sys" || $2 ~ "^/sys/" { print $2 }' /proc/self/mounts | while read -r m; do
        mount -o remount,bind,ro "$m" 2>/dev/null || true
    done
    if [ "$role" = host ]; then
        # Its own tmpfs where its daemons write. The test's own folders may lie below one of them
        # (a checkout in /tmp): each is kept aside on a private tmpfs on /mnt and put back at its
        # place on the new tmpfs.
        private=(/run /tmp /var/tmp /var/spool/rsyslog)
        below_private() {
            local p
            for p in "${private[@]}"; do case $1/ in "$p"/*) return 0 ;; esac; done
            return 1
        }
        mount -t tmpfs -o mode=0700 tmpfs /mnt
        kept=()
        for k in "${keep[@]}"; do
            below_private "$k" || continue
            inside=no
            for c in "${kept[@]}"; do case $k/ in "$c"/*) inside=yes ;; esac; done
            [ $inside = yes ] && continue
            mkdir "/mnt/${#kept[@]}"
            mount --bind "$k" "/mnt/${#kept[@]}"
            kept+=("$k")
        done
        for d in "${private[@]}"; do
            mount -t tmpfs -o mode=0755 tmpfs "$d"
        done
        for i in "${!kept[@]}"; do
            mkdir -p "${kept[$i]}"
            mount --bind "/mnt/$i" "${kept[$i]}"
            umount "/mnt/$i"
        done
        umount /mnt
        # journald and imjournal would find this machine's persistent journal there.
        if [ -d /var/log/journal ]; then mount -t tmpfs -o mode=0755 tmpfs /var/log/journal; fi
        mount --bind "$dir/etc/hosts" /etc/hosts
        mount --bind "$dir/etc/resolv.conf" /etc/resolv.conf
        [ -f "$dir/etc/journald.conf" ] &&
            mount --bind "$dir/etc/journald.conf" /etc/systemd/journald.conf
        if [ -d "$dir/log" ]; then
            mount -t tmpfs -o mode=0755 tmpfs /var/log
            mkdir /var/log/vorma
            mount --bind "$dir/log" /var/log/vorma
        fi
        hostname "$(cat "$dir/etc/hostname")"
    fi
    trap 'stop_daemons "$dir"' EXIT
    echo $$ >"$dir/holder.pid"
    while kill -0 "$outer" 2>/dev/null && [ ! -e "$dir/stop" ]; do sleep 0.5; done
    exit 0
fi

build=$(realpath "$1")
work=$2
skip() { echo "SKIP: $*"; exit 77; }
note() { echo "beyond test: $*"; }

[ "$(id -u)" -eq 0 ] || skip "needs root (namespaces, nftables, port 162)"
for tool in rsyslogd nft unshare ip nsenter; do
    command -v "$tool" >/dev/null || skip "$tool is missing"
done
[ -x /lib/systemd/systemd-journald ] || skip "systemd-journald is missing (/lib/systemd/systemd-journald)"
[ -x /usr/bin/python3 ] || skip "python3 is missing (/usr/bin/python3)"
moddir=$(dirname "$(find /usr/lib /lib -path '*/rsyslog/imjournal.so' -print -quit 2>/dev/null)")
for module in imjournal omrelp imrelp mmjsonparse; do
    [ -f "$moddir/$module.so" ] ||
        skip "the rsyslog module $module is missing (packages rsyslog, rsyslog-relp)"
done
[ -d /var/spool/rsyslog ] || skip "rsyslog's work directory /var/spool/rsyslog is missing (package rsyslog)"
unshare --net --mount --uts --propagation private true 2>/dev/null ||
    skip "no private network, mount and UTS namespaces here"
manager=$build/service/VormaSnmpManager
[ -x "$manager" ] || { echo "FAIL: no manager at $manager"; exit 1; }

rm -rf "$work"
mkdir -p "$work"
work=$(realpath "$work")
traffic=(/usr/bin/python3 "$src/tests/linux/beyond_traffic.py")
tag=t$$
shared4=192.0.2.162
shared6=2001:db8::162
agents=30
count=${BEYOND_COUNT:-30000}
rate=${BEYOND_RATE:-1000}
hosts=(vorma-mgr-1 vorma-mgr-2 vorma-mgr-3)

# ---- the namespaces: one holder process each
dirs=()
nspid() { cat "$work/$1/holder.pid"; }
start_holder() {
    local name=$1 role=$2
    mkdir -p "$work/$name"
    dirs+=("$work/$name")
    unshare --net --mount --uts --propagation private bash "$self" --hold "$role" "$work/$name" $$ \
        "$src" "$build" "$work" \
        >"$work/$name/holder.out" 2>&1 &
}
# Stops the holders of the directories given (each stops its daemons) and waits for them.
stop_holders() {
    local d p i alive
    for d in "$@"; do if [ -d "$d" ]; then touch "$d/stop"; fi; done
    for i in $(seq 1 300); do
        alive=0
        for d in "$@"; do
            p=$(cat "$d/holder.pid" 2>/dev/null) || continue
            kill -0 "$p" 2>/dev/null && alive=1
        done
        [ "$alive" = 0 ] && return 0
        sleep 0.2
    done
}
cleanup() {
    local rc=$? d p
    # The manager hosts first, while the collector still takes what they send; then the rest.
    stop_holders "$work"/m[123]
    stop_holders "${dirs[@]}"
    for d in "${dirs[@]}"; do
        for p in "$d"/*.pid; do
            [ -f "$p" ] || continue
            p=$(cat "$p")
            # Only what still runs in one of the test's namespaces, named as the test's daemons.
            if in_netns "$p" other &&
                grep -qaE "$work|rsyslogd|systemd-journald|VormaSnmpManager" "/proc/$p/cmdline" 2>/dev/null; then
                kill -KILL "$p" 2>/dev/null || true
            fi
        done
    done
    if [ "$rc" = 0 ]; then rm -rf "$work"; else echo "beyond test: its files are kept in $work"; fi
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

host_dir() {
    local dir=$work/$1 name=$2
    mkdir -p "$dir/etc"
    echo "$name" >"$dir/etc/hostname"
    : >"$dir/etc/resolv.conf"
    {
        printf '127.0.0.1 localhost\n::1 localhost\n127.0.1.1 %s\n' "$name"
        printf '198.51.100.100 vorma-collector.example.net\n'
        printf '198.51.100.1%d %s\n' 1 "${hosts[0]}" 2 "${hosts[1]}" 3 "${hosts[2]}"
    } >"$dir/etc/hosts"
}
for i in 1 2 3; do
    host_dir "m$i" "${hosts[$((i - 1))]}"
    # Rate limits off, the journal in /run only, nothing read from the kernel's log.
    printf '[Journal]\nStorage=volatile\nRateLimitIntervalSec=0\nReadKMSG=no\nForwardToSyslog=no\nForwardToWall=no\n' \
        >"$work/m$i/etc/journald.conf"
done
host_dir col vorma-collector
mkdir -p "$work/col/log"
start_holder bal net
start_holder agents net
for i in 1 2 3; do start_holder "m$i" host; done
start_holder col host
for d in "${dirs[@]}"; do
    for i in $(seq 1 100); do [ -s "$d/holder.pid" ] && break; sleep 0.1; done
    [ -s "$d/holder.pid" ] || { cat "$d/holder.out"; echo "FAIL: no namespace for $d"; exit 1; }
done
in_ns() { local ns=$1; shift; nsenter -t "$(nspid "$ns")" -n -m -u -- "$@"; }
# The same in the background; $! is then the process itself (nsenter becomes it).
in_ns_bg() {
    local ns=$1 out=$2
    shift 2
    nsenter -t "$(nspid "$ns")" -n -m -u -- "$@" >>"$out" 2>&1 &
}

# ---- the network: agents - balancer - bridge with the managers and the collector
bal() { in_ns bal "$@"; }
bal ip link set lo up
bal ip link add agents type veth peer name eth0 netns "$(nspid agents)"
bal ip link add br0 type bridge
for peer in m1 m2 m3 col; do
    bal ip link add "$peer" type veth peer name eth0 netns "$(nspid "$peer")"
    bal ip link set "$peer" master br0 up
done
bal ip link set br0 up
bal ip link set agents up
bal ip addr add 10.20.0.254/24 dev agents
bal ip addr add 2001:db8:20::fe/64 dev agents nodad
bal ip addr add 198.51.100.1/24 dev br0
bal ip addr add 2001:db8:51::1/64 dev br0 nodad
bal ip addr add "$shared4/32" dev lo
bal ip addr add "$shared6/128" dev lo nodad
bal sysctl -qw net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1
bal nft -f "$src/deploy/nftables/vorma-balancer.nft"

in_ns agents ip link set lo up
in_ns agents ip link set eth0 up
for i in $(seq 1 "$agents"); do in_ns agents ip addr add "10.20.0.$i/24" dev eth0; done
in_ns agents ip addr add 2001:db8:20::1/64 dev eth0 nodad
in_ns agents ip route add "$shared4/32" via 10.20.0.254
in_ns agents ip -6 route add "$shared6/128" via 2001:db8:20::fe

for i in 1 2 3; do
    in_ns "m$i" ip link set lo up
    in_ns "m$i" ip link set eth0 up
    in_ns "m$i" ip addr add "198.51.100.1$i/24" dev eth0
    in_ns "m$i" ip addr add "2001:db8:51::1$i/64" dev eth0 nodad
    # The way back to the agents is the balancer: its connection tracking answers from the
    # shared address.
    in_ns "m$i" ip route add default via 198.51.100.1
    in_ns "m$i" ip -6 route add default via 2001:db8:51::1
done
in_ns col ip link set lo up
in_ns col ip link set eth0 up
in_ns col ip addr add 198.51.100.100/24 dev eth0

# ---- the collector
events=$work/col/log/events.jsonl
printf 'global(workDirectory="/var/spool/rsyslog" maxMessageSize="256k")\ninclude(file="%s")\n*.* action(type="omfile" file="%s")\n' \
    "$src/deploy/rsyslog/vorma-collector.conf" "$work/col/rsyslogd-internal.log" >"$work/col/rsyslog.conf"
collector_pid=
start_collector() {
    in_ns_bg col "$work/col/rsyslogd.out" \
        rsyslogd -n -f "$work/col/rsyslog.conf" -i "$work/col/rsyslogd.pid"
    collector_pid=$!
}
start_collector

# ---- the manager hosts: journald, rsyslogd, the manager
# shellcheck source=scripts/bench-installation.sh
source "$src/scripts/bench-installation.sh"
manager_pids=()
for i in 1 2 3; do
    dir=$work/m$i
    (
        make_bench_installation "$dir/install" "$dir/sysroot"
        echo linkDown >"$snmp/Config/FilterWhite.txt"
        for f in FilterBlack EventLevel SnmpV3Setting GetOIDList; do : >"$snmp/Config/$f.txt"; done
        # The agents, and no wildcard: the manager must see each trap's real source address.
        {
            echo "NumberOfElements=$((agents + 1))"
            for a in $(seq 1 "$agents"); do
                n=$(printf '%03d' "$a")
                printf 'IsListen%s=TRUE\nDispName%s=Agent %d\nAddr%s=10.20.0.%d\nCommunityName%s=public\n' \
                    "$n" "$n" "$a" "$n" "$a" "$n"
            done
            n=$(printf '%03d' $((agents + 1)))
            printf 'IsListen%s=TRUE\nDispName%s=IPv6 agent\nAddr%s=2001:db8:20::1\nCommunityName%s=public\n' \
                "$n" "$n" "$n" "$n"
        } >"$dir/install/Environment/Config/SNMP_MANAGER.ini"
    )
    in_ns_bg "m$i" "$dir/journald.out" /lib/systemd/systemd-journald </dev/null
    echo $! >"$dir/journald.pid"
    for _ in $(seq 1 100); do
        in_ns "m$i" test -S /run/systemd/journal/socket && break
        sleep 0.1
    done
    in_ns "m$i" test -S /run/systemd/journal/socket ||
        { cat "$dir/journald.out"; echo "FAIL: journald of m$i made no /run/systemd/journal/socket"; exit 1; }
    printf 'global(workDirectory="/var/spool/rsyslog" maxMessageSize="256k")\ninclude(file="%s")\n*.* action(type="omfile" file="%s")\n' \
        "$src/deploy/rsyslog/vorma-manager-host.conf" "$dir/rsyslogd-internal.log" >"$dir/rsyslog.conf"
    in_ns_bg "m$i" "$dir/rsyslogd.out" rsyslogd -n -f "$dir/rsyslog.conf" -i "$dir/rsyslogd.pid"
    in_ns_bg "m$i" "$dir/manager.out" env VORMA_SYSROOT="$dir/sysroot" "$manager"
    manager_pids+=($!)
    echo $! >"$dir/manager.pid"
done
for i in 1 2 3; do
    status=$work/m$i/sysroot/services/VORMASNMPManageService.json
    for _ in $(seq 1 300); do
        grep -q '"Counters"' "$status" 2>/dev/null && break
        sleep 0.1
    done
    grep -q '"Counters"' "$status" 2>/dev/null ||
        { cat "$work/m$i/manager.out"; echo "FAIL: manager $i does not listen"; exit 1; }
done
note "3 manager hosts (${hosts[*]}), the collector and the balancer are up"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
collected() {
    local n
    n=$(grep -c -- "beyond-$tag-$1" "$events" 2>/dev/null) || true
    echo "${n:-0}"
}
# Waits until the collector holds N lines of traps with the marker prefix, or nothing new came
# for 30 s; sets `last_at` to the time of the last progress.
wait_collected() {
    local prefix=$1 n=$2 got last=-1 still=0
    last_at=$(date +%s.%N)
    while :; do
        got=$(collected "$prefix")
        [ "$got" -ge "$n" ] && { last_at=$(date +%s.%N); break; }
        if [ "$got" = "$last" ]; then still=$((still + 1)); else still=0; last_at=$(date +%s.%N); fi
        [ "$still" -ge 60 ] && break
        last=$got
        sleep 0.5
    done
}

# ---- informs through the balancer, IPv4 and IPv6, answered from the shared address
for family in 4 6; do
    if [ "$family" = 4 ]; then from=10.20.0.1 to=$shared4; else from=2001:db8:20::1 to=$shared6; fi
    if ! in_ns agents "${traffic[@]}" inform --source "$from" --target "$to" \
        --marker "beyond-$tag-inform$family"; then
        fail "the IPv$family inform was not answered from the shared address"
    fi
done
wait_collected inform 2
for family in 4 6; do
    if [ "$family" = 4 ]; then from=10.20.0.1 name="Agent 1"; else from=2001:db8:20::1 name="IPv6 agent"; fi
    "${traffic[@]}" fields --events "$events" --marker "beyond-$tag-inform$family" \
        --address "$from" --agent-name "$name" || fail "the IPv$family inform's record at the collector"
done

# Seconds from $1 to $2 (date +%s.%N), to a tenth.
span() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }

# ---- round 1: a steady stream; round 2: the same with the collector restarted in the middle
round() {
    local r=$1 restart=$2 sender t0 t1 down_at stopped_at up_at held
    t0=$(date +%s.%N)
    in_ns agents "${traffic[@]}" send --target "$shared4" --agents "$agents" --count "$count" \
        --rate "$rate" --tag "$tag-$r" >"$work/send-$r.json" &
    sender=$!
    if [ "$restart" = 1 ]; then
        sleep "$(awk -v n="$count" -v r="$rate" 'BEGIN { print n / r / 3 }')"
        down_at=$(date +%s.%N)
        kill -TERM "$collector_pid"
        wait "$collector_pid" || true
        stopped_at=$(date +%s.%N)
        held=$(collected "$r-")
        sleep 3
        start_collector
        up_at=$(date +%s.%N)
        note "round $r: the collector's rsyslogd stopped $(span "$t0" "$down_at") s into the stream (in $(span "$down_at" "$stopped_at") s, holding $held of the round's traps), down for $(span "$down_at" "$up_at") s"
        # Else the restart did not fall into the stream and the round shows nothing.
        if [ "$held" -eq 0 ] || [ "$held" -ge "$count" ]; then
            fail "round $r: the collector held $held of $count traps when it stopped"
        fi
    fi
    wait "$sender" || fail "round $r: the sender failed"
    t1=$(date +%s.%N)
    wait_collected "$r-" "$count"
    note "round $r: sent $(cat "$work/send-$r.json"); the last at the collector $(span "$t1" "$last_at") s after the send ended"
    "${traffic[@]}" check --events "$events" --tag "$tag-$r" --count "$count" --hosts "${hosts[@]}" ||
        fail "round $r"
}
round r1 0
round r2 1

# ---- the managers ran throughout and stop cleanly
for i in 1 2 3; do
    pid=${manager_pids[$((i - 1))]}
    if ! kill -0 "$pid" 2>/dev/null; then
        fail "manager $i ended during the test"
        continue
    fi
    kill -TERM "$pid"
    rc=0
    wait "$pid" || rc=$?
    [ "$rc" = 0 ] || { tail -n 20 "$work/m$i/manager.out"; fail "manager $i stopped with $rc"; }
done

if [ "$failures" -gt 0 ]; then
    for d in "${dirs[@]}"; do
        for f in "$d"/*.out "$d"/*-internal.log; do
            [ -s "$f" ] && { echo "--- $f"; tail -n 15 "$f"; }
        done
    done
    exit 1
fi
note "passed"
