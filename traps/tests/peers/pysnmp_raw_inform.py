"""Test peer: sends one SNMPv2c inform with a chosen request ID over a plain UDP socket, waits
for the answer and prints it as JSON, so that the answer's PDU can be compared field by field.

Arguments: request ID, then varbinds as OID=VALUE pairs (values are OCTET STRING text, except
1.3.6.1.2.1.1.3.0, a TimeTicks, and 1.3.6.1.6.3.1.1.4.1.0, an OBJECT IDENTIFIER).
Prints {"sent": {...}, "received": {...} or null}.
"""
import json
import socket
import sys

from pyasn1.codec.ber import decoder, encoder
from pysnmp.proto import api
from pysnmp.proto.rfc1902 import ObjectIdentifier, OctetString, TimeTicks

SYS_UP_TIME = '1.3.6.1.2.1.1.3.0'
SNMP_TRAP_OID = '1.3.6.1.6.3.1.1.4.1.0'


def describe(pdu, module):
    return {
        'command': pdu.__class__.__name__,
        'requestId': int(module.apiPDU.getRequestID(pdu)),
        'errorStatus': int(module.apiPDU.getErrorStatus(pdu)),
        'errorIndex': int(module.apiPDU.getErrorIndex(pdu)),
        'varbinds': [[str(oid), value.__class__.__name__, value.prettyPrint()]
                     for oid, value in module.apiPDU.getVarBinds(pdu)],
    }


def main():
    module = api.protoModules[api.protoVersion2c]
    request = module.InformRequestPDU()
    module.apiPDU.setDefaults(request)
    module.apiPDU.setRequestID(request, int(sys.argv[1]))
    varbinds = []
    for pair in sys.argv[2:]:
        oid, value = pair.split('=', 1)
        if oid == SYS_UP_TIME:
            varbinds.append((ObjectIdentifier(oid), TimeTicks(int(value))))
        elif oid == SNMP_TRAP_OID:
            varbinds.append((ObjectIdentifier(oid), ObjectIdentifier(value)))
        else:
            varbinds.append((ObjectIdentifier(oid), OctetString(value)))
    module.apiPDU.setVarBinds(request, varbinds)
    message = module.Message()
    module.apiMessage.setDefaults(message)
    module.apiMessage.setCommunity(message, 'public')
    module.apiMessage.setPDU(message, request)

    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.settimeout(5)
    sock.sendto(encoder.encode(message), ('127.0.0.1', 162))
    result = {'sent': describe(request, module), 'received': None}
    try:
        data, _ = sock.recvfrom(65535)
        answer, _ = decoder.decode(data, asn1Spec=module.Message())
        result['received'] = describe(module.apiMessage.getPDU(answer), module)
    except socket.timeout:
        pass
    print(json.dumps(result), flush=True)


if __name__ == '__main__':
    main()
