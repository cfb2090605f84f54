#!/usr/bin/python3
"""Holds a membership of GROUP on IFACE until terminated (IPv6).

The lab's IPv6 router namespace has no multicast routing, and without it the kernel
hands pim6d an MLDv1 Report only for a group that the namespace itself has joined: this
joins the group the tool's MLDv1 test reports, so that pim6d hears that report.
"""
import argparse
import signal
import socket
import struct
import sys


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--group", required=True)
    parser.add_argument("--iface", required=True)
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    sock = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
    mreq = socket.inet_pton(socket.AF_INET6, args.group) + struct.pack(
        "@I", socket.if_nametoindex(args.iface))
    sock.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_JOIN_GROUP, mreq)
    print(f"member of {args.group} on {args.iface}", flush=True)
    signal.pause()
    return 0


if __name__ == "__main__":
    sys.exit(main())
