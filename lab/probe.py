#!/usr/bin/python3
"""Small host-side probes for the lab's self-check, built with scapy.

Each probe listens on the host link, sends one exchange and prints, one line each,
what the router sent back within --wait seconds:

  query v3 group=233.4.200.19 sources= from=10.0.1.1 ms=4
  hello from=10.0.1.1 holdtime=105 dr_priority=1 genid=12345 ms=7

Probes:
  igmpv2-leave GROUP       IGMPv2 report, then leave, for GROUP
  igmpv3-block GROUP SRC   IGMPv3 ALLOW then BLOCK record for (SRC, GROUP)
  pim-hello [--genid N]    PIM Hello (holdtime 30, DR priority 0, a generation ID)
  bad-igmp GROUP           an IGMPv2 report with a wrong checksum (to prove the witness)
"""

import argparse
import random
import sys
import threading
import time

from scapy.all import IP, IPOption_Router_Alert, AsyncSniffer, conf, send  # type: ignore
from scapy.contrib.igmp import IGMP  # type: ignore
from scapy.contrib.igmpv3 import IGMPv3, IGMPv3gr, IGMPv3mq, IGMPv3mr  # type: ignore
from scapy.contrib.pim import (  # type: ignore
    PIMv2Hdr, PIMv2Hello, PIMv2HelloDRPriority, PIMv2HelloGenerationID,
    PIMv2HelloHoldtime)

ALL_ROUTERS = "224.0.0.2"
IGMPV3_ROUTERS = "224.0.0.22"
ALL_PIM_ROUTERS = "224.0.0.13"


def igmp_ip(dst: str) -> IP:
    return IP(dst=dst, ttl=1, options=[IPOption_Router_Alert()])


def describe(pkt, t0: float, own: str):
    if IP not in pkt or pkt[IP].src == own:
        return None
    ms = round((pkt.time - t0) * 1000)
    if ms < 0:
        # Older than the probe's own message: it answers something else, such as
        # an earlier receiver's leave that FRR is still querying for.
        return None
    ip = pkt[IP]
    if ip.proto == 2:
        # The IP length, not the frame: Ethernet pads an 8-byte IGMPv2 message.
        raw = bytes(ip.payload)[:ip.len - ip.ihl * 4]
        if not raw or raw[0] != 0x11:
            return None
        if len(raw) >= 12:
            q = IGMPv3(raw)
            mq = q[IGMPv3mq]
            srcs = ",".join(mq.srcaddrs)
            return f"query v3 group={mq.gaddr} sources={srcs} from={ip.src} ms={ms}"
        q = IGMP(raw)
        return f"query v2 group={q.gaddr} from={ip.src} ms={ms}"
    if ip.proto == 103 and PIMv2Hello in pkt:
        opts = {"holdtime": "", "dr_priority": "", "genid": ""}
        for opt in pkt[PIMv2Hello].option:
            if isinstance(opt, PIMv2HelloHoldtime):
                opts["holdtime"] = str(opt.holdtime)
            elif isinstance(opt, PIMv2HelloDRPriority):
                opts["dr_priority"] = str(opt.dr_priority)
            elif isinstance(opt, PIMv2HelloGenerationID):
                opts["genid"] = str(opt.generation_id)
        fields = " ".join(f"{k}={v}" for k, v in opts.items())
        return f"hello from={ip.src} {fields} ms={ms}"
    return None


def main() -> int:
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--iface", default="eth0")
    parser.add_argument("--wait", type=float, default=2.5)
    sub = parser.add_subparsers(dest="probe", required=True)
    p = sub.add_parser("igmpv2-leave")
    p.add_argument("group")
    p = sub.add_parser("igmpv3-block")
    p.add_argument("group")
    p.add_argument("source")
    p = sub.add_parser("pim-hello")
    p.add_argument("--genid", type=int, default=None)
    p.add_argument("--holdtime", type=int, default=30)
    p.add_argument("--dr-priority", type=int, default=0)
    p = sub.add_parser("bad-igmp")
    p.add_argument("group")
    args = parser.parse_args()

    conf.verb = 0
    conf.iface = args.iface
    own = conf.ifaces.dev_from_name(args.iface).ip

    started = threading.Event()
    sniffer = AsyncSniffer(iface=args.iface, store=True,
                           lfilter=lambda pk: IP in pk and pk[IP].proto in (2, 103),
                           started_callback=started.set)
    sniffer.start()
    if not started.wait(5):
        print("probe: capture did not start", file=sys.stderr)
        return 2

    t0 = time.time()
    if args.probe == "igmpv2-leave":
        send(igmp_ip(args.group) / IGMP(type=0x16, gaddr=args.group))
        time.sleep(0.2)
        t0 = time.time()
        send(igmp_ip(ALL_ROUTERS) / IGMP(type=0x17, gaddr=args.group))
    elif args.probe == "igmpv3-block":
        def report(rtype: int):
            rec = IGMPv3gr(rtype=rtype, maddr=args.group, srcaddrs=[args.source])
            return igmp_ip(IGMPV3_ROUTERS) / IGMPv3(type=0x22) / IGMPv3mr(records=[rec])
        send(report(5))
        time.sleep(0.2)
        t0 = time.time()
        send(report(6))
    elif args.probe == "pim-hello":
        genid = args.genid if args.genid is not None else random.getrandbits(32)
        hello = PIMv2Hdr() / PIMv2Hello(option=[
            PIMv2HelloHoldtime(holdtime=args.holdtime),
            PIMv2HelloDRPriority(dr_priority=args.dr_priority),
            PIMv2HelloGenerationID(generation_id=genid)])
        send(IP(dst=ALL_PIM_ROUTERS, ttl=1, proto=103) / hello)
    elif args.probe == "bad-igmp":
        pkt = igmp_ip(args.group) / IGMP(type=0x16, gaddr=args.group)
        pkt[IGMP].chksum = 0xBAD0
        send(pkt)

    time.sleep(args.wait)
    captured = sniffer.stop() or []
    for pkt in captured:
        line = describe(pkt, t0, own)
        if line:
            print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
