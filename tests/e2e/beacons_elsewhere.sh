#!/usr/bin/env bash
# The operator's own beacons, at a group, port and source of their own: with
# --asm-group and --ssm-channel naming them, tests 1 and 2 hear them (and test 5 and 6
# probe with those groups), the headers print the values in use; with the defaults,
# nothing is heard, exactly as on a lab without beacons.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab router witness
e2e_require promtool
e2e_require_tool

e2e_lab_up --beacons-elsewhere

E2E_TOOL_ARGS=(--asm-group "$LAB_OWN_ASM_GROUP:$LAB_OWN_ASM_PORT"
  --ssm-channel "$LAB_OWN_SOURCE,$LAB_OWN_SSM_GROUP:$LAB_OWN_SSM_PORT"
  --prometheus "$E2E_WORK/corvanite.prom")
e2e_witness_start
e2e_run_tool $'q\n'
e2e_witness_stop
e2e_expect_output beacons_elsewhere.txt
e2e_expect_metrics_file "$E2E_WORK/corvanite.prom"
grep -q "^corvanite_beacon_members{.*group=\"$LAB_OWN_ASM_GROUP\",port=\"$LAB_OWN_ASM_PORT\",.*} 1$" \
  "$E2E_WORK/corvanite.prom" || e2e_fail "the metrics do not name the beacon the options chose"
# Tests 5 and 6 probe the router with the groups the options name.
e2e_witness_saw "IGMPv2 report for $LAB_OWN_ASM_GROUP" "src=$LAB_HOST_ADDR " \
  "igmp_type=0x16 " "group=$LAB_OWN_ASM_GROUP( |$)"
e2e_witness_saw "IGMPv3 ALLOW for ($LAB_OWN_SOURCE, $LAB_OWN_SSM_GROUP)" \
  "src=$LAB_HOST_ADDR " "ra=0 " "records=5:$LAB_OWN_SSM_GROUP:$LAB_OWN_SOURCE$"
n=$(e2e_witness_count "src=$LAB_HOST_ADDR " "($LAB_ASM_GROUP|$LAB_SSM_GROUP)")
[[ $n -eq 0 ]] || e2e_fail "$n messages named the built-in groups in a run that chose others"

E2E_TOOL_ARGS=()
e2e_run_tool $'q\n'
e2e_expect_output no_beacons.txt
e2e_finish
