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
    # The router's start-up queries put the host in IGMPv2 compatibility mode; wait
    # (bounded) until the kernel shows it, so that test 2 meets the host in that mode.
    for _ in $(seq 50); do
      lab_host_exec "$E2E_LAB" grep -q "$LAB_HOST_IF.*V2" /proc/net/igmp && break
      sleep 0.2
    done
    lab_host_exec "$E2E_LAB" grep -q "$LAB_HOST_IF.*V2" /proc/net/igmp ||
      e2e_fail "the host never fell back to IGMPv2 under the router's IGMPv2 queries"
    e2e_diagnosis_runs
    e2e_expect_diagnosis \
      "querier-old-version@problem,address=$LAB_ROUTER_ADDR,version=2" \
      "host-igmp-compat-mode@warning,interface=$LAB_HOST_IF,mode=2,old_queriers.0=$LAB_ROUTER_ADDR" \
      "querier@info,address=$LAB_ROUTER_ADDR,version=2,robustness=null" \
      "!old-version-query" "!snooping-drops-igmpv3" "!no-querier"
    # In compatibility mode a source-specific join would leave without its source:
    # test 2 refuses it, as it does when a setting holds the host to IGMPv2.
    grep -A1 '^	2\.  Joining SSM Video Group' "$E2E_WORK/explain.out" | tail -n 1 |
      grep -qx 'The host does not support SSM <IGMPv3> ' ||
      e2e_fail "test 2 joined although the host was in IGMPv2 compatibility mode"
    grep -qx 'Test failed:  no IGMPv3 response received from the router ' \
      "$E2E_WORK/explain.out" || e2e_fail "test 6 took an IGMPv2 query for an IGMPv3 answer"
    e2e_expect_report_rows present "Path to first hop router is working for ASM"
    e2e_expect_report_rows absent "Path to first hop router is working for SSM" \
      "Host Operating System is capable of Source Specific"
    grep -q "heard an older querier's query (from $LAB_ROUTER_ADDR)" "$E2E_WORK/explain.out" ||
      e2e_fail "the diagnosis does not name the querier that put the host in IGMPv2 mode"
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
