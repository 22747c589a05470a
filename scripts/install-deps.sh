#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a Debian 12 machine (run as root).
# Idempotent: installs only what is missing. Prints where the npm MIB modules are.
set -euo pipefail

DEPS_DIR=${VORMA_DEPS_DIR:-/opt/vorma-deps}
NET_SNMP_NPM_VERSION=3.29

packages=(
    build-essential cmake ninja-build pkg-config git
    libgtest-dev googletest
    libsnmp-dev snmp snmpd snmptrapd
    libssl-dev
    gsoap libgsoap-dev
    nlohmann-json3-dev
    python3 python3-pysnmp4
    nodejs npm
    locales iproute2 util-linux procps
    clang-14 libclang-rt-14-dev
)

die() { echo "install-deps: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || die "run as root (apt-get, network namespaces and port 162 need it)"
command -v apt-get >/dev/null || die "this needs a Debian machine with apt-get"

missing=()
for p in "${packages[@]}"; do
    # node and npm may come from elsewhere than Debian's packages: any working pair will do.
    if [ "$p" = nodejs ] && command -v node >/dev/null; then continue; fi
    if [ "$p" = npm ] && command -v npm >/dev/null; then continue; fi
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "install-deps: installing ${missing[*]}"
    apt-get update -qq || die "apt-get update failed"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" \
        >/dev/null || die "apt-get install failed for: ${missing[*]}"
fi

# Locales the tests read and write text in: UTF-8 and Japanese (UTF-8 and Shift-JIS).
have_locale() { locale -a 2>/dev/null | grep -qix "$1"; }
have_locale ja_JP.utf8 || localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 || die "cannot build ja_JP.UTF-8"
# localedef warns (exit 1) about the characters Shift-JIS lacks, yet builds the locale.
have_locale ja_JP.sjis || localedef -i ja_JP -f SHIFT_JIS ja_JP.SJIS >/dev/null 2>&1 || true
have_locale ja_JP.sjis ||
    echo "install-deps: note: ja_JP.SJIS could not be built; Shift-JIS tests use code page conversion"

# The npm package net-snmp: standard MIB modules (Debian ships none) and an independent SNMP peer.
if [ ! -f "$DEPS_DIR/node_modules/net-snmp/package.json" ] ||
    ! grep -q "\"version\": \"$NET_SNMP_NPM_VERSION\." "$DEPS_DIR/node_modules/net-snmp/package.json"; then
    mkdir -p "$DEPS_DIR"
    (cd "$DEPS_DIR" && npm install --no-audit --no-fund --silent "net-snmp@~$NET_SNMP_NPM_VERSION.0") \
        >/dev/null || die "npm install net-snmp failed"
fi
echo "install-deps: ready (npm modules in $DEPS_DIR/node_modules)"
