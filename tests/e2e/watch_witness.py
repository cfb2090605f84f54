#!/usr/bin/python3
"""The watch scenarios' witness: what a packet capture of the host's link saw.

Reads a pcap file (tcpdump -w on the host's Ethernet link) and prints one JSON object a
line, in capture order, with the capture's own timestamp "t" (epoch seconds):
  {"kind": "datagram", "group", "port", "source", "ttl"}      UDP to a multicast group
  {"kind": "query", "source", "version", "group"}              IGMP or MLD query
                                                               (group null: general)
  {"kind": "report", "source", "version", "groups", "leave"}   IGMP or MLD report/leave
The scenarios take every expected moment from these timestamps, never from sleeps.
"""

import ipaddress
import json
import struct
import sys

ETH_IPV4 = 0x0800
ETH_IPV6 = 0x86DD
ETH_VLAN = 0x8100


def packets(path):
    """(timestamp, frame) pairs of a classic pcap file of Ethernet frames."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 24:
        return
    magic = struct.unpack("<I", data[:4])[0]
    if magic in (0xA1B2C3D4, 0xA1B23C4D):
        endian = "<"
    else:
        endian = ">"
        magic = struct.unpack(">I", data[:4])[0]
    scale = 1e-9 if magic == 0xA1B23C4D else 1e-6
    linktype = struct.unpack(endian + "I", data[20:24])[0]
    if linktype != 1:
        raise SystemExit(f"watch_witness: link type {linktype}, not Ethernet")
    off = 24
    while off + 16 <= len(data):
        sec, frac, incl, _orig = struct.unpack(endian + "IIII", data[off:off + 16])
        off += 16
        # A capture cut off mid-record (the writer killed) ends here.
        if off + incl > len(data):
            break
        yield sec + frac * scale, data[off:off + incl]
        off += incl


def _addr(raw):
    return str(ipaddress.ip_address(raw))


def _igmp(src, msg):
    if len(msg) < 8:
        return None
    kind = msg[0]
    if kind == 0x11:
        if len(msg) >= 12:
            version = 3
        else:
            version = 2 if msg[1] else 1
        group = _addr(msg[4:8])
        return {"kind": "query", "source": src, "version": version,
                "group": None if group == "0.0.0.0" else group}
    if kind in (0x12, 0x16, 0x17):
        version = {0x12: 1, 0x16: 2, 0x17: 2}[kind]
        return {"kind": "report", "source": src, "version": version,
                "groups": [_addr(msg[4:8])], "leave": kind == 0x17}
    if kind == 0x22:
        return _records(src, 3, msg, 4)
    return None


def _records(src, version, msg, addr_len):
    """An IGMPv3 or MLDv2 report: its groups, and whether every record leaves."""
    count = struct.unpack("!H", msg[6:8])[0]
    off, groups, leaves = 8, [], 0
    for _ in range(count):
        if off + 4 + addr_len > len(msg):
            break
        rtype, aux, nsrc = msg[off], msg[off + 1], struct.unpack("!H", msg[off + 2:off + 4])[0]
        groups.append(_addr(msg[off + 4:off + 4 + addr_len]))
        # TO_IN {} and BLOCK end (part of) a membership.
        if (rtype == 3 and nsrc == 0) or rtype == 6:
            leaves += 1
        off += 4 + addr_len + nsrc * addr_len + aux * 4
    return {"kind": "report", "source": src, "version": version, "groups": groups,
            "leave": bool(groups) and leaves == len(groups)}


def _mld(src, msg):
    if len(msg) < 24:
        return None
    kind = msg[0]
    if kind == 130:
        group = _addr(msg[8:24])
        return {"kind": "query", "source": src, "version": 2 if len(msg) >= 28 else 1,
                "group": None if group == "::" else group}
    if kind in (131, 132):
        return {"kind": "report", "source": src, "version": 1,
                "groups": [_addr(msg[8:24])], "leave": kind == 132}
    if kind == 143:
        return _records(src, 2, msg, 16)
    return None


def decode(frame):
    if len(frame) < 14:
        return None
    ethertype = struct.unpack("!H", frame[12:14])[0]
    off = 14
    if ethertype == ETH_VLAN:
        ethertype = struct.unpack("!H", frame[16:18])[0]
        off = 18
    if ethertype == ETH_IPV4:
        ip = frame[off:]
        if len(ip) < 20:
            return None
        ihl = (ip[0] & 0x0F) * 4
        total = struct.unpack("!H", ip[2:4])[0]
        ttl, proto = ip[8], ip[9]
        src, dst = _addr(ip[12:16]), ip[16:20]
        payload = ip[ihl:total]
        if proto == 2:
            return _igmp(src, payload)
        if proto == 17 and 224 <= dst[0] <= 239 and len(payload) >= 8:
            return {"kind": "datagram", "group": _addr(dst),
                    "port": struct.unpack("!H", payload[2:4])[0], "source": src, "ttl": ttl}
        return None
    if ethertype == ETH_IPV6:
        ip = frame[off:]
        if len(ip) < 40:
            return None
        plen = struct.unpack("!H", ip[4:6])[0]
        nxt, hlim = ip[6], ip[7]
        src, dst = _addr(ip[8:24]), ip[24:40]
        payload = ip[40:40 + plen]
        # Hop-by-hop, routing and destination options precede MLD's ICMPv6.
        while nxt in (0, 43, 60) and len(payload) >= 8:
            nxt, size = payload[0], (payload[1] + 1) * 8
            payload = payload[size:]
        if nxt == 58:
            return _mld(src, payload)
        if nxt == 17 and dst[0] == 0xFF and len(payload) >= 8:
            return {"kind": "datagram", "group": _addr(dst),
                    "port": struct.unpack("!H", payload[2:4])[0], "source": src, "ttl": hlim}
    return None


def events(path):
    """The capture's multicast events, each with its timestamp "t"."""
    for t, frame in packets(path):
        event = decode(frame)
        if event is not None:
            event["t"] = t
            yield event


def main() -> int:
    if len(sys.argv) != 2:
        print("usage: watch_witness.py CAPTURE.pcap", file=sys.stderr)
        return 2
    for event in events(sys.argv[1]):
        print(json.dumps(event))
    return 0


if __name__ == "__main__":
    sys.exit(main())
