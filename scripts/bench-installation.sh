# Sourced by scripts/bench.sh and scripts/soak.sh: lays out the installation that the manager runs
# on under load, in folder $1, and exports VORMA_SYSROOT=$2: the registry with its InstallDir and
# the event log's largest size limit, the
# standard MIB modules (npm net-snmp's without RFC-1215, Net-SNMP's own two), and an agent list of
# 50 listed agents 127.0.1.1-50 (community public) and a listening wildcard. Sets $install and $snmp;
# the caller writes the settings files into $snmp/Config.
#   make_bench_installation INSTALL_DIR SYSROOT
make_bench_installation() {
    install=$1
    snmp=$install/Common/snmp
    export VORMA_SYSROOT=$2
    local deps=${VORMA_DEPS_DIR:-/opt/vorma-deps} mib i n
    mkdir -p "$snmp"/{Config,Mibs,logs,Tmp} "$install/Environment/Config" "$VORMA_SYSROOT/registry"
    # The event log's size limit at its largest (4 GiB): the runs count lines in the one file.
    printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6]\n"InstallDir"="%s/"\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application]\n"MaxSize"=dword:ffffffff\n\n' \
        "$install" >"$VORMA_SYSROOT/registry/HKLM.reg"
    for mib in "$deps"/node_modules/net-snmp/lib/mibs/*.mib; do
        [ "$(basename "$mib")" = RFC-1215.mib ] && continue
        ln -s "$mib" "$snmp/Mibs/"
    done
    ln -s /usr/share/snmp/mibs/NET-SNMP-MIB.txt /usr/share/snmp/mibs/NET-SNMP-TC.txt "$snmp/Mibs/"
    ln -s Mibs "$snmp/mibs"
    {
        echo "NumberOfElements=51"
        for i in $(seq 1 50); do
            n=$(printf '%03d' "$i")
            printf 'IsListen%s=TRUE\nDispName%s=Agent %d\nAddr%s=127.0.1.%d\nCommunityName%s=public\n' \
                "$n" "$n" "$i" "$n" "$i" "$n"
        done
        printf 'IsListen051=TRUE\nDispName051=Any agent\nAddr051=(ALL)\nCommunityName051=(ALL)\n'
    } >"$install/Environment/Config/SNMP_MANAGER.ini"
}
