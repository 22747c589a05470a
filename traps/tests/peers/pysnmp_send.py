"""Test peer: sends SNMP notifications with pysnmp, as described by a JSON argument.

{"target": "127.0.0.1" or "::1", "port": 162, "version": "2c" or "3", "community": "public",
 "user": {"name": "u", "auth": "MD5"|"SHA"|null, "authKey": "...", "priv": "DES"|"AES"|null,
          "privKey": "..."},
 "engineId": "hex digits" (version 3 traps),
 "notifications": [{"kind": "trap" or "inform", "varbinds": [[oid, type, value], ...]}]}

Types: i Integer32, u Gauge32, c Counter32, C Counter64, t TimeTicks, a IpAddress,
o OBJECT IDENTIFIER, s OCTET STRING (text), x OCTET STRING (hex digits).
Prints one JSON line per notification: {"error": text or null, "errorStatus": n}.
"""
import json
import sys

from pysnmp.hlapi import (CommunityData, ContextData, ObjectIdentity, ObjectType, SnmpEngine,
                          Udp6TransportTarget, UdpTransportTarget, UsmUserData, sendNotification,
                          usmAesCfb128Protocol, usmDESPrivProtocol, usmHMACMD5AuthProtocol,
                          usmHMACSHAAuthProtocol, usmNoAuthProtocol, usmNoPrivProtocol)
from pysnmp.proto.rfc1902 import (Counter32, Counter64, Gauge32, Integer32, IpAddress,
                                  ObjectIdentifier, OctetString, TimeTicks)

TYPES = {
    'i': lambda v: Integer32(int(v)),
    'u': lambda v: Gauge32(int(v)),
    'c': lambda v: Counter32(int(v)),
    'C': lambda v: Counter64(int(v)),
    't': lambda v: TimeTicks(int(v)),
    'a': IpAddress,
    'o': ObjectIdentifier,
    's': OctetString,
    'x': lambda v: OctetString(hexValue=v),
}
AUTH = {None: usmNoAuthProtocol, 'MD5': usmHMACMD5AuthProtocol, 'SHA': usmHMACSHAAuthProtocol}
PRIV = {None: usmNoPrivProtocol, 'DES': usmDESPrivProtocol, 'AES': usmAesCfb128Protocol}


def main():
    job = json.loads(sys.argv[1])
    if job.get('engineId'):
        engine = SnmpEngine(OctetString(hexValue=job['engineId']))
    else:
        engine = SnmpEngine()
    if job['version'] == '3':
        user = job['user']
        auth = UsmUserData(user['name'], authKey=user.get('authKey'), privKey=user.get('privKey'),
                           authProtocol=AUTH[user.get('auth')],
                           privProtocol=PRIV[user.get('priv')])
    else:
        auth = CommunityData(job.get('community', 'public'),
                             mpModel=0 if job['version'] == '1' else 1)
    address = (job.get('target', '127.0.0.1'), job.get('port', 162))
    if ':' in address[0]:
        target = Udp6TransportTarget(address, timeout=3, retries=0)
    else:
        target = UdpTransportTarget(address, timeout=3, retries=0)
    for notification in job['notifications']:
        varbinds = [ObjectType(ObjectIdentity(oid), TYPES[kind](value))
                    for oid, kind, value in notification['varbinds']]
        error, status, _, _ = next(sendNotification(engine, auth, target, ContextData(),
                                                    notification['kind'], varbinds))
        print(json.dumps({'error': str(error) if error else None, 'errorStatus': int(status)}),
              flush=True)


if __name__ == '__main__':
    main()
