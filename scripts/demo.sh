#!/usr/bin/env bash
# Builds the manager and the event-log viewer and runs the manager on a ready-made demo
# installation (Debian 12, root). Installs only what the demo needs (scripts/install-deps.sh demo).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh demo
echo "demo: configuring build/"
if [ -f build/CMakeCache.txt ]; then
    cmake -S . -B build >/dev/null
else
    # The demo needs no tests (nor googletest); scripts/test.sh turns them on in the same tree.
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORMA_BUILD_TESTS=OFF >/dev/null
fi
echo "demo: building VormaSnmpManager and vorma-eventlog"
cmake --build build -j"$(nproc)" --target VormaSnmpManager vorma-eventlog
exec bash scripts/run-demo-installation.sh
