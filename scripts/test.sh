#!/usr/bin/env bash
# Builds everything and runs the whole test suite. Installs what it needs first (Debian 12, root).
#   BUILD_DIR         build folder (default: build)
#   SANITIZE=1        build with AddressSanitizer and UndefinedBehaviorSanitizer
#   SANITIZE=thread   build with ThreadSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh test

build_dir=${BUILD_DIR:-build}
jobs=$(nproc)
runner=()
case "${SANITIZE:-0}" in
1)
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORMA_SANITIZE=ON \
        -DVORMA_BUILD_TESTS=ON -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
    ;;
thread)
    # Optimised: ThreadSanitizer's documentation asks for -O1 or more for a reasonable speed.
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORMA_SANITIZE=thread \
        -DVORMA_BUILD_TESTS=ON -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
    # The first report ends the process (a test's child included), with both stacks of a lock
    # order inversion.
    export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
    ;;
*)
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORMA_BUILD_TESTS=ON \
        -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
    ;;
esac
cmake --build "$build_dir" -j"$jobs"
if [ "${SANITIZE:-0}" = thread ]; then
    # ThreadSanitizer's runtime needs its program below the address ranges of its shadow memory;
    # on a kernel that places programs more randomly (vm.mmap_rnd_bits above 28) it cannot start
    # ("unexpected memory mapping"), and the suite runs with address randomization off instead.
    probe=("$build_dir/platform/platform_tests" --gtest_list_tests)
    if ! "${probe[@]}" >/dev/null 2>"$build_dir/tsan-probe.log"; then
        if setarch "$(uname -m)" -R "${probe[@]}" >/dev/null 2>&1; then
            echo "ThreadSanitizer needs address randomization off here: the suite runs under setarch -R"
            runner=(setarch "$(uname -m)" -R)
        else
            cat "$build_dir/tsan-probe.log" >&2
            exit 1
        fi
    fi
fi
"${runner[@]}" ctest --test-dir "$build_dir" --output-on-failure -j"$jobs" --timeout 300
