#!/usr/bin/python3
"""Background traffic for the benchmark: RATE frames a second of ordinary packets
that are none of the tool's business but reach its sockets and captures all the same
(IGMP reports for other groups and PIM Join/Prunes from other hosts, ICMP errors, UDP
to other ports), out of IFACE until terminated. Prints the rate it kept. --ipv6 sends
their IPv6 counterparts instead: MLDv2 reports, PIMv6 Join/Prunes, ICMPv6 errors, UDP.
"""

import argparse
import logging
import pathlib
import signal
import socket
import sys
import time

# Building packets in a namespace without routes makes scapy warn on every one.
logging.getLogger("scapy.runtime").setLevel(logging.ERROR)
from scapy.all import ICMP, IP, UDP, Ether, Raw, raw
from scapy.contrib.igmp import IGMP
from scapy.contrib.pim import PIMv2Hdr, PIMv2JoinPrune
from scapy.layers.inet6 import (ICMPv6DestUnreach, ICMPv6MLDMultAddrRec, ICMPv6MLReport2,
                                IPv6, IPv6ExtHdrHopByHop, RouterAlert)

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "lab"))
import facts  # pylint: disable=wrong-import-position

HOST = facts.HOST_ADDR
HOST6 = facts.HOST6_ADDR


def multicast_mac(address):
    octets = socket.inet_aton(address)
    return "01:00:5e:%02x:%02x:%02x" % (octets[1] & 0x7F, octets[2], octets[3])


def frames(host_mac):
    out = []
    for i in range(16):
        group = f"239.1.{i}.{i + 1}"
        sender = f"10.0.1.{50 + i}"
        out.append(Ether(dst=multicast_mac(group)) / IP(src=sender, dst=group, ttl=1) /
                   IGMP(type=0x16, gaddr=group))
        out.append(Ether(dst=multicast_mac("224.0.0.13")) /
                   IP(src=sender, dst="224.0.0.13", ttl=1, proto=103) /
                   PIMv2Hdr(type=3) / PIMv2JoinPrune(up_neighbor_ip="10.0.1.200",
                                                     holdtime=210))
        out.append(Ether(dst=host_mac) / IP(src=sender, dst=HOST) /
                   ICMP(type=3, code=1) / Raw(raw(IP(src=HOST, dst="10.0.9.9") / UDP())))
        out.append(Ether(dst=host_mac) / IP(src=sender, dst=HOST) /
                   UDP(sport=5000, dport=9000 + i) / Raw(bytes(32)))
    return [raw(f) for f in out]


def ipv6_mac(address):
    octets = socket.inet_pton(socket.AF_INET6, address)
    return "33:33:" + ":".join("%02x" % b for b in octets[12:])


def frames6(host_mac):
    out = []
    for i in range(16):
        group = f"ff3e::1:{i + 1:x}"
        sender = f"fe80::{0x50 + i:x}"
        out.append(Ether(dst=ipv6_mac("ff02::16")) / IPv6(src=sender, dst="ff02::16", hlim=1) /
                   IPv6ExtHdrHopByHop(options=[RouterAlert()]) /
                   ICMPv6MLReport2(records=[ICMPv6MLDMultAddrRec(rtype=4, dst=group)]))
        out.append(Ether(dst=ipv6_mac("ff02::d")) / IPv6(src=sender, dst="ff02::d", hlim=1,
                                                         nh=103) /
                   PIMv2Hdr(type=3) / Raw(bytes(24)))
        out.append(Ether(dst=host_mac) / IPv6(src=f"2001:db8:1::{0x50 + i:x}", dst=HOST6) /
                   ICMPv6DestUnreach(code=3) / Raw(raw(IPv6(src=HOST6, dst="2001:db8:9::9") /
                                                       UDP())))
        out.append(Ether(dst=host_mac) / IPv6(src=f"2001:db8:1::{0x50 + i:x}", dst=HOST6) /
                   UDP(sport=5000, dport=9000 + i) / Raw(bytes(32)))
    return [raw(f) for f in out]


def send_until_terminated(batch, args):
    """Sends the frames of `batch` round and round at args.rate out of args.iface."""
    sock = socket.socket(socket.AF_PACKET, socket.SOCK_RAW)
    sock.bind((args.iface, 0))
    stopping = []
    signal.signal(signal.SIGTERM, lambda *_: stopping.append(1))
    print(f"background: {len(batch)} distinct frames at {args.rate:.0f}/s", flush=True)
    sent = 0
    start = time.monotonic()
    while not stopping:
        for frame in batch:
            try:
                sock.send(frame)
            except OSError:
                pass  # a full queue drops the frame, as a busy link would
        sent += len(batch)
        ahead = start + sent / args.rate - time.monotonic()
        if ahead > 0:
            time.sleep(ahead)
    took = time.monotonic() - start
    print(f"background: sent {sent} frames in {took:.1f} s, {sent / took:.0f}/s", flush=True)
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--iface", required=True)
    parser.add_argument("--host-mac", required=True)
    parser.add_argument("--rate", type=float, default=50000)
    parser.add_argument("--ipv6", action="store_true")
    args = parser.parse_args()
    return send_until_terminated((frames6 if args.ipv6 else frames)(args.host_mac), args)


if __name__ == "__main__":
    sys.exit(main())
