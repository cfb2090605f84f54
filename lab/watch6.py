#!/usr/bin/python3
"""Watches a link for MLD queries and PIMv6 Hellos, without scapy (it starts at once).

Prints "listening" once the capture is open, then one line per message, with the
kernel's receive time (seconds since the epoch):

  query v2 group=:: sources= from=fe80::1 max_resp=10000 qrv=2 qqic=125 hlim=1 ra=0 at=...
  hello from=fe80::1 holdtime=105 dr_priority=1 genid=12345 hlim=1 at=...

Runs until terminated or --timeout. The lab's readiness check reads its log.
"""
import argparse
import signal
import socket
import struct
import sys

from ipv6_messages import describe

ETH_P_IPV6 = 0x86DD
SOL_PACKET = 263
PACKET_ADD_MEMBERSHIP = 1
PACKET_MR_ALLMULTI = 2
SO_TIMESTAMPNS = 35


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--iface", default="eth0")
    parser.add_argument("--timeout", type=float, default=600.0)
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))

    sock = socket.socket(socket.AF_PACKET, socket.SOCK_DGRAM, socket.htons(ETH_P_IPV6))
    sock.bind((args.iface, ETH_P_IPV6))
    index = socket.if_nametoindex(args.iface)
    # struct packet_mreq: ifindex, type, alen, address: groups nobody here joined too.
    sock.setsockopt(SOL_PACKET, PACKET_ADD_MEMBERSHIP,
                    struct.pack("iHH8s", index, PACKET_MR_ALLMULTI, 0, b""))
    sock.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
    sock.settimeout(args.timeout)
    print("listening", flush=True)
    while True:
        try:
            data, ancillary, _, _ = sock.recvmsg(65535, 64)
        except socket.timeout:
            return 0
        line = describe(data)
        if line is None:
            continue
        at = ""
        for level, kind, value in ancillary:
            if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS and len(value) >= 16:
                sec, nsec = struct.unpack("qq", value[:16])
                at = f" at={sec}.{nsec:09d}"
        print(line + at, flush=True)


if __name__ == "__main__":
    sys.exit(main())
