#!/usr/bin/python3
"""Small host-side probes for the lab's self-check, built with scapy.

Each probe listens on the host link, sends one exchange (with -6: over IPv6, from the
link's link-local address) and prints, one line each, the queries and PIM Hellos the
router sent back within --wait seconds, with ms= since the probe's last message:

  query v3 group=233.4.200.19 sources= from=10.0.1.1 ms=4
  hello from=10.0.1.1 holdtime=105 dr_priority=1 genid=12345 ms=7
  query v2 group=ff3e::120 sources=2001:db8::20 from=fe80::1 ... ms=14   (-6: the
                                                 format of ipv6_messages.describe)
Probes:
  leave GROUP             a membership report for GROUP, then its leave: IGMPv2 report
                          and leave (-6: MLDv1 Report to GROUP, then Done to ff02::2)
  block GROUP SRC         an ALLOW then a BLOCK record for (SRC, GROUP): IGMPv3 (-6:
                          MLDv2, to ff02::16)
  pim-hello [--genid N] [--bad-checksum]
                          PIM Hello (holdtime 30, DR priority 0, a generation ID)
  report GROUP [--bad-checksum] [--no-router-alert] [--hop-limit N] [--source ADDR]
                          one IGMPv2 report (-6: MLDv1 Report), as broken as asked (to
                          prove the witness)

Several probes joined by --then run one after another in one process, which spares
each one's start of scapy: the first's -6 and --iface hold for all, each has its own
--wait before its name and its own capture, and its lines start with its number,
"1 query v3 ...".
"""

import argparse
import random
import socket
import sys
import threading
import time

from ipv6_messages import describe as describe6
from scapy.all import (  # type: ignore
    IP, AsyncSniffer, Ether, IPOption_Router_Alert, Raw, conf, get_if_hwaddr, send, sendp)
from scapy.contrib.igmp import IGMP  # type: ignore
from scapy.contrib.igmpv3 import IGMPv3, IGMPv3gr, IGMPv3mq, IGMPv3mr  # type: ignore
from scapy.contrib.pim import (  # type: ignore
    PIMv2Hdr, PIMv2Hello, PIMv2HelloDRPriority, PIMv2HelloGenerationID,
    PIMv2HelloHoldtime)
from scapy.layers.inet6 import (  # type: ignore
    ICMPv6MLDMultAddrRec, ICMPv6MLDone, ICMPv6MLReport, ICMPv6MLReport2, IPv6,
    IPv6ExtHdrHopByHop, RouterAlert, in6_chksum)

PIM = 103
BAD_CHECKSUM = 0xBAD0


def hello_body(genid: int, holdtime: int, dr_priority: int):
    return PIMv2Hdr(chksum=0) / PIMv2Hello(option=[
        PIMv2HelloHoldtime(holdtime=holdtime),
        PIMv2HelloDRPriority(dr_priority=dr_priority),
        PIMv2HelloGenerationID(generation_id=genid)])


class V4:
    """IGMP and PIM over IPv4, sent through the host's own IP stack."""
    ALL_ROUTERS, REPORTS_TO, ALL_PIM_ROUTERS = "224.0.0.2", "224.0.0.22", "224.0.0.13"

    def __init__(self, iface: str):
        self.iface = iface
        self.own = conf.ifaces.dev_from_name(iface).ip

    def heard(self, pkt) -> bool:
        return IP in pkt and pkt[IP].proto in (2, PIM)

    @staticmethod
    def ip(dst: str, hop_limit: int = 1, router_alert: bool = True, source=None):
        ip = IP(dst=dst, ttl=hop_limit, options=[IPOption_Router_Alert()] if router_alert else [])
        if source:
            ip.src = source
        return ip

    @staticmethod
    def send(pkt):
        send(pkt)  # out of conf.iface, the host link

    def report(self, group: str, **how):
        return self.ip(group, **how) / IGMP(type=0x16, gaddr=group)

    def leave(self, group: str):
        return self.ip(self.ALL_ROUTERS) / IGMP(type=0x17, gaddr=group)

    def record(self, rtype: int, group: str, source: str):
        rec = IGMPv3gr(rtype=rtype, maddr=group, srcaddrs=[source])
        return self.ip(self.REPORTS_TO) / IGMPv3(type=0x22) / IGMPv3mr(records=[rec])

    @staticmethod
    def broken(pkt):
        pkt[IGMP].chksum = BAD_CHECKSUM
        return pkt

    def hello(self, genid: int, holdtime: int, dr_priority: int, bad: bool):
        pkt = IP(dst=self.ALL_PIM_ROUTERS, ttl=1, proto=PIM) / hello_body(genid, holdtime,
                                                                         dr_priority)
        if bad:
            pkt[PIMv2Hdr].chksum = BAD_CHECKSUM
        else:
            del pkt[PIMv2Hdr].chksum  # scapy computes it
        return pkt

    def describe(self, pkt):
        if IP not in pkt or pkt[IP].src == self.own:
            return None
        ip = pkt[IP]
        if ip.proto == 2:
            # The IP length, not the frame: Ethernet pads an 8-byte IGMPv2 message.
            raw = bytes(ip.payload)[:ip.len - ip.ihl * 4]
            if not raw or raw[0] != 0x11:
                return None
            if len(raw) >= 12:
                mq = IGMPv3(raw)[IGMPv3mq]
                srcs = ",".join(mq.srcaddrs)
                return f"query v3 group={mq.gaddr} sources={srcs} from={ip.src}"
            return f"query v2 group={IGMP(raw).gaddr} from={ip.src}"
        if ip.proto == PIM and PIMv2Hello in pkt:
            opts = {"holdtime": "", "dr_priority": "", "genid": ""}
            for opt in pkt[PIMv2Hello].option:
                if isinstance(opt, PIMv2HelloHoldtime):
                    opts["holdtime"] = str(opt.holdtime)
                elif isinstance(opt, PIMv2HelloDRPriority):
                    opts["dr_priority"] = str(opt.dr_priority)
                elif isinstance(opt, PIMv2HelloGenerationID):
                    opts["genid"] = str(opt.generation_id)
            fields = " ".join(f"{k}={v}" for k, v in opts.items())
            return f"hello from={ip.src} {fields}"
        return None


class V6:
    """MLD and PIM over IPv6, sent as whole frames from the link-local address."""
    ALL_ROUTERS, REPORTS_TO, ALL_PIM_ROUTERS = "ff02::2", "ff02::16", "ff02::d"

    def __init__(self, iface: str):
        self.iface = iface
        self.own = self.link_local(iface)

    @staticmethod
    def link_local(iface: str) -> str:
        with open("/proc/net/if_inet6", encoding="ascii") as table:
            for line in table:
                raw, _, _, scope, _, name = line.split()
                if name == iface and scope == "20":
                    return socket.inet_ntop(socket.AF_INET6, bytes.fromhex(raw))
        raise SystemExit(f"probe: {iface} has no link-local address")

    def heard(self, pkt) -> bool:
        return IPv6 in pkt and pkt[IPv6].src != self.own

    def ip(self, dst: str, hop_limit: int = 1, router_alert: bool = True, source=None):
        ip = IPv6(src=source or self.own, dst=dst, hlim=hop_limit)
        return ip / IPv6ExtHdrHopByHop(options=[RouterAlert(value=0)]) if router_alert else ip

    def send(self, ip):
        """IP in an Ethernet frame to the group's MAC, from the link's own MAC (a bridge
        drops frames from 00:00:00:00:00:00)."""
        group = socket.inet_pton(socket.AF_INET6, ip.dst)
        dst = "33:33:" + ":".join(f"{b:02x}" for b in group[12:])
        sendp(Ether(src=get_if_hwaddr(self.iface), dst=dst) / ip, iface=self.iface)

    def report(self, group: str, **how):
        return self.ip(group, **how) / ICMPv6MLReport(mladdr=group)

    def leave(self, group: str):
        return self.ip(self.ALL_ROUTERS) / ICMPv6MLDone(mladdr=group)

    def record(self, rtype: int, group: str, source: str):
        rec = ICMPv6MLDMultAddrRec(rtype=rtype, dst=group, sources=[source])
        return self.ip(self.REPORTS_TO) / ICMPv6MLReport2(records=[rec])

    @staticmethod
    def broken(pkt):
        pkt[ICMPv6MLReport].cksum = BAD_CHECKSUM
        return pkt

    def hello(self, genid: int, holdtime: int, dr_priority: int, bad: bool):
        ip = IPv6(src=self.own, dst=self.ALL_PIM_ROUTERS, hlim=1, nh=PIM)
        body = bytearray(bytes(hello_body(genid, holdtime, dr_priority)))
        # PIM over IPv6 sums the IPv6 pseudo-header too (RFC 7761 4.9), which scapy's
        # PIM layer does not.
        checksum = in6_chksum(PIM, ip, bytes(body)) ^ (0x5A5A if bad else 0)
        body[2:4] = checksum.to_bytes(2, "big")
        return ip / Raw(bytes(body))

    @staticmethod
    def describe(pkt):
        return describe6(bytes(pkt[IPv6])) if IPv6 in pkt else None


def parse(argv: list[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("-6", dest="ipv6", action="store_true", help="probe over IPv6")
    parser.add_argument("--iface", default="eth0")
    parser.add_argument("--wait", type=float, default=2.5)
    sub = parser.add_subparsers(dest="probe", required=True)
    p = sub.add_parser("leave")
    p.add_argument("group")
    p = sub.add_parser("block")
    p.add_argument("group")
    p.add_argument("source")
    p = sub.add_parser("pim-hello")
    p.add_argument("--genid", type=int, default=None)
    p.add_argument("--holdtime", type=int, default=30)
    p.add_argument("--dr-priority", type=int, default=0)
    p.add_argument("--bad-checksum", action="store_true")
    p = sub.add_parser("report")
    p.add_argument("group")
    p.add_argument("--bad-checksum", action="store_true")
    p.add_argument("--no-router-alert", action="store_true")
    p.add_argument("--hop-limit", type=int, default=1)
    p.add_argument("--source", help="the source address (default: the link's own)")
    return parser.parse_args(argv)


def main() -> int:
    runs: list[list[str]] = [[]]
    for arg in sys.argv[1:]:
        if arg == "--then":
            runs.append([])
        else:
            runs[-1].append(arg)
    first = parse(runs[0])
    common = (["-6"] if first.ipv6 else []) + ["--iface", first.iface]
    probes = [first] + [parse(common + argv) for argv in runs[1:]]
    conf.verb = 0
    for number, args in enumerate(probes, 1):
        status = run(args, f"{number} " if len(probes) > 1 else "")
        if status:
            return status
    return 0


def run(args: argparse.Namespace, prefix: str) -> int:
    conf.iface = args.iface
    family = V6(args.iface) if args.ipv6 else V4(args.iface)

    started = threading.Event()
    sniffer = AsyncSniffer(iface=args.iface, store=True, lfilter=family.heard,
                           started_callback=started.set)
    sniffer.start()
    if not started.wait(5):
        print("probe: capture did not start", file=sys.stderr)
        return 2

    t0 = time.time()
    if args.probe == "leave":
        family.send(family.report(args.group))
        time.sleep(0.2)
        t0 = time.time()
        family.send(family.leave(args.group))
    elif args.probe == "block":
        family.send(family.record(5, args.group, args.source))
        time.sleep(0.2)
        t0 = time.time()
        family.send(family.record(6, args.group, args.source))
    elif args.probe == "pim-hello":
        genid = args.genid if args.genid is not None else random.getrandbits(32)
        family.send(family.hello(genid, args.holdtime, args.dr_priority, args.bad_checksum))
    elif args.probe == "report":
        pkt = family.report(args.group, hop_limit=args.hop_limit,
                            router_alert=not args.no_router_alert, source=args.source)
        family.send(family.broken(pkt) if args.bad_checksum else pkt)

    time.sleep(args.wait)
    for pkt in sniffer.stop() or []:
        line = family.describe(pkt)
        ms = round((pkt.time - t0) * 1000)
        # Older than the probe's last message: it answers something else, such as an
        # earlier receiver's leave that the router is still querying for.
        if line and ms >= 0:
            print(f"{prefix}{line} ms={ms}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
