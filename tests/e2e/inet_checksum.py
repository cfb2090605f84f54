"""The Internet checksum (RFC 1071) of the messages the lab's scripts build by hand."""
import struct


def checksum(data: bytes) -> int:
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack(f"!{len(data) // 2}H", data))
    total = (total >> 16) + (total & 0xFFFF)
    total += total >> 16
    return ~total & 0xFFFF


def with_checksum(message: bytes) -> bytes:
    """MESSAGE with its checksum in bytes 2-3 (IGMP, ICMP and PIM keep it there)."""
    return message[:2] + struct.pack("!H", checksum(message)) + message[4:]
