#!/usr/bin/python3
"""Asks a Prometheus server's HTTP API about the tool's metrics, polling with a deadline.

Usage:
  prometheus_query.py URL ready DEADLINE_S
  prometheus_query.py URL expect QUERY COUNT VALUE DEADLINE_S [LABEL=VALUE...]
      until the instant QUERY gives COUNT series, every one of them VALUE and
      carrying every LABEL=VALUE given
  prometheus_query.py URL switched SELECTOR T_BEFORE T_AFTER OLD NEW DEADLINE_S
      the raw samples of SELECTOR's series: each scraped before T_BEFORE is OLD,
      each scraped after T_AFTER is NEW, and every series has at least two after
      T_AFTER (seconds since the epoch)
  prometheus_query.py URL first-after T_AFTER QUERY COUNT VALUE DEADLINE_S [LABEL=VALUE...]
      the instant QUERY evaluated at the first scrape after T_AFTER (the time of the
      first corvanite_test_success sample after it) gives what `expect` wants; a QUERY
      "rule:NAME" is the expression of the loaded recording rule NAME
  prometheus_query.py URL rules GROUP...
      the server loaded these rule groups
Prints what it checked; exits 1 with the last answer when a check fails.
"""
import json
import sys
import time
import urllib.parse
import urllib.request


def api(url, path, **params):
    query = urllib.parse.urlencode(params)
    with urllib.request.urlopen(f"{url}{path}?{query}", timeout=5) as answer:
        body = json.load(answer)
    if body.get("status") != "success":
        raise RuntimeError(f"{path}: {body}")
    return body["data"]


def poll(deadline_s, check):
    """Calls check() until it returns (True, text) or the deadline passes."""
    end = time.monotonic() + float(deadline_s)
    last = "no answer"
    while True:
        try:
            ok, last = check()
            if ok:
                print(last)
                return 0
        except (OSError, RuntimeError, ValueError) as error:
            last = f"error: {error}"
        if time.monotonic() >= end:
            print(f"FAIL after {deadline_s} s: {last}", file=sys.stderr)
            return 1
        time.sleep(0.25)


def ready(url, deadline_s):
    def check():
        with urllib.request.urlopen(f"{url}/-/ready", timeout=5) as answer:
            return answer.status == 200, f"{url} is ready"
    return poll(deadline_s, check)


def matches(result, query, count, value, wanted):
    values = [float(series["value"][1]) for series in result]
    labelled = all(series["metric"].get(k) == v for series in result for k, v in wanted.items())
    text = f"{query}: {len(result)} series, values {values}, labels {wanted or '-'}"
    return (len(result) == int(count) and all(v == float(value) for v in values)
            and labelled), text + ("" if labelled else f" in {result}")


def rule_query(url, name):
    for group in api(url, "/api/v1/rules")["groups"]:
        for rule in group["rules"]:
            if rule["name"] == name:
                return rule["query"]
    raise RuntimeError(f"no rule {name} loaded")


def first_after(url, t_after, query, count, value, deadline_s, *labels):
    wanted = dict(pair.split("=", 1) for pair in labels)
    if query.startswith("rule:"):
        query = rule_query(url, query[len("rule:"):])

    def check():
        scraped = api(url, "/api/v1/query", query="corvanite_test_success[2m]")["result"]
        times = sorted(float(t) for series in scraped for t, _ in series["values"]
                       if float(t) > float(t_after))
        if not times:
            return False, "no scrape after the switch yet"
        result = api(url, "/api/v1/query", query=query, time=f"{times[0]:.3f}")["result"]
        ok, text = matches(result, query, count, value, wanted)
        if not ok:
            # The first scrape after the switch does not change any more.
            print(f"FAIL at the first scrape after the switch: {text}", file=sys.stderr)
            sys.exit(1)
        return ok, f"at the first scrape after the switch, {text}"
    return poll(deadline_s, check)


def expect(url, query, count, value, deadline_s, *labels):
    wanted = dict(pair.split("=", 1) for pair in labels)

    def check():
        result = api(url, "/api/v1/query", query=query)["result"]
        return matches(result, query, count, value, wanted)
    return poll(deadline_s, check)


def switched(url, selector, t_before, t_after, old, new, deadline_s):
    t_before, t_after = float(t_before), float(t_after)

    def check():
        result = api(url, "/api/v1/query", query=f"{selector}[2m]")["result"]
        if not result:
            return False, f"{selector}: no series"
        problems, lines = [], []
        for series in result:
            samples = [(float(t), float(v)) for t, v in series["values"]]
            before = [v for t, v in samples if t < t_before]
            after = [v for t, v in samples if t > t_after]
            name = series["metric"].get("test", "")
            if any(v != float(old) for v in before) or not before:
                problems.append(f"{name}: before the switch {before}")
            if any(v != float(new) for v in after):
                problems.append(f"{name}: after the switch {after}")
            lines.append(f"{name} {len(before)} samples at {old}, then {after[:3]}...")
            if len(after) < 2:
                return False, f"{name}: only {len(after)} scrapes after the switch yet"
        if problems:
            # A wrong sample after the switch stays wrong: no point in waiting.
            print(f"FAIL: {problems}", file=sys.stderr)
            sys.exit(1)
        return True, f"{selector}: {len(result)} series; " + "; ".join(lines)
    return poll(deadline_s, check)


def rules(url, *groups):
    loaded = {group["name"] for group in api(url, "/api/v1/rules")["groups"]}
    missing = set(groups) - loaded
    if missing:
        print(f"FAIL: rule groups not loaded: {sorted(missing)} (loaded {sorted(loaded)})",
              file=sys.stderr)
        return 1
    print(f"rule groups loaded: {sorted(loaded)}")
    return 0


def main(argv):
    url, command, *args = argv[1:]
    commands = {"ready": ready, "expect": expect, "first-after": first_after,
                "switched": switched, "rules": rules}
    return commands[command](url, *args)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
