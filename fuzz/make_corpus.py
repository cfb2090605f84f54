#!/usr/bin/python3
"""Writes the fuzzers' seed corpus: real IPv4 datagrams, header first, as the
tool's raw sockets and captures hand them over, one file each; and address
texts of both families for the address parser.

Run with the interpreter that has scapy (Debian's /usr/bin/python3):
    /usr/bin/python3 fuzz/make_corpus.py fuzz/corpus
"""

import pathlib
import struct
import sys

from scapy.all import ICMP, IP, TCP, UDP, Raw, checksum, raw
from scapy.contrib.igmp import IGMP
from scapy.contrib.igmpv3 import IGMPv3, IGMPv3gr, IGMPv3mq, IGMPv3mr
from scapy.contrib.pim import (PIMv2Hdr, PIMv2Hello, PIMv2HelloDRPriority,
                               PIMv2HelloGenerationID, PIMv2HelloHoldtime,
                               PIMv2JoinPrune, PIMv2GroupAddrs, PIMv2JoinAddrs)
from scapy.layers.inet import IPOption_Router_Alert

ROUTER = "10.0.1.1"
HOST = "10.0.1.2"
ASM_GROUP = "233.4.200.19"
SSM_GROUP = "232.64.133.120"
SSM_SOURCE = "198.51.100.20"
RP = "10.255.0.1"
RA = [IPOption_Router_Alert()]


def pim(kind, body=b"", summed=None):
    """A PIM version 2 message of `kind`; its checksum covers the first `summed`
    bytes (a Register's covers only its own 8), by default the whole message."""
    message = bytearray(bytes([0x20 | kind, 0, 0, 0]) + body)
    summed = len(message) if summed is None else summed
    message[2:4] = struct.pack(">H", checksum(bytes(message[:summed])))
    return bytes(message)


def encoded_unicast(address):
    return bytes([1, 0]) + bytes(map(int, address.split(".")))


def encoded_group(address, mask=32):
    return bytes([1, 0, 0, mask]) + bytes(map(int, address.split(".")))


def packets():
    igmp_ip = dict(src=ROUTER, ttl=1, proto=2)
    yield "igmpv2-general-query-ra", IP(dst="224.0.0.1", options=RA, **igmp_ip) / IGMP(
        type=0x11, mrcode=100, gaddr="0.0.0.0")
    yield "igmpv2-general-query", IP(dst="224.0.0.1", **igmp_ip) / IGMP(
        type=0x11, mrcode=100, gaddr="0.0.0.0")
    yield "igmpv2-group-query-ra", IP(dst=ASM_GROUP, options=RA, **igmp_ip) / IGMP(
        type=0x11, mrcode=10, gaddr=ASM_GROUP)
    yield "igmpv2-group-query-other-group", IP(dst="239.1.1.1", **igmp_ip) / IGMP(
        type=0x11, mrcode=10, gaddr="239.1.1.1")
    yield "igmpv3-general-query-ra", IP(dst="224.0.0.1", options=RA, **igmp_ip) / IGMPv3(
        type=0x11, mrcode=100) / IGMPv3mq(gaddr="0.0.0.0", qrv=2, qqic=125)
    yield "igmpv3-group-query-ra", IP(dst=ASM_GROUP, options=RA, **igmp_ip) / IGMPv3(
        type=0x11, mrcode=10) / IGMPv3mq(gaddr=ASM_GROUP, qrv=2, qqic=125)
    yield "igmpv3-group-source-query-ra", IP(dst=SSM_GROUP, options=RA, **igmp_ip) / IGMPv3(
        type=0x11, mrcode=10) / IGMPv3mq(gaddr=SSM_GROUP, qrv=2, qqic=125,
                                         srcaddrs=[SSM_SOURCE])
    host_igmp = dict(src=HOST, ttl=1, proto=2, options=RA)
    yield "igmpv2-report", IP(dst=ASM_GROUP, **host_igmp) / IGMP(type=0x16, gaddr=ASM_GROUP)
    yield "igmpv2-leave", IP(dst="224.0.0.2", **host_igmp) / IGMP(type=0x17, gaddr=ASM_GROUP)
    yield "igmpv1-report", IP(dst=ASM_GROUP, src=HOST, ttl=1) / IGMP(type=0x12, gaddr=ASM_GROUP)
    for name, record in (("allow", 5), ("block", 6)):
        yield f"igmpv3-report-{name}", IP(dst="224.0.0.22", **host_igmp) / IGMPv3(
            type=0x22) / IGMPv3mr(records=[IGMPv3gr(rtype=record, maddr=SSM_GROUP,
                                                     srcaddrs=[SSM_SOURCE])])

    # The identifier goes low byte first, as the tool writes it.
    identifier = struct.unpack("<H", struct.pack(">H", 4242))[0]
    yield "icmp-echo-reply", IP(src=ROUTER, dst=HOST) / ICMP(type=0, id=identifier, seq=0)
    yield "icmp-echo-request", IP(src=HOST, dst="224.0.0.2", ttl=1) / ICMP(
        type=8, id=identifier, seq=0)
    yield "icmp-echo-reply-options", IP(src=ROUTER, dst=HOST, options=RA) / ICMP(
        type=0, id=identifier, seq=1) / Raw(b"abcdefgh")
    yield "icmp-port-unreachable", IP(src=ROUTER, dst=HOST) / ICMP(type=3, code=3) / raw(
        IP(src=HOST, dst=ROUTER) / UDP(sport=40000, dport=10002))

    pim_ip = dict(src=ROUTER, dst="224.0.0.13", ttl=1, proto=103)
    yield "pim-hello", IP(**pim_ip) / PIMv2Hdr(type=0) / PIMv2Hello(option=[
        PIMv2HelloHoldtime(holdtime=105), PIMv2HelloDRPriority(dr_priority=1),
        PIMv2HelloGenerationID(generation_id=0x12345678)])
    yield "pim-hello-host", IP(src=HOST, dst="224.0.0.13", ttl=1, proto=103) / Raw(pim(
        0, bytes.fromhex("0001 0002 001e 0013 0004 00000000 0014 0004 12345678")))
    yield "pim-join-prune", IP(**pim_ip) / PIMv2Hdr(type=3) / PIMv2JoinPrune(
        up_neighbor_ip=ROUTER, num_group=1, holdtime=210,
        jp_ips=[PIMv2GroupAddrs(gaddr=ASM_GROUP, num_joins=1,
                                join_ips=[PIMv2JoinAddrs(src_ip=RP, sparse=1, wildcard=1, rpt=1)])])
    # Candidate-RP-Advertisement (RFC 7761 4.9.9): prefix count, priority,
    # holdtime, the RP's encoded address, one encoded group.
    yield "pim-c-rp-advertisement", IP(src=ROUTER, dst=HOST, proto=103) / Raw(pim(
        8, bytes([1, 0]) + struct.pack(">H", 150) + encoded_unicast(RP) +
        encoded_group("224.0.0.0", 4)))
    # Bootstrap (RFC 5059): fragment tag, hash mask length, priority, the BSR's
    # address, one group with one RP.
    yield "pim-bootstrap", IP(src=ROUTER, dst="224.0.0.13", ttl=1, proto=103) / Raw(pim(
        4, struct.pack(">HBB", 1, 30, 0) + encoded_unicast(RP) +
        encoded_group("224.0.0.0", 4) + bytes([1, 1, 0, 0]) + encoded_unicast(RP) +
        struct.pack(">HBB", 150, 0, 0)))
    yield "pim-register", IP(src=ROUTER, dst=RP, proto=103) / Raw(pim(
        1, bytes(4) + raw(IP(src=SSM_SOURCE, dst=ASM_GROUP) / UDP(dport=10002) / b"x"), 8))

    # Look-alikes: other protocols whose payload starts with a query or Hello byte.
    yield "udp-beacon", IP(src=SSM_SOURCE, dst=ASM_GROUP, ttl=15) / UDP(
        sport=40000, dport=10002) / Raw(b"lab beacon #0\n")
    yield "udp-query-lookalike", IP(src=ROUTER, dst=HOST, proto=17) / Raw(
        bytes([0x11, 0, 0xee, 0xff]) + bytes(4))
    yield "tcp-hello-lookalike", IP(src=ROUTER, dst=HOST) / TCP(sport=0x2000, dport=8020)
    yield "igmp-proto-pim-byte", IP(src=ROUTER, dst="224.0.0.13", proto=2) / Raw(
        bytes([0x20, 0, 0, 0, 0, 0, 0, 0]))

    # Runts: what arrived ends inside or right after the header.
    query = raw(IP(dst="224.0.0.1", options=RA, **igmp_ip) / IGMP(type=0x11, gaddr="0.0.0.0"))
    yield "igmp-query-cut-at-7", query[:24 + 7]
    yield "ip-header-only", query[:20]
    yield "ip-cut-in-header", query[:13]
    long_header = bytearray(query)
    long_header[0] = 0x4F
    yield "ip-header-length-15", bytes(long_header)


# Address texts as options and interfaces give them.
ADDRESS_TEXTS = {
    "asm-group": ASM_GROUP,
    "v6-group": "ff3e:20:2001:db8::19",
    "v6-mapped": "::ffff:198.51.100.20",
    "v6-source": "2001:db8::20",
    "v6-link-local": "fe80::1:2:3:4",
}


def main():
    out = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "corpus")
    out.mkdir(parents=True, exist_ok=True)
    for name, packet in packets():
        (out / f"{name}.bin").write_bytes(packet if isinstance(packet, bytes) else raw(packet))
    for name, text in ADDRESS_TEXTS.items():
        (out / f"address-{name}.txt").write_text(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
