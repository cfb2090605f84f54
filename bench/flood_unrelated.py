#!/usr/bin/python3
"""Background traffic for the benchmark: RATE frames a second of ordinary packets
that are none of the tool's business but reach its sockets and captures all the same
(IGMP reports for other groups and PIM Join/Prunes from other hosts, ICMP errors, UDP
to other ports), out of IFACE until terminated. Prints the rate it kept.
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

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "lab"))
import facts  # pylint: disable=wrong-import-position

HOST = facts.HOST_ADDR


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
    args = parser.parse_args()
    return send_until_terminated(frames(args.host_mac), args)


if __name__ == "__main__":
    sys.exit(main())
