#!/usr/bin/python3
"""Beacon sender of the lab (IPv4 or IPv6, by the group's address).

Sends a small UDP datagram to GROUP:PORT from SOURCE, RATE times a second, until it is
terminated. The source address is bound explicitly because SSM receivers accept only
the one source they joined, and the TTL (hop limit) is high enough to cross the lab
router. An IPv6 sender names its link with --iface: IPv6 multicast leaves by interface.
"""

import argparse
import signal
import socket
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


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--group", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--source", required=True, help="local address to send from")
    parser.add_argument("--iface", help="the link to send on (IPv6)")
    parser.add_argument("--rate", type=float, default=10.0, help="datagrams per second")
    parser.add_argument("--ttl", type=int, default=16, help="TTL or hop limit")
    args = parser.parse_args()

    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    sock = open_socket(args)

    period = 1.0 / args.rate
    next_send = time.monotonic()
    seq = 0
    while True:
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
