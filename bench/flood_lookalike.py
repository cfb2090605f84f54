#!/usr/bin/python3
"""Hostile background traffic for the benchmark, out of IFACE at RATE frames a second
until terminated. --kind lookalike: what a naive filter lets through, IGMP Membership
Queries for other groups, PIM Join/Prunes, ICMP echo replies to the host with other
identifiers. --kind hellos: PIM Hellos, each from another random source address, so
the tool hears RATE new PIM neighbours a second. --kind beacon-senders: datagrams to
the ASM beacon's group and port, each from another random source address, so the
tool's test 1 hears RATE new members a second.
"""

import argparse
import logging
import pathlib
import random
import socket
import struct
import sys

logging.getLogger("scapy.runtime").setLevel(logging.ERROR)
from scapy.all import ICMP, IP, UDP, Ether, Raw, checksum, raw
from scapy.contrib.igmp import IGMP
from scapy.contrib.pim import (PIMv2Hdr, PIMv2Hello, PIMv2HelloGenerationID,
                               PIMv2HelloHoldtime, PIMv2JoinPrune)

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "lab"))
import facts  # pylint: disable=wrong-import-position
from flood_unrelated import multicast_mac, send_until_terminated  # pylint: disable=wrong-import-position

HOST = facts.HOST_ADDR
ROUTER = facts.ROUTER_ADDR


def lookalikes(host_mac):
    out = []
    for i in range(16):
        group = f"239.2.{i}.{i + 1}"
        sender = f"10.0.1.{50 + i}"
        out.append(Ether(dst=multicast_mac(group)) / IP(src=ROUTER, dst=group, ttl=1) /
                   IGMP(type=0x11, mrcode=100, gaddr=group))
        out.append(Ether(dst=multicast_mac("224.0.0.13")) /
                   IP(src=sender, dst="224.0.0.13", ttl=1, proto=103) /
                   PIMv2Hdr(type=3) / PIMv2JoinPrune(up_neighbor_ip="10.0.1.200",
                                                     holdtime=210))
        # The tool's identifier is its process ID's low 16 bits, written low byte
        # first; these bytes read that way give 0x8100 to 0x810f, which no PID
        # below pid_max 32768 gives.
        out.append(Ether(dst=host_mac) / IP(src=sender, dst=HOST) /
                   ICMP(type=0, id=(i << 8) | 0x81, seq=i) / Raw(bytes(16)))
    return [raw(f) for f in out]


def hellos(count):
    """`count` Hellos, each from its own random 10.x source: the IP header's source
    and checksum are rewritten in one template, the PIM checksum stays right."""
    template = bytearray(raw(
        Ether(dst=multicast_mac("224.0.0.13")) /
        IP(src="10.0.1.1", dst="224.0.0.13", ttl=1, proto=103) /
        PIMv2Hdr(type=0) / PIMv2Hello(option=[PIMv2HelloHoldtime(holdtime=105),
                                              PIMv2HelloGenerationID(generation_id=7)])))
    out = []
    rng = random.Random(15)
    for _ in range(count):
        frame = bytearray(template)
        frame[26:30] = struct.pack(">I", (10 << 24) | rng.randrange(1 << 24))
        frame[24:26] = b"\0\0"
        frame[24:26] = struct.pack(">H", checksum(bytes(frame[14:34])))
        out.append(bytes(frame))
    return out


def beacon_senders(count):
    """`count` datagrams to the ASM beacon's group and port, each from its own random
    10.x source: the IP header's source and checksum are rewritten in one template
    (the UDP checksum is 0, none, which IPv4 allows)."""
    group, port = facts.ASM_GROUP, int(facts.ASM_PORT)
    template = bytearray(raw(
        Ether(dst=multicast_mac(group)) /
        IP(src="10.0.1.1", dst=group, ttl=16) / UDP(sport=5004, dport=port, chksum=0) /
        Raw(bytes([0x80, 0x60]) + bytes(30))))
    out = []
    rng = random.Random(19)
    for _ in range(count):
        frame = bytearray(template)
        frame[26:30] = struct.pack(">I", (10 << 24) | rng.randrange(1 << 24))
        frame[24:26] = b"\0\0"
        frame[24:26] = struct.pack(">H", checksum(bytes(frame[14:34])))
        out.append(bytes(frame))
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--iface", required=True)
    parser.add_argument("--host-mac", required=True)
    parser.add_argument("--rate", type=float, default=50000)
    parser.add_argument("--kind", choices=["lookalike", "hellos", "beacon-senders"],
                        required=True)
    args = parser.parse_args()
    if args.kind == "lookalike" and int(pathlib.Path("/proc/sys/kernel/pid_max").read_text()) > 32768:
        print("flood: pid_max is above 32768: the tool's echo identifier may be one of "
              "the look-alikes', and then their replies answer its pings", file=sys.stderr)
    # Hellos: a pass's whole test 8 (5 s) of sources never repeats; beacon senders:
    # tests 1 and 2 (6 s) hear no source twice.
    if args.kind == "lookalike":
        batch = lookalikes(args.host_mac)
    elif args.kind == "hellos":
        batch = hellos(int(args.rate * 6))
    else:
        batch = beacon_senders(int(args.rate * 6))
    return send_until_terminated(batch, args)


if __name__ == "__main__":
    sys.exit(main())
