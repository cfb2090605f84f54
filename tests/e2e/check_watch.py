#!/usr/bin/python3
"""Checks of the watch lab and of a watch run in it, against the capture's witness.

  check_watch.py lab --witness W.jsonl (--stops HOST,GROUP | --flows HOST,GROUP)...
      --membership S [--query-interval S]
  check_watch.py tool --witness W.jsonl --json OUT.json --text OUT.txt --host HOST
      --case CASE --group G... [--status N] [--duration S] [--membership S]

W.jsonl is watch_witness.py's decoding of the host link's capture. In tool mode the
watch's times (seconds since it began) are put on the capture's clock by its own
first report of the watched groups, which both the capture and the watch timestamp.
Prints one line per check passed; exits 1 with the failures.
"""

import argparse
import json
import re
import sys

# A datagram gap this long is an outage by the watch's own rule at the lab's beacon
# rate (10 a second): max(1 s, 5 x the median interarrival).
GAP_S = 1.0
# How far an outage's start may lie from the last datagram the capture saw.
BEGAN_TOLERANCE_S = 0.2
CAUSES = {"no-querier", "querier-lost", "old-version-query", "host-not-reporting",
          "source-stopped", "link-down", "unknown"}


class Checks:
    def __init__(self):
        self.failed = []

    def ok(self, cond, text):
        if cond:
            print(text)
        else:
            self.failed.append(text)
        return cond

    def done(self):
        for text in self.failed:
            print(f"FAILED: {text}", file=sys.stderr)
        return 1 if self.failed else 0


def load_witness(path):
    with open(path) as f:
        return [json.loads(line) for line in f if line.strip()]


def datagrams(events, group):
    return [e["t"] for e in events if e["kind"] == "datagram" and e["group"] == group]


def host_reports(events, host, group):
    return [e["t"] for e in events
            if e["kind"] == "report" and e["source"] == host and group in e["groups"]
            and not e["leave"]]


def queries(events, host):
    """The queries of others, of the host's family."""
    v6 = ":" in host
    return [e for e in events if e["kind"] == "query" and e["source"] != host
            and (":" in e["source"]) == v6]


def longest_gap(times):
    return max((b - a for a, b in zip(times, times[1:])), default=0.0)


def check_lab(args, c):
    events = load_witness(args.witness)
    end = events[-1]["t"] if events else 0.0
    for pair in args.stops:
        host, group = pair.split(",")
        d = datagrams(events, group)
        r = host_reports(events, host, group)
        q = queries(events, host)
        c.ok(not q, f"{group}: no query reached the host ({len(q)} seen)")
        if not c.ok(len(d) >= 50 and r, f"{group}: the stream came ({len(d)} datagrams, "
                    f"{len(r)} reports of the host)"):
            continue
        last_report = max(t for t in r if t <= d[-1]) if any(t <= d[-1] for t in r) else r[0]
        aged = d[-1] - last_report
        c.ok(args.membership - 1 <= aged <= args.membership + 2.5,
             f"{group}: the stream stopped {aged:.2f} s after the host's last report "
             f"(membership interval {args.membership} s)")
        c.ok(end - d[-1] >= 5, f"{group}: and stayed stopped ({end - d[-1]:.1f} s to the "
             "capture's end)")
    for pair in args.flows:
        host, group = pair.split(",")
        d = datagrams(events, group)
        q = [e for e in queries(events, host) if e["group"] is None]
        c.ok(len(q) >= 2, f"{group}: {len(q)} general queries reached the host")
        if not c.ok(len(d) >= 2, f"{group}: the stream came ({len(d)} datagrams)"):
            continue
        c.ok(d[-1] - d[0] >= 2 * args.membership,
             f"{group}: it flowed {d[-1] - d[0]:.1f} s, past two membership intervals")
        c.ok(longest_gap(d) < GAP_S, f"{group}: its longest gap {longest_gap(d):.2f} s")
        if args.query_interval and len(q) >= 2:
            gaps = [b["t"] - a["t"] for a, b in zip(q, q[1:])]
            c.ok(max(gaps) <= args.query_interval + 0.5,
                 f"queries at most {max(gaps):.2f} s apart (interval {args.query_interval} s)")


def clock(watch, groups, events, reports, watched):
    """The capture time of the watch's 0 s: roughly from each group's first datagram
    (nothing reaches the host before its join), then exactly from one of the host's
    reports that the watch lists, where one lies near."""
    rough = []
    for group in watched:
        senders = (groups.get(group) or {}).get("senders") or []
        firsts = [float(s["first_s"]) for s in senders if s.get("first_s") is not None]
        seen = [t for t in datagrams(events, group) if t >= reports[0] - 0.05]
        if firsts and seen:
            rough.append(seen[0] - min(firsts))
    if not rough:
        return None
    origin = min(rough)
    listed = [float(r["t_s"]) for r in watch.get("reports") or []
              if r.get("kind") == "report" and r.get("t_s") is not None]
    # A datagram arrives every 0.1 s: the rough clock is off by less than that, unless
    # the watch joined after the other watch beside it.
    best = None
    for t in listed:
        for w in reports:
            delta = w - (origin + t)
            if abs(delta) <= 0.15 and (best is None or abs(delta) < abs(best)):
                best = delta
    return origin + (best or 0.0)


def text_lines_for(text, group):
    return [line for line in text.splitlines() if group in line]


def check_tool(args, c):
    events = load_witness(args.witness)
    with open(args.json) as f:
        raw = f.read()
    try:
        doc = json.loads(raw)
    except ValueError as err:
        c.ok(False, f"the watch's standard output is one JSON object ({err}): {raw[:300]!r}")
        return
    with open(args.text) as f:
        text = f.read()
    watch = doc.get("watch")
    if not c.ok(isinstance(watch, dict), "the JSON has a watch object"):
        return
    for key in ("duration_s", "groups", "outages", "queries", "events"):
        c.ok(key in watch, f"watch.{key} is there")
    c.ok(isinstance(doc.get("diagnosis"), list), "diagnosis is a list")
    if args.status is not None:
        c.ok(args.tool_status == args.status,
             f"the JSON run's exit status {args.tool_status} (expected {args.status})")
        c.ok(args.text_status == args.status,
             f"the text run's exit status {args.text_status} (expected {args.status})")
    if args.duration is not None:
        c.ok(abs(float(watch.get("duration_s", -99)) - args.duration) <= 2,
             f"watch.duration_s {watch.get('duration_s')} (asked {args.duration})")

    reports = [e["t"] for e in events if e["kind"] == "report" and e["source"] == args.host
               and set(e["groups"]) & set(args.group) and not e["leave"]]
    if not c.ok(bool(reports), "the capture saw the host join the watched groups"):
        return
    groups = {g.get("group"): g for g in watch.get("groups", [])}
    origin = clock(watch, groups, events, reports, args.group)
    if not c.ok(origin is not None, "the watch's times put on the capture's clock"):
        return
    end = origin + float(watch.get("duration_s") or 0)
    for group in args.group:
        g = groups.get(group)
        if not c.ok(g is not None, f"watch.groups has {group}"):
            continue
        seen = [t for t in datagrams(events, group) if origin - 0.5 <= t <= end + 0.5]
        counted = int(g.get("datagrams", -1))
        c.ok(abs(counted - len(seen)) <= max(5, len(seen) // 30),
             f"{group}: {counted} datagrams counted, the capture saw {len(seen)}")
        senders = [s.get("address") for s in g.get("senders", [])]
        c.ok(bool(seen) == bool(senders), f"{group}: senders {senders}")

    outages = watch.get("outages", [])
    for o in outages:
        c.ok(o.get("cause") in CAUSES, f"outage of {o.get('group')}: cause {o.get('cause')!r}")
    want = dict(a.split("=") for a in args.outage)
    for group in args.group:
        mine = [o for o in outages if o.get("group") == group]
        if group not in want:
            d = [t for t in datagrams(events, group) if origin + 2 <= t <= end]
            c.ok(len(d) > 10 and longest_gap(d) < GAP_S,
                 f"{group}: the capture saw it flow ({len(d)} datagrams, longest gap "
                 f"{longest_gap(d):.2f} s)")
            c.ok(not mine, f"{group}: no outage ({json.dumps(mine)[:300]})")
            continue
        cause = want[group]
        # The lab must have made the outage, whatever the watch says of it.
        d = [t for t in datagrams(events, group) if t >= origin]
        last = None
        for a, b in zip(d, d[1:] + [end]):
            if b - a > GAP_S:
                last = a
                break
        c.ok(last is not None, f"{group}: the capture saw the stream stop"
             + (f" {last - origin:.2f} s into the watch" if last is not None else ""))
        if not c.ok(len(mine) == 1, f"{group}: one outage ({json.dumps(mine)[:400]})"):
            continue
        o = mine[0]
        c.ok(o.get("cause") == cause,
             f"{group}: the outage's cause {o.get('cause')!r} (expected {cause}), "
             f"evidence {json.dumps(o.get('evidence'))[:300]}")
        c.ok(isinstance(o.get("evidence"), dict), f"{group}: the outage has evidence")
        if last is not None:
            expected = last - origin
            began = o.get("began_s")
            c.ok(isinstance(began, (int, float)) and abs(began - expected) <= BEGAN_TOLERANCE_S,
                 f"{group}: the outage began at {began} s, the last datagram came at "
                 f"{expected:.2f} s")
        lines = text_lines_for(text, group)
        # An SSM channel is named SOURCE,GROUP.
        c.ok(any(re.match(r"^\[ *[0-9]+\.[0-9] s\] .*outage of ([0-9a-f.:]+,)?"
                          + re.escape(group), line)
                 for line in lines), f"{group}: a timeline line for the outage")
        c.ok(any(cause in line for line in lines), f"{group}: the text names {cause}")
    if not want:
        c.ok("outage of" not in text, "the text tells of no outage")
    c.ok(re.search(r"^\[ *[0-9]+\.[0-9] s\] ", text, re.M) is not None,
         "the text has timeline lines")

    # The queries the watch lists are the ones that reached the host.
    q = [e for e in queries(events, args.host) if origin <= e["t"] <= end]
    listed = watch.get("queries", [])
    c.ok(abs(len(listed) - len(q)) <= 1,
         f"watch.queries lists {len(listed)}, the capture saw {len(q)} reach the host")


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=("lab", "tool"))
    parser.add_argument("--witness", required=True)
    parser.add_argument("--stops", action="append", default=[])
    parser.add_argument("--flows", action="append", default=[])
    parser.add_argument("--membership", type=float, default=20)
    parser.add_argument("--query-interval", type=float)
    parser.add_argument("--json")
    parser.add_argument("--text")
    parser.add_argument("--host")
    parser.add_argument("--group", action="append", default=[])
    parser.add_argument("--outage", action="append", default=[],
                        help="GROUP=CAUSE: the one outage that group must have")
    parser.add_argument("--status", type=int)
    parser.add_argument("--tool-status", type=int)
    parser.add_argument("--text-status", type=int)
    parser.add_argument("--duration", type=float)
    args = parser.parse_args()
    c = Checks()
    if args.mode == "lab":
        check_lab(args, c)
    else:
        check_tool(args, c)
    return c.done()


if __name__ == "__main__":
    sys.exit(main())
