#!/usr/bin/env bash
# What the journal copy of every event costs: the manager at fixed rates with and without a
# system journal, in a private network and mount namespace with a journald of its own.
#
#   bash scripts/bench-journal.sh [--seconds S] [--no-build] [RATE...]      (default 15 s; 5000 10000 20000 40000)
#
# For each rate and each mode (no journal: the event log file only, as on a machine without
# systemd; journal: every event also a record, sent to systemd-journald's native socket) it
# sends S seconds of SNMPv2c traps with vorma-trapsend and prints: the events written to the file,
# the records in the journal, the seconds the writing took past the end of the send, and the CPU
# time per trap of the manager and of journald (user + system). journald runs standalone (not
# under systemd) on a tmpfs /run of the namespace, without rate limits, keeping the journal in
# memory (Storage=volatile). The build is build-release (Release), as for scripts/bench.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/bench-installation.sh
top=$PWD
seconds=15
build=1
rates=()
while [ $# -gt 0 ]; do
    case $1 in
        --seconds) seconds=$2; shift ;;
        --no-build) build= ;;
        -*) sed -n '2,14p' "$0"; exit 2 ;;
        *) rates+=("$1") ;;
    esac
    shift
done
[ ${#rates[@]} -gt 0 ] || rates=(5000 10000 20000 40000)
builddir=${VORMA_BENCH_BUILD_DIR:-$top/build-release}
journald=/lib/systemd/systemd-journald
[ -x "$journald" ] || { echo "bench-journal: $journald is missing (package systemd)" >&2; exit 1; }

if [ -z "${VORMA_BENCH_IN_NS:-}" ]; then
    if [ -n "$build" ]; then
        cmake -S "$top" -B "$builddir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORMA_BUILD_TESTS=OFF >/dev/null
        ninja -C "$builddir" -j2 VormaSnmpManager vorma-trapsend >/dev/null
    fi
    VORMA_BENCH_IN_NS=1 exec unshare -n -m bash "$0" --no-build --seconds "$seconds" "${rates[@]}"
fi
ip link set lo up
mount --make-rprivate /
mount -t tmpfs -o size=8g,mode=0755 tmpfs /run

manager=$builddir/service/VormaSnmpManager
sender=$builddir/bench/vorma-trapsend
work=$(mktemp -d /tmp/vorma-bench-journal.XXXXXX)
manager_pid= journald_pid=
stop() {  # PID
    [ -n "$1" ] && kill -TERM "$1" 2>/dev/null && wait "$1" 2>/dev/null
    return 0
}
cleanup() {
    stop "$manager_pid"
    stop "$journald_pid"
    rm -rf "$work"
}
trap cleanup EXIT

make_bench_installation "$work/install" "$work/sysroot"
eventlog=$VORMA_SYSROOT/eventlog/Application.jsonl
printf '[Journal]\nStorage=volatile\nRateLimitIntervalSec=0\nRuntimeMaxUse=4G\nForwardToSyslog=no\nForwardToWall=no\n' \
    >"$work/journald.conf"
mount --bind "$work/journald.conf" /etc/systemd/journald.conf

ticks() { [ -n "$1" ] && awk '{print $14 + $15}' "/proc/$1/stat" || echo 0; }
now() { date +%s.%N; }
hz=$(getconf CLK_TCK)
run_id=0

start_journald() {
    mkdir -p /run/systemd/journal
    "$journald" >"$work/journald.out" 2>&1 &
    journald_pid=$!
    for _ in $(seq 1 100); do
        [ -S /run/systemd/journal/socket ] && return 0
        sleep 0.1
    done
    echo "bench-journal: journald did not open its socket: $(cat "$work/journald.out")" >&2
    exit 1
}

start_manager() {
    "$manager" >"$work/manager.out" 2>&1 &
    manager_pid=$!
    for _ in $(seq 1 100); do
        "$sender" --count 1 --run ready >/dev/null
        sleep 0.2
        grep -q vbench-ready- "$eventlog" 2>/dev/null && return 0
    done
    echo "bench-journal: the manager did not come up: $(cat "$work/manager.out")" >&2
    exit 1
}

# One trial: prints mode, rate, sent, file events, journal records, drain s, µs/trap manager, journald.
trial() {  # MODE RATE
    local mode=$1 rate=$2 n run m0 j0 m1 j1 t_end t_done size last=-1 file journal
    n=$((rate * seconds))
    run_id=$((run_id + 1))
    run=$(printf 'j%03d' "$run_id")
    m0=$(ticks "$manager_pid") j0=$(ticks "$journald_pid")
    "$sender" --count "$n" --rate "$rate" --sources 4 --run "$run" >/dev/null
    t_end=$(now)
    while :; do  # written out once the file stops growing for 1 s
        size=$(stat -c %s "$eventlog")
        [ "$size" -eq "$last" ] && break
        last=$size t_done=$(now)
        sleep 1
    done
    if [ "$mode" = journal ]; then  # and the journal has taken what was sent to it
        last=-1
        while :; do
            journal=$(journalctl --no-pager VORMA_EVENT_ID=2000 -o cat 2>/dev/null | grep -c "vbench-$run-" || true)
            [ "$journal" -eq "$last" ] && break
            last=$journal
            sleep 1
        done
    else
        journal=-
    fi
    m1=$(ticks "$manager_pid") j1=$(ticks "$journald_pid")
    file=$(cat "$eventlog" "$(dirname "$eventlog")"/Application-*.jsonl 2>/dev/null | grep -c "vbench-$run-" || true)
    awk -v mode="$mode" -v r="$rate" -v n="$n" -v f="$file" -v j="$journal" -v te="$t_end" -v td="$t_done" \
        -v dm=$((m1 - m0)) -v dj=$((j1 - j0)) -v hz="$hz" 'BEGIN {
            d = td - te; if (d < 0) d = 0
            printf "%-8s %8d %9d %9d %9s %7.1f %9.1f %9s\n", mode, r, n, f, j, d, dm / hz / n * 1e6,
                (mode == "journal" ? sprintf("%.1f", dj / hz / n * 1e6) : "-")
        }'
}

printf '%-8s %8s %9s %9s %9s %7s %9s %9s\n' mode rate sent file journal drain_s µs_mgr µs_jrnl
start_manager
for rate in "${rates[@]}"; do trial file "$rate"; done
stop "$manager_pid"; manager_pid=
start_journald
start_manager
for rate in "${rates[@]}"; do trial journal "$rate"; done
