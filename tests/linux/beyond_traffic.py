#!/usr/bin/python3
"""Traffic and checks of the deployment test (beyond_test.sh).

  send    COUNT SNMPv2c traps at RATE per second, taking turns over the agent addresses
          BASE.1 .. BASE.AGENTS (one UDP socket bound to each), to TARGET port 162. Trap number
          SEQ goes from agent SEQ % AGENTS + 1 and carries "beyond-TAG-aAA-sSSSSSS" in its
          ifAlias varbind, so the collector's lines tell which trap and agent each is.
  inform  sends one SNMPv2c inform from SOURCE to TARGET port 162 on a connected socket and
          waits for its response: answered only if the response comes from TARGET itself.
  check   reads the collector's JSON lines and checks the traps of TAG: every one there exactly
          once, each from the agent address that sent it, each agent's in the order sent and all
          through one manager host, every manager host used; prints the figures (one line of
          JSON last) and exits 1 on a failure.
  fields  checks that the collector's line of the trap with MARKER carries every field of the
          manager's journal record and the sending host.

Only the standard library: it runs with Debian's /usr/bin/python3.
"""
import argparse
import collections
import json
import re
import socket
import sys
import time

LINK_DOWN = "1.3.6.1.6.3.1.1.5.3"
SYS_UP_TIME = "1.3.6.1.2.1.1.3.0"
SNMP_TRAP_OID = "1.3.6.1.6.3.1.1.4.1.0"
IF_INDEX_1 = "1.3.6.1.2.1.2.2.1.1.1"
IF_ALIAS_1 = "1.3.6.1.2.1.31.1.1.1.18.1"


def ber_length(n):
    if n < 0x80:
        return bytes([n])
    body = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(body)]) + body


def tlv(tag, body):
    return bytes([tag]) + ber_length(len(body)) + body


def ber_integer(value, tag=0x02):
    return tlv(tag, value.to_bytes(max(1, (value.bit_length() + 8) // 8), "big", signed=True))


def ber_oid(dotted):
    parts = [int(p) for p in dotted.split(".")]
    body = bytearray([parts[0] * 40 + parts[1]])
    for p in parts[2:]:
        chunk = [p & 0x7F]
        p >>= 7
        while p:
            chunk.append(0x80 | (p & 0x7F))
            p >>= 7
        body.extend(reversed(chunk))
    return tlv(0x06, bytes(body))


def v2c_notification(community, request_id, marker, pdu_tag=0xA7):
    binds = [
        (SYS_UP_TIME, ber_integer(123456, 0x43)),
        (SNMP_TRAP_OID, ber_oid(LINK_DOWN)),
        (IF_INDEX_1, ber_integer(1)),
        (IF_ALIAS_1, tlv(0x04, marker.encode())),
    ]
    varbinds = tlv(0x30, b"".join(tlv(0x30, ber_oid(oid) + value) for oid, value in binds))
    pdu = tlv(pdu_tag, ber_integer(request_id) + ber_integer(0) + ber_integer(0) + varbinds)
    return tlv(0x30, ber_integer(1) + tlv(0x04, community.encode()) + pdu)


def marker(tag, agent, seq):
    return "beyond-%s-a%02d-s%06d" % (tag, agent, seq)


def send(args):
    sockets = []
    for agent in range(1, args.agents + 1):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind(("%s.%d" % (args.base, agent), 0))
        sockets.append(s)
    target = (args.target, 162)
    start = time.monotonic()
    for seq in range(args.count):
        due = start + seq / args.rate
        ahead = due - time.monotonic()
        if ahead > 0.002:
            time.sleep(ahead)
        agent = seq % args.agents + 1
        message = v2c_notification(args.community, seq + 1, marker(args.tag, agent, seq))
        sockets[agent - 1].sendto(message, target)
    elapsed = time.monotonic() - start
    print(json.dumps({"sent": args.count, "seconds": round(elapsed, 2),
                      "rate": round(args.count / elapsed) if elapsed > 0 else 0}))


def read_tlv(data, at):
    """The tag, the body's start and the end of the TLV at offset `at`."""
    tag, length = data[at], data[at + 1]
    at += 2
    if length & 0x80:
        size = length & 0x7F
        length = int.from_bytes(data[at:at + size], "big")
        at += size
    return tag, at, at + length


def inform(args):
    family = socket.AF_INET6 if ":" in args.target else socket.AF_INET
    s = socket.socket(family, socket.SOCK_DGRAM)
    s.bind((args.source, 0))
    # Connected: the system hands this socket only datagrams from the shared address, port 162,
    # so an answer counts only when it comes back through the balancer.
    s.connect((args.target, 162))
    s.settimeout(2.0)
    request_id = 4242
    message = v2c_notification(args.community, request_id, args.marker, pdu_tag=0xA6)
    for attempt in range(1, 4):
        s.send(message)
        try:
            answer = s.recv(65536)
        except socket.timeout:
            continue
        # Message: SEQUENCE { version, community, PDU }; the PDU starts with its request-id.
        _, body, _ = read_tlv(answer, 0)
        _, _, end = read_tlv(answer, body)
        _, _, end = read_tlv(answer, end)
        pdu_tag, pdu_body, _ = read_tlv(answer, end)
        _, id_body, id_end = read_tlv(answer, pdu_body)
        answered_id = int.from_bytes(answer[id_body:id_end], "big", signed=True)
        if pdu_tag == 0xA2 and answered_id == request_id:
            print("inform from %s answered by %s (attempt %d)" % (args.source, args.target, attempt))
            return 0
        print("FAIL: unexpected answer to the inform: PDU 0x%02X, request-id %d"
              % (pdu_tag, answered_id))
        return 1
    print("FAIL: no answer from %s to the inform from %s" % (args.target, args.source))
    return 1


def collector_records(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line:
                continue
            try:
                yield number, json.loads(line)
            except ValueError:
                yield number, None


def check(args):
    pattern = re.compile(r"beyond-%s-a(\d+)-s(\d+)" % re.escape(args.tag))
    seen = collections.Counter()
    last_seq = {}
    hosts_of_agent = collections.defaultdict(set)
    per_host = collections.Counter()
    failures = []
    out_of_order = 0
    wrong_address = 0
    unreadable = 0
    for number, record in collector_records(args.events):
        if record is None:
            unreadable += 1
            continue
        if record.get("VORMA_EVENT_ID") != "2000":
            continue
        m = pattern.search(record.get("VORMA_STRING_1", ""))
        if not m:
            continue
        agent, seq = int(m.group(1)), int(m.group(2))
        seen[seq] += 1
        if seen[seq] > 1:
            continue
        host = record.get("host", "")
        per_host[host] += 1
        hosts_of_agent[agent].add(host)
        if record.get("VORMA_AGENT_ADDRESS") != "%s.%d" % (args.base, agent):
            wrong_address += 1
            if wrong_address <= 3:
                failures.append("line %d: trap %d of agent %d names the agent address %r"
                                % (number, seq, agent, record.get("VORMA_AGENT_ADDRESS")))
        if agent in last_seq and seq < last_seq[agent]:
            out_of_order += 1
            if out_of_order <= 3:
                failures.append("line %d: trap %d of agent %d came after its trap %d"
                                % (number, seq, agent, last_seq[agent]))
        last_seq[agent] = max(seq, last_seq.get(agent, -1))
    missing = [seq for seq in range(args.count) if seq not in seen]
    duplicates = sum(n - 1 for n in seen.values())
    extra = [seq for seq in seen if seq >= args.count]
    split = {agent: sorted(hosts) for agent, hosts in hosts_of_agent.items() if len(hosts) > 1}
    if unreadable:
        failures.append("%d lines of the collector's file are not JSON" % unreadable)
    if missing:
        failures.append("%d of %d traps missing (the first: %s)"
                        % (len(missing), args.count, missing[:5]))
    if duplicates:
        failures.append("%d duplicate lines (traps written more than once: %d)"
                        % (duplicates, sum(1 for n in seen.values() if n > 1)))
    if extra:
        failures.append("%d traps that were never sent" % len(extra))
    if out_of_order:
        failures.append("%d traps came after a later trap of their agent" % out_of_order)
    if wrong_address:
        failures.append("%d traps name another agent address than their sender's"
                        % wrong_address)
    if split:
        failures.append("agents whose traps went through more than one manager: %s" % split)
    used = sorted(h for h in per_host if h)
    if sorted(args.hosts) != used:
        failures.append("manager hosts used: %s, expected all of %s" % (used, sorted(args.hosts)))
    for failure in failures:
        print("FAIL: " + failure)
    print(json.dumps({"tag": args.tag, "sent": args.count, "received": len(seen),
                      "missing": len(missing), "duplicates": duplicates,
                      "per_manager": dict(sorted(per_host.items())),
                      "agents": len(hosts_of_agent)}))
    return 1 if failures else 0


# Fields that the collector's line must hold, with the value where it is known (None: any).
EXPECTED_FIELDS = {"MESSAGE": None, "PRIORITY": None, "VORMA_EVENT_TYPE": None,
                   "VORMA_CATEGORY": None, "VORMA_STRING_1": None, "_PID": None, "_HOSTNAME": None,
                   "_SOURCE_REALTIME_TIMESTAMP": None, "host": None,
                   "SYSLOG_IDENTIFIER": "VORMASNMPManagerService", "SYSLOG_FACILITY": "3",
                   "VORMA_EVENT_ID": "2000", "VORMA_SOURCE": "VORMASNMPManagerService",
                   "VORMA_SNMP_VERSION": "V2c", "_TRANSPORT": "journal"}


def fields(args):
    found = [r for _, r in collector_records(args.events)
             if r is not None and args.marker in r.get("VORMA_STRING_1", "")]
    if len(found) != 1:
        print("FAIL: %d collector lines carry %s, expected one" % (len(found), args.marker))
        return 1
    record = found[0]
    expected = dict(EXPECTED_FIELDS, VORMA_AGENT_COMMUNITY=args.community,
                    VORMA_AGENT_ADDRESS=args.address)
    failures = []
    for name, value in expected.items():
        if name not in record:
            failures.append("no field %s" % name)
        elif value is not None and record[name] != value:
            failures.append("%s is %r, expected %r" % (name, record[name], value))
    if record.get("host") != record.get("_HOSTNAME"):
        failures.append("host %r is not the journal's _HOSTNAME %r"
                        % (record.get("host"), record.get("_HOSTNAME")))
    if args.agent_name and record.get("VORMA_AGENT_NAME") != args.agent_name:
        failures.append("VORMA_AGENT_NAME is %r, expected %r"
                        % (record.get("VORMA_AGENT_NAME"), args.agent_name))
    # The trap text spans lines; the line feeds must survive the journal, RELP and the file.
    if "\n" not in record.get("MESSAGE", ""):
        failures.append("MESSAGE holds no line feed: %r" % record.get("MESSAGE"))
    if args.marker not in record.get("MESSAGE", ""):
        failures.append("MESSAGE does not hold the trap text")
    for failure in failures:
        print("FAIL: " + failure)
    if not failures:
        print("fields (%d) of the record from %s: %s"
              % (len(record), record["host"], " ".join(sorted(record))))
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("send")
    p.add_argument("--target", required=True)
    p.add_argument("--base", default="10.20.0")
    p.add_argument("--agents", type=int, default=30)
    p.add_argument("--count", type=int, required=True)
    p.add_argument("--rate", type=float, required=True)
    p.add_argument("--tag", required=True)
    p.add_argument("--community", default="public")
    p = sub.add_parser("inform")
    p.add_argument("--source", required=True)
    p.add_argument("--target", required=True)
    p.add_argument("--marker", required=True)
    p.add_argument("--community", default="public")
    p = sub.add_parser("check")
    p.add_argument("--events", required=True)
    p.add_argument("--tag", required=True)
    p.add_argument("--count", type=int, required=True)
    p.add_argument("--base", default="10.20.0")
    p.add_argument("--hosts", nargs="+", required=True)
    p = sub.add_parser("fields")
    p.add_argument("--events", required=True)
    p.add_argument("--marker", required=True)
    p.add_argument("--address", required=True)
    p.add_argument("--community", default="public")
    p.add_argument("--agent-name", default="")
    args = parser.parse_args()
    if args.command == "send":
        send(args)
        return 0
    if args.command == "inform":
        return inform(args)
    return check(args) if args.command == "check" else fields(args)


if __name__ == "__main__":
    sys.exit(main())
