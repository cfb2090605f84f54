#!/usr/bin/python3
"""A second router on the lab's host link, from a namespace of its own, until stopped.

Usage: peer.py querier QUERY_INTERVAL_S IFACE
       peer.py late-hello DELAY_S IFACE

querier: IGMPv3 general queries to 224.0.0.1 every 3 s, with robustness 3, a Max Resp
Time of 10 s and QUERY_INTERVAL_S as their QQIC (the lab's FRR cannot set its
robustness). The queries come far more often than they say, so that a pass of the tool
hears some.
late-hello: a PIM router whose Hellos come late. It says Hello at start and every 30 s
(holdtime 105 s, DR priority 1), answers a new neighbour's Hello only DELAY_S later,
restarting its Hello period there (so no Hello of its own falls in the few seconds after
a new neighbour's), and says goodbye when stopped. It joins 224.0.0.13, so that its
kernel answers echo requests to the all-PIM-routers group as a router's does (with
icmp_echo_ignore_broadcasts=0).
"""
import os
import select
import signal
import socket
import struct
import sys
import time

from inet_checksum import with_checksum

ALL_SYSTEMS = "224.0.0.1"
ALL_PIM_ROUTERS = "224.0.0.13"
IPPROTO_PIM = 103
ROUTER_ALERT = b"\x94\x04\x00\x00"
HELLO_PERIOD_S = 30
HOLDTIME_S = 105


def interval_code(seconds: int) -> int:
    """RFC 9776 4.1.7's code: the value itself below 128, else 1 exp(3) mant(4)."""
    if seconds < 128:
        return seconds
    for exp in range(8):
        mant = (seconds >> (exp + 3)) - 0x10
        if 0 <= mant <= 0x0F and (mant | 0x10) << (exp + 3) == seconds:
            return 0x80 | exp << 4 | mant
    sys.exit(f"{seconds} s has no exact QQIC")


def general_query(query_interval_s: int) -> bytes:
    # Type 0x11, Max Resp Code 100 (10 s), group 0, S=0 QRV=3, QQIC, no sources.
    return with_checksum(struct.pack("!BBH4sBBH", 0x11, 100, 0, bytes(4), 3,
                                     interval_code(query_interval_s), 0))


def address_of(iface: str) -> str:
    import fcntl  # pylint: disable=import-outside-toplevel
    probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    request = struct.pack("256s", iface.encode()[:15])
    return socket.inet_ntoa(fcntl.ioctl(probe.fileno(), 0x8915, request)[20:24])  # SIOCGIFADDR


def multicast_socket(proto: int, iface: str) -> socket.socket:
    sock = socket.socket(socket.AF_INET, socket.SOCK_RAW, proto)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_BINDTODEVICE, iface.encode())
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF,
                    socket.inet_aton(address_of(iface)))
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 0)
    return sock


def run_querier(query_interval_s: int, iface: str) -> None:
    sock = multicast_socket(socket.IPPROTO_IGMP, iface)
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_OPTIONS, ROUTER_ALERT)
    query = general_query(query_interval_s)
    sent = 0
    while True:
        sock.sendto(query, (ALL_SYSTEMS, 0))
        sent += 1
        print(f"query {sent}: QRV 3, QQIC {query_interval_s} s", flush=True)
        time.sleep(3)


def hello(generation_id: int, holdtime_s: int = HOLDTIME_S) -> bytes:
    # Holdtime (1), DR Priority (19), Generation ID (20).
    options = struct.pack("!HHH", 1, 2, holdtime_s)
    options += struct.pack("!HHI", 19, 4, 1)
    options += struct.pack("!HHI", 20, 4, generation_id)
    return with_checksum(struct.pack("!BBH", 0x20, 0, 0) + options)


def read_hello(datagram: bytes):
    """(sender, holdtime, generation id) of a PIM Hello, or None."""
    if len(datagram) < 20:
        return None
    header = (datagram[0] & 0x0F) * 4
    pim = datagram[header:]
    if len(pim) < 4 or pim[0] != 0x20:
        return None
    holdtime = generation_id = None
    at = 4
    while at + 4 <= len(pim):
        kind, length = struct.unpack_from("!HH", pim, at)
        value = pim[at + 4:at + 4 + length]
        if kind == 1 and length == 2:
            holdtime = struct.unpack("!H", value)[0]
        elif kind == 20 and length == 4:
            generation_id = struct.unpack("!I", value)[0]
        at += 4 + length
    return socket.inet_ntoa(datagram[12:16]), holdtime, generation_id


def run_late_hello(delay_s: float, iface: str) -> None:
    sock = multicast_socket(IPPROTO_PIM, iface)
    mreq = socket.inet_aton(ALL_PIM_ROUTERS) + struct.pack("@4sI", bytes(4),
                                                           socket.if_nametoindex(iface))
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, mreq)
    generation_id = struct.unpack("!I", os.urandom(4))[0]
    own = hello(generation_id)

    def goodbye(*_):
        # Holdtime 0: the link's routers forget it now, and the lab router is the DR
        # again for what runs next.
        sock.sendto(hello(generation_id, 0), (ALL_PIM_ROUTERS, 0))
        sys.exit(0)

    signal.signal(signal.SIGTERM, goodbye)
    neighbours = {}
    due = time.monotonic()
    while True:
        now = time.monotonic()
        if now >= due:
            sock.sendto(own, (ALL_PIM_ROUTERS, 0))
            print(f"hello at {time.time():.3f}", flush=True)
            due = now + HELLO_PERIOD_S
        ready, _, _ = select.select([sock], [], [], max(0.0, due - time.monotonic()))
        if not ready:
            continue
        seen = read_hello(sock.recv(65535))
        if not seen:
            continue
        sender, holdtime, generation_id = seen
        if holdtime == 0:
            neighbours.pop(sender, None)
            continue
        if neighbours.get(sender) != generation_id:
            neighbours[sender] = generation_id
            due = time.monotonic() + delay_s
            print(f"new neighbour {sender} at {time.time():.3f}", flush=True)


def main() -> int:
    if len(sys.argv) != 4 or sys.argv[1] not in ("querier", "late-hello"):
        sys.exit(__doc__)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    if sys.argv[1] == "querier":
        run_querier(int(sys.argv[2]), sys.argv[3])
    else:
        run_late_hello(float(sys.argv[2]), sys.argv[3])
    return 0


if __name__ == "__main__":
    sys.exit(main())
