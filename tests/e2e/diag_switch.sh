#!/usr/bin/env bash
# The diagnosis of queriers that are not the router's, from a real snooping switch (a
# Linux bridge) on the host's link:
#   switch-querier  no router, and the switch queries from 0.0.0.0: the link has a
#                   querier, so no "no-querier", but no router queries it;
#   off-subnet      no router, and the switch queries from its management address
#                   on another subnet;
#   two-queriers    the full lab's router, and a second querier on a switch port
#                   isolated from the router's: each keeps querying, and the host hears
#                   both.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
case=${1:?switch-querier, off-subnet or two-queriers}
if [[ $case == two-queriers ]]; then
  e2e_require_lab router
else
  e2e_require_lab
fi
e2e_require_tool

# Without a router some tests fail; beside the full lab's router every test passes.
E2E_EXPECT_STATUS=1
[[ $case == two-queriers ]] && E2E_EXPECT_STATUS=0
case $case in
  switch-querier)
    e2e_lab_up --switch-querier
    e2e_diagnosis_runs
    e2e_expect_diagnosis --only \
      "switch-querier@warning,source=0.0.0.0,router_queriers=[]" \
      "querier@info,address=0.0.0.0,version=3,robustness=2"
    grep -q "No router's query came in the .* s watched" "$E2E_WORK/explain.out" ||
      e2e_fail "the summary does not say that no router's query came"
    if grep -q "No router queries this link" "$E2E_WORK/explain.out"; then
      e2e_fail "the summary concludes from silence that no router queries the link"
    fi
    ;;
  off-subnet)
    e2e_lab_up --switch-off-subnet
    e2e_diagnosis_runs
    e2e_expect_diagnosis --only \
      "query-off-subnet@warning,addresses.0=$LAB_SWITCH_FAR_ADDR,addresses.1=null,subnets.0=10.0.1.0/$LAB_HOST_PREFIX" \
      "querier@info,address=$LAB_SWITCH_FAR_ADDR" \
      "router-ignores-pings@info,address=$LAB_SWITCH_FAR_ADDR"
    ;;
  two-queriers)
    e2e_lab_up --two-queriers
    e2e_diagnosis_runs
    e2e_expect_diagnosis --only \
      "multiple-queriers@warning,sources.0=$LAB_ROUTER_ADDR,sources.1=$LAB_QUERIER2_ADDR,sources.2=null,elected=$LAB_ROUTER_ADDR" \
      "querier@info" "pim-dr" "beacon-ttl"
    # The report itself is the full lab's: a second querier changes none of its rows.
    e2e_expect_report_rows present "Path to first hop router is working for ASM" \
      "Path to first hop router is working for SSM" "SSM is functioning for Beacon Group"
    ;;
  *) e2e_fail "no such case: $case" ;;
esac
e2e_finish
