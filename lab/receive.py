#!/usr/bin/python3
"""Joins a group (ASM, or SSM with --source) and reports what arrives.

IPv4 or IPv6, by the group's address. Exits 0 after --count datagrams, or 1 when
--timeout passes first. Prints one line per distinct sender, "SENDER COUNT", so a caller
can check who was heard. Used by the lab's readiness check and its self-check.
"""

import argparse
import socket
import struct
import sys
import time

# Linux's values; Python's socket module does not export them.
IP_ADD_SOURCE_MEMBERSHIP = getattr(socket, "IP_ADD_SOURCE_MEMBERSHIP", 39)
MCAST_JOIN_GROUP = 42
MCAST_JOIN_SOURCE_GROUP = 46


def sockaddr_storage(family: int, address: str) -> bytes:
    """A struct sockaddr_storage holding ADDRESS, port 0."""
    if family == socket.AF_INET:
        raw = struct.pack("=HH4s", family, 0, socket.inet_aton(address))
    else:
        raw = struct.pack("=HHI16sI", family, 0, 0,
                          socket.inet_pton(socket.AF_INET6, address), 0)
    return raw.ljust(128, b"\0")


def join(sock: socket.socket, family: int, args) -> None:
    if family == socket.AF_INET:
        group = socket.inet_aton(args.group)
        any_if = socket.inet_aton("0.0.0.0")
        if args.source:
            # struct ip_mreq_source: multiaddr, interface, sourceaddr
            mreq = group + any_if + socket.inet_aton(args.source)
            sock.setsockopt(socket.IPPROTO_IP, IP_ADD_SOURCE_MEMBERSHIP, mreq)
        else:
            sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                            struct.pack("4s4s", group, any_if))
        return
    # struct group_req / group_source_req: the interface index, padded to the
    # alignment of sockaddr_storage, then the addresses. Index 0: the group's route.
    index = socket.if_nametoindex(args.iface) if args.iface else 0
    req = struct.pack("=I4x", index) + sockaddr_storage(family, args.group)
    if args.source:
        req += sockaddr_storage(family, args.source)
        sock.setsockopt(socket.IPPROTO_IPV6, MCAST_JOIN_SOURCE_GROUP, req)
    else:
        sock.setsockopt(socket.IPPROTO_IPV6, MCAST_JOIN_GROUP, req)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--group", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--source", help="join (S,G) instead of (*,G)")
    parser.add_argument("--iface", help="the link to join on (IPv6; default: the group's route)")
    parser.add_argument("--count", type=int, default=1)
    parser.add_argument("--timeout", type=float, default=10.0)
    parser.add_argument("--listen", action="store_true",
                        help="listen for the whole timeout; succeed when --count arrived")
    args = parser.parse_args()

    family = socket.AF_INET6 if ":" in args.group else socket.AF_INET
    sock = socket.socket(family, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("::" if family == socket.AF_INET6 else "0.0.0.0", args.port))
    join(sock, family, args)

    senders: dict[str, int] = {}
    total = 0
    deadline = time.monotonic() + args.timeout
    while True:
        left = deadline - time.monotonic()
        if left <= 0 or (total >= args.count and not args.listen):
            break
        sock.settimeout(left)
        try:
            _, peer = sock.recvfrom(2048)
        except socket.timeout:
            break
        senders[peer[0]] = senders.get(peer[0], 0) + 1
        total += 1
    sock.close()
    for addr, n in sorted(senders.items()):
        print(addr, n)
    return 0 if total >= args.count else 1


if __name__ == "__main__":
    sys.exit(main())
