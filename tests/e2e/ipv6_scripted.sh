#!/usr/bin/env bash
# Runs for scripts against the IPv6 lab: -4 -6 --once runs both batteries, IPv4 first,
# each with its own tests and report, and exits 0 as every test of both succeeds; -6
# --json prints one object that validates and names pim6d as querier (MLDv2, QRV 2,
# QQIC 125), ping responder and PIM neighbour, and the channel's source as member;
# -4 -6 --json prints one object a family, the IPv4 one holding what the full lab's
# --json pass must: it validates and names the router as querier (IGMPv3), ping
# responder and PIM neighbour with FRR's Hello options, the beacon's source as member,
# the full lab's diagnosis and the text mode's report lines.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab router router6
e2e_require_tool

e2e_lab_up --ipv6

E2E_TOOL_ARGS=(-4 -6 --once)
e2e_run_tool
e2e_expect_output ipv6_both_once.txt
# Each half's report lines, for the JSON's to match (the IPv4 half ends where the
# IPv6 battery's tests begin).
sed -n '/Report (IPv6)/,$p' "$E2E_WORK/tool.out" >"$E2E_WORK/text6.out"
awk '/^Running 8 Tests/ && ++n == 2 { exit } { print }' "$E2E_WORK/tool.out" >"$E2E_WORK/text4.out"

E2E_TOOL_ARGS=(-6 --json)
e2e_run_tool_shared
"$LAB_PYTHON" "$E2E_DIR/check_pass_json.py" "$E2E_WORK/tool.out" full6 "$E2E_WORK/text6.out" >&2 ||
  e2e_fail "the IPv6 JSON pass does not hold what the lab holds"
n=$(wc -l <"$E2E_WORK/tool.out")
[[ $n -eq 1 ]] || e2e_fail "-6 --json printed $n lines, not one"

E2E_TOOL_ARGS=(-4 -6 --json)
e2e_run_tool
families=$("$LAB_PYTHON" -c 'import json, sys
print(" ".join(json.loads(line)["family"] for line in open(sys.argv[1])))' "$E2E_WORK/tool.out")
[[ $families == "ipv4 ipv6" ]] || e2e_fail "-4 -6 --json printed passes of $families"
"$LAB_PYTHON" "$E2E_REPO/schema/validate.py" "$E2E_WORK/tool.out" >&2 ||
  e2e_fail "-4 -6 --json does not validate"
head -n 1 "$E2E_WORK/tool.out" >"$E2E_WORK/json4.out"
"$LAB_PYTHON" "$E2E_DIR/check_pass_json.py" "$E2E_WORK/json4.out" full "$E2E_WORK/text4.out" >&2 ||
  e2e_fail "the IPv4 object of -4 -6 --json does not hold what the lab holds"
e2e_finish
