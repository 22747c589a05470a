#!/usr/bin/env bash
# Builds the Debian package of the manager (Debian 12, root for the dependencies):
#   bash scripts/package.sh          -> build-package/vorma-snmp-manager_<version>_amd64.deb
#   BUILD_DIR   build folder (default: build-package)
# Installs what it needs first, builds the three installed programs (Release with Debian's
# hardening flags, no tests), runs CPack and checks the package with lintian. Install the result with `apt install ./build-package/vorma-snmp-manager_*.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh package
build_dir=${BUILD_DIR:-build-package}
echo "package: configuring $build_dir"
# Debian's hardening flags, as dpkg-buildflags gives them to every package (all of them, with
# immediate binding).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORMA_BUILD_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $cppflags" \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $cppflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
echo "package: building VormaSnmpManager, VormaSnmpUsmEncrypt, vorma-eventlog and the manual pages"
cmake --build "$build_dir" -j"$(nproc)" --target VormaSnmpManager VormaSnmpUsmEncrypt vorma-eventlog \
    vorma_package_documents
echo "package: running CPack"
(cd "$build_dir" && cpack >cpack.log 2>&1) || { cat "$build_dir/cpack.log"; exit 1; }
deb=$(ls -t "$build_dir"/vorma-snmp-manager_*.deb | head -n 1)
echo "package: $deb"
dpkg-deb -f "$deb" Package Version Depends
echo "package: lintian"
lintian --tag-display-limit 0 --fail-on error,warning "$deb"
