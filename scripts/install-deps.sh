#!/usr/bin/env bash
# Installs what a command of this repository needs on a Debian 12 machine (run as root).
#   bash scripts/install-deps.sh [GROUP...]      no group: all of them
#     build    compiler, CMake, the libraries the programs link (Net-SNMP, OpenSSL, gSOAP,
#              nlohmann-json, libsystemd)
#     demo     build, plus what the demo runs: Net-SNMP's tools and snmpd, the standard MIB
#              modules (npm package net-snmp)
#     test     demo, plus googletest, snmptrapd and pysnmp (test peers), the Japanese locales,
#              systemd (systemd-analyze, and the system the package is tested under), the Debian
#              packaging tools and lintian (the package test), and Python's prometheus_client
#              (the parser of the metrics file), rsyslog with RELP and nftables (the test of
#              several managers behind a balancer and one collector)
#     package  build, plus the Debian packaging tools, lintian and the standard MIB modules
#     fuzz     build, plus clang with libFuzzer and the standard MIB modules
# Idempotent: installs only what is missing, and shows progress while it does.
#
# Services: nothing that apt installs here is started during the installation (a policy-rc.d that
# refuses every start, unless the machine has one already). snmptrapd is only a test peer, and on
# Debian its snmptrapd.socket would hold UDP port 162 on both families at every boot, so its socket
# and its service are masked (undo with `systemctl unmask snmptrapd.socket snmptrapd.service`).
# The snmpd that the demo runs is its own; the system's snmpd.service, when this script installed
# it, is disabled; so is the system's rsyslog.service when this script installed rsyslog (the test of
# several managers runs rsyslogd only in namespaces of its own).
set -euo pipefail

DEPS_DIR=${VORMA_DEPS_DIR:-/opt/vorma-deps}
NET_SNMP_NPM_VERSION=3.29

build_packages=(build-essential cmake ninja-build pkg-config
    libsnmp-dev libssl-dev gsoap libgsoap-dev nlohmann-json3-dev libsystemd-dev)
demo_packages=(snmp snmpd nodejs npm)
test_packages=(libgtest-dev googletest snmptrapd python3 python3-pysnmp4 python3-prometheus-client
    locales iproute2 util-linux procps systemd dpkg-dev fakeroot file lintian man-db groff-base
    rsyslog rsyslog-relp nftables)
package_packages=(dpkg-dev fakeroot file lintian man-db groff-base nodejs npm)
fuzz_packages=(clang-14 libclang-rt-14-dev nodejs npm)

die() { echo "install-deps: $*" >&2; exit 1; }
say() { echo "install-deps: $*"; }

groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(build demo test package fuzz)
packages=()
want_mibs=0
want_locales=0
for group in "${groups[@]}"; do
    case $group in
        build) packages+=("${build_packages[@]}") ;;
        demo) packages+=("${build_packages[@]}" "${demo_packages[@]}"); want_mibs=1 ;;
        test)
            packages+=("${build_packages[@]}" "${demo_packages[@]}" "${test_packages[@]}")
            want_mibs=1 want_locales=1 ;;
        package) packages+=("${build_packages[@]}" "${package_packages[@]}"); want_mibs=1 ;;
        fuzz) packages+=("${build_packages[@]}" "${fuzz_packages[@]}"); want_mibs=1 ;;
        *) die "unknown group '$group' (build, demo, test, package, fuzz)" ;;
    esac
done

[ "$(id -u)" -eq 0 ] || die "run as root (apt-get, network namespaces and port 162 need it)"
command -v apt-get >/dev/null || die "this needs a Debian machine with apt-get"

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
    # node and npm may come from elsewhere than Debian's packages: any working pair will do.
    if [ "$p" = nodejs ] && command -v node >/dev/null; then continue; fi
    if [ "$p" = npm ] && command -v npm >/dev/null; then continue; fi
    installed "$p" || missing+=("$p")
done

snmpd_was_installed=0
installed snmpd && snmpd_was_installed=1
rsyslog_was_installed=0
installed rsyslog && rsyslog_was_installed=1

# snmptrapd must never hold port 162: its units are masked before the package can start them.
if printf '%s\n' "${missing[@]}" | grep -qx snmptrapd || installed snmptrapd; then
    for unit in snmptrapd.socket snmptrapd.service; do
        if [ "$(readlink "/etc/systemd/system/$unit" 2>/dev/null)" != /dev/null ]; then
            if [ -d /run/systemd/system ] && systemctl is-active --quiet "$unit"; then
                systemctl stop "$unit" && say "stopped $unit (it held UDP port 162)"
            fi
            systemctl mask --quiet "$unit" 2>/dev/null || ln -sf /dev/null "/etc/systemd/system/$unit"
            say "masked $unit: Debian's snmptrapd is a test peer here and must not take UDP port 162"
        fi
    done
fi

if [ ${#missing[@]} -gt 0 ]; then
    say "installing ${missing[*]}"
    # Nothing starts during the installation; a policy the machine has already is kept.
    own_policy=
    if [ ! -e /usr/sbin/policy-rc.d ]; then
        own_policy=/usr/sbin/policy-rc.d
        printf '#!/bin/sh\n# install-deps.sh: no service starts while it installs.\nexit 101\n' \
            >"$own_policy"
        chmod 755 "$own_policy"
        trap 'rm -f "$own_policy"' EXIT
    fi
    say "apt-get update"
    apt-get update -qq || die "apt-get update failed"
    # Progress: one line per package fetched, unpacked and set up; the whole output in a log.
    log=$(mktemp /tmp/install-deps.XXXXXX.log)
    if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        "${missing[@]}" 2>&1 | tee "$log" |
        { grep --line-buffered -E '^(Get:|Unpacking|Setting up)' || true; } | sed -u 's/^/    /'; then
        tail -n 20 "$log" >&2
        die "apt-get install failed for: ${missing[*]} (output in $log)"
    fi
    rm -f "$log"
    for p in "${missing[@]}"; do installed "$p" || die "apt-get did not install $p"; done
    if [ -n "$own_policy" ]; then
        rm -f "$own_policy"
        trap - EXIT
    fi
    if [ "$snmpd_was_installed" = 0 ] && installed snmpd; then
        systemctl disable --quiet snmpd.service 2>/dev/null || true
        say "disabled the system's snmpd.service (the demo runs an snmpd of its own)"
    fi
    if [ "$rsyslog_was_installed" = 0 ] && installed rsyslog; then
        systemctl disable --quiet rsyslog.service 2>/dev/null || true
        say "disabled the system's rsyslog.service (the deployment test runs rsyslogd in namespaces of its own)"
    fi
fi

if [ "$want_locales" = 1 ]; then
    # Locales the tests read and write text in: UTF-8 and Japanese (UTF-8 and Shift-JIS).
    have_locale() { locale -a 2>/dev/null | grep -qix "$1"; }
    if ! have_locale ja_JP.utf8; then
        say "building the locale ja_JP.UTF-8"
        localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 || die "cannot build ja_JP.UTF-8"
    fi
    # localedef warns (exit 1) about the characters Shift-JIS lacks, yet builds the locale.
    have_locale ja_JP.sjis || localedef -i ja_JP -f SHIFT_JIS ja_JP.SJIS >/dev/null 2>&1 || true
    have_locale ja_JP.sjis || say "note: ja_JP.SJIS could not be built; Shift-JIS tests use code page conversion"
fi

# The npm package net-snmp: standard MIB modules (Debian ships none) and an independent SNMP peer.
if [ "$want_mibs" = 1 ]; then
    if [ ! -f "$DEPS_DIR/node_modules/net-snmp/package.json" ] ||
        ! grep -q "\"version\": \"$NET_SNMP_NPM_VERSION\." "$DEPS_DIR/node_modules/net-snmp/package.json"; then
        say "installing the npm package net-snmp $NET_SNMP_NPM_VERSION into $DEPS_DIR"
        mkdir -p "$DEPS_DIR"
        (cd "$DEPS_DIR" && npm install --no-audit --no-fund --silent "net-snmp@~$NET_SNMP_NPM_VERSION.0") \
            >/dev/null || die "npm install net-snmp failed"
    fi
    say "ready: ${groups[*]} (MIB modules in $DEPS_DIR/node_modules/net-snmp/lib/mibs)"
else
    say "ready: ${groups[*]}"
fi
