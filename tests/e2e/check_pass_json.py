#!/usr/bin/python3
"""Checks the JSON passes a run printed against the schema and the lab's facts.

Usage: check_pass_json.py FILE LAB-KIND [TEXT-OUTPUT]
  LAB-KIND  full | no-pim | bare | full6 | mldv1-6: what the lab holds, so what each
            pass must show (the last two: IPv6 passes of the --ipv6 and --ipv6-mldv1 labs).
  TEXT-OUTPUT  the text of a run of the same lab: its report lines must be the ones
               the JSON carries.
Prints one line per problem; exits 1 when there is any.
"""
import json
import pathlib
import sys

import jsonschema

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent.parent / "lab"))
import facts  # noqa: E402

SCHEMA = json.loads((HERE.parent.parent / "schema" / "pass.schema.json").read_text())
problems = []


def expect(condition, what):
    if not condition:
        problems.append(what)


def check_full(tests, verdicts):
    members = {m["address"]: m["datagrams"] for m in tests[0]["members"]}
    expect(facts.SSM_SOURCE in members, f"test 1 members {members} lack the beacon")
    expect(tests[1]["source"] == facts.SSM_SOURCE, "test 2 names another source")
    expect([m["address"] for m in tests[1]["members"]] == [facts.SSM_SOURCE],
           "test 2 members are not the channel's source")
    for number in (3, 4, 7):
        replies = [r["address"] for r in tests[number - 1]["replies"]]
        expect(replies == [facts.ROUTER_ADDR], f"test {number} replies {replies}")
    for number, group in ((5, facts.ASM_GROUP), (6, facts.SSM_GROUP)):
        queries = tests[number - 1]["queries"]
        # FRR speaks IGMPv3 on the host link; a leave or BLOCK gets a query for it.
        ours = [q for q in queries if q["group"] == group]
        expect(ours, f"test {number} saw no query for {group}: {queries}")
        for q in ours:
            expect(q["sender"] == facts.ROUTER_ADDR and q["version"] == 3,
                   f"test {number} query {q} is not the router's IGMPv3 query")
            expect(2000 <= q["since_probe_ms"] <= 3100,
                   f"test {number} query came {q['since_probe_ms']} ms after the probe began")
    hellos = tests[7]["hellos"]
    expect([h["sender"] for h in hellos] == [facts.ROUTER_ADDR], f"test 8 hellos {hellos}")
    for h in hellos:
        # FRR's defaults: DR priority 1, holdtime 3.5 times its 30 s Hello period.
        expect(h["dr_priority"] == 1 and h["holdtime_s"] == 105 and h["generation_id"] is not None,
               f"test 8 hello {h} lacks FRR's options")
    expect(all(verdicts["flags"].values()), f"not every flag is set: {verdicts['flags']}")


def check_full_diagnosis(diagnosis):
    ids = sorted(f["id"] for f in diagnosis)
    expect(ids == ["beacon-ttl", "pim-dr", "querier"], f"the full lab's diagnosis: {ids}")
    for finding in diagnosis:
        if finding["id"] in ("querier", "pim-dr"):
            expect(finding["evidence"]["address"] == facts.ROUTER_ADDR,
                   f"{finding['id']} names {finding['evidence']['address']}")


def check_no_pim(tests, verdicts):
    expect(tests[7]["outcome"] == "failed" and tests[7]["hellos"] == [],
           f"test 8 without PIM: {tests[7]}")
    expect(any(q["sender"] == facts.ROUTER_ADDR for q in tests[4]["queries"]),
           "test 5 saw no query from the router")
    expect(not verdicts["flags"]["pim_hello_answered"], "a Hello answer was reported")


def check_bare(tests, verdicts):
    for test in tests:
        expect(test["outcome"] == "failed", f"test {test['number']} on a bare link: {test}")
    expect(verdicts["flags"]["host_asm_capable"] and verdicts["flags"]["host_ssm_capable"],
           "the host's own ASM and SSM capability is not reported")


def check_bare_diagnosis(diagnosis):
    ids = [f["id"] for f in diagnosis]
    expect(ids == ["no-querier"], f"the bare lab's diagnosis: {ids}")


def router_queries(test, group, version):
    """The router's queries for `group` of `version` that answered the probe's last
    message (2 s in), within the test's 1 s watch."""
    return [q for q in test["queries"]
            if q["group"] == group and q["sender"] == facts.ROUTER6_LL
            and q["version"] == version and 2000 <= q["since_probe_ms"] <= 3100]


def check_ipv6_common(tests):
    expect(facts.SSM6_SOURCE in [m["address"] for m in tests[0]["members"]],
           f"test 1 members {tests[0]['members']} lack the beacon")
    expect(tests[1]["source"] == facts.SSM6_SOURCE, "test 2 names another source")
    expect([m["address"] for m in tests[1]["members"]] == [facts.SSM6_SOURCE],
           "test 2 members are not the channel's source")
    for number, group in ((3, "ff02::2"), (4, "ff02::16"), (7, "ff02::d")):
        expect(tests[number - 1]["group"] == group, f"test {number} pinged {tests[number - 1]}")
        replies = [r["address"] for r in tests[number - 1]["replies"]]
        expect(replies == [facts.ROUTER6_LL], f"test {number} replies {replies}")
    hellos = tests[7]["hellos"]
    expect([h["sender"] for h in hellos] == [facts.ROUTER6_LL], f"test 8 hellos {hellos}")
    for h in hellos:
        expect(h["dr_priority"] == 1 and h["holdtime_s"] == 105 and h["generation_id"] is not None,
               f"test 8 hello {h} lacks pim6d's options")


def check_full6(tests, verdicts):
    check_ipv6_common(tests)
    # pim6d queries in MLDv2: the Done gets a group query, the BLOCK a group-and-source one.
    expect(router_queries(tests[4], facts.ASM6_GROUP, 2),
           f"test 5 saw no MLDv2 group query from the router: {tests[4]['queries']}")
    channel = router_queries(tests[5], facts.SSM6_GROUP, 2)
    expect(channel, f"test 6 saw no MLDv2 query for the channel: {tests[5]['queries']}")
    for q in channel:
        expect(q["sources"] == [facts.SSM6_SOURCE] and q["robustness"] == 2
               and q["query_interval_s"] == 125, f"test 6 query {q}")
    expect(all(verdicts["flags"].values()), f"not every flag is set: {verdicts['flags']}")


def check_mldv1_6(tests, verdicts):
    check_ipv6_common(tests)
    queries = router_queries(tests[4], facts.ASM6_GROUP, 1)
    expect(queries, f"test 5 saw no MLDv1 group query from the router: {tests[4]['queries']}")
    for q in queries:
        expect("robustness" not in q or q["robustness"] is None, f"MLDv1 query with QRV: {q}")
    expect(tests[5]["outcome"] == "failed", f"test 6 against an MLDv1 router: {tests[5]}")
    expect(not any(q["version"] == 2 for q in tests[5]["queries"]),
           "an MLDv1 router sent an MLDv2 query")
    expect(not verdicts["flags"]["mld_v2_query_seen"], "an MLDv2 answer was reported")


def main():
    lines = pathlib.Path(sys.argv[1]).read_text().splitlines()
    kind = sys.argv[2]
    expect(lines, "no pass was printed")
    validator = jsonschema.Draft7Validator(SCHEMA)
    for number, line in enumerate(lines, 1):
        pass_ = json.loads(line)
        for error in validator.iter_errors(pass_):
            where = "/".join(str(p) for p in error.absolute_path)
            problems.append(f"pass {number} /{where}: {error.message}")
        tests, verdicts = pass_["tests"], pass_["verdicts"]
        expect([t["number"] for t in tests] == list(range(1, 9)), "tests out of order")
        expect(pass_["family"] == ("ipv6" if kind.endswith("6") else "ipv4"),
               f"pass {number} is of family {pass_['family']}")
        {"full": check_full, "no-pim": check_no_pim, "bare": check_bare, "full6": check_full6,
         "mldv1-6": check_mldv1_6}[kind](tests, verdicts)
        if kind in ("full", "bare"):
            {"full": check_full_diagnosis, "bare": check_bare_diagnosis}[kind](pass_["diagnosis"])
        if len(sys.argv) > 3:
            text = pathlib.Path(sys.argv[3]).read_text().splitlines()
            report = [line for line in text if line.startswith("=> ")]
            expect(verdicts["report"] == report, "the report lines differ from the text's")
    for problem in problems:
        print("check_pass_json: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
