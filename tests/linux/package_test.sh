#!/usr/bin/env bash
# The Debian package, built from the build tree and installed into a scratch root with its
# maintainer scripts (dpkg --root, the scripts run chrootless with $DPKG_ROOT):
#   - lintian reports nothing (no error, no warning) on the package;
#   - the files, their owners and modes, the system user, the registry and the agent list of a
#     first installation; no unit enabled; the links of the MIB folder and bin/snmpget resolve;
#     the manual pages format without a warning;
#   - the manager of that root runs as the user vorma without any capability (setpriv) on the
#     two sockets of UDP port 162 that a service manager passes (systemd-socket-activate, as the
#     socket unit does), in a private network and mount namespace that shows the scratch root's
#     /usr/sbin, /usr/share/vorma and /var/lib/vorma at their real places, the latter read-only
#     but for the unit's ReadWritePaths, and a /proc as the unit's ProcSubset=pid and
#     ProtectProc=invisible make it: it listens on both families, writes an SNMPv2c and an
#     SNMPv3 trap, and stops with 1101;
#   - a reinstallation keeps the settings that the administrator changed, and a purge removes the
#     state folder.
# The package under a real systemd: systemd_test.sh.
#   bash package_test.sh BUILD_DIR WORK_DIR PREFIX      (exit 77: skipped)
set -uo pipefail

build=$(realpath "$1")
work=$2
prefix=$3
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
failures=0

# The Debian layout is the one of the prefix /usr (a tree configured afresh, or scripts/test.sh).
[ "$prefix" = /usr ] ||
    skip "the build tree installs below $prefix; the package test needs -DCMAKE_INSTALL_PREFIX=/usr"

for tool in dpkg-deb dpkg cpack unshare setpriv snmptrap ss systemd-sysusers systemd-socket-activate \
    lintian groff; do
    command -v "$tool" >/dev/null || skip "$tool is missing"
done
[ "$(id -u)" -eq 0 ] || skip "needs root (dpkg --root, namespaces)"
unshare -n -m true 2>/dev/null || skip "no private network and mount namespaces here"

rm -rf "$work"
mkdir -p "$work"
work=$(realpath "$work")

# ---- the package
cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
deb=$(ls "$work"/package/vorma-snmp-manager_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { cat "$work/cpack.log"; echo "FAIL: no package"; exit 1; }
depends=$(dpkg-deb -f "$deb" Depends)
for library in libsnmp40 libgsoap-2.8.124 libssl3 snmp libsnmp-base; do
    grep -qE "(^|, )$library( |,|$)" <<<"$depends" || fail "Depends lacks $library: $depends"
done
# Debian's checks: nothing at all to say (informational tags aside).
lintian --tag-display-limit 0 --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 ||
    fail "lintian fails the package"
if grep -qE '^[EW]: ' "$work/lintian.log"; then
    fail "lintian reports: $(grep -E '^[EW]: ' "$work/lintian.log")"
fi

# ---- installed into a scratch root
root=$work/root
mkdir -p "$root/etc" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/info"
: >"$root/var/lib/dpkg/status"
printf 'root:x:0:0:root:/root:/bin/bash\n' >"$root/etc/passwd"
printf 'root:x:0:\n' >"$root/etc/group"
install_package() {
    dpkg --root="$root" --force-script-chrootless --force-depends --log=/dev/null -i "$deb" \
        >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; echo "FAIL: dpkg -i"; exit 1; }
}
install_package

field() { awk -F: -v name="$2" -v n="$3" '$1 == name { print $n }' "$root/etc/$1"; }
uid=$(field passwd vorma 3)
gid=$(field group vorma 3)
[ -n "$uid" ] && [ -n "$gid" ] || { echo "FAIL: no user vorma in the scratch root"; exit 1; }
[ "$uid" -ne 0 ] || fail "vorma has uid 0"
[ "$(field passwd vorma 6)" = /var/lib/vorma ] || fail "home of vorma: $(field passwd vorma 6)"
case $(field passwd vorma 7) in */nologin | */false) ;; *) fail "vorma has a login shell" ;; esac

# path  owner  group  mode (of the path itself; links are checked by their targets below)
while read -r path owner group mode; do
    [ -n "$path" ] || continue
    expected="$owner:$group:$mode"
    expected=${expected//vorma/}
    file=$root/$path
    if [ ! -e "$file" ]; then
        fail "missing: /$path"
        continue
    fi
    actual=$(stat -c '%u:%g:%a' "$file")
    want_uid=$([ "$owner" = vorma ] && echo "$uid" || echo 0)
    want_gid=$([ "$group" = vorma ] && echo "$gid" || echo 0)
    [ "$actual" = "$want_uid:$want_gid:$mode" ] ||
        fail "/$path is $actual (uid:gid:mode), want $owner:$group:$mode"
done <<'TABLE'
usr/sbin/VormaSnmpManager                                 root  root  755
usr/sbin/VormaSnmpUsmEncrypt                              root  root  755
usr/bin/vorma-eventlog                                    root  root  755
lib/systemd/system/vorma-snmp-manager.service             root  root  644
lib/systemd/system/vorma-snmp-manager.socket              root  root  644
usr/lib/sysusers.d/vorma-snmp-manager.conf                root  root  644
usr/share/man/man8/VormaSnmpManager.8.gz                  root  root  644
usr/share/man/man8/VormaSnmpUsmEncrypt.8.gz               root  root  644
usr/share/man/man1/vorma-eventlog.1.gz                    root  root  644
usr/share/doc/vorma-snmp-manager/copyright                root  root  644
usr/share/doc/vorma-snmp-manager/changelog.gz             root  root  644
usr/share/vorma/mibs/SNMPv2-MIB.mib                       root  root  644
var/lib/vorma                                             root  vorma 750
var/lib/vorma/sysroot                                     vorma vorma 750
var/lib/vorma/sysroot/registry/HKLM.reg                   vorma vorma 640
var/lib/vorma/install                                     root  vorma 755
var/lib/vorma/install/Environment/Config                  root  vorma 750
var/lib/vorma/install/Environment/Config/SNMP_MANAGER.ini root  vorma 640
var/lib/vorma/install/Common/snmp/Config                  root  vorma 750
var/lib/vorma/install/Common/snmp/Mibs                    root  vorma 755
var/lib/vorma/install/Common/snmp/logs                    vorma vorma 750
var/lib/vorma/install/Common/snmp/Tmp                     vorma vorma 750
TABLE

grep -qxF '"InstallDir"="/var/lib/vorma/install/"' "$root/var/lib/vorma/sysroot/registry/HKLM.reg" ||
    fail "the registry names no InstallDir: $(cat "$root/var/lib/vorma/sysroot/registry/HKLM.reg")"
grep -qx 'NumberOfElements=0' "$root/var/lib/vorma/install/Environment/Config/SNMP_MANAGER.ini" ||
    fail "the first agent list is not empty"
[ "$(readlink "$root/var/lib/vorma/install/bin/snmpget")" = /usr/bin/snmpget ] || fail "bin/snmpget"
[ "$(readlink "$root/var/lib/vorma/install/Common/snmp/mibs")" = Mibs ] || fail "mibs -> Mibs"
# Every module link resolves, in the scratch root or, for Net-SNMP's own, in libsnmp-base.
modules=0
for link in "$root"/var/lib/vorma/install/Common/snmp/Mibs/*; do
    target=$(readlink "$link")
    [ -f "$root$target" ] || [ -L "$root$target" ] || fail "dangling MIB link $link -> $target"
    # Net-SNMP's own modules: a link within /usr, relative (Debian's policy), into libsnmp-base
    # (of this system, not of the scratch root).
    second=$(readlink "$root$target" || true)
    case $second in
    "") ;;
    /*) fail "absolute MIB link $target -> $second" ;;
    *) [ -f "$(realpath -m "$(dirname "$target")/$second")" ] ||
        fail "dangling MIB link $target -> $second" ;;
    esac
    modules=$((modules + 1))
done
[ -e "$root/var/lib/vorma/install/Common/snmp/Mibs/RFC-1215.mib" ] && fail "RFC-1215 is installed"
[ "$modules" -ge 10 ] || fail "only $modules MIB modules"
unit=$root/lib/systemd/system/vorma-snmp-manager.service
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
[ -x "$root$exec_start" ] || fail "ExecStart names no installed program: $exec_start"
[ -z "$(find "$root/etc" -name 'vorma-snmp-manager.*')" ] || fail "a unit was enabled"
for page in man8/VormaSnmpManager.8 man8/VormaSnmpUsmEncrypt.8 man1/vorma-eventlog.1; do
    warnings=$(zcat "$root/usr/share/man/$page.gz" | groff -w all -man -Tutf8 -z 2>&1)
    [ -z "$warnings" ] || fail "$page: $warnings"
done
dpkg --root="$root" -s vorma-snmp-manager 2>/dev/null | grep -qx 'Status: install ok installed' ||
    fail "dpkg does not count the package installed"

# ---- the manager of the scratch root, as vorma with CAP_NET_BIND_SERVICE only
# The administrator's part: an agent list that admits every agent, an SNMPv3 user.
install_dir=$root/var/lib/vorma/install
printf 'NumberOfElements=1\nIsListen001=TRUE\nDispName001=Any agent\nAddr001=(ALL)\nCommunityName001=(ALL)\n' \
    >"$install_dir/Environment/Config/SNMP_MANAGER.ini"
printf -- '-e:8000000001020304 -u:pkguser -a:SHA -AP:pkgauth123 -x:AES -XP:pkgpriv123\n' \
    >"$install_dir/Common/snmp/Config/SnmpV3Setting.txt"
chown "0:$gid" "$install_dir/Common/snmp/Config/SnmpV3Setting.txt"
chmod 0640 "$install_dir/Common/snmp/Config/SnmpV3Setting.txt"

environment=$(sed -n 's/^Environment=//p' "$unit")
writable=$(sed -n 's/^ReadWritePaths=//p' "$unit" | tr '\n' ' ')
[ -n "$writable" ] || fail "the unit has no ReadWritePaths"
# A sanitizer build's options (the suppression of Net-SNMP's known leak) go to the manager too.
for name in ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS TSAN_OPTIONS; do
    [ -n "${!name:-}" ] && environment+=" $name=${!name}"
done
# systemd-socket-activate hands its program only the variables it is told to (-E).
passed_environment=""
for entry in PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 $environment; do
    passed_environment+=" -E $entry"
done
cat >"$work/run.sh" <<SCRIPT
set -u
ip link set lo up
# The scratch root's programs and state at their real places, the rest of the system beneath.
mount -t overlay overlay -o lowerdir=$root/usr:/usr /usr
mount -t overlay overlay -o lowerdir=$root/var/lib:/var/lib /var/lib
mount --bind $root/var/lib/vorma /var/lib/vorma
# As the unit has it: the state folder read-only but for its ReadWritePaths (ProtectSystem=strict).
for path in $writable; do mount --bind "\$path" "\$path"; done
mount -o remount,bind,ro /var/lib/vorma
umask 0027
# As the socket unit has it: root opens both sockets of port 162 (with the system's whole /proc,
# where it learns that IPv6 is there) and, once a datagram arrives, passes them to the manager,
# which runs as vorma without any capability (the unit's CapabilityBoundingSet is empty).
env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 $environment \\
    systemd-socket-activate --datagram -l 0.0.0.0:162 -l '[::]:162' $passed_environment \\
    setpriv --reuid=$uid --regid=$gid --clear-groups --no-new-privs \\
        --inh-caps=-all --ambient-caps=-all --bounding-set=-all \\
        $exec_start >$work/manager.out 2>&1 &
manager=\$!
for i in \$(seq 1 300); do
    [ "\$(ss -Hlun 'sport = :162' | wc -l)" -ge 2 ] && break
    sleep 0.1
done
echo "listening: \$(ss -Hlun 'sport = :162' | awk '{print \$4}' | sort | tr '\n' ' ')"
# The manager's /proc as the unit makes it: only processes (ProcSubset=pid), and only its own to
# it (ProtectProc=invisible).
mount -t proc -o subset=pid,hidepid=invisible proc /proc
export SNMP_PERSISTENT_DIR=$work/peer SNMPCONFPATH=$work/peer MIBS= MIBDIRS=$work/peer
mkdir -p $work/peer
# The first trap starts the manager; it has taken the sockets once it says so.
snmptrap -Lf /dev/null -v 2c -c public 127.0.0.1:162 '' 1.3.6.1.6.3.1.1.5.3 1.3.6.1.2.1.1.5.0 s package-v2c-trap
for i in \$(seq 1 300); do
    grep -q 'service manager passed' $work/manager.out 2>/dev/null && break
    kill -0 \$manager 2>/dev/null || break
    sleep 0.1
done
echo "capabilities: \$(grep -E '^Cap(Eff|Prm|Bnd|Amb)' /proc/\$manager/status | tr -s '\t' ' ' | tr '\n' ' ')"
echo "user: \$(stat -c %u /proc/\$manager)"
snmptrap -Lf /dev/null -v 3 -e 0x8000000001020304 -u pkguser -l authPriv -a SHA -A pkgauth123 -x AES \\
    -X pkgpriv123 '[::1]:162' '' 1.3.6.1.6.3.1.1.5.1 1.3.6.1.2.1.1.5.0 s package-v3-trap
for i in \$(seq 1 300); do
    [ "\$(grep -c '"EventID":2000' /var/lib/vorma/sysroot/eventlog/Application.jsonl 2>/dev/null)" -ge 2 ] && break
    sleep 0.1
done
kill -TERM \$manager
wait \$manager
echo "exit: \$?"
SCRIPT
run=$(unshare -n -m bash "$work/run.sh" 2>"$work/run.err")
echo "$run"
[ -s "$work/run.err" ] && cat "$work/run.err"
# systemd-socket-activate's IPv6 socket takes both families ("*"); the socket unit's takes IPv6
# only (BindIPv6Only=ipv6-only, in systemd_test.sh).
grep -qxE 'listening: (\*:162 0\.0\.0\.0:162|0\.0\.0\.0:162 \[::\]:162) ' <<<"$run" ||
    fail "not listening on both families"
# Effective, permitted, bounding and ambient: no capability.
for set in CapEff CapPrm CapBnd CapAmb; do
    grep -q "$set: 0000000000000000" <<<"$run" || fail "$set is not empty"
done
grep -qx 'UDP port 162: IPv4 and IPv6 on the sockets that the service manager passed' \
    "$work/manager.out" || fail "the manager did not take the passed sockets: $(cat "$work/manager.out")"
grep -qx "user: $uid" <<<"$run" || fail "the manager did not run as vorma"
grep -qx 'exit: 0' <<<"$run" || fail "the manager's exit status: $(grep '^exit' <<<"$run")"
log=$root/var/lib/vorma/sysroot/eventlog/Application.jsonl
if [ ! -f "$log" ]; then
    fail "no event log"
else
    ids=$(grep -o '"EventID":[0-9]*' "$log" | cut -d: -f2 | tr '\n' ' ')
    [ "$ids" = "1100 2000 2000 1101 " ] || fail "events: $ids (want 1100 2000 2000 1101)"
    grep '"EventID":2000' "$log" | grep -q 'package-v2c-trap' || fail "no event of the SNMPv2c trap"
    grep '"EventID":2000' "$log" | grep 'package-v3-trap' | grep -q 'pkguser' ||
        fail "no event of the SNMPv3 trap"
    [ "$(stat -c '%u:%g:%a' "$log")" = "$uid:$gid:640" ] ||
        fail "the event log is $(stat -c '%u:%g:%a' "$log"), want vorma's, mode 640"
fi
# The MIB modules loaded without a message (a MIB report with no line of text).
report=$install_dir/Common/snmp/logs/VormaSnmpManager.txt
[ -f "$report" ] && ! grep -q '[^[:space:]]' "$report" || fail "MIB report: $(head -5 "$report")"

# ---- reinstalled: what the administrator changed stays; purged: the state folder goes
install_package
grep -qx 'NumberOfElements=1' "$install_dir/Environment/Config/SNMP_MANAGER.ini" ||
    fail "the reinstallation replaced the agent list"
[ -f "$log" ] || fail "the reinstallation lost the event log"
dpkg --root="$root" --force-script-chrootless --log=/dev/null --purge vorma-snmp-manager \
    >"$work/purge.log" 2>&1 || fail "dpkg --purge: $(cat "$work/purge.log")"
[ ! -e "$root/var/lib/vorma" ] || fail "the purge left /var/lib/vorma"
[ ! -e "$root/usr/sbin/VormaSnmpManager" ] || fail "the purge left the manager"

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "package test: all checks passed ($deb)"
