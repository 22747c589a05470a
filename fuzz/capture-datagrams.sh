#!/usr/bin/env bash
# Captures the datagrams that Net-SNMP's snmptrap and snmpinform send, as seeds of the datagram
# fuzz target: SNMPv1, SNMPv2c and SNMPv3 traps and informs (noAuthNoPriv, authNoPriv, authPriv).
# Runs in a private network namespace and sends only to its loopback.
#   bash fuzz/capture-datagrams.sh [output folder]   (default: fuzz/corpus/datagram)
# The SNMPv3 users and the local engine ID match those the fuzz target sets up (DatagramFuzzer.cpp).
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-fuzz/corpus/datagram}")
mkdir -p "$out"

if [ "${VORMA_CAPTURE_IN_NAMESPACE:-0}" != 1 ]; then
    exec env VORMA_CAPTURE_IN_NAMESPACE=1 unshare -n bash "$0" "$out"
fi
ip link set lo up

port=16200
peer=$(mktemp -d)
trap 'kill "$listener" 2>/dev/null || true; rm -rf "$peer"' EXIT
export SNMPCONFPATH=$peer SNMP_PERSISTENT_DIR=$peer MIBS= MIBDIRS=$peer

# Writes each datagram that reaches the port to $out/<name>, the name read from $peer/name.
python3 - "$port" "$out" "$peer/name" <<'PY' &
import socket, sys
port, out, name_file = int(sys.argv[1]), sys.argv[2], sys.argv[3]
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", port))
seen = {}
while True:
    data, _ = s.recvfrom(65535)
    name = open(name_file).read().strip()
    n = seen.get(name, 0)
    seen[name] = n + 1
    suffix = "" if n == 0 else "-%d" % n
    open("%s/%s%s.bin" % (out, name, suffix), "wb").write(data)
PY
listener=$!
sleep 0.5

target=udp:127.0.0.1:$port
engine=0x8000000001020304       # the sending agent's engine ID (traps)
local_engine=0x80001f88805646554a5a  # the manager's engine ID in the fuzz target (informs)
test=1.3.6.1.4.1.99999
varbinds=(
    "$test.1.1.0" x "C0000201"
    "$test.1.2.0" x "E697A5E69CAC0100"
    "$test.1.3.0" s "display string"
    "$test.1.4.0" x "00010203FF"
    "$test.1.5.0" x "93FA967B"
    1.3.6.1.2.1.1.5.0 s "日本語のホスト"
    1.3.6.1.2.1.2.2.1.1.3 i 3
    1.3.6.1.2.1.2.2.1.10.3 c 4294967295
    1.3.6.1.4.1.2021.1.1 a 192.0.2.7
    1.3.6.1.2.1.1.2.0 o 1.3.6.1.4.1.8072.3.2.10
    1.3.6.1.4.1.2021.1.2 C 18446744073709551615
    1.3.6.1.4.1.2021.1.3 t 12345
    1.3.6.1.4.1.2021.1.4 u 42
)
send() {
    echo "$1" >"$peer/name"
    shift
    "$@" >/dev/null 2>&1 || true
    sleep 0.2
}

send v1-enterprise snmptrap -v 1 -c public "$target" 1.3.6.1.4.1.99999 192.0.2.1 6 17 4711 \
    "${varbinds[@]}"
send v1-linkdown snmptrap -v 1 -c "pub lic" "$target" 1.3.6.1.4.1.8072 192.0.2.2 2 0 100 \
    1.3.6.1.2.1.2.2.1.1.3 i 3
send v2c-trap snmptrap -v 2c -c public "$target" 4711 1.3.6.1.4.1.99999.0.1 "${varbinds[@]}"
send v2c-coldstart snmptrap -v 2c -c public "$target" 0 1.3.6.1.6.3.1.1.5.1
send v2c-inform snmpinform -r 0 -t 1 -v 2c -c private "$target" 99 1.3.6.1.6.3.1.1.5.3 \
    1.3.6.1.2.1.2.2.1.1.3 i 3
send v3-noauth snmptrap -v 3 -e "$engine" -u fuzzplain -l noAuthNoPriv "$target" 0 \
    1.3.6.1.6.3.1.1.5.1 "$test.1.3.0" s "no authentication"
send v3-authnopriv-md5 snmptrap -v 3 -e "$engine" -u fuzzmd5 -l authNoPriv -a MD5 \
    -A fuzzauthpass "$target" 0 1.3.6.1.6.3.1.1.5.4 1.3.6.1.2.1.2.2.1.1.3 i 3
send v3-authpriv-sha-aes snmptrap -v 3 -e "$engine" -u fuzzsha -l authPriv -a SHA \
    -A fuzzauthpass -x AES -X fuzzprivpass "$target" 0 1.3.6.1.4.1.99999.0.1 "${varbinds[@]}"
send v3-authpriv-md5-des snmptrap -v 3 -e "$engine" -u fuzzmd5 -l authPriv -a MD5 \
    -A fuzzauthpass -x DES -X fuzzprivpass "$target" 0 1.3.6.1.6.3.1.1.5.2
send v3-authpriv-wrongkey snmptrap -v 3 -e "$engine" -u fuzzsha -l authPriv -a SHA \
    -A wrongauthpass -x AES -X wrongprivpass "$target" 0 1.3.6.1.6.3.1.1.5.1
send v3-inform-noauth snmpinform -r 0 -t 1 -v 3 -e "$local_engine" -u fuzzplain \
    -l noAuthNoPriv "$target" 0 1.3.6.1.6.3.1.1.5.3 1.3.6.1.2.1.2.2.1.1.3 i 3
send v3-inform-probe snmpinform -r 0 -t 1 -v 3 -u fuzzsha -l authPriv -a SHA \
    -A fuzzauthpass -x AES -X fuzzprivpass "$target" 0 1.3.6.1.6.3.1.1.5.3
ls -l "$out"
