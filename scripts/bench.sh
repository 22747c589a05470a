#!/usr/bin/env bash
# Side-by-side benchmark of the manager and Debian's snmptrapd, in a private network namespace.
#
#   bash scripts/bench.sh [--quick] [--count N] [--burst N] [--v3-burst N] [--idle S] [--latency-count N]
#                         [--bisect K] [--sustain S] [--sustain-from R] [--cpu-seconds S]
#                         [--py-seconds S] [--trapd-buffer BYTES] [--keep-rmem-max]
#                         [--only manager|snmptrapd|snmptrapd-tuned] [--json FILE] [--no-build]
#
# Three receivers, one after the other on UDP port 162 of the namespace's loopback: the manager;
# snmptrapd as Debian runs it (the kernel's default receive buffer, net.core.rmem_default); and
# snmptrapd tuned as an expert would, with "[snmp] serverRecvBuf BYTES" (--trapd-buffer, default
# 32 MiB: what the manager asks for). The kernel caps that at net.core.rmem_max, which cannot be
# raised inside the namespace: unless --keep-rmem-max, the script raises it on the host to BYTES
# for the run and puts it back at the end. Each receiver's buffer, as the kernel reports it, is in
# the table. Two senders: vorma-trapsend (pre-encoded, sendmmsg, cheap) and bench/trapsend.py
# (pysnmp-encoded, one sendto per trap, as costly as most real senders). Measured:
#   idle CPU      CPU time used over --idle seconds (10) after start-up, in % of one core;
#   burst         how many of a full-speed burst of --burst (50,000) traps arrive, and how fast
#                 they were written (arrived / time from the first send to the last line); the same for
#                 --v3-burst (10,000; 0 skips it) SNMPv3 authPriv traps (SHA/AES, encrypted ahead);
#   lossless      the highest rate at which --count (100,000) traps all arrive: a ladder of rates,
#                 then --bisect (3) bisection steps between the last rate that lost nothing and the
#                 first that did;
#   lossless, python sender
#                 the same with bench/trapsend.py, --py-seconds (5) of traps per rung (0 skips it);
#   CPU per trap  the receiver's CPU time (all its threads, user + system) per trap for
#                 --cpu-seconds (10) of traps from vorma-trapsend at 1,000, 10,000 and 30,000/s,
#                 where every trap arrived ("-" where it did not keep up);
#   sustained     the highest rate that the receiver keeps up with: --sustain (60) seconds of
#                 traps at a fixed rate, every one of them written and the last no later than
#                 1 s + 10% of the sending time after the send ended (so no backlog builds up); a
#                 ladder of rates doubling from --sustain-from (5,000) (halving when that is too
#                 fast already), then --bisect steps;
#                 --sustain 0 skips it;
#   latency       (manager) p50/p99 from sending a trap to its event-log line, --latency-count
#                 (10,000) traps at 1,000/s.
# A trap "arrives" when its line is in the receiver's output: the manager's event log, the trap
# log of snmptrapd (every varbind printed, no handlers, -n). Prints one table with the ratios
# manager/tuned snmptrapd and manager/snmptrapd, and writes the same as JSON (--json, default
# build-release/bench.json).
# --quick: 20,000 traps per rung, 2 bisection steps, 5,000 latency traps, 15 s per sustained
# trial, 5 s per CPU rate (about 15 minutes; the default run takes about 45).
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
cpu_seconds=10
py_seconds=5
trapd_buffer=$((32 * 1024 * 1024))
keep_rmem_max=
rung_limit=90  # seconds a rung may take to drain before it counts as lossy
while [ $# -gt 0 ]; do
    case $1 in
        --quick) count=20000 bisect=2 latency_count=5000 sustain=15 cpu_seconds=5 ;;
        --cpu-seconds) cpu_seconds=$2; shift ;;
        --py-seconds) py_seconds=$2; shift ;;
        --trapd-buffer) trapd_buffer=$2; shift ;;
        --keep-rmem-max) keep_rmem_max=1 ;;
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
        *) sed -n '2,45p' "$0"; exit 2 ;;
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
    # The tuned snmptrapd gets the buffer it asks for only up to rmem_max, a host-wide setting.
    rmem_max=$(sysctl -n net.core.rmem_max)
    restore_rmem_max=
    if [ -z "$keep_rmem_max" ] && [ "$only" != manager ] && [ "$only" != snmptrapd ] &&
        [ "$rmem_max" -lt "$trapd_buffer" ]; then
        echo "bench: net.core.rmem_max $rmem_max -> $trapd_buffer for the run" >&2
        sysctl -q -w net.core.rmem_max="$trapd_buffer"
        restore_rmem_max=$rmem_max
    fi
    rc=0
    VORMA_BENCH_IN_NETNS=1 unshare -n bash "$0" --no-build --count "$count" --burst "$burst" --v3-burst "$v3_burst" \
        --idle "$idle" --latency-count "$latency_count" --bisect "$bisect" --json "$json" \
        --sustain "$sustain" --sustain-from "$sustain_from" --cpu-seconds "$cpu_seconds" \
        --py-seconds "$py_seconds" --trapd-buffer "$trapd_buffer" \
        ${only:+--only "$only"} || rc=$?
    if [ -n "$restore_rmem_max" ]; then
        sysctl -q -w net.core.rmem_max="$restore_rmem_max"
        echo "bench: net.core.rmem_max back to $restore_rmem_max" >&2
    fi
    exit "$rc"
fi
ip link set lo up

manager=$builddir/service/VormaSnmpManager
sender=$builddir/bench/vorma-trapsend
py_sender=$top/bench/trapsend.py
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
# The tuned one: the same, with a receive buffer as large as the manager's (up to rmem_max).
{ cat "$trapd/snmptrapd.conf"; printf '[snmp] serverRecvBuf %s\n' "$trapd_buffer"; } >"$trapd/snmptrapd-tuned.conf"

eventlog=$VORMA_SYSROOT/eventlog/Application.jsonl
traplog=$trapd/traps.log

start_manager() {
    "$manager" >"$work/manager.out" 2>&1 &
    receiver_pid=$!
    output=$eventlog
}
start_snmptrapd() { start_trapd "$trapd/snmptrapd.conf"; }
start_snmptrapd_tuned() { start_trapd "$trapd/snmptrapd-tuned.conf"; }
start_trapd() {  # CONFIG
    : >"$traplog"
    SNMP_PERSISTENT_DIR=$trapd MIBDIRS=$snmp/Mibs snmptrapd -f -n -C -c "$1" \
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
# With --python first among the extra arguments, bench/trapsend.py sends.
trial() {
    local n=$1 rate=$2 run from got last=-1 still=0 waited=0 t0 t1 send=$sender
    shift 2
    if [ "${1:-}" = --python ]; then
        send="/usr/bin/python3 $py_sender"
        shift
    fi
    next_run
    from=$(size_of "$output")
    t0=$(date +%s.%N)
    $send --count "$n" --rate "$rate" --sources 4 --run "$run" "$@" >"$work/last_send"
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
# CPU time of every thread of the process in ns (the scheduler's account, finer than ticks).
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{t += $1} END {printf "%.0f", t}'; }
# The receive buffer of the receiver's IPv4 socket on port 162, as the kernel reports it (bytes).
receive_buffer() {
    ss -uamnH 'sport = :162' 2>/dev/null | tr -d '\n' | grep -o 'rb[0-9]*' | head -1 | tr -d rb || echo null
}
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

    # The same ladder with the costlier sender, a fixed time per rung.
    py_lossless=null
    if [ "$py_seconds" -gt 0 ]; then
        good=0 bad=0
        for rate in 5000 10000 20000 30000 40000 60000 80000 100000; do
            got=$(trial $((rate * py_seconds)) "$rate" --python)
            echo "bench: $name python sender $((rate * py_seconds)) at $rate/s: $got arrived ($(cat "$work/last_send"))" >&2
            if [ "$got" -ge $((rate * py_seconds)) ]; then good=$rate; else bad=$rate; break; fi
        done
        if [ "$bad" -gt 0 ]; then
            local low=$good high=$bad k
            [ "$low" -eq 0 ] && low=1000
            for k in $(seq 1 "$bisect"); do
                mid=$(((low + high) / 2))
                got=$(trial $((mid * py_seconds)) "$mid" --python)
                echo "bench: $name python sender $((mid * py_seconds)) at $mid/s: $got arrived" >&2
                if [ "$got" -ge $((mid * py_seconds)) ]; then low=$mid good=$mid; else high=$mid; fi
            done
        fi
        py_lossless=$good
    fi

    # CPU per trap at fixed rates, where every trap arrived.
    local cpu_json="" c0 c1 n per
    for rate in 1000 10000 30000; do
        n=$((rate * cpu_seconds))
        c0=$(cpu_ns "$receiver_pid")
        got=$(trial "$n" "$rate")
        c1=$(cpu_ns "$receiver_pid")
        per=null
        [ "$got" -ge "$n" ] && per=$(awk -v d=$((c1 - c0)) -v n="$n" 'BEGIN{printf "%.1f", d / n / 1000}')
        echo "bench: $name CPU per trap at $rate/s: $per µs ($got of $n arrived)" >&2
        cpu_json+=",\"cpu_us_per_trap_$rate\":$per"
    done
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
    buffer=$(receive_buffer)
    stop_receiver
    printf '{"receive_buffer_bytes":%s,"python_lossless_rate":%s,"python_seconds":%s%s,"idle_cpu_percent":%s,"burst_sent":%s,"burst_arrived":%s,"burst_written_per_s":%s,"v3_burst_sent":%s,"v3_burst_arrived":%s,"lossless_rate":%s,"sustained_rate":%s,"sustain_seconds":%s,"traps_per_rung":%s,"latency_p50_ms":%s,"latency_p99_ms":%s}' \
        "${buffer:-null}" "$py_lossless" "$py_seconds" "$cpu_json" "$idle_cpu" "$burst" "$burst_got" "$burst_rate" "$v3_burst" "$v3_got" "$lossless" "$sustained" "$sustain" "$count" "$p50" "$p99" >"$work/$name.json"
}

# --only takes the receiver's name as the table prints it.
only=${only//-/_}
results=()
for name in manager snmptrapd snmptrapd_tuned; do
    if [ -z "$only" ] || [ "$only" = "$name" ]; then
        measure "$name"
        results+=("$(cat "$work/$name.json")")
    else
        results+=(null)
    fi
done

machine="$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1-3 /proc/loadavg)"
python3 - "$json" "$machine" "${results[@]}" <<'PY'
import datetime, json, sys
path, machine = sys.argv[1], sys.argv[2]
manager, trapd, tuned = (json.loads(a) for a in sys.argv[3:6])
# (label, key, higher is better)
rows = [
    ("sustained lossless rate (traps/s)", "sustained_rate", True),
    ("lossless rate, one run of N (traps/s)", "lossless_rate", True),
    ("lossless rate, python sender (traps/s)", "python_lossless_rate", True),
    ("burst: traps arrived", "burst_arrived", True),
    ("burst: traps written per second", "burst_written_per_s", True),
    ("SNMPv3 authPriv burst: arrived", "v3_burst_arrived", True),
    ("CPU per trap at 1,000/s (us)", "cpu_us_per_trap_1000", False),
    ("CPU per trap at 10,000/s (us)", "cpu_us_per_trap_10000", False),
    ("CPU per trap at 30,000/s (us)", "cpu_us_per_trap_30000", False),
    ("idle CPU (% of one core)", "idle_cpu_percent", False),
    ("receive buffer (bytes, as the kernel reports)", "receive_buffer_bytes", True),
    ("latency p50 to event log (ms)", "latency_p50_ms", False),
    ("latency p99 to event log (ms)", "latency_p99_ms", False),
]
def cell(r, key):
    if r is None or r.get(key) is None:
        return "-"
    return str(r[key])
def lead(peer, key, higher):
    """How many times the manager does better than the peer: rates over rates, CPU over CPU."""
    if manager is None or peer is None or manager.get(key) is None or peer.get(key) is None:
        return None
    a, b = float(manager[key]), float(peer[key])
    if higher:
        return round(a / b, 2) if b else None
    return round(b / a, 2) if a else None
when = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
print(f"\nVorma trap manager vs snmptrapd -- {when}; {machine}")
first = manager or trapd or tuned
print(f"burst {first['burst_sent']} SNMPv2c traps, {first['v3_burst_sent']} SNMPv3 authPriv traps; "
      f"{first['traps_per_rung']} traps per rung; python sender {first['python_seconds']} s per rung; "
      f"sustained: {first['sustain_seconds']} s per trial")
print("snmptrapd: Debian's defaults; tuned: with [snmp] serverRecvBuf. lead: how many times the "
      "manager does better (rates: manager/peer; CPU and latency: peer/manager)\n")
print(f"| {'measure':46} | {'manager':>10} | {'tuned':>10} | {'snmptrapd':>10} | {'lead/tuned':>10} | {'lead/default':>12} |")
print(f"|{'-'*48}|{'-'*12}|{'-'*12}|{'-'*12}|{'-'*12}|{'-'*14}|")
def show(x):
    return "-" if x is None else x
for label, key, higher in rows:
    print(f"| {label:46} | {cell(manager, key):>10} | {cell(tuned, key):>10} | {cell(trapd, key):>10} | "
          f"{show(lead(tuned, key, higher)):>10} | {show(lead(trapd, key, higher)):>12} |")
out = {"date": when, "machine": machine, "manager": manager, "snmptrapd": trapd, "snmptrapd_tuned": tuned,
       "lead_over_tuned": {key: lead(tuned, key, h) for _, key, h in rows},
       "lead_over_default": {key: lead(trapd, key, h) for _, key, h in rows}}
with open(path, "w") as f:
    json.dump(out, f, indent=2)
print(f"\nJSON: {path}")
PY
