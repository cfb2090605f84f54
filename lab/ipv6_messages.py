"""Reads the IPv6 messages the lab's helpers watch for: MLD queries and PIMv6 Hellos.

    describe(datagram) -> "query v2 group=:: sources= from=fe80::1 ..." or None

DATAGRAM is an IPv6 datagram from its fixed header on. The extension-header chain is
walked with bounds checks; a later fragment is never read as a message.
"""
import socket
import struct

HOP_BY_HOP, ROUTING, FRAGMENT, DEST_OPTS = 0, 43, 44, 60
ICMPV6, PIM = 58, 103
MLD_QUERY = 130
ROUTER_ALERT = 5


def _addr(raw: bytes) -> str:
    return socket.inet_ntop(socket.AF_INET6, raw)


def walk(datagram: bytes):
    """(next header, payload, hop limit, src, dst, router alert value or None), or None."""
    if len(datagram) < 40 or datagram[0] >> 4 != 6:
        return None
    plen = struct.unpack_from("!H", datagram, 4)[0]
    end = min(len(datagram), 40 + plen)
    nh, hlim = datagram[6], datagram[7]
    src, dst = _addr(datagram[8:24]), _addr(datagram[24:40])
    at, alert = 40, None
    while nh in (HOP_BY_HOP, ROUTING, FRAGMENT, DEST_OPTS):
        if at + 8 > end:
            return None
        if nh == FRAGMENT:
            if struct.unpack_from("!H", datagram, at + 2)[0] & 0xFFF8:
                return None
            nh, at = datagram[at], at + 8
            continue
        length = (datagram[at + 1] + 1) * 8
        if at + length > end:
            return None
        if nh == HOP_BY_HOP:
            opt = at + 2
            while opt < at + length:
                kind = datagram[opt]
                if kind == 0:
                    opt += 1
                    continue
                if opt + 2 > at + length or opt + 2 + datagram[opt + 1] > at + length:
                    return None
                if kind == ROUTER_ALERT and datagram[opt + 1] == 2:
                    alert = struct.unpack_from("!H", datagram, opt + 2)[0]
                opt += 2 + datagram[opt + 1]
        nh, at = datagram[at], at + length
    return nh, datagram[at:end], hlim, src, dst, alert


def describe(datagram: bytes):
    """One line for an MLD query or a PIMv6 Hello, None for anything else."""
    walked = walk(datagram)
    if walked is None:
        return None
    nh, msg, hlim, src, _, alert = walked
    if nh == ICMPV6 and len(msg) >= 24 and msg[0] == MLD_QUERY:
        group = _addr(msg[8:24])
        max_resp = struct.unpack_from("!H", msg, 4)[0]
        ra = "none" if alert is None else str(alert)
        if len(msg) < 28:
            return f"query v1 group={group} sources= from={src} max_resp={max_resp} hlim={hlim} ra={ra}"
        count = struct.unpack_from("!H", msg, 26)[0]
        if 28 + 16 * count > len(msg):
            return None
        sources = ",".join(_addr(msg[28 + 16 * i:44 + 16 * i]) for i in range(count))
        return (f"query v2 group={group} sources={sources} from={src} max_resp={max_resp}"
                f" qrv={msg[24] & 7} qqic={msg[25]} hlim={hlim} ra={ra}")
    if nh == PIM and len(msg) >= 4 and msg[0] == 0x20:
        opts = {"holdtime": "", "dr_priority": "", "genid": ""}
        at = 4
        while at + 4 <= len(msg):
            kind, length = struct.unpack_from("!HH", msg, at)
            if at + 4 + length > len(msg):
                return None
            value = msg[at + 4:at + 4 + length]
            if kind == 1 and length == 2:
                opts["holdtime"] = str(struct.unpack("!H", value)[0])
            elif kind == 19 and length == 4:
                opts["dr_priority"] = str(struct.unpack("!I", value)[0])
            elif kind == 20 and length == 4:
                opts["genid"] = str(struct.unpack("!I", value)[0])
            at += 4 + length
        fields = " ".join(f"{k}={v}" for k, v in opts.items())
        return f"hello from={src} {fields} hlim={hlim}"
    return None
