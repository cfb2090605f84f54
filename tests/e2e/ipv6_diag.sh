#!/usr/bin/env bash
# The diagnosis of IPv6 passes (-6), in the IPv6 labs:
#   full      pim6d with MLDv2: the querier (MLDv2, QRV 2, QQIC 125) and the PIMv6 DR,
#             and nothing else (the beacon capture is IPv4 only); then, with the
#             host's force_mld_version at 1, host-mld-version-forced, and test 2
#             fails without joining;
#   mldv1     pim6d querying in MLDv1: querier-old-version, whose summary names itself,
#             not a switch, as the cause of the report's row that blames one;
#   snooping  a Linux bridge as the link's only MLD querier: its link-local address is
#             the querier. It answers an MLDv2 BLOCK from its global address about a
#             second later, at the edge of test 6's watch, so query-not-link-local may
#             come; when it does, it names that global address.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
case=${1:?full, mldv1 or snooping}
if [[ $case == snooping ]]; then
  e2e_require_lab router
else
  e2e_require_lab router router6
fi
e2e_require_tool

case $case in
  full)
    e2e_lab_up --ipv6
    E2E_EXPECT_STATUS=0
    e2e_diagnosis_runs -6
    e2e_expect_diagnosis --only \
      "querier@info,address=$LAB_ROUTER6_LL,version=2,robustness=2,query_interval_s=125,membership_interval_s=260,family=ipv6" \
      "pim-dr@info,address=$LAB_ROUTER6_LL,dr_priority=1,family=ipv6"

    lab_host_exec "$E2E_LAB" sysctl -qw "net.ipv6.conf.$LAB_HOST_IF.force_mld_version=1"
    E2E_EXPECT_STATUS=1
    e2e_diagnosis_runs -6
    e2e_expect_diagnosis \
      "host-mld-version-forced@problem,setting=net.ipv6.conf.$LAB_HOST_IF.force_mld_version,value=1,family=ipv6"
    grep -qF "The host is held to MLDv1 and cannot join IPv6 source-specific channels" \
      "$E2E_WORK/explain.out" || e2e_fail "test 2 does not say the host is held to MLDv1"
    ;;
  mldv1)
    e2e_lab_up --ipv6-mldv1
    E2E_EXPECT_STATUS=1
    e2e_diagnosis_runs -6
    e2e_expect_diagnosis --only \
      "querier-old-version@problem,address=$LAB_ROUTER6_LL,version=1,family=ipv6" \
      "querier@info,address=$LAB_ROUTER6_LL,version=1" "pim-dr@info"
    e2e_expect_report_rows present \
      "The path to the first-hop router is not set up for IPv6 source-specific multicast"
    grep -qF "[problem] The querier $LAB_ROUTER6_LL on $LAB_HOST_IF speaks MLDv1 only" \
      "$E2E_WORK/explain.out" || e2e_fail "--explain lacks the MLDv1-only querier"
    grep -q "This, not a switch, is why" "$E2E_WORK/explain.out" ||
      e2e_fail "the MLDv1-only querier does not correct the report's switch row"
    ;;
  snooping)
    e2e_lab_up --snooping
    E2E_EXPECT_STATUS=1
    e2e_diagnosis_runs -6
    e2e_expect_diagnosis \
      "querier@info,address=$LAB_SWITCH6_LL,version=2,family=ipv6"
    "$LAB_PYTHON" - "$E2E_WORK/json.out" "$LAB_SWITCH6_ADDR" <<'PY' >&2 ||
import json, sys
findings = {f["id"]: f for f in json.loads(open(sys.argv[1]).readline())["diagnosis"]}
allowed = {"querier", "router-ignores-pings", "query-not-link-local"}
assert set(findings) <= allowed, f"unexpected findings: {sorted(set(findings) - allowed)}"
stranger = findings.get("query-not-link-local")
assert stranger is None or stranger["evidence"]["addresses"] == [sys.argv[2]], stranger
PY
      e2e_fail "the snooping lab's IPv6 diagnosis is not the bridge's"
    ;;
  *) e2e_fail "no such case: $case" ;;
esac
e2e_finish
