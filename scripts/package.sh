#!/usr/bin/env bash
# Builds the Debian package of the manager (Debian 12, root for the dependencies):
#   bash scripts/package.sh          -> build-package/vorma-snmp-manager_<version>_amd64.deb
#   BUILD_DIR   build folder (default: build-package)
# Installs what it needs first, builds the three installed programs (Release, no tests) and runs
# CPack. Install the result with `apt install ./build-package/vorma-snmp-manager_*.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh package
build_dir=${BUILD_DIR:-build-package}
echo "package: configuring $build_dir"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORMA_BUILD_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
echo "package: building VormaSnmpManager, VormaSnmpUsmEncrypt and vorma-eventlog"
cmake --build "$build_dir" -j"$(nproc)" --target VormaSnmpManager VormaSnmpUsmEncrypt vorma-eventlog
echo "package: running CPack"
(cd "$build_dir" && cpack >cpack.log 2>&1) || { cat "$build_dir/cpack.log"; exit 1; }
deb=$(ls -t "$build_dir"/vorma-snmp-manager_*.deb | head -n 1)
echo "package: $deb"
dpkg-deb -f "$deb" Package Version Depends
