#!/usr/bin/env bash
# Soak of the manager: a long run at a steady load, watched for growth of memory and descriptors.
#
#   bash scripts/soak.sh [MINUTES] [--rate R] [--warm-up M] [--no-build]
#
# Builds a Release tree (build-release/, or $VORMA_SOAK_BUILD_DIR), then, in a private network
# namespace, starts the manager on an installation of its own (the benchmark's: 50 listed agents
# and a wildcard, white, black and level lists, an SNMPv3 user) and:
#   1. measures the sustained lossless rate, unless --rate gives it: the highest rate at which
#      10 seconds of SNMPv2c traps from vorma-trapsend all reach the event log, the last of them
#      no later than 1 s + 10% of the sending time after the send ended (so the manager writes
#      as fast as they come and no backlog builds up); a ladder of rates, then 3 bisection steps;
#   2. sends at half that rate for MINUTES (30) minutes, one minute of traps at a time, and after
#      every minute, once that minute's traps are written, samples the manager's resident size
#      (VmRSS), its open file descriptors (/proc/PID/fd) and its CPU time, and counts the traps
#      written (the event log is moved aside and counted every minute, so that it does not fill
#      the disk);
#   3. prints one table and a verdict.
# Verdict: after the warm-up (--warm-up, 2 minutes; the sample at its end is the baseline), the
# smallest of the last three samples must not exceed the baseline, by more than max(2 MiB, 5%)
# for the resident size and at all for the descriptors; a steady leak raises every late sample,
# while one busy moment raises only one. Every trap sent must have been written. Exit status 0 when
# all holds, 1 when something grew or was lost.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/bench-installation.sh
top=$PWD

minutes=30
rate=
warmup=2
build=1
while [ $# -gt 0 ]; do
    case $1 in
        --rate) rate=$2; shift ;;
        --warm-up) warmup=$2; shift ;;
        --no-build) build= ;;
        [0-9]*) minutes=$1 ;;
        *) sed -n '2,23p' "$0"; exit 2 ;;
    esac
    shift
done
if [ "$minutes" -le "$warmup" ]; then
    echo "soak: the run ($minutes min) must be longer than the warm-up ($warmup min)" >&2
    exit 2
fi

builddir=${VORMA_SOAK_BUILD_DIR:-$top/build-release}

# Outside the namespace: build (Release), then enter a fresh network namespace.
if [ -z "${VORMA_SOAK_IN_NETNS:-}" ]; then
    if [ -n "$build" ]; then
        cmake -S "$top" -B "$builddir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORMA_BUILD_TESTS=OFF >/dev/null
        ninja -C "$builddir" -j2 VormaSnmpManager vorma-trapsend >/dev/null
    fi
    VORMA_SOAK_IN_NETNS=1 exec unshare -n bash "$0" --no-build "$minutes" --warm-up "$warmup" \
        ${rate:+--rate "$rate"}
fi
ip link set lo up

manager=$builddir/service/VormaSnmpManager
sender=$builddir/bench/vorma-trapsend
work=$(mktemp -d /tmp/vorma-soak.XXXXXX)
manager_pid=
cleanup() {
    [ -n "$manager_pid" ] && kill -TERM "$manager_pid" 2>/dev/null && wait "$manager_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# --- the installation (as the benchmark's)
make_bench_installation "$work/install" "$work/sysroot"
printf '%s\n' coldStart warmStart 'linkUp$' bgpEstablished entConfigChange '^Core switch' \
    linkDown >"$snmp/Config/FilterWhite.txt"
printf '%s\n' authenticationFailure 'ifAlias.*maintenance' test-trap-ignore '^Lab ' \
    'snmpTrapEnterprise.*99999' >"$snmp/Config/FilterBlack.txt"
printf '%s\n' '3,upsAlarmOnBattery' '1,coldStart|warmStart' '0,linkUp' '3,diskFailure' \
    '3,linkDown' '0,authenticationFailure' >"$snmp/Config/EventLevel.txt"
echo '-e:8000000001020304 -u:demouser -a:SHA -AP:demopass123 -x:AES -XP:demopass123' \
    >"$snmp/Config/SnmpV3Setting.txt"
: >"$snmp/Config/GetOIDList.txt"

eventlog=$VORMA_SYSROOT/eventlog/Application.jsonl
counts=$work/counts  # one line per written trap chunk: "RUN COUNT"
: >"$counts"

run_id=0
# Sets $run to a new run id (not in a subshell, which would forget the count).
next_run() {
    run_id=$((run_id + 1))
    run=$(printf 's%04d' "$run_id")
}

# Moves the event log aside and, in the background so that the load goes on meanwhile, adds the
# traps of the runs named ($@) that are in it to $counts once writes that opened it before have
# finished. The manager checks before every write that the path still names the file it has
# open, so it starts a new one.
chunk_id=0
counting=()
rotate() {
    [ -f "$eventlog" ] || return 0
    chunk_id=$((chunk_id + 1))
    local chunk=$work/chunk.$chunk_id
    mv "$eventlog" "$chunk"
    (
        sleep 1
        for r in "$@"; do
            echo "$r $(grep -cF -- "vbench-$r-" "$chunk" || true)" >>"$counts"
        done
        rm -f "$chunk"
    ) &
    counting+=($!)
}
written_of() { awk -v r="$1" '$1 == r {n += $2} END {print n + 0}' "$counts"; }
# Traps of run $1 written so far, without moving the log.
arrived() {
    local n
    n=$(grep -c -- "vbench-$1-" "$eventlog" 2>/dev/null || true)
    echo "${n:-0}"
}
now() { date +%s.%N; }

wait_ready() {
    local i
    for i in $(seq 1 120); do
        next_run
        "$sender" --count 1 --run "$run" >/dev/null
        sleep 0.5
        [ "$(arrived "$run")" -ge 1 ] && return 0
    done
    echo "soak: the manager did not come up" >&2
    return 1
}

"$manager" >"$work/manager.out" 2>&1 &
manager_pid=$!
wait_ready
rotate

# --- 1. the sustained lossless rate
trial_seconds=10
# Sends $1 traps/s for $trial_seconds s; true when all were written, the last within the lag.
kept_up() {
    local r=$1 n run t_end got lag_limit kept=1 last=-1
    n=$((r * trial_seconds))
    next_run
    rotate
    "$sender" --count "$n" --rate "$r" --sources 4 --run "$run" >/dev/null
    t_end=$(now)
    lag_limit=$(awk -v s="$trial_seconds" 'BEGIN{print 1 + 0.1 * s}')
    while :; do
        got=$(arrived "$run")
        if [ "$got" -ge "$n" ]; then kept=0; break; fi
        awk -v a="$t_end" -v b="$(now)" -v l="$lag_limit" 'BEGIN{exit !(b - a > l)}' && break
        sleep 0.1
    done
    echo "soak: $r/s for ${trial_seconds}s: $got of $n written within the lag" >&2
    # A backlog drains before the next trial.
    while [ "$got" -lt "$n" ] && [ "$got" -ne "$last" ]; do
        last=$got
        sleep 2
        got=$(arrived "$run")
    done
    rotate
    return "$kept"
}
if [ -z "$rate" ]; then
    good=0 bad=0
    for r in 1000 2000 4000 8000 16000 32000 64000; do
        if kept_up "$r"; then good=$r; else bad=$r; break; fi
    done
    if [ "$bad" -gt 0 ] && [ "$good" -gt 0 ]; then
        for k in 1 2 3; do
            mid=$(((good + bad) / 2))
            if kept_up "$mid"; then good=$mid; else bad=$mid; fi
        done
    fi
    rate=$good
    if [ "$rate" -eq 0 ]; then
        echo "soak: the manager does not keep up with even 1000 traps/s here" >&2
        exit 1
    fi
    echo "soak: sustained lossless rate $rate traps/s" >&2
fi
soak_rate=$((rate / 2))
per_minute=$((soak_rate * 60))

# --- 2. the soak
ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$manager_pid/stat"; }
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$manager_pid/status"; }
fd_count() { ls "/proc/$manager_pid/fd" | wc -l; }
samples=$work/samples  # minute rss fds sent cpu% load drain
# True once the last trap of run $1 (of $2) is in the event log: traps are written in the order
# sent, so all of them are then (the final count tells of any lost on the way).
last_written() {
    tail -c 8192 "$eventlog" 2>/dev/null | grep -q -- "vbench-$1-$(printf '%010d' $(($2 - 1)))"
}
: >"$samples"
echo "soak: $minutes min at $soak_rate traps/s (half of $rate), $per_minute traps a minute" >&2
sent_total=0
runs=()
for m in $(seq 1 "$minutes"); do
    next_run
    runs+=("$run")
    c0=$(cpu_ticks)
    t0=$(now)
    "$sender" --count "$per_minute" --rate "$soak_rate" --sources 4 --run "$run" >/dev/null
    sent_total=$((sent_total + per_minute))
    # Each sample is taken once the minute's traps are written (up to 60 s), so that a backlog
    # of a busy moment is not taken for growth; the wait is in the table.
    t_sent=$(now)
    for i in $(seq 1 600); do
        last_written "$run" "$per_minute" && break
        sleep 0.1
    done
    t1=$(now)
    c1=$(cpu_ticks)
    drain=$(awk -v a="$t_sent" -v b="$t1" 'BEGIN{printf "%.1f", b - a}')
    cpu=$(awk -v d=$((c1 - c0)) -v hz="$ticks" -v a="$t0" -v b="$t1" 'BEGIN{printf "%.0f", d / hz / (b - a) * 100}')
    load=$(cut -d' ' -f1 /proc/loadavg)
    echo "$m $(rss_kb) $(fd_count) $per_minute $cpu $load $drain" >>"$samples"
    rotate "${runs[@]:$((${#runs[@]} > 3 ? ${#runs[@]} - 3 : 0))}"
    echo "soak: minute $m: $(tail -1 "$samples")" >&2
done

# Wait until the last traps are written (nothing new for 3 s), then count everything.
last=-1
while :; do
    got=$(arrived "${runs[-1]}")
    [ "$got" -eq "$last" ] && break
    last=$got
    sleep 3
done
rotate "${runs[@]:$((${#runs[@]} > 3 ? ${#runs[@]} - 3 : 0))}"
wait "${counting[@]}"
written_total=0
for run in "${runs[@]}"; do written_total=$((written_total + $(written_of "$run"))); done
alive=yes
kill -0 "$manager_pid" 2>/dev/null || alive=no

# --- 3. the table and the verdict
python3 - "$samples" "$warmup" "$rate" "$soak_rate" "$sent_total" "$written_total" "$alive" \
    "$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')" <<'PY'
import sys
path, warmup, rate, soak_rate, sent, written, alive, machine = sys.argv[1:]
warmup, sent, written = int(warmup), int(sent), int(written)
rows = [line.split() for line in open(path) if line.strip()]
print(f"\nSoak: {len(rows)} min at {soak_rate} traps/s (half the sustained lossless rate {rate}/s); {machine}\n")
print("| minute | VmRSS (kB) | open fds | traps sent | last written after (s) | manager CPU (% of a core) | load avg |")
print("|-------:|-----------:|---------:|-----------:|-----------------------:|--------------------------:|---------:|")
for m, rss, fds, n, cpu, load, drain in rows:
    mark = " baseline" if int(m) == warmup else ""
    print(f"| {m:>6} | {rss:>10} | {fds:>8} | {n:>10} | {drain:>22} | {cpu:>25} | {load:>8} |{mark}")
base = next(r for r in rows if int(r[0]) == warmup)
late = rows[-3:] if len(rows) - warmup >= 3 else rows[warmup:]
base_rss, base_fds = int(base[1]), int(base[2])
late_rss = min(int(r[1]) for r in late)
late_fds = min(int(r[2]) for r in late)
tolerance = max(2048, base_rss * 5 // 100)
after = [r for r in rows if int(r[0]) >= warmup]
if len(after) >= 2:
    xs = [int(r[0]) for r in after]; ys = [int(r[1]) for r in after]
    mx, my = sum(xs) / len(xs), sum(ys) / len(ys)
    slope = sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sum((x - mx) ** 2 for x in xs)
else:
    slope = 0.0
print(f"\nresident: baseline {base_rss} kB, smallest of the last samples {late_rss} kB "
      f"(tolerance {tolerance} kB), trend {slope:+.1f} kB/min after the warm-up")
print(f"descriptors: baseline {base_fds}, smallest of the last samples {late_fds}")
print(f"traps: {sent} sent, {written} written; manager still running: {alive}")
failures = []
if late_rss > base_rss + tolerance:
    failures.append("the resident size grew")
if late_fds > base_fds:
    failures.append("the open descriptors grew")
if written < sent:
    failures.append(f"{sent - written} traps were not written")
if alive != "yes":
    failures.append("the manager ended")
print("verdict: " + ("FAIL: " + "; ".join(failures) if failures else "PASS"))
sys.exit(1 if failures else 0)
PY
