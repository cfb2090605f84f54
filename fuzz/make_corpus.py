#!/usr/bin/python3
"""Writes the fuzzers' seed corpus: real IPv4 and IPv6 datagrams, header
first, as the tool's raw sockets and captures hand them over, one file each;
and address texts of both families for the address parser.

With --header, also writes the IPv6 datagrams as a C++ header of byte
vectors for the unit tests (tests/unit/ipv6_captures.h), so that the readers
are tested on the same packets the fuzzers start from.

Run with the interpreter that has scapy (Debian's /usr/bin/python3):
    /usr/bin/python3 fuzz/make_corpus.py fuzz/corpus --header tests/unit/ipv6_captures.h
"""

import argparse
import pathlib
import shutil
import struct
import subprocess
import sys

from scapy.all import ICMP, IP, TCP, UDP, Raw, checksum, raw
from scapy.layers.inet6 import (ICMPv6EchoReply, ICMPv6EchoRequest, ICMPv6MLDMultAddrRec,
                                ICMPv6MLDone, ICMPv6MLQuery, ICMPv6MLQuery2, ICMPv6MLReport,
                                ICMPv6MLReport2, IPv6, IPv6ExtHdrDestOpt, IPv6ExtHdrFragment,
                                IPv6ExtHdrHopByHop, IPv6ExtHdrRouting, PadN, RouterAlert,
                                fragment6, in6_chksum)
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


ROUTER6 = "fe80::1"
HOST6 = "fe80::2"
ASM_GROUP6 = "ff3e:20:2001:db8::19"
SSM_GROUP6 = "ff3e::120"
SSM_SOURCE6 = "2001:db8::20"
ALL_NODES6 = "ff02::1"
ALL_ROUTERS6 = "ff02::2"
MLDV2_ROUTERS6 = "ff02::16"
ALL_PIM_ROUTERS6 = "ff02::d"


def router_alert():
    """The hop-by-hop header every MLD message carries (RFC 2711, value 0)."""
    return IPv6ExtHdrHopByHop(options=[RouterAlert(value=0)])


def pim6(kind, body, src, dst):
    """A PIM version 2 message of `kind` whose checksum covers the IPv6
    pseudo-header (RFC 7761 4.9), computed by scapy's in6_chksum."""
    message = bytearray(bytes([0x20 | kind, 0, 0, 0]) + body)
    packet = IPv6(src=src, dst=dst, nh=103) / Raw(bytes(message))
    message[2:4] = struct.pack(">H", in6_chksum(103, packet[Raw], bytes(message)))
    return IPv6(src=src, dst=dst, nh=103, hlim=1) / Raw(bytes(message))


def encoded_unicast6(address):
    return bytes([2, 0]) + raw(IPv6(src=address))[8:24]


def encoded_group6(address, mask=128):
    return bytes([2, 0, 0, mask]) + raw(IPv6(src=address))[8:24]


def icmpv6_bytes(message):
    """An ICMPv6 message alone, its checksum as sent from the router to ff02::1."""
    return raw(IPv6(src=ROUTER6, dst=ALL_NODES6) / message)[40:]


def ipv6_packets():
    """(name, what it is, datagram): the IPv6 seeds and unit-test captures."""
    router = dict(src=ROUTER6, hlim=1)
    yield ("mldv2-general-query-ra", "An MLDv2 general query as pim6d sends it",
           IPv6(dst=ALL_NODES6, **router) / router_alert() /
           ICMPv6MLQuery2(mrd=10000, QRV=2, QQIC=125))
    yield ("mldv2-group-query-ra", "An MLDv2 query for the ASM group",
           IPv6(dst=ASM_GROUP6, **router) / router_alert() /
           ICMPv6MLQuery2(mrd=1000, mladdr=ASM_GROUP6, QRV=2, QQIC=125))
    yield ("mldv2-group-source-query-ra", "An MLDv2 query for the SSM channel",
           IPv6(dst=SSM_GROUP6, **router) / router_alert() /
           ICMPv6MLQuery2(mrd=1000, mladdr=SSM_GROUP6, QRV=2, QQIC=125, sources=[SSM_SOURCE6]))
    many = [f"2001:db8::{i:x}" for i in range(1, 21)]
    coded = ICMPv6MLQuery2(mrd=0xA123, mladdr=SSM_GROUP6, S=1, QRV=7, QQIC=0x8F, sources=many)
    yield ("mldv2-query-coded-20-sources",
           "Floating-point Maximum Response Code and QQIC, S set, QRV 7, 20 sources",
           IPv6(dst=SSM_GROUP6, **router) / router_alert() / coded)
    yield ("mldv1-general-query-ra", "An MLDv1 general query",
           IPv6(dst=ALL_NODES6, **router) / router_alert() / ICMPv6MLQuery(mrd=10000))
    yield ("mldv1-group-query", "An MLDv1 query for the ASM group, without Router Alert",
           IPv6(dst=ASM_GROUP6, **router) / ICMPv6MLQuery(mrd=1000, mladdr=ASM_GROUP6))
    yield ("mld-query-26-bytes", "An MLD query of a length RFC 3810 8.1 ignores",
           IPv6(dst=ALL_NODES6, **router) / router_alert() / ICMPv6MLQuery(mrd=1000) /
           Raw(b"\x00\x00"))
    yield ("mldv2-query-dstopts-routing",
           "An MLDv2 group query behind destination options and a routing header",
           IPv6(dst=ASM_GROUP6, **router) / router_alert() /
           IPv6ExtHdrDestOpt(options=[PadN(optdata=b"\x00\x00\x00\x00")]) /
           IPv6ExtHdrRouting(addresses=["fe80::3"], segleft=0) /
           ICMPv6MLQuery2(mrd=1000, mladdr=ASM_GROUP6, QRV=2, QQIC=125))
    # scapy's fragment6 splits the 20-source query: the first fragment holds
    # the query's head and some sources, the later ones the rest.
    fragments = fragment6(IPv6(dst=SSM_GROUP6, **router) / router_alert() /
                          IPv6ExtHdrFragment(id=0x1234) / coded, 200)
    yield ("mldv2-query-first-fragment", "The first fragment of the 20-source query",
           fragments[0])
    yield ("mldv2-query-later-fragment", "A later fragment of the 20-source query",
           fragments[1])
    yield ("mldv2-query-lookalike-later-fragment",
           "A later fragment whose data begins with a whole MLDv2 query",
           IPv6(dst=ALL_NODES6, **router) / IPv6ExtHdrFragment(nh=58, offset=3, m=1, id=7) /
           Raw(icmpv6_bytes(ICMPv6MLQuery2(mrd=10000, QRV=2, QQIC=125))))
    yield ("mldv2-query-hop-by-hop-second", "A hop-by-hop header after destination options",
           IPv6(dst=ALL_NODES6, **router) / IPv6ExtHdrDestOpt() / router_alert() /
           ICMPv6MLQuery2(mrd=10000, QRV=2, QQIC=125))
    chain = IPv6(dst=ALL_NODES6, **router) / router_alert()
    for _ in range(7):
        chain = chain / IPv6ExtHdrDestOpt()
    yield ("mldv2-query-8-extension-headers", "Hop-by-hop and seven destination options",
           chain / ICMPv6MLQuery2(mrd=10000, QRV=2, QQIC=125))
    yield ("mldv2-query-9-extension-headers", "Hop-by-hop and eight destination options",
           chain / IPv6ExtHdrDestOpt() / ICMPv6MLQuery2(mrd=10000, QRV=2, QQIC=125))
    yield ("mldv2-query-no-next-header", "Query bytes after No Next Header",
           IPv6(dst=ALL_NODES6, nh=59, **router) / Raw(icmpv6_bytes(ICMPv6MLQuery2(QRV=2, QQIC=125))))

    host = dict(src=HOST6, hlim=1)
    yield ("mldv1-report-ra", "The tool's MLDv1 Report",
           IPv6(dst=ASM_GROUP6, **host) / router_alert() / ICMPv6MLReport(mladdr=ASM_GROUP6))
    yield ("mldv1-done-ra", "The tool's MLDv1 Done",
           IPv6(dst=ALL_ROUTERS6, **host) / router_alert() / ICMPv6MLDone(mladdr=ASM_GROUP6))
    for name, record in (("allow", 5), ("block", 6)):
        yield (f"mldv2-report-{name}-ra", f"The tool's MLDv2 Report, record type {record}",
               IPv6(dst=MLDV2_ROUTERS6, **host) / router_alert() / ICMPv6MLReport2(records=[
                   ICMPv6MLDMultAddrRec(rtype=record, dst=SSM_GROUP6, sources=[SSM_SOURCE6])]))

    # The identifier goes low byte first, as the tool writes it.
    identifier = struct.unpack("<H", struct.pack(">H", 4242))[0]
    yield ("echo-reply", "An echo reply to identifier 4242",
           IPv6(src=ROUTER6, dst=HOST6) / ICMPv6EchoReply(id=identifier, seq=0))
    yield ("echo-reply-dstopts", "The same reply behind destination options",
           IPv6(src=ROUTER6, dst=HOST6) / IPv6ExtHdrDestOpt() /
           ICMPv6EchoReply(id=identifier, seq=1, data=b"abcdefgh"))
    yield ("echo-request", "The tool's echo request to ff02::2",
           IPv6(dst=ALL_ROUTERS6, **host) / ICMPv6EchoRequest(id=identifier, seq=0))

    yield ("pim-hello", "A Hello as pim6d sends it: holdtime 105, DR priority 1, a Generation ID",
           pim6(0, bytes.fromhex("0001 0002 0069 0013 0004 00000001 0014 0004 12345678"),
                ROUTER6, ALL_PIM_ROUTERS6))
    yield ("pim-hello-host", "The tool's Hello: holdtime 30, DR priority 0",
           pim6(0, bytes.fromhex("0001 0002 001e 0013 0004 00000000 0014 0004 12345678"),
                HOST6, ALL_PIM_ROUTERS6))
    rp6 = "2001:db8:ff::1"
    yield ("pim-bootstrap", "A Bootstrap message naming one RP",
           pim6(4, struct.pack(">HBB", 1, 126, 0) + encoded_unicast6(rp6) +
                encoded_group6("ff00::", 8) + bytes([1, 1, 0, 0]) + encoded_unicast6(rp6) +
                struct.pack(">HBB", 150, 0, 0), ROUTER6, ALL_PIM_ROUTERS6))
    yield ("pim-c-rp-advertisement", "A Candidate-RP-Advertisement",
           pim6(8, bytes([1, 0]) + struct.pack(">H", 150) + encoded_unicast6(rp6) +
                encoded_group6("ff00::", 8), "2001:db8:1::1", "2001:db8:ff::2"))

    yield ("udp-beacon", "A beacon to the ASM group",
           IPv6(src=SSM_SOURCE6, dst=ASM_GROUP6, hlim=15) / UDP(sport=40000, dport=10002) /
           Raw(b"lab beacon #0\n"))
    yield ("udp-query-lookalike", "UDP whose payload begins like a query and a reply",
           IPv6(src=ROUTER6, dst=HOST6, nh=17) / Raw(bytes([130, 0, 0, 0, 0x92, 0x10]) + bytes(22)))

    query = raw(IPv6(dst=ALL_NODES6, **router) / router_alert() /
                ICMPv6MLQuery2(mrd=10000, QRV=2, QQIC=125))
    yield "header-only", "An IPv6 header and nothing of its payload", query[:40]
    yield "cut-in-hop-by-hop", "Cut inside the hop-by-hop header", query[:44]


# Address texts as options and interfaces give them.
ADDRESS_TEXTS = {
    "asm-group": ASM_GROUP,
    "v6-group": "ff3e:20:2001:db8::19",
    "v6-mapped": "::ffff:198.51.100.20",
    "v6-source": "2001:db8::20",
    "v6-link-local": "fe80::1:2:3:4",
}


def as_bytes(packet):
    return packet if isinstance(packet, bytes) else raw(packet)


def cxx_name(name):
    return "k" + "".join(part.capitalize() for part in name.split("-"))


def cxx_header(captures):
    lines = [
        "// IPv6 datagrams built by scapy, header first, as a capture hands them over.",
        "// Written by fuzz/make_corpus.py --header from the same packets as the",
        "// fuzzers' ipv6-* seeds; regenerate rather than edit.",
        "#pragma once",
        "",
        "#include <cstdint>",
        "#include <vector>",
        "",
        "namespace ipv6_captures {",
    ]
    for name, what, packet in captures:
        data = as_bytes(packet)
        lines += ["", f"// {what}.",
                  f"inline const std::vector<std::uint8_t> {cxx_name(name)} = {{"]
        for at in range(0, len(data), 12):
            lines.append("    " + " ".join(f"0x{b:02x}," for b in data[at:at + 12]))
        lines[-1] = lines[-1].rstrip(",")
        lines.append("};")
    lines += ["", "}  // namespace ipv6_captures", ""]
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out", nargs="?", default="corpus")
    parser.add_argument("--header", help="also write the IPv6 datagrams as a C++ header")
    args = parser.parse_args()
    out = pathlib.Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    for name, packet in packets():
        (out / f"{name}.bin").write_bytes(as_bytes(packet))
    captures = list(ipv6_packets())
    for name, _, packet in captures:
        (out / f"ipv6-{name}.bin").write_bytes(as_bytes(packet))
    for name, text in ADDRESS_TEXTS.items():
        (out / f"address-{name}.txt").write_text(text)
    if args.header:
        pathlib.Path(args.header).write_text(cxx_header(captures))
        # The project's style is clang-format's: lay the arrays out its way.
        if shutil.which("clang-format"):
            subprocess.run(["clang-format", "-i", args.header], check=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
