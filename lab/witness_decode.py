#!/usr/bin/python3
"""Decode a witness capture: one line per IGMP, ICMP, ICMPv6 and PIM message.

  witness_decode.py PCAP HOST_ADDR [HOST6_ADDR...]

tshark decodes the capture (its dissectors, with IP checksum validation on) into the
fields named below; each message becomes one line for the scenarios to match (the
format is in lab/witness). A message from HOST_ADDR (IPv4) or one of the HOST6_ADDRs
whose checksum is not good is also written to stderr as "BAD <line>", and the exit
status is then 1.
"""

import subprocess
import sys

# The fields tshark prints, by name; each row is read into a dict keyed by them.
FIELDS = [
    "frame.time_relative", "frame.time_epoch",
    "ip.src", "ip.dst", "ip.ttl", "ip.opt.type", "ip.proto", "ip.checksum.status",
    "igmp.checksum.status", "igmp.version", "igmp.type", "igmp.maddr",
    "igmp.record_type", "igmp.num_src", "igmp.saddr", "igmp.max_resp",
    "icmp.checksum.status", "icmp.type", "icmp.code", "icmp.ident", "icmp.seq",
    "pim.cksum.status", "pim.version", "pim.type", "pim.optiontype", "pim.holdtime",
    "pim.dr_priority", "pim.generation_id",
    "ipv6.src", "ipv6.dst", "ipv6.hlim", "ipv6.opt.router_alert",
    "icmpv6.checksum.status", "icmpv6.type", "icmpv6.code",
    "icmpv6.echo.identifier", "icmpv6.echo.sequence_number",
    "icmpv6.mld.multicast_address", "icmpv6.mld.maximum_response_delay",
    "icmpv6.mld.maximum_response_code", "icmpv6.mld.flag.s", "icmpv6.mld.flag.qrv",
    "icmpv6.mld.qqi", "icmpv6.mld.source_address",
    "icmpv6.mldr.mar.record_type", "icmpv6.mldr.mar.multicast_address",
    "icmpv6.mldr.mar.nb_sources", "icmpv6.mldr.mar.source_address",
]

ROUTER_ALERT = "148"


def status(value: str) -> str:
    """tshark's checksum verdict: 1 is good, none when it did not check."""
    if value == "1":
        return "good"
    return "none" if value == "" else "bad"


def first(value: str) -> str:
    """The outer header's value of a field that an ICMP error repeats for the datagram
    it quotes (tshark joins the occurrences with commas)."""
    return value.split(",", 1)[0]


def decimal(value: str) -> str:
    """tshark shows the ICMPv6 echo identifier in hex, the ICMP one in decimal."""
    return str(int(value, 16)) if value.startswith("0x") else value


def records(types: str, groups: str, counts: str, sources: str, sep: str) -> str:
    """One record per group, TYPE<sep>GROUP<sep>SOURCES (the sources joined by '+',
    taken in order by each record's count), the records joined by ','."""
    if not types:
        return ""
    kinds, addrs, numbers = types.split(","), groups.split(","), counts.split(",")
    pool = sources.split(",")
    out, k = [], 0
    for i, kind in enumerate(kinds):
        n = int(numbers[i]) if i < len(numbers) and numbers[i] else 0
        taken = pool[k:k + n]
        k += n
        group = addrs[i] if i < len(addrs) else ""
        out.append(f"{kind}{sep}{group}{sep}{'+'.join(taken)}")
    return ",".join(out)


def ipv6_line(f: dict) -> tuple[str, str]:
    ra = f"1 ra_value={first(f['ipv6.opt.router_alert'])}" if f["ipv6.opt.router_alert"] else "0"
    line = (f"t={float(f['frame.time_relative']):.3f} at={f['frame.time_epoch']}"
            f" src={first(f['ipv6.src'])} dst={first(f['ipv6.dst'])}"
            f" hlim={first(f['ipv6.hlim'])} ra={ra}")
    if f["icmpv6.type"]:
        checksum = status(first(f["icmpv6.checksum.status"]))
        kind = first(f["icmpv6.type"])
        line += (f" proto=icmpv6 cksum={checksum} icmpv6_type={kind}"
                 f" icmpv6_code={first(f['icmpv6.code'])}")
        group = f["icmpv6.mld.multicast_address"]
        if kind in ("128", "129"):
            line += (f" id={decimal(first(f['icmpv6.echo.identifier']))}"
                     f" seq={first(f['icmpv6.echo.sequence_number'])}")
        elif kind == "130" and not f["icmpv6.mld.flag.qrv"]:
            line += f" mld_v=1 group={group} max_resp={f['icmpv6.mld.maximum_response_delay']}"
        elif kind == "130":
            s_flag = 1 if f["icmpv6.mld.flag.s"] in ("True", "1") else 0
            line += (f" mld_v=2 group={group}"
                     f" max_resp={f['icmpv6.mld.maximum_response_code']}"
                     f" qrv={f['icmpv6.mld.flag.qrv']} qqic={f['icmpv6.mld.qqi']}"
                     f" s_flag={s_flag} sources={f['icmpv6.mld.source_address']}")
        elif kind in ("131", "132"):
            line += f" group={group}"
        elif kind == "143":
            line += " records=" + records(
                f["icmpv6.mldr.mar.record_type"], f["icmpv6.mldr.mar.multicast_address"],
                f["icmpv6.mldr.mar.nb_sources"], f["icmpv6.mldr.mar.source_address"], "/")
    else:
        checksum = status(f["pim.cksum.status"])
        line += pim_fields(f, checksum, None)
    return line, checksum


def pim_fields(f: dict, checksum: str, ip_checksum) -> str:
    ip = f" ip_cksum={ip_checksum}" if ip_checksum is not None else ""
    return (f" proto=pim cksum={checksum}{ip} pim_v={f['pim.version']}"
            f" pim_type={f['pim.type']} options={f['pim.optiontype']}"
            f" holdtime={f['pim.holdtime']} dr_priority={f['pim.dr_priority']}"
            f" genid={f['pim.generation_id']}")


def ipv4_line(f: dict) -> tuple[str, str, str]:
    ra = 1 if ROUTER_ALERT in f["ip.opt.type"].split(",") else 0
    line = (f"t={float(f['frame.time_relative']):.3f} at={f['frame.time_epoch']}"
            f" src={f['ip.src']} dst={f['ip.dst']} ttl={f['ip.ttl']} ra={ra}")
    ip_checksum = status(f["ip.checksum.status"])
    proto = f["ip.proto"]
    if proto == "2":
        checksum = status(f["igmp.checksum.status"])
        line += (f" proto=igmp cksum={checksum} ip_cksum={ip_checksum}"
                 f" igmp_v={f['igmp.version']} igmp_type={f['igmp.type']}")
        if f["igmp.type"] == "0x22":
            line += " records=" + records(f["igmp.record_type"], f["igmp.maddr"],
                                          f["igmp.num_src"], f["igmp.saddr"], ":")
        else:
            line += f" group={f['igmp.maddr']}"
            if f["igmp.saddr"]:
                line += f" sources={f['igmp.saddr']}"
            if f["igmp.max_resp"]:
                line += f" max_resp={f['igmp.max_resp']}"
    elif proto == "1":
        checksum = status(f["icmp.checksum.status"])
        line += (f" proto=icmp cksum={checksum} ip_cksum={ip_checksum}"
                 f" icmp_type={f['icmp.type']} icmp_code={f['icmp.code']}"
                 f" id={f['icmp.ident']} seq={f['icmp.seq']}")
    else:
        checksum = status(f["pim.cksum.status"])
        line += pim_fields(f, checksum, ip_checksum)
    return line, checksum, ip_checksum


def main() -> int:
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    pcap, host, hosts6 = sys.argv[1], sys.argv[2], set(sys.argv[3:])
    command = ["tshark", "-n", "-r", pcap, "-o", "ip.check_checksum:TRUE",
               "-Y", "igmp or icmp or pim or icmpv6", "-T", "fields",
               "-E", "separator=/t", "-E", "occurrence=a", "-E", "aggregator=,"]
    for name in FIELDS:
        command += ["-e", name]
    decoded = subprocess.run(command, stdout=subprocess.PIPE, text=True, check=False)
    bad = 0
    for row in decoded.stdout.splitlines():
        values = row.split("\t")
        f = dict(zip(FIELDS, values + [""] * (len(FIELDS) - len(values))))
        if not f["ip.src"] and f["ipv6.src"]:
            line, checksum = ipv6_line(f)
            mine = first(f["ipv6.src"]) in hosts6
            good = checksum == "good"
        else:
            line, checksum, ip_checksum = ipv4_line(f)
            mine = f["ip.src"] == host
            # The IP header checksum counts too (the kernel builds it for the tool).
            good = checksum == "good" and ip_checksum == "good"
        print(line)
        if mine and not good:
            print("BAD " + line, file=sys.stderr)
            bad += 1
    if decoded.returncode != 0:
        print(f"witness: tshark ended with status {decoded.returncode}", file=sys.stderr)
        return 1
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
