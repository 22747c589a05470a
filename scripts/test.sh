#!/usr/bin/env bash
# Builds everything and runs the whole test suite. Installs what it needs first (Debian 12, root).
#   BUILD_DIR    build folder (default: build)
#   SANITIZE=1   build with AddressSanitizer and UndefinedBehaviorSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh test

build_dir=${BUILD_DIR:-build}
jobs=$(nproc)
if [ "${SANITIZE:-0}" = 1 ]; then
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORMA_SANITIZE=ON \
        -DVORMA_BUILD_TESTS=ON -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
else
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORMA_BUILD_TESTS=ON \
        -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
fi
cmake --build "$build_dir" -j"$jobs"
ctest --test-dir "$build_dir" --output-on-failure -j"$jobs" --timeout 300
