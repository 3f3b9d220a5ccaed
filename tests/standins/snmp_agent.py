#!/usr/bin/python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Stand-in for a Varkon printer's SNMPv1 agent, for the liaison tests.

Listens on UDP port 161 of one loopback address. Every datagram is decoded
with pyasn1's BER decoder against a small SNMPv1 message definition (RFC 1157)
and compared byte for byte with the keep-alive SetRequest and the job-status
GetRequest that pyasn1 encodes here from the enterprise number. One line per
datagram goes to the log file:

    <CLOCK_MONOTONIC seconds> <keepalive|status|unknown> <exact|mismatch|undecodable> <hex bytes>

Keep-alives are answered with a GetResponse. Status queries are answered as
the --status-replies JSON list says, one entry per query, the last repeating:
  {"kind": "none"}                                  no answer
  {"kind": "short", "length": N}                    N bytes that hold no status record
  {"kind": "record", "status": S, "owner_hex": H}   a GetResponse whose last 60 bytes
                                                    are S, 0, 0, 0, then the owner bytes,
                                                    zero-padded (cut at 56 bytes)

Prints "ready" on standard output once bound; exits 3 when the address is
taken, and by itself after --lifetime seconds.

With --classify HEX it only judges that one datagram and prints "<kind> <verdict>".
"""
import argparse
import errno
import json
import socket
import sys
import time

from pyasn1.codec.ber import decoder, encoder
from pyasn1.type import namedtype, tag, univ


class ObjectSyntax(univ.Choice):
    componentType = namedtype.NamedTypes(
        namedtype.NamedType('number', univ.Integer()),
        namedtype.NamedType('string', univ.OctetString()),
        namedtype.NamedType('empty', univ.Null()),
        namedtype.NamedType('object', univ.ObjectIdentifier()))


class VarBind(univ.Sequence):
    componentType = namedtype.NamedTypes(
        namedtype.NamedType('name', univ.ObjectIdentifier()),
        namedtype.NamedType('value', ObjectSyntax()))


class VarBindList(univ.SequenceOf):
    componentType = VarBind()


def pdu_type(number):
    class Pdu(univ.Sequence):
        tagSet = univ.Sequence.tagSet.tagImplicitly(
            tag.Tag(tag.tagClassContext, tag.tagFormatConstructed, number))
        componentType = namedtype.NamedTypes(
            namedtype.NamedType('request-id', univ.Integer()),
            namedtype.NamedType('error-status', univ.Integer()),
            namedtype.NamedType('error-index', univ.Integer()),
            namedtype.NamedType('variable-bindings', VarBindList()))
    return Pdu


GetRequestPdu = pdu_type(0)
GetResponsePdu = pdu_type(2)
SetRequestPdu = pdu_type(3)


class Pdus(univ.Choice):
    componentType = namedtype.NamedTypes(
        namedtype.NamedType('get-request', GetRequestPdu()),
        namedtype.NamedType('get-response', GetResponsePdu()),
        namedtype.NamedType('set-request', SetRequestPdu()))


class Message(univ.Sequence):
    componentType = namedtype.NamedTypes(
        namedtype.NamedType('version', univ.Integer()),
        namedtype.NamedType('community', univ.OctetString()),
        namedtype.NamedType('data', Pdus()))


COMMUNITY = b'tallow'


def message(pdu_name, pdu_class, oid, value_kind, value):
    syntax = ObjectSyntax()
    syntax[value_kind] = value
    binding = VarBind()
    binding['name'] = univ.ObjectIdentifier(oid)
    binding['value'] = syntax
    bindings = VarBindList()
    bindings.append(binding)
    pdu = pdu_class()
    pdu['request-id'] = 0
    pdu['error-status'] = 0
    pdu['error-index'] = 0
    pdu['variable-bindings'] = bindings
    msg = Message()
    msg['version'] = 0
    msg['community'] = COMMUNITY
    msg['data'][pdu_name] = pdu
    return msg


def expected_requests(enterprise):
    base = (1, 3, 6, 1, 4, 1, enterprise, 1, 1)
    keepalive = message('set-request', SetRequestPdu, base + (4, 13), 'number', univ.Integer(1))
    status = message('get-request', GetRequestPdu, base + (3, 16, 2), 'empty', univ.Null(''))
    return {'keepalive': encoder.encode(keepalive), 'status': encoder.encode(status)}


def classify(data, expected):
    """(kind, verdict): what the datagram asks, and whether it is well-formed and exact."""
    try:
        decoded, rest = decoder.decode(data, asn1Spec=Message())
    except Exception:  # any decoding failure means the datagram is not valid BER for SNMPv1
        return 'unknown', 'undecodable'
    if rest:
        return 'unknown', 'undecodable'
    pdu_name = decoded['data'].getName()
    kind = {'set-request': 'keepalive', 'get-request': 'status'}.get(pdu_name, 'unknown')
    if kind == 'unknown':
        return kind, 'mismatch'
    return kind, 'exact' if data == expected[kind] else 'mismatch'


def status_record(status, owner):
    record = bytes([status & 0xFF, 0, 0, 0]) + owner[:56]
    return record + bytes(60 - len(record))


def status_reply(entry, enterprise):
    kind = entry['kind']
    if kind == 'none':
        return None
    if kind == 'short':
        return bytes(i & 0xFF for i in range(entry['length']))
    owner = bytes.fromhex(entry.get('owner_hex', ''))
    oid = (1, 3, 6, 1, 4, 1, enterprise, 1, 1, 3, 16, 2)
    reply = message('get-response', GetResponsePdu, oid, 'string',
                    univ.OctetString(status_record(entry['status'], owner)))
    return encoder.encode(reply)


def keepalive_reply(enterprise):
    oid = (1, 3, 6, 1, 4, 1, enterprise, 1, 1, 4, 13)
    return encoder.encode(message('get-response', GetResponsePdu, oid, 'number', univ.Integer(1)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--address')
    parser.add_argument('--port', type=int, default=161)
    parser.add_argument('--log')
    parser.add_argument('--classify')
    parser.add_argument('--enterprise', type=int, required=True)
    parser.add_argument('--status-replies', default='[{"kind": "none"}]')
    parser.add_argument('--no-keepalive-reply', action='store_true')
    parser.add_argument('--lifetime', type=float, default=120.0)
    args = parser.parse_args()

    expected = expected_requests(args.enterprise)
    if args.classify is not None:
        print('%s %s' % classify(bytes.fromhex(args.classify), expected))
        return 0
    if not args.address or not args.log:
        parser.error('--address and --log are needed to serve')

    replies = json.loads(args.status_replies) or [{'kind': 'none'}]
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        sock.bind((args.address, args.port))
    except OSError as error:
        sys.stderr.write('snmp_agent: cannot bind %s:%d: %s\n' % (args.address, args.port, error))
        return 3 if error.errno == errno.EADDRINUSE else 2

    deadline = time.monotonic() + args.lifetime
    status_queries = 0
    with open(args.log, 'a', buffering=1) as log:
        print('ready', flush=True)
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return 0
            sock.settimeout(left)
            try:
                data, sender = sock.recvfrom(65535)
            except socket.timeout:
                return 0
            now = time.monotonic()
            kind, verdict = classify(data, expected)
            log.write('%.6f %s %s %s\n' % (now, kind, verdict, data.hex()))
            answer = None
            if kind == 'keepalive' and not args.no_keepalive_reply:
                answer = keepalive_reply(args.enterprise)
            elif kind == 'status':
                answer = status_reply(replies[min(status_queries, len(replies) - 1)], args.enterprise)
                status_queries += 1
            if answer is not None:
                sock.sendto(answer, sender)


if __name__ == '__main__':
    sys.exit(main())
