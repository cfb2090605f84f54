#!/usr/bin/python3
"""Joins a group (ASM, or SSM with --source) and reports what arrives.

Exits 0 after --count datagrams, or 1 when --timeout passes first. Prints one line per
distinct sender, "SENDER COUNT", so a caller can check who was heard. Used by the lab's
readiness check and its self-check.
"""

import argparse
import socket
import struct
import sys
import time

# Linux's value; Python's socket module does not export it.
IP_ADD_SOURCE_MEMBERSHIP = getattr(socket, "IP_ADD_SOURCE_MEMBERSHIP", 39)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--group", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--source", help="join (S,G) instead of (*,G)")
    parser.add_argument("--count", type=int, default=1)
    parser.add_argument("--timeout", type=float, default=10.0)
    parser.add_argument("--listen", action="store_true",
                        help="listen for the whole timeout; succeed when --count arrived")
    args = parser.parse_args()

    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("0.0.0.0", args.port))
    group = socket.inet_aton(args.group)
    any_if = socket.inet_aton("0.0.0.0")
    if args.source:
        # struct ip_mreq_source: multiaddr, interface, sourceaddr
        mreq = group + any_if + socket.inet_aton(args.source)
        sock.setsockopt(socket.IPPROTO_IP, IP_ADD_SOURCE_MEMBERSHIP, mreq)
    else:
        mreq = struct.pack("4s4s", group, any_if)
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, mreq)

    senders: dict[str, int] = {}
    total = 0
    deadline = time.monotonic() + args.timeout
    while True:
        left = deadline - time.monotonic()
        if left <= 0 or (total >= args.count and not args.listen):
            break
        sock.settimeout(left)
        try:
            _, (addr, _) = sock.recvfrom(2048)
        except socket.timeout:
            break
        senders[addr] = senders.get(addr, 0) + 1
        total += 1
    sock.close()
    for addr, n in sorted(senders.items()):
        print(addr, n)
    return 0 if total >= args.count else 1


if __name__ == "__main__":
    sys.exit(main())
