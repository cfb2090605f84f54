#!/usr/bin/python3
"""Malformed-traffic flood for the hardening scenarios.

Sends hostile IPv4 datagrams out of IFACE (in the lab's router namespace, so they reach
the host's link) at RATE frames a second until terminated, then prints how many frames
it sent. Every datagram is built so that a correct reader learns nothing from it: no
whole membership query, PIM Hello, Candidate-RP-Advertisement or echo reply from an
address the pass would not hear from anyway. A reader that trusted a header length,
read past the bytes received or took a runt for a message would count one, and the
scenario's output would change.

  --variant full: the lab has its router and beacons. Oversized UDP datagrams go to the
    beacon groups and ports from the beacon source's own address, which the tool counts
    already: the member count stays as it is only if the datagrams are read safely.
    PIM Hellos cut short come from the router's own address (the tool reads only the
    type byte of a PIM message, so a cut Hello from a new address would add a
    responder by design).
  --variant bare: nothing on the link answers. Oversized UDP datagrams go to the beacon
    ports on groups the host has not joined (any datagram reaching a joined group's
    port counts as a member, whatever it holds).
"""

import argparse
import logging
import pathlib
import signal
import socket
import struct
import sys
import time

SOL_PACKET = 263  # <linux/socket.h>; Python's socket module names neither
PACKET_QDISC_BYPASS = 20  # <linux/if_packet.h>

# Building packets in a namespace without routes makes scapy warn on every one.
logging.getLogger("scapy.runtime").setLevel(logging.ERROR)
from scapy.all import IP, UDP, Ether, Raw, checksum, fragment, raw

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "lab"))
import facts  # pylint: disable=wrong-import-position

STRANGER = "10.0.1.99"
ROUTER = facts.ROUTER_ADDR
HOST = facts.HOST_ADDR
BEACON_SOURCE = facts.SSM_SOURCE
ASM = (facts.ASM_GROUP, int(facts.ASM_PORT))
SSM = (facts.SSM_GROUP, int(facts.SSM_PORT))


def ip_header(proto, ihl, total, src=STRANGER, dst=HOST, options=b""):
    """A header claiming `ihl` 32-bit words and `total` bytes, whatever follows."""
    header = bytearray(struct.pack(">BBHHHBBH4s4s", 0x40 | ihl, 0, total, 0x1234, 0, 1,
                                   proto, 0, socket.inet_aton(src), socket.inet_aton(dst)))
    header += options
    header[10:12] = struct.pack(">H", checksum(bytes(header[:min(len(header), 60)])))
    return bytes(header)


def with_checksum(message):
    m = bytearray(message)
    m[2:4] = b"\0\0"
    m[2:4] = struct.pack(">H", checksum(bytes(m)))
    return bytes(m)


GENERAL_QUERY = with_checksum(bytes([0x11, 100, 0, 0, 0, 0, 0, 0]))
PIM_HELLO = with_checksum(bytes.fromhex("20000000 0001 0002 0069 0014 0004 12345678"))
ECHO_REPLY = with_checksum(bytes([0, 0, 0, 0, 0x34, 0x12, 0, 1]))
LOOKALIKES = {2: GENERAL_QUERY, 103: PIM_HELLO, 1: ECHO_REPLY}
ROUTER_ALERT = bytes([0x94, 0x04, 0, 0])


def bad_header_lengths():
    for proto, message in LOOKALIKES.items():
        # 0 to 4 words: shorter than any IPv4 header. A message where a 20-byte header
        # would end.
        for ihl in range(5):
            yield ip_header(proto, ihl, 20 + len(message))[:20] + message
        # Longer headers than what arrives: 6 to 15 words over 20 + 8 bytes.
        for ihl in range(6, 16):
            yield ip_header(proto, ihl, 28)[:20] + message
        # 15 words, header whole but nothing after it.
        yield ip_header(proto, 15, 60, options=bytes([1] * 40))
        # A header that ends exactly where the datagram does.
        yield ip_header(proto, 5, 20)
        yield ip_header(proto, 6, 24, options=ROUTER_ALERT)
    yield ip_header(17, 5, 20)
    # Runts inside the header itself.
    for cut in (1, 9, 10, 15, 19):
        yield ip_header(2, 5, 28)[:cut]


def cut_short(variant):
    for cut in range(1, 8):
        yield ip_header(2, 6, 24 + cut, dst="224.0.0.1", options=ROUTER_ALERT) + \
            GENERAL_QUERY[:cut]
    for cut in range(1, 6):
        yield ip_header(1, 5, 20 + cut) + ECHO_REPLY[:cut]
    yield ip_header(103, 5, 20, dst="224.0.0.13")
    # PIM types the tool ignores, cut inside their headers.
    for kind in (0x23, 0x24, 0x21):
        for cut in range(1, 4):
            yield ip_header(103, 5, 20 + cut, dst="224.0.0.13") + bytes([kind, 0, 0])[:cut]
    if variant == "full":
        for cut in range(1, 4):
            yield ip_header(103, 5, 20 + cut, src=ROUTER, dst="224.0.0.13") + PIM_HELLO[:cut]


def with_options():
    report = with_checksum(bytes([0x16, 0, 0, 0, 233, 4, 200, 19]))
    leave = with_checksum(bytes([0x17, 0, 0, 0, 233, 4, 200, 19]))
    join_prune = with_checksum(bytes([0x23, 0, 0, 0]) + bytes(20))
    for message, proto, dst in ((report, 2, ASM[0]), (leave, 2, "224.0.0.2"),
                                (join_prune, 103, "224.0.0.13")):
        for options in (ROUTER_ALERT,
                        bytes([0x44, 0, 0, 0]),            # timestamp, length 0
                        bytes([0x07, 0x27, 4, 0]) + bytes(36),  # record route past the end
                        bytes([0x83, 0xFF, 4, 0]) + bytes(4),   # source route, length 255
                        bytes([0x01] * 40)):
            yield ip_header(proto, 5 + len(options) // 4, 20 + len(options) + len(message),
                            dst=dst, options=options) + message


def oversized(variant):
    """Datagrams over 4096 bytes, fragmented for the link's 1500-byte MTU."""
    if variant == "full":
        targets = (ASM, SSM)
        udp_source = BEACON_SOURCE
    else:
        targets = (("233.4.200.20", ASM[1]), ("232.64.133.121", SSM[1]))
        udp_source = STRANGER
    for group, port in targets:
        for size in (4097, 6000, 9000):
            yield from fragment(IP(src=udp_source, dst=group, ttl=8) / UDP(
                sport=40000, dport=port) / Raw(b"\xa5" * size), fragsize=1480)
    # IGMP, PIM and ICMP datagrams of the same size: types the tool ignores, and
    # fragments past the first that start with zeros.
    big = bytes(6000)
    for proto, head, dst in ((2, bytes([0x16]), ASM[0]),
                             (103, bytes([0x23]), "224.0.0.13"),
                             (1, bytes([3, 3]), HOST)):
        yield from fragment(IP(src=STRANGER, dst=dst, proto=proto, ttl=1) / Raw(
            head + big), fragsize=1480)


def fragment_lookalikes():
    """Datagrams of IGMP and PIM whose second fragment's data starts like a general
    query or a Hello. Only a reader that takes a non-first fragment for the start of
    a message counts one; the link's capture hands fragments over one by one."""
    def body(first, second):
        return first + bytes(1480 - len(first)) + second + bytes(100)
    yield from fragment(IP(src=STRANGER, dst="224.0.0.13", proto=103, ttl=1) / Raw(
        body(b"\x23", b"\x20")), fragsize=1480)
    yield from fragment(IP(src=STRANGER, dst="224.0.0.1", proto=2, ttl=1) / Raw(
        body(b"\x16", b"\x11" + bytes(7))), fragsize=1480)


def multicast_mac(address):
    octets = socket.inet_aton(address)
    return "01:00:5e:%02x:%02x:%02x" % (octets[1] & 0x7F, octets[2], octets[3])


def frames(variant, host_mac, lookalikes=False):
    datagrams = [*bad_header_lengths(), *cut_short(variant), *with_options()]
    datagrams += [raw(p) for p in oversized(variant)]
    if lookalikes:
        datagrams += [raw(p) for p in fragment_lookalikes()]
    out = []
    for d in datagrams:
        dst = socket.inet_ntoa(d[16:20]) if len(d) >= 20 else HOST
        mac = multicast_mac(dst) if 224 <= int(dst.split(".")[0]) < 240 else host_mac
        out.append(raw(Ether(dst=mac, type=0x0800) / Raw(d)))
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--iface", required=True)
    parser.add_argument("--host-mac", required=True)
    parser.add_argument("--variant", choices=("full", "bare"), required=True)
    parser.add_argument("--rate", type=float, default=5000, help="frames per second")
    parser.add_argument("--fragment-lookalikes", action="store_true",
                        help="add fragments whose data past the first looks like a message")
    args = parser.parse_args()

    batch = frames(args.variant, args.host_mac, args.fragment_lookalikes)
    sock = socket.socket(socket.AF_PACKET, socket.SOCK_RAW)
    sock.bind((args.iface, 0))
    # Frames that skip the queueing layer are not copied to the interface's other packet
    # sockets: the router's guest, which reads this end of the link through one, never
    # sees the flood meant for the host. Seen by the guest, the flood took its CPU, and
    # on a loaded machine it dropped the host's echo requests, reports and Hellos.
    sock.setsockopt(SOL_PACKET, PACKET_QDISC_BYPASS, 1)
    sent = 0
    stopping = []
    signal.signal(signal.SIGTERM, lambda *_: stopping.append(1))
    print(f"flood: {len(batch)} distinct frames at {args.rate:.0f}/s", flush=True)
    start = time.monotonic()
    while not stopping:
        for frame in batch:
            try:
                sock.send(frame)
            except OSError:
                pass  # a full queue drops the frame, as a busy link would
            sent += 1
            if sent % 100 == 0:
                # Paced in steps of 100 frames against the clock, not per frame.
                ahead = start + sent / args.rate - time.monotonic()
                if ahead > 0:
                    time.sleep(ahead)
            if stopping:
                break
    print(f"flood: sent {sent} frames in {time.monotonic() - start:.1f} s", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
