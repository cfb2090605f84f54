#!/usr/bin/env bash
# The diagnosis of the router's IGMP, from the real FRR router:
#   old-version   the router runs IGMPv2 (`ip igmp version 2`): test 6 fails, the report
#                 blames a switch, and the diagnosis names the old querier instead, with
#                 the host's fall-back to IGMPv2 it causes;
#   interval      the router queries every 200 s and ignores group pings: reports come
#                 210 s apart at most, within the 260 s a snooping switch keeps a group,
#                 so no membership-interval though its membership interval is 410 s;
#                 and a router the ping rows miss.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab router
e2e_require_tool

E2E_EXPECT_STATUS=1
case ${1:?old-version or interval} in
  old-version)
    e2e_lab_up --igmp-v2
    e2e_diagnosis_runs
    e2e_expect_diagnosis \
      "querier-old-version@problem,address=$LAB_ROUTER_ADDR,version=2" \
      "host-igmp-compat-mode@warning,interface=$LAB_HOST_IF,mode=2" \
      "querier@info,address=$LAB_ROUTER_ADDR,version=2,robustness=null"
    grep -qx 'Test failed:  no IGMPv3 response received from the router ' \
      "$E2E_WORK/explain.out" || e2e_fail "test 6 took an IGMPv2 query for an IGMPv3 answer"
    e2e_expect_report_rows present "Path to first hop router is not setup for SSM" \
      "Path to first hop router is working for ASM"
    e2e_expect_report_rows absent "Path to first hop router is working for SSM"
    grep -q "This, not a switch, is why the report finds the path not set up for SSM" \
      "$E2E_WORK/explain.out" || e2e_fail "the diagnosis does not correct the report's switch"
    ;;
  interval)
    e2e_lab_up --query-interval-200 --ignore-pings
    e2e_diagnosis_runs
    e2e_expect_diagnosis \
      "router-ignores-pings@info,address=$LAB_ROUTER_ADDR" \
      "querier@info,query_interval_s=200,membership_interval_s=410.0" "pim-dr" "beacon-ttl"
    if grep -q '"membership-interval"' "$E2E_WORK/json.out"; then
      e2e_fail "a 200 s query interval is taken for one a snooping switch outlasts"
    fi
    ;;
  *) e2e_fail "no such case: $1" ;;
esac
e2e_finish
