#!/usr/bin/env bash
# Side-by-side benchmark of the manager and Debian's snmptrapd, in a private network namespace.
#
#   bash scripts/bench.sh [--quick] [--count N] [--burst N] [--v3-burst N] [--idle S] [--latency-count N]
#                         [--bisect K] [--sustain S] [--sustain-from R] [--only manager|snmptrapd]
#                         [--json FILE] [--no-build]
#
# For each receiver, one after the other on UDP port 162 of the namespace's loopback:
#   idle CPU      CPU time used over --idle seconds (10) after start-up, in % of one core;
#   burst         how many of a full-speed burst of --burst (50,000) traps arrive, and how fast
#                 they were written (arrived / time from the first send to the last line); the same for
#                 --v3-burst (10,000; 0 skips it) SNMPv3 authPriv traps (SHA/AES, encrypted ahead);
#   lossless      the highest rate at which --count (100,000) traps all arrive: a ladder of rates,
#                 then --bisect (3) bisection steps between the last rate that lost nothing and the
#                 first that did;
#   sustained     the highest rate that the receiver keeps up with: --sustain (60) seconds of
#                 traps at a fixed rate, every one of them written and the last no later than
#                 1 s + 10% of the sending time after the send ended (so no backlog builds up); a
#                 ladder of rates doubling from --sustain-from (5,000) (halving when that is too
#                 fast already), then --bisect steps;
#                 --sustain 0 skips it;
#   latency       (manager) p50/p99 from sending a trap to its event-log line, --latency-count
#                 (10,000) traps at 1,000/s.
# A trap "arrives" when its line is in the receiver's output: the manager's event log, the trap
# log of snmptrapd (every varbind printed, no handlers, -n). Prints one table with the ratio
# manager/snmptrapd and writes the same as JSON (--json, default build-release/bench.json).
# --quick: 20,000 traps per rung, 2 bisection steps, 5,000 latency traps, 15 s per sustained
# trial (about 8 minutes; the default run takes about 30).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/bench-installation.sh
top=$PWD

count=100000
burst=50000
v3_burst=10000
idle=10
latency_count=10000
bisect=3
only=
json=
build=1
sustain=60
sustain_from=5000
rung_limit=90  # seconds a rung may take to drain before it counts as lossy
while [ $# -gt 0 ]; do
    case $1 in
        --quick) count=20000 bisect=2 latency_count=5000 sustain=15 ;;
        --sustain) sustain=$2; shift ;;
        --sustain-from) sustain_from=$2; shift ;;
        --count) count=$2; shift ;;
        --burst) burst=$2; shift ;;
        --v3-burst) v3_burst=$2; shift ;;
        --idle) idle=$2; shift ;;
        --latency-count) latency_count=$2; shift ;;
        --bisect) bisect=$2; shift ;;
        --only) only=$2; shift ;;
        --json) json=$2; shift ;;
        --no-build) build= ;;
        *) sed -n '2,27p' "$0"; exit 2 ;;
    esac
    shift
done

builddir=${VORMA_BENCH_BUILD_DIR:-$top/build-release}
json=${json:-$builddir/bench.json}

# Outside the namespace: build (Release), then enter a fresh network namespace.
if [ -z "${VORMA_BENCH_IN_NETNS:-}" ]; then
    if [ -n "$build" ]; then
        cmake -S "$top" -B "$builddir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORMA_BUILD_TESTS=OFF >/dev/null
        ninja -C "$builddir" -j2 VormaSnmpManager vorma-trapsend >/dev/null
    fi
    VORMA_BENCH_IN_NETNS=1 exec unshare -n bash "$0" --no-build --count "$count" --burst "$burst" --v3-burst "$v3_burst" \
        --idle "$idle" --latency-count "$latency_count" --bisect "$bisect" --json "$json" \
        --sustain "$sustain" --sustain-from "$sustain_from" \
        ${only:+--only "$only"}
fi
ip link set lo up

manager=$builddir/service/VormaSnmpManager
sender=$builddir/bench/vorma-trapsend
work=$(mktemp -d /tmp/vorma-bench.XXXXXX)
receiver_pid=
cleanup() {
    [ -n "$receiver_pid" ] && kill -TERM "$receiver_pid" 2>/dev/null && wait "$receiver_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# --- the installation: full MIB set, a wildcard and 50 listed agents, 10 white, 10 black and 20
# level patterns; the traps pass the lists and are written as events.
make_bench_installation "$work/install" "$work/sysroot"
cat >"$snmp/Config/FilterWhite.txt" <<'TXT'
coldStart
warmStart
linkUp$
ciscoConfigManEvent
bgpEstablished
ospfIfStateChange
entConfigChange
^Core switch
hrSWRunName
linkDown
TXT
cat >"$snmp/Config/FilterBlack.txt" <<'TXT'
authenticationFailure
vmwHBLost
ifAlias.*maintenance
test-trap-ignore
nsNotifyRestart
^Lab 
cpqHe3
sysName = lab
dot1dStpTopologyChange
snmpTrapEnterprise.*99999
TXT
cat >"$snmp/Config/EventLevel.txt" <<'TXT'
3,ciscoEnvMonTemperature
3,cpqHe3ThermalConfirmation
3,upsAlarmOnBattery
1,coldStart|warmStart
0,linkUp
1,bgpBackwardTransition
1,ospfNbrStateChange
3,entSensorThresholdNotification
1,dot1dStpNewRoot
0,nsNotifyShutdown
3,hrStorageFull
1,rmonRisingAlarm
1,rmonFallingAlarm
3,diskFailure
1,vrrpTrapNewMaster
3,linkDown
0,authenticationFailure
1,entConfigChange
3,powerSupplyFailure
1,fanFailure
TXT
echo '-e:8000000001020304 -u:demouser -a:SHA -AP:demopass123 -x:AES -XP:demopass123' \
    >"$snmp/Config/SnmpV3Setting.txt"
: >"$snmp/Config/GetOIDList.txt"

# --- snmptrapd: same MIBs, every trap to a file with all its varbinds, no handlers.
trapd=$work/snmptrapd
mkdir -p "$trapd"
cat >"$trapd/snmptrapd.conf" <<'TXT'
disableAuthorization yes
createUser -e 0x8000000001020304 demouser SHA demopass123 AES demopass123
TXT

eventlog=$VORMA_SYSROOT/eventlog/Application.jsonl
traplog=$trapd/traps.log

start_manager() {
    "$manager" >"$work/manager.out" 2>&1 &
    receiver_pid=$!
    output=$eventlog
}
start_snmptrapd() {
    SNMP_PERSISTENT_DIR=$trapd MIBDIRS=$snmp/Mibs snmptrapd -f -n -C -c "$trapd/snmptrapd.conf" \
        -m ALL -M "$snmp/Mibs" -Lf "$traplog" -F '%B [%b]: %N %W%v\n' \
        udp:162 udp6:162 >"$work/snmptrapd.out" 2>&1 &
    receiver_pid=$!
    output=$traplog
}
stop_receiver() {
    kill -TERM "$receiver_pid" 2>/dev/null || true
    wait "$receiver_pid" 2>/dev/null || true
    receiver_pid=
}

size_of() { stat -c %s "$1" 2>/dev/null || echo 0; }
# Lines of the receiver's output after byte `from` that carry run `run`.
arrived() { tail -c +"$(($1 + 1))" "$output" 2>/dev/null | grep -c -- "vbench-$2-" || true; }
run_id=0
# Sets `run` to a new run id (not through $(...), whose subshell would not advance the count).
next_run() { run_id=$((run_id + 1)); printf -v run 'r%04d' "$run_id"; }

# Sends `n` traps at `rate` (0: full speed) and waits until they have all arrived or nothing new
# came for a while; prints how many arrived, and leaves in $work/last_rate how many traps per
# second were written from the first send to the last line (0.5 s resolution).
trial() {
    local n=$1 rate=$2 run from got last=-1 still=0 waited=0 t0 t1
    shift 2
    next_run
    from=$(size_of "$output")
    t0=$(date +%s.%N)
    "$sender" --count "$n" --rate "$rate" --sources 4 --run "$run" "$@" >/dev/null
    while :; do
        got=$(arrived "$from" "$run")
        [ "$got" -ge "$n" ] && break
        if [ "$got" -eq "$last" ]; then still=$((still + 1)); else still=0; t1=$(date +%s.%N); fi
        [ "$still" -ge 6 ] && break   # 3 s without progress
        waited=$((waited + 1))
        [ "$waited" -ge $((rung_limit * 2)) ] && break
        last=$got
        sleep 0.5
    done
    [ "$got" -ge "$n" ] && t1=$(date +%s.%N)
    awk -v n="$got" -v a="$t0" -v b="${t1:-$t0}" 'BEGIN{d = b - a; printf "%.0f", (d > 0 ? n / d : 0)}' \
        >"$work/last_rate"
    echo "$got"
}

wait_ready() {
    local run from i
    for i in $(seq 1 60); do
        next_run
        from=$(size_of "$output")
        "$sender" --count 1 --run "$run" >/dev/null
        sleep 0.5
        [ "$(arrived "$from" "$run")" -ge 1 ] && return 0
    done
    echo "bench: the receiver did not come up" >&2
    return 1
}

# The event log's archives, when the output is the manager's event log.
moved_aside() { [ "$output" = "$eventlog" ] && ls "$(dirname "$eventlog")"/Application-*.jsonl 2>/dev/null || true; }

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
now() { date +%s.%N; }

# Sends `sustain` seconds of traps at rate $1 into an emptied output; true when every trap was
# written and the last no later than 1 s + 10% of the sending time after the send ended. Waits
# for any backlog to drain before it returns, so the next trial starts from an idle receiver.
# Both receivers append (O_APPEND), so emptying the file between trials is safe.
kept_up() {
    local r=$1 n t_end lag got size last_size=-1 kept=1 last
    n=$((r * sustain))
    next_run
    : >"$output"
    last=$(printf 'vbench-%s-%010d' "$run" $((n - 1)))
    "$sender" --count "$n" --rate "$r" --sources 4 --run "$run" >/dev/null
    t_end=$(now)
    lag=$(awk -v s="$sustain" 'BEGIN{print 1 + 0.1 * s}')
    while :; do
        if tail -c 16384 "$output" | grep -qF -- "$last"; then kept=0; break; fi
        awk -v a="$t_end" -v b="$(now)" -v l="$lag" 'BEGIN{exit !(b - a > l)}' && break
        sleep 0.1
    done
    while :; do  # drained once the output stops growing
        size=$(size_of "$output")
        [ "$size" -eq "$last_size" ] && break
        last_size=$size
        sleep 2
    done
    # A fast trial writes more than the event log's largest size (4 GiB): what was moved aside
    # counts too (the manager's archives, Application-*.jsonl, beside the log).
    got=$(cat "$output" $(moved_aside) 2>/dev/null | grep -cF -- "vbench-$run-" || true)
    [ "$got" -ge "$n" ] || kept=1
    echo "bench: $name $r/s for ${sustain}s: $got of $n written, last $([ "$kept" -eq 0 ] && echo in || echo NOT in) time" >&2
    : >"$output"
    rm -f $(moved_aside)
    return "$kept"
}

# Sets `sustained` to the highest rate kept up with (not through $(...), whose subshell would not
# advance the run count).
sustained_rate() {
    local good=0 bad=0 r k mid
    r=$sustain_from
    while [ "$r" -le 1000000 ]; do
        if kept_up "$r"; then good=$r; else bad=$r; break; fi
        r=$((r * 2))
    done
    # The first rung too fast already: halve the rate until one is kept up with.
    while [ "$good" -eq 0 ] && [ "$bad" -ge 200 ]; do
        r=$((bad / 2))
        if kept_up "$r"; then good=$r; else bad=$r; fi
    done
    if [ "$bad" -gt 0 ] && [ "$good" -gt 0 ]; then
        local low=$good high=$bad
        for k in $(seq 1 "$bisect"); do
            mid=$(((low + high) / 2))
            if kept_up "$mid"; then low=$mid good=$mid; else high=$mid; fi
        done
    fi
    sustained=$good
}

measure() {
    local name=$1 t0 t1 ticks good=0 bad=0 rate got mid burst_got p50=null p99=null lat
    "start_$name"
    wait_ready
    sleep 1
    t0=$(cpu_ticks "$receiver_pid")
    sleep "$idle"
    t1=$(cpu_ticks "$receiver_pid")
    ticks=$(getconf CLK_TCK)
    idle_cpu=$(awk -v d=$((t1 - t0)) -v hz="$ticks" -v s="$idle" 'BEGIN{printf "%.2f", d / hz / s * 100}')
    echo "bench: $name idle CPU ${idle_cpu}% of one core" >&2

    burst_got=$(trial "$burst" 0)
    burst_rate=$(cat "$work/last_rate")
    echo "bench: $name burst $burst_got of $burst, written at $burst_rate/s" >&2
    v3_got=null
    if [ "$v3_burst" -gt 0 ]; then
        v3_got=$(trial "$v3_burst" 0 --v3)
        echo "bench: $name SNMPv3 authPriv burst $v3_got of $v3_burst" >&2
    fi

    for rate in 2000 5000 10000 20000 50000 100000 200000 400000; do
        got=$(trial "$count" "$rate")
        echo "bench: $name $count at $rate/s: $got arrived" >&2
        if [ "$got" -ge "$count" ]; then good=$rate; else bad=$rate; break; fi
    done
    if [ "$bad" -gt 0 ]; then
        local low=$good high=$bad k
        [ "$low" -eq 0 ] && low=250
        for k in $(seq 1 "$bisect"); do
            mid=$(((low + high) / 2))
            got=$(trial "$count" "$mid")
            echo "bench: $name $count at $mid/s: $got arrived" >&2
            if [ "$got" -ge "$count" ]; then low=$mid good=$mid; else high=$mid; fi
        done
    fi
    lossless=$good
    sustained=null
    if [ "$sustain" -gt 0 ]; then
        sustained_rate
        echo "bench: $name sustained lossless rate $sustained/s" >&2
    fi
    if [ "$name" = manager ]; then
        next_run
        lat=$("$sender" --count "$latency_count" --rate 1000 --sources 4 --run "$run" \
            --watch "$output" --settle 3)
        p50=$(echo "$lat" | python3 -c 'import json,sys; print(json.load(sys.stdin)["p50_ms"])')
        p99=$(echo "$lat" | python3 -c 'import json,sys; print(json.load(sys.stdin)["p99_ms"])')
        echo "bench: $name latency $lat" >&2
    fi
    stop_receiver
    printf '{"idle_cpu_percent":%s,"burst_sent":%s,"burst_arrived":%s,"burst_written_per_s":%s,"v3_burst_sent":%s,"v3_burst_arrived":%s,"lossless_rate":%s,"sustained_rate":%s,"sustain_seconds":%s,"traps_per_rung":%s,"latency_p50_ms":%s,"latency_p99_ms":%s}' \
        "$idle_cpu" "$burst" "$burst_got" "$burst_rate" "$v3_burst" "$v3_got" "$lossless" "$sustained" "$sustain" "$count" "$p50" "$p99" >"$work/$name.json"
}

results_manager=null
results_trapd=null
if [ "$only" != snmptrapd ]; then measure manager; results_manager=$(cat "$work/manager.json"); fi
if [ "$only" != manager ]; then measure snmptrapd; results_trapd=$(cat "$work/snmptrapd.json"); fi

machine="$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1-3 /proc/loadavg)"
python3 - "$json" "$results_manager" "$results_trapd" "$machine" <<'PY'
import datetime, json, sys
path, manager, trapd, machine = sys.argv[1], json.loads(sys.argv[2]), json.loads(sys.argv[3]), sys.argv[4]
rows = [
    ("sustained lossless rate (traps/s)", "sustained_rate"),
    ("lossless rate, one run of N (traps/s)", "lossless_rate"),
    ("burst: traps arrived", "burst_arrived"),
    ("burst: traps written per second", "burst_written_per_s"),
    ("SNMPv3 authPriv burst: arrived", "v3_burst_arrived"),
    ("idle CPU (% of one core)", "idle_cpu_percent"),
    ("latency p50 to event log (ms)", "latency_p50_ms"),
    ("latency p99 to event log (ms)", "latency_p99_ms"),
]
def cell(r, key):
    if r is None or r.get(key) is None:
        return "-"
    return str(r[key])
def ratio(key):
    if manager is None or trapd is None or manager.get(key) is None or trapd.get(key) in (None, 0):
        return None
    return round(float(manager[key]) / float(trapd[key]), 2)
when = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
print(f"\nVorma trap manager vs snmptrapd -- {when}; {machine}")
first = manager or trapd
print(f"burst {first['burst_sent']} SNMPv2c traps, {first['v3_burst_sent']} SNMPv3 authPriv traps; "
      f"{first['traps_per_rung']} traps per rung; sustained: {first['sustain_seconds']} s per trial\n")
print(f"| {'measure':38} | {'manager':>10} | {'snmptrapd':>10} | {'ratio':>6} |")
print(f"|{'-'*40}|{'-'*12}|{'-'*12}|{'-'*8}|")
for label, key in rows:
    r = ratio(key)
    print(f"| {label:38} | {cell(manager, key):>10} | {cell(trapd, key):>10} | {('-' if r is None else r):>6} |")
out = {"date": when, "machine": machine, "manager": manager, "snmptrapd": trapd,
       "ratio": {key: ratio(key) for _, key in rows}}
with open(path, "w") as f:
    json.dump(out, f, indent=2)
print(f"\nJSON: {path}")
PY
