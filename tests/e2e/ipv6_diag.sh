#!/usr/bin/env bash
# The diagnosis of IPv6 passes (-6), in the IPv6 labs:
#   full      pim6d with MLDv2: the querier (MLDv2, QRV 2, QQIC 125), the PIMv6 DR and
#             the beacons' hop limit as the link capture saw it, and nothing else;
#             then, with the host's force_mld_version at 1, host-mld-version-forced,
#             and test 2 fails without joining;
#   firewall  an nftables rule drops the IPv6 beacons' ports: the link capture saw
#             their datagrams, the sockets got none, and the report no longer blames
#             the path beyond the router;
#   mldv1     pim6d querying in MLDv1: querier-old-version, whose summary names itself,
#             not a switch, as the cause of the report's row that blames one;
#   snooping  a Linux bridge as the link's only MLD querier: its link-local address is
#             the querier. It answers an MLDv2 BLOCK from its global address about a
#             second later, at the edge of test 6's watch, so query-not-link-local may
#             come; when it does, it names that global address.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
case=${1:?full, firewall, mldv1 or snooping}
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
    e2e_diagnosis_runs --shared-json -6
    e2e_expect_diagnosis --only \
      "querier@info,address=$LAB_ROUTER6_LL,version=2,robustness=2,query_interval_s=125,membership_interval_s=260,family=ipv6" \
      "pim-dr@info,address=$LAB_ROUTER6_LL,dr_priority=1,family=ipv6" \
      "beacon-ttl@info,beacons.0.group=$LAB_ASM6_GROUP,beacons.0.lowest_ttl=$LAB_BEACON_TTL,beacons.1.group=$LAB_SSM6_GROUP,beacons.1.lowest_ttl=$LAB_BEACON_TTL,family=ipv6"

    # Put back for a group's next scenario (this case comes last in its group: the
    # router may still take the host for an MLDv1 listener for a while).
    lab_at_exit lab_host_exec "$E2E_LAB" sysctl -qw "net.ipv6.conf.$LAB_HOST_IF.force_mld_version=0"
    lab_host_exec "$E2E_LAB" sysctl -qw "net.ipv6.conf.$LAB_HOST_IF.force_mld_version=1"
    E2E_EXPECT_STATUS=1
    e2e_diagnosis_runs -6
    e2e_expect_diagnosis \
      "host-mld-version-forced@problem,setting=net.ipv6.conf.$LAB_HOST_IF.force_mld_version,value=1,family=ipv6"
    grep -qF "The host is held to MLDv1 and cannot join IPv6 source-specific channels" \
      "$E2E_WORK/explain.out" || e2e_fail "test 2 does not say the host is held to MLDv1"
    ;;
  firewall)
    e2e_require nft
    e2e_lab_up --ipv6
    lab_at_exit lab_host_exec "$E2E_LAB" nft delete table ip6 beacons_dropped
    lab_host_exec "$E2E_LAB" nft -f - <<EOT
table ip6 beacons_dropped {
  chain input {
    type filter hook input priority 0;
    udp dport { $LAB_ASM_PORT, $LAB_SSM_PORT } drop
  }
}
EOT
    E2E_EXPECT_STATUS=1
    e2e_diagnosis_runs -6
    e2e_expect_diagnosis \
      "host-drops-beacon@problem,interface=$LAB_HOST_IF,beacons.0.group=$LAB_ASM6_GROUP,beacons.0.port=$LAB_ASM_PORT,beacons.0.senders.0=$LAB_SSM6_SOURCE,beacons.0.datagrams_received=0,beacons.0.cause=unknown,beacons.1.group=$LAB_SSM6_GROUP,beacons.1.source=$LAB_SSM6_SOURCE,beacons.1.cause=unknown,family=ipv6" \
      "querier@info,address=$LAB_ROUTER6_LL" "pim-dr@info"
    e2e_expect_report_rows absent \
      "The path to the first-hop router works for IPv6 any-source multicast, but no beacon" \
      "The path to the first-hop router works for IPv6 source-specific multicast, but no"
    grep -qF "something on the host drops them" "$E2E_WORK/explain.out" ||
      e2e_fail "--explain does not say the host drops the IPv6 beacons"
    ;;
  mldv1)
    e2e_lab_up --ipv6-mldv1
    E2E_EXPECT_STATUS=1
    e2e_diagnosis_runs --shared-json -6
    e2e_expect_diagnosis --only \
      "querier-old-version@problem,address=$LAB_ROUTER6_LL,version=1,family=ipv6" \
      "querier@info,address=$LAB_ROUTER6_LL,version=1" "pim-dr@info" \
      "beacon-ttl@info,family=ipv6"
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
