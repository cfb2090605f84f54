#!/usr/bin/python3
"""Beacon sender of the lab (IPv4 or IPv6, by the group's address).

Sends a small UDP datagram to GROUP:PORT from SOURCE, RATE times a second, until it is
terminated. The source address is bound explicitly because SSM receivers accept only
the one source they joined, and the TTL (hop limit) is high enough to cross the lab
router. An IPv6 sender names its link with --iface: IPv6 multicast leaves by interface.

With --ssm-gate IFACE (IPv4) it sends only while an IGMPv3 report heard on IFACE holds
the channel (SOURCE, GROUP), for --gate-hold seconds after the last one, as an SSM
router serves a channel: an IGMPv2 report, which names no source, opens nothing.
"""

import argparse
import signal
import socket
import struct
import sys
import time


def open_socket(args) -> socket.socket:
    if ":" not in args.group:
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, args.ttl)
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF,
                        socket.inet_aton(args.source))
        sock.bind((args.source, 0))
        return sock
    sock = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
    sock.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_MULTICAST_HOPS, args.ttl)
    if args.iface:
        sock.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_MULTICAST_IF,
                        socket.if_nametoindex(args.iface))
    sock.bind((args.source, 0))
    return sock


ETH_P_IP = 0x0800


class SsmGate:
    """Whether IGMPv3 reports on an interface hold one channel (IPv4)."""

    def __init__(self, iface: str, group: str, source: str, hold: float):
        self.sock = socket.socket(socket.AF_PACKET, socket.SOCK_DGRAM,
                                  socket.htons(ETH_P_IP))
        self.sock.bind((iface, ETH_P_IP))
        self.sock.setblocking(False)
        self.group = socket.inet_aton(group)
        self.source = socket.inet_aton(source)
        self.hold = hold
        self.until = 0.0

    def _report(self, msg: bytes, now: float) -> None:
        count = struct.unpack("!H", msg[6:8])[0]
        off = 8
        for _ in range(count):
            if off + 8 > len(msg):
                return
            rtype, aux = msg[off], msg[off + 1]
            nsrc = struct.unpack("!H", msg[off + 2:off + 4])[0]
            group = msg[off + 4:off + 8]
            sources = [msg[off + 8 + 4 * i:off + 12 + 4 * i] for i in range(nsrc)]
            off += 8 + 4 * nsrc + 4 * aux
            if group != self.group:
                continue
            # IS_IN, TO_IN and ALLOW with the source hold the channel; BLOCK of the
            # source or TO_IN {} leave it.
            if rtype in (1, 3, 5) and self.source in sources:
                self.until = now + self.hold
            elif (rtype == 6 and self.source in sources) or (rtype == 3 and not nsrc):
                self.until = 0.0

    def open(self) -> bool:
        now = time.monotonic()
        while True:
            try:
                packet = self.sock.recv(2048)
            except BlockingIOError:
                break
            if len(packet) < 20 or packet[9] != 2:
                continue
            msg = packet[(packet[0] & 0x0F) * 4:]
            if len(msg) >= 8 and msg[0] == 0x22:
                self._report(msg, now)
        return now < self.until


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--group", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--source", required=True, help="local address to send from")
    parser.add_argument("--iface", help="the link to send on (IPv6)")
    parser.add_argument("--rate", type=float, default=10.0, help="datagrams per second")
    parser.add_argument("--ttl", type=int, default=16, help="TTL or hop limit")
    parser.add_argument("--ssm-gate", metavar="IFACE",
                        help="send only while IGMPv3 reports on IFACE hold the channel")
    parser.add_argument("--gate-hold", type=float, default=260.0,
                        help="seconds a report holds the channel")
    args = parser.parse_args()
    gate = None
    if args.ssm_gate:
        gate = SsmGate(args.ssm_gate, args.group, args.source, args.gate_hold)

    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    sock = open_socket(args)

    period = 1.0 / args.rate
    next_send = time.monotonic()
    seq = 0
    while True:
        if gate is not None and not gate.open():
            next_send += period
            time.sleep(max(0.0, next_send - time.monotonic()))
            continue
        payload = f"lab beacon {args.source} -> {args.group}:{args.port} #{seq}\n"
        try:
            sock.sendto(payload.encode(), (args.group, args.port))
        except OSError as err:
            # A route that is not there yet (the router still booting) must not end
            # the sender; the next tick tries again.
            print(f"beacon: {err}", file=sys.stderr)
        seq += 1
        next_send += period
        time.sleep(max(0.0, next_send - time.monotonic()))


if __name__ == "__main__":
    sys.exit(main())
