#!/usr/bin/python3
"""Small host-side IPv6 probes for the lab's self-check, built with scapy.

Each probe listens on the host link, sends one exchange from the link's link-local
address and prints, one line each, the MLD queries and PIMv6 Hellos that came back
within --wait seconds (the format of ipv6_messages.describe, with ms= since the probe's
last message):

  query v2 group=ff3e::120 sources=2001:db8::20 from=fe80::1 ... ms=14
  hello from=fe80::1 holdtime=105 dr_priority=1 genid=12345 hlim=1 ms=3

Probes:
  mldv1-done GROUP          MLDv1 Report for GROUP (to GROUP), then Done (to ff02::2)
  mldv2-block GROUP SRC     MLDv2 ALLOW then BLOCK record for (SRC, GROUP) (to ff02::16)
  pim-hello [--genid N]     PIMv6 Hello (holdtime 30, DR priority 0, a generation ID)
  report GROUP [--bad-checksum] [--no-router-alert] [--hop-limit N] [--source ADDR]
                            one MLDv1 Report, as broken as asked (to prove the witness)
  bad-pim                   a PIMv6 Hello with a wrong checksum (to prove the witness)
"""

import argparse
import random
import socket
import sys
import threading
import time

from ipv6_messages import describe
from scapy.all import AsyncSniffer, Ether, Raw, conf, get_if_hwaddr, sendp  # type: ignore
from scapy.contrib.pim import (  # type: ignore
    PIMv2Hdr, PIMv2Hello, PIMv2HelloDRPriority, PIMv2HelloGenerationID,
    PIMv2HelloHoldtime)
from scapy.layers.inet6 import (  # type: ignore
    ICMPv6MLDMultAddrRec, ICMPv6MLDone, ICMPv6MLReport, ICMPv6MLReport2, IPv6,
    IPv6ExtHdrHopByHop, RouterAlert, in6_chksum)

ALL_ROUTERS = "ff02::2"
MLDV2_ROUTERS = "ff02::16"
ALL_PIM_ROUTERS = "ff02::d"


def link_local(iface: str) -> str:
    with open("/proc/net/if_inet6", encoding="ascii") as table:
        for line in table:
            raw, _, _, scope, _, name = line.split()
            if name == iface and scope == "20":
                return socket.inet_ntop(socket.AF_INET6, bytes.fromhex(raw))
    raise SystemExit(f"probe6: {iface} has no link-local address")


def frame(iface: str, ip: IPv6):
    """IP in an Ethernet frame to the group's MAC, from the link's own MAC (a bridge
    drops frames from 00:00:00:00:00:00)."""
    group = socket.inet_pton(socket.AF_INET6, ip.dst)
    dst = "33:33:" + ":".join(f"{b:02x}" for b in group[12:])
    return Ether(src=get_if_hwaddr(iface), dst=dst) / ip


def mld_ip(src: str, dst: str, hop_limit: int = 1, router_alert: bool = True):
    ip = IPv6(src=src, dst=dst, hlim=hop_limit)
    return ip / IPv6ExtHdrHopByHop(options=[RouterAlert(value=0)]) if router_alert else ip


def pim_hello(src: str, genid: int, holdtime: int, dr_priority: int, bad: bool = False):
    ip = IPv6(src=src, dst=ALL_PIM_ROUTERS, hlim=1, nh=103)
    body = bytearray(bytes(PIMv2Hdr(chksum=0) / PIMv2Hello(option=[
        PIMv2HelloHoldtime(holdtime=holdtime),
        PIMv2HelloDRPriority(dr_priority=dr_priority),
        PIMv2HelloGenerationID(generation_id=genid)])))
    # PIM over IPv6 sums the IPv6 pseudo-header too (RFC 7761 4.9).
    checksum = in6_chksum(103, ip, bytes(body)) ^ (0x5A5A if bad else 0)
    body[2:4] = checksum.to_bytes(2, "big")
    return ip / Raw(bytes(body))


def main() -> int:
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--iface", default="eth0")
    parser.add_argument("--wait", type=float, default=2.5)
    sub = parser.add_subparsers(dest="probe", required=True)
    p = sub.add_parser("mldv1-done")
    p.add_argument("group")
    p = sub.add_parser("mldv2-block")
    p.add_argument("group")
    p.add_argument("source")
    p = sub.add_parser("pim-hello")
    p.add_argument("--genid", type=int, default=None)
    p.add_argument("--holdtime", type=int, default=30)
    p.add_argument("--dr-priority", type=int, default=0)
    p = sub.add_parser("report")
    p.add_argument("group")
    p.add_argument("--bad-checksum", action="store_true")
    p.add_argument("--no-router-alert", action="store_true")
    p.add_argument("--hop-limit", type=int, default=1)
    p.add_argument("--source", help="the source address (default: the link-local one)")
    sub.add_parser("bad-pim")
    args = parser.parse_args()

    conf.verb = 0
    conf.iface = args.iface
    own = link_local(args.iface)

    started = threading.Event()
    sniffer = AsyncSniffer(iface=args.iface, store=True,
                           lfilter=lambda pk: IPv6 in pk and pk[IPv6].src != own,
                           started_callback=started.set)
    sniffer.start()
    if not started.wait(5):
        print("probe6: capture did not start", file=sys.stderr)
        return 2

    def send(ip):
        sendp(frame(args.iface, ip), iface=args.iface)

    t0 = time.time()
    if args.probe == "mldv1-done":
        send(mld_ip(own, args.group) / ICMPv6MLReport(mladdr=args.group))
        time.sleep(0.2)
        t0 = time.time()
        send(mld_ip(own, ALL_ROUTERS) / ICMPv6MLDone(mladdr=args.group))
    elif args.probe == "mldv2-block":
        def report(rtype: int):
            rec = ICMPv6MLDMultAddrRec(rtype=rtype, dst=args.group, sources=[args.source])
            return mld_ip(own, MLDV2_ROUTERS) / ICMPv6MLReport2(records=[rec])
        send(report(5))
        time.sleep(0.2)
        t0 = time.time()
        send(report(6))
    elif args.probe == "pim-hello":
        genid = args.genid if args.genid is not None else random.getrandbits(32)
        send(pim_hello(own, genid, args.holdtime, args.dr_priority))
    elif args.probe == "report":
        msg = ICMPv6MLReport(mladdr=args.group)
        if args.bad_checksum:
            msg.cksum = 0xBAD0
        send(mld_ip(args.source or own, args.group, args.hop_limit,
                    not args.no_router_alert) / msg)
    elif args.probe == "bad-pim":
        send(pim_hello(own, random.getrandbits(32), 30, 0, bad=True))

    time.sleep(args.wait)
    captured = sniffer.stop() or []
    for pkt in captured:
        line = describe(bytes(pkt[IPv6]))
        ms = round((pkt.time - t0) * 1000)
        # Older than the probe's last message: it answers something else.
        if line and ms >= 0:
            print(f"{line} ms={ms}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
