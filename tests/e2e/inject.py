"""Sends crafted traffic to the lab's host until it is stopped.

Usage: inject.py lookalikes|crp HOST_ADDRESS

lookalikes: UDP and TCP segments whose first byte after the IP header reads like a PIM
version 2 Hello (0x20) or Candidate-RP-Advertisement (0x28): UDP from port 8200
(0x2008) and 10241 (0x2801), TCP from port 8443 (0x20FB).
crp: a real PIM Candidate-RP-Advertisement (IP protocol 103), unicast to the host, as
a candidate RP would send it to a bootstrap router.
"""
import pathlib
import socket
import struct
import sys
import time

from scapy.all import IP, TCP, UDP, Raw, conf, send  # pylint: disable=no-name-in-module

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "lab"))
import facts  # pylint: disable=wrong-import-position
from inet_checksum import with_checksum  # pylint: disable=wrong-import-position

conf.verb = 0


def candidate_rp_advertisement(rp: str) -> bytes:
    # Prefix count 1, priority 0, holdtime 150, encoded unicast RP, encoded group 224/4.
    body = struct.pack("!BBH", 1, 0, 150)
    body += struct.pack("!BB4s", 1, 0, socket.inet_aton(rp))
    body += struct.pack("!BBBB4s", 1, 0, 0, 4, socket.inet_aton("224.0.0.0"))
    message = struct.pack("!BBH", 0x28, 0, 0) + body
    return with_checksum(message)


def main() -> None:
    mode, host = sys.argv[1], sys.argv[2]
    if mode == "lookalikes":
        packets = [
            IP(dst=host) / UDP(sport=8200, dport=9) / Raw(b"lookalike"),
            IP(dst=host) / UDP(sport=10241, dport=9) / Raw(b"lookalike"),
            IP(dst=host) / TCP(sport=8443, dport=9, flags="S"),
        ]
    elif mode == "crp":
        packets = [IP(dst=host, proto=103) / Raw(candidate_rp_advertisement(facts.RP_ADDR))]
    else:
        sys.exit(f"unknown mode {mode}")
    sent = 0
    while True:
        send(packets)
        sent += len(packets)
        print(f"sent {sent}", flush=True)
        time.sleep(0.05)


if __name__ == "__main__":
    main()
