#!/usr/bin/env bash
# The Windows build: cross-compiles both programs and every test for 64-bit Windows with mingw-w64,
# then runs the tests under Wine. Debian 12, run as root:
#
#   bash scripts/build-windows.sh
#
# Installs what it needs with apt-get when it is missing (mingw-w64, Wine, the source packages'
# tools), builds OpenSSL and Net-SNMP for Windows from Debian's source packages, and keeps them in
# a folder keyed by their versions, so that the next run reuses them:
#
#   $VORMA_WINDOWS_DEPS_ROOT (default /opt/vorma-deps/mingw)
#     openssl-<ver>_net-snmp-<ver>/   include/, lib/libcrypto.a, lib/libnetsnmp.a, bin/libeay32.dll
#     googletest-<ver>/               gtest and gmock for mingw
#     nlohmann-json-<ver>/            the header-only JSON library, relocated
#     gsoap-<ver>/                    gSOAP's run time (the host's soapcpp2 generates the code)
#
# Environment:
#   BUILD_DIR          build folder (default: build-windows)
#   OPENSSL_VERSION    Debian source version of OpenSSL (default below; when the mirror no longer
#                      has it, the newest version whose source can be downloaded is taken)
#   WINDOWS_TESTS=0    build only, run no test
#   CTEST_ARGS         extra arguments for ctest (e.g. "-R platform")
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)

DEPS_ROOT=${VORMA_WINDOWS_DEPS_ROOT:-/opt/vorma-deps/mingw}
BUILD_DIR=${BUILD_DIR:-build-windows}
OPENSSL_VERSION=${OPENSSL_VERSION:-3.0.17-1~deb12u2}
NET_SNMP_UPSTREAM=5.9.3
HOST=x86_64-w64-mingw32
JOBS=2  # the machine is shared: never more

log() { echo "build-windows: $*"; }
die() { echo "build-windows: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || die "run as root (apt-get and the dependency cache in $DEPS_ROOT need it)"
command -v apt-get >/dev/null || die "this needs a Debian machine with apt-get"

# --- Tools -------------------------------------------------------------------------------------
packages=(
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    mingw-w64-tools wine wine64 dpkg-dev googletest nlohmann-json3-dev gsoap python3
    cmake ninja-build pkg-config make perl xz-utils
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    log "installing ${missing[*]}"
    apt-get update -qq || die "apt-get update failed"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" \
        >/dev/null || die "apt-get install failed for: ${missing[*]}"
fi

# --- Debian source packages ----------------------------------------------------------------------
SOURCES_FILE=/etc/apt/sources.list.d/vorma-mingw-deb-src.sources
ensure_deb_src() {
    if [ ! -f "$SOURCES_FILE" ]; then
        log "adding the bookworm source packages to apt ($SOURCES_FILE)"
        cat >"$SOURCES_FILE" <<'EOF'
# Source packages for the Windows build of the Vorma SNMP manager (scripts/build-windows.sh).
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
        apt-get update -qq || die "apt-get update failed"
    elif ! apt-cache showsrc openssl 2>/dev/null | grep -q '^Version:'; then
        apt-get update -qq || die "apt-get update failed"
    fi
}

# The source versions apt knows of a package, newest first.
source_versions() {
    apt-cache showsrc "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -u -r -V
}

# Downloads and unpacks a source package into the current folder: the wanted version first, then
# every other known version, newest first (a mirror may list a version whose files are gone).
# Prints the version it got.
fetch_source() {
    local package=$1 wanted=$2 version
    for version in $wanted $(source_versions "$package"); do
        [ -n "$version" ] || continue
        if apt-get source -qq "$package=$version" >../fetch-$package.log 2>&1; then
            echo "$version"
            return 0
        fi
        rm -rf ./*
    done
    cat "../fetch-$package.log" >&2
    return 1
}

# Net-SNMP's version is fixed by bookworm; OpenSSL's is the one asked for, when it can be had.
resolve_versions() {
    ensure_deb_src
    NET_SNMP_VERSION=$(source_versions net-snmp | grep "^$NET_SNMP_UPSTREAM" | head -n1)
    [ -n "$NET_SNMP_VERSION" ] || die "no source of net-snmp $NET_SNMP_UPSTREAM in apt"
    if ! source_versions openssl | grep -qxF "$OPENSSL_VERSION"; then
        log "OpenSSL $OPENSSL_VERSION is not listed; taking the newest listed source"
        OPENSSL_VERSION=$(source_versions openssl | head -n1)
        [ -n "$OPENSSL_VERSION" ] || die "no source of openssl in apt"
    fi
}

# --- OpenSSL, Net-SNMP and libeay32.dll ----------------------------------------------------------
build_openssl() {
    local prefix=$1 work=$2 version
    mkdir -p "$work/openssl" && cd "$work/openssl"
    version=$(fetch_source openssl "$OPENSSL_VERSION") || die "cannot download the source of openssl"
    [ "$version" = "$OPENSSL_VERSION" ] || die "got openssl $version instead of $OPENSSL_VERSION"
    cd openssl-*/
    log "building OpenSSL $version for Windows (several minutes)"
    ./Configure mingw64 --cross-compile-prefix=$HOST- --prefix="$prefix" --libdir=lib \
        no-shared no-tests >"$work/openssl-configure.log" 2>&1 ||
        { tail -n 30 "$work/openssl-configure.log"; die "OpenSSL configure failed"; }
    nice make -j"$JOBS" build_libs >"$work/openssl-make.log" 2>&1 ||
        { tail -n 40 "$work/openssl-make.log"; die "OpenSSL build failed"; }
    make install_dev >"$work/openssl-install.log" 2>&1 ||
        { tail -n 30 "$work/openssl-install.log"; die "OpenSSL install failed"; }
}

# The settings cipher loads "libeay32.dll" by name; the Windows tests need one, built from the
# OpenSSL above and exporting exactly the functions the cipher takes.
LIBEAY32_EXPORTS=(RC2_set_key RC2_ecb_encrypt MD5_Init MD5_Update MD5_Final)
build_libeay32() {
    local prefix=$1 work=$2
    mkdir -p "$prefix/bin"
    { echo "LIBRARY libeay32.dll"; echo "EXPORTS"; printf '    %s\n' "${LIBEAY32_EXPORTS[@]}"; } \
        >"$work/libeay32.def"
    local undefined=()
    for f in "${LIBEAY32_EXPORTS[@]}"; do undefined+=("-Wl,--undefined=$f"); done
    $HOST-gcc-posix -shared -o "$prefix/bin/libeay32.dll" "$work/libeay32.def" "${undefined[@]}" \
        "$prefix/lib/libcrypto.a" -lws2_32 -lcrypt32 -static-libgcc -s ||
        die "cannot link libeay32.dll"
    local exports
    exports=$($HOST-objdump -p "$prefix/bin/libeay32.dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p')
    for f in "${LIBEAY32_EXPORTS[@]}"; do
        grep -qw "$f" <<<"$exports" || die "libeay32.dll does not export $f"
    done
}

build_net_snmp() {
    local prefix=$1 work=$2 version
    mkdir -p "$work/net-snmp" && cd "$work/net-snmp"
    version=$(fetch_source net-snmp "$NET_SNMP_VERSION") || die "cannot download the source of net-snmp"
    cd net-snmp-*/
    log "building Net-SNMP $version (snmplib) for Windows"
    # configure takes OpenSSL from OPENSSL_CFLAGS/OPENSSL_LIBS, not from CPPFLAGS/LDFLAGS. Net-SNMP's
    # own crypto has no AES, so the USM must use OpenSSL's.
    OPENSSL_CFLAGS="-I$prefix/include" \
        OPENSSL_LIBS="-L$prefix/lib -lcrypto -lws2_32 -lcrypt32" \
        ./configure --host=$HOST --prefix="$prefix" \
        --with-defaults --disable-agent --disable-applications --disable-manuals \
        --disable-scripts --disable-mibs --disable-embedded-perl --without-perl-modules \
        --enable-ipv6 --with-openssl="$prefix" --disable-shared --enable-static \
        >"$work/net-snmp-configure.log" 2>&1 ||
        { tail -n 40 "$work/net-snmp-configure.log"; die "Net-SNMP configure failed"; }
    nice make -j"$JOBS" -C snmplib >"$work/net-snmp-make.log" 2>&1 ||
        { tail -n 40 "$work/net-snmp-make.log"; die "Net-SNMP build failed"; }
    make -C snmplib install >"$work/net-snmp-install.log" 2>&1 &&
        make installheaders >>"$work/net-snmp-install.log" 2>&1 ||
        { tail -n 30 "$work/net-snmp-install.log"; die "Net-SNMP install failed"; }
    [ -f "$prefix/lib/libnetsnmp.a" ] || die "Net-SNMP installed no libnetsnmp.a"
    # The manager finds Net-SNMP through pkg-config, as on Linux.
    mkdir -p "$prefix/lib/pkgconfig"
    cat >"$prefix/lib/pkgconfig/netsnmp.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: netsnmp
Description: Net-SNMP $version (snmplib) for Windows, static, with OpenSSL
Version: $NET_SNMP_UPSTREAM
Cflags: -I\${includedir}
Libs: -L\${libdir} -lnetsnmp -lcrypto -lws2_32 -liphlpapi -ladvapi32 -lgdi32 -lcrypt32
EOF
    cat >"$prefix/lib/pkgconfig/libcrypto-static.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: libcrypto
Description: OpenSSL $OPENSSL_VERSION libcrypto for Windows, static
Version: ${OPENSSL_VERSION%%-*}
Cflags: -I\${includedir}
Libs: -L\${libdir} -lcrypto -lws2_32 -lcrypt32
EOF
}

# Builds into a fresh folder and moves it into place only when complete, so that an interrupted
# run never leaves a cache entry that looks usable.
build_cached() {
    local name=$1 builder=$2 final="$DEPS_ROOT/$1"
    if [ -f "$final/.complete" ]; then
        return 0
    fi
    local staging="$DEPS_ROOT/.staging-$name" work="$DEPS_ROOT/.work-$name"
    rm -rf "$staging" "$work"
    mkdir -p "$staging" "$work"
    (set -e; "$builder" "$staging" "$work")
    rm -rf "$final"
    touch "$staging/.complete"
    mv "$staging" "$final"
    # The staging path is baked into the pkg-config files: point them at the final folder.
    if [ -d "$final/lib/pkgconfig" ]; then
        sed -i "s|$staging|$final|g" "$final"/lib/pkgconfig/*.pc
    fi
    rm -rf "$work"
}

build_ssl_and_snmp() {
    local prefix=$1 work=$2
    build_openssl "$prefix" "$work"
    build_libeay32 "$prefix" "$work"
    build_net_snmp "$prefix" "$work"
}

# googletest from Debian's sources in /usr/src/googletest, built with the cross toolchain.
build_googletest() {
    local prefix=$1 work=$2
    log "building googletest for Windows"
    cmake -S /usr/src/googletest -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_INSTALL_PREFIX="$prefix" -Dgtest_disable_pthreads=OFF \
        >"$work/configure.log" 2>&1 || { tail -n 30 "$work/configure.log"; die "googletest configure failed"; }
    nice cmake --build "$work/build" -j"$JOBS" >"$work/build.log" 2>&1 ||
        { tail -n 30 "$work/build.log"; die "googletest build failed"; }
    cmake --install "$work/build" >"$work/install.log" 2>&1 || die "googletest install failed"
}

# gSOAP's run time (stdsoap2 and its DOM) from Debian's source package, the version of the host's
# soapcpp2, which generates the code it serves.
build_gsoap() {
    local prefix=$1 work=$2 version
    mkdir -p "$work/gsoap" && cd "$work/gsoap"
    version=$(fetch_source gsoap "$GSOAP_VERSION") || die "cannot download the source of gsoap"
    [ "$version" = "$GSOAP_VERSION" ] || die "got gsoap $version instead of $GSOAP_VERSION"
    cd gsoap-*/gsoap
    log "building the gSOAP $version run time for Windows"
    mkdir -p "$prefix/include" "$prefix/lib/pkgconfig"
    for f in stdsoap2 dom; do
        nice $HOST-g++-posix -O2 -DWITH_IPV6 -DWITH_DOM -c $f.cpp -o "$work/$f.o" ||
            die "gSOAP $f.cpp does not compile"
    done
    $HOST-ar rcs "$prefix/lib/libgsoap++.a" "$work/stdsoap2.o" "$work/dom.o"
    cp stdsoap2.h "$prefix/include/"
    cat >"$prefix/lib/pkgconfig/gsoap++.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: GSoap
Description: gSOAP $version run time for Windows, static
Version: ${version%%-*}
Libs: -L\${libdir} -lgsoap++ -lws2_32
Cflags: -DWITH_IPV6 -DWITH_DOM -I\${includedir}
EOF
}

# nlohmann-json is header-only: its headers and CMake package, moved under a prefix of their own
# (its package files are relocatable) so that the cross build never looks into /usr/include.
stage_nlohmann_json() {
    local prefix=$1
    mkdir -p "$prefix/include" "$prefix/share/cmake"
    cp -a /usr/include/nlohmann "$prefix/include/"
    cp -a /usr/share/cmake/nlohmann_json "$prefix/share/cmake/"
}

package_version() { dpkg-query -W -f='${Version}' "$1"; }

resolve_versions
ssl_snmp_dir="openssl-${OPENSSL_VERSION}_net-snmp-${NET_SNMP_VERSION}"
gtest_dir="googletest-$(package_version googletest)"
GSOAP_VERSION=$(package_version gsoap)
gsoap_dir="gsoap-$GSOAP_VERSION"
json_dir="nlohmann-json-$(package_version nlohmann-json3-dev)"
mkdir -p "$DEPS_ROOT"
# One build of the dependencies at a time on this machine.
exec 9>"$DEPS_ROOT/.lock"
flock 9
start=$SECONDS
build_cached "$ssl_snmp_dir" build_ssl_and_snmp
build_cached "$gtest_dir" build_googletest
build_cached "$json_dir" stage_nlohmann_json
build_cached "$gsoap_dir" build_gsoap
flock -u 9
[ $((SECONDS - start)) -gt 5 ] && log "dependencies built in $((SECONDS - start)) s"
deps="$DEPS_ROOT/$ssl_snmp_dir;$DEPS_ROOT/$gtest_dir;$DEPS_ROOT/$json_dir;$DEPS_ROOT/$gsoap_dir"
log "dependencies: $DEPS_ROOT/{$ssl_snmp_dir,$gtest_dir,$json_dir,$gsoap_dir}"

# --- The programs and their tests --------------------------------------------------------------
cd "$source_dir"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake" \
    -DVORMA_WINDOWS_DEPS="$deps" >/dev/null

# A private Wine prefix, headless, without the Mono and Gecko installers, on a Japanese system
# (code page 932), as the product's servers are.
export WINEPREFIX="$source_dir/$BUILD_DIR/wineprefix"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
export LANG=ja_JP.UTF-8 LC_MESSAGES=C.UTF-8
unset LC_ALL
unset DISPLAY WAYLAND_DISPLAY
locale -a 2>/dev/null | grep -qix "ja_JP.utf8" || localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 ||
    die "cannot build the ja_JP.UTF-8 locale"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    log "creating the Wine prefix $WINEPREFIX"
    wineboot --init >/dev/null 2>&1 </dev/null || die "wineboot failed"
fi
# One wineserver for the whole run: tests start many short processes, and a service is shut down
# when the last Wine process ends unless the server stays. Wine's own system processes (services,
# devices) are started here with no output of ours, since they outlive every test: started by a
# test, they would hold its output pipe open and ctest would wait for them forever.
wineserver -k >/dev/null 2>&1 || true
wineserver -p >/dev/null 2>&1 </dev/null
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wine cmd /c exit >/dev/null 2>&1 </dev/null || die "Wine cannot start a program"

# Test discovery runs the test programs under Wine while building.
nice cmake --build "$BUILD_DIR" -j"$JOBS"

if [ "${WINDOWS_TESTS:-1}" = 0 ]; then
    exit 0
fi
# shellcheck disable=SC2086
ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$JOBS" --timeout 300 ${CTEST_ARGS:-}
