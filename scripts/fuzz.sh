#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang, in a build tree of their own) and runs each for a
# given time, starting from its seeds in fuzz/corpus/<target>. Fails when a target finds
# anything: a crash, a sanitizer report, a leak, an input slower than the time-out, or memory
# beyond the limit.
#   bash scripts/fuzz.sh [seconds-per-target]     (default: 30)
#   BUILD_DIR     build tree (default: build-fuzz)
#   FUZZ_TARGETS  the targets to run, by name (default: every folder of fuzz/corpus)
#   FUZZ_JOBS     build jobs (default: the number of processors)
# Inputs a run adds are kept in $BUILD_DIR/fuzz-work/<target>/corpus and used again by the next
# run; findings go to $BUILD_DIR/fuzz-work/<target>/findings, the output to .../fuzz.log.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
[[ "$seconds" =~ ^[0-9]+$ ]] && [ "$seconds" -gt 0 ] || {
    echo "usage: bash scripts/fuzz.sh [seconds-per-target]" >&2
    exit 2
}

bash scripts/install-deps.sh fuzz

build_dir=${BUILD_DIR:-build-fuzz}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DVORMA_FUZZ=ON -DVORMA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir" --target fuzz_all -j"${FUZZ_JOBS:-$(nproc)}"

targets=${FUZZ_TARGETS:-$(cd fuzz/corpus && ls -d */ | tr -d /)}
failed=()
for target in $targets; do
    program=$build_dir/fuzz/fuzz_$target
    [ -x "$program" ] || { echo "fuzz: no target $target" >&2; failed+=("$target"); continue; }
    work=$build_dir/fuzz-work/$target
    mkdir -p "$work/corpus" "$work/findings"
    echo "== fuzz_$target: $seconds s"
    status=0
    "$program" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$work/findings/" "$work/corpus" "fuzz/corpus/$target" \
        >"$work/fuzz.log" 2>&1 || status=$?
    # libFuzzer's last status line and its run statistics.
    grep -E '^#[0-9]+[[:space:]]+DONE' "$work/fuzz.log" | tail -n 1 || true
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$work/fuzz.log" ||
        true
    if [ "$status" -ne 0 ]; then
        echo "fuzz_$target FOUND SOMETHING (exit status $status); the end of $work/fuzz.log:" >&2
        grep -E -A 30 '^==[0-9]+==|ERROR:|runtime error|fuzzer: ' "$work/fuzz.log" | tail -n 60 >&2 ||
            tail -n 40 "$work/fuzz.log" >&2
        ls -l "$work/findings" >&2
        failed+=("$target")
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz: findings in: ${failed[*]}" >&2
    exit 1
fi
echo "fuzz: every target ran $seconds s without a finding"
