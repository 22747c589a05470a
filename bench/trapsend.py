#!/usr/bin/python3
"""A second trap sender for the benchmarks: the same SNMPv2c linkDown as vorma-trapsend
(sysUpTime, snmpTrapOID, ifIndex, ifDescr and the ifAlias "vbench-RUN-SEQUENCE"), encoded once
with pysnmp, the sequence digits patched in place, one sendto per datagram, paced every 50
datagrams, over one or more loopback source addresses (127.0.0.1, 127.0.1.1, 127.0.1.2 ...).

It costs far more CPU per datagram than vorma-trapsend's sendmmsg, as most real senders do, so a
receiver measured with it shares the two cores with a heavier peer.

    /usr/bin/python3 bench/trapsend.py [--host A] [--port P] [--count N] [--rate R|0]
                                       [--sources K] [--run ID]

Prints one JSON object: what was sent, in how many seconds.
"""
import argparse
import json
import socket
import time

from pyasn1.codec.ber import encoder
from pysnmp.proto.api import v2c

SEQUENCE_DIGITS = 10
PACE_EVERY = 50


def encode(community, run):
    pdu = v2c.SNMPv2TrapPDU()
    v2c.apiTrapPDU.setDefaults(pdu)
    v2c.apiTrapPDU.setRequestID(pdu, 0x12345678)
    v2c.apiTrapPDU.setVarBinds(pdu, [
        (v2c.ObjectIdentifier("1.3.6.1.2.1.1.3.0"), v2c.TimeTicks(123456)),
        (v2c.ObjectIdentifier("1.3.6.1.6.3.1.1.4.1.0"), v2c.ObjectIdentifier("1.3.6.1.6.3.1.1.5.3")),
        (v2c.ObjectIdentifier("1.3.6.1.2.1.2.2.1.1.1"), v2c.Integer(1)),
        (v2c.ObjectIdentifier("1.3.6.1.2.1.2.2.1.2.1"), v2c.OctetString("eth0")),
        (v2c.ObjectIdentifier("1.3.6.1.2.1.31.1.1.1.18.1"),
         v2c.OctetString("vbench-%s-%s" % (run, "0" * SEQUENCE_DIGITS))),
    ])
    message = v2c.Message()
    v2c.apiMessage.setDefaults(message)
    v2c.apiMessage.setCommunity(message, community)
    v2c.apiMessage.setPDU(message, pdu)
    return bytearray(encoder.encode(message))  # the marker is its last value


def open_sources(count):
    sockets = []
    for index in range(count):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4 * 1024 * 1024)
        s.bind(("127.0.0.1" if index == 0 else "127.0.1.%d" % index, 0))
        sockets.append(s)
    return sockets


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=162)
    parser.add_argument("--count", type=int, default=1000)
    parser.add_argument("--rate", type=float, default=0, help="traps per second, 0: at once")
    parser.add_argument("--sources", type=int, default=1)
    parser.add_argument("--run", default="0")
    parser.add_argument("--community", default="public")
    o = parser.parse_args()

    message = encode(o.community, o.run)
    end = len(message)
    sockets = open_sources(max(1, o.sources))
    target = (o.host, o.port)
    errors = 0
    start = time.monotonic()
    for seq in range(o.count):
        message[end - SEQUENCE_DIGITS:end] = b"%010d" % seq
        try:
            sockets[seq % len(sockets)].sendto(message, target)
        except OSError:
            errors += 1  # a full send buffer or refused port: counted, the run goes on
        if o.rate > 0 and (seq + 1) % PACE_EVERY == 0:
            ahead = start + (seq + 1) / o.rate - time.monotonic()
            if ahead > 0:
                time.sleep(ahead)
    seconds = time.monotonic() - start
    print(json.dumps({"sent": o.count - errors, "errors": errors, "seconds": round(seconds, 3),
                      "rate": round(o.count / seconds) if seconds > 0 else None}))


if __name__ == "__main__":
    main()
