#!/usr/bin/env bash
# One pass against the full lab (FRR router with PIM-SM and IGMP, ASM and SSM beacons):
# every test succeeds and the report prints every positive conclusion, naming the router
# as the PIM responder. This is what the demo shows.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab router witness
e2e_require_tool

e2e_lab_up
e2e_witness_start
e2e_run_tool $'q\n'
e2e_witness_stop
e2e_expect_output full_pass.txt
e2e_tool_messages_seen
# The Hello's DR priority 0 must leave the router DR, or the beacons would stop.
dr=$(lab_host_link_dr "$E2E_LAB")
[[ $dr == "$LAB_ROUTER_ADDR" ]] || e2e_fail "the tool's Hello made $dr the host link's DR"
e2e_finish
