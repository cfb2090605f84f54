#!/usr/bin/python3
"""Runs commands on an FRR daemon's TCP vty and prints their output.

    vty.py PORT COMMAND...      e.g. vty.py 2622 'show ipv6 pim neighbor'

For daemons that the packaged vtysh does not know (the lab's pim6d). The vty must allow
access without a password ("line vty / no login"), on 127.0.0.1 in the caller's network
namespace. Prints each command's output without the prompts; exits 1 when a command is
refused ("% Unknown command" and the like).
"""
import socket
import sys

IAC, SB, SE = 255, 250, 240


def strip_telnet(data: bytes) -> bytes:
    """DATA without telnet negotiation (IAC sequences)."""
    out = bytearray()
    i = 0
    while i < len(data):
        if data[i] != IAC:
            out.append(data[i])
            i += 1
        elif i + 1 < len(data) and data[i + 1] == IAC:
            out.append(IAC)
            i += 2
        elif i + 1 < len(data) and data[i + 1] == SB:
            end = data.find(bytes([IAC, SE]), i + 2)
            i = len(data) if end < 0 else end + 2
        else:
            i += 3
    return bytes(out)


def main() -> int:
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    port = int(sys.argv[1])
    commands = ["terminal length 0", *sys.argv[2:], "exit"]
    with socket.create_connection(("127.0.0.1", port), timeout=10) as sock:
        sock.sendall("".join(c + "\n" for c in commands).encode())
        chunks = []
        while True:
            chunk = sock.recv(65536)
            if not chunk:
                break
            chunks.append(chunk)
    text = strip_telnet(b"".join(chunks)).decode(errors="replace").replace("\r", "")
    refused = False
    for line in text.split("\n"):
        # Prompts ("lab-router6> cmd") and the greeting are not output.
        if line.rstrip().endswith(tuple(f"> {c}" for c in commands)) or line.startswith(
                ("Hello, this is FRRouting", "Copyright")):
            continue
        if line.startswith("% ") and ("Unknown command" in line or "incomplete" in line
                                      or "Ambiguous" in line):
            refused = True
        print(line)
    return 1 if refused else 0


if __name__ == "__main__":
    sys.exit(main())
