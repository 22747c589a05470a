#!/usr/bin/env bash
# Builds the manager and runs it on a ready-made demo installation (Debian 12, root).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"

if [ ! -x build/service/VormaSnmpManager ]; then
    echo "demo: the libraries and tests are built; the manager program itself is not written yet,"
    echo "demo: so there is nothing to run. 'bash scripts/test.sh' runs the test suite."
    exit 0
fi
exec bash scripts/run-demo-installation.sh
