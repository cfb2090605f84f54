#!/usr/bin/env bash
# Two passes against the full lab (FRR router with PIM-SM and IGMP, ASM and SSM
# beacons): every test succeeds both times and the report prints every positive
# conclusion, naming the router as the PIM responder. The second pass, run at once,
# proves that a router answers the tool's Hello again. This is what the demo shows.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab router witness
e2e_require_tool

e2e_lab_up
e2e_witness_start
e2e_run_tool --timed $'y\nq\n'
e2e_witness_stop
e2e_expect_output full_two_passes.txt
e2e_tool_messages_seen

# An answered ping ends its test at the first reply, far from the 2000 ms limit: the
# next test's first message follows at once.
e2e_expect_interval "test 3 with the router answering" 0 1000 "$(e2e_mark echo-2)" \
  "$(e2e_mark echo-22)"
e2e_expect_interval "test 4 with the router answering" 0 1000 "$(e2e_mark echo-22)" \
  "$(e2e_mark v2-report)"
e2e_expect_interval "test 7 with the router answering" 0 1000 "$(e2e_mark echo-13)" \
  "$(e2e_mark hello)"
# The PIM test listens for its whole 5 s whatever arrives; its own result line is the
# only mark of its end. Test 6's line, stamped late by a busy reader, may come after the
# Hello, so the line is matched by test 8's own text.
e2e_expect_interval "test 8 with Hellos answered" 5000 6500 "$(e2e_mark hello)" \
  'line:^Test succeeded:  received responses to Hello Message'

n=$(e2e_witness_count "src=$LAB_HOST_ADDR " "proto=pim " "pim_type=0 " "holdtime=30 ")
[[ $n -eq 2 ]] || e2e_fail "expected 2 PIM Hellos from the host, the witness saw $n"
# Each pass ends its neighbourship with the same neighbour's Hello of holdtime 0.
mapfile -t hellos < <(e2e_witness_values genid "src=$LAB_HOST_ADDR " "pim_type=0 " "holdtime=30 ")
mapfile -t goodbyes < <(e2e_witness_values genid "src=$LAB_HOST_ADDR " "pim_type=0 " "holdtime=0 ")
[[ ${#goodbyes[@]} -eq 2 && ${goodbyes[*]} == "${hellos[*]}" ]] ||
  e2e_fail "Hellos ${hellos[*]} were ended by goodbyes ${goodbyes[*]}, not one each"
# The Hello's DR priority 0 must leave the router DR, or the beacons would stop.
dr=$(lab_host_link_dr "$E2E_LAB")
[[ $dr == "$LAB_ROUTER_ADDR" ]] || e2e_fail "the tool's Hello made $dr the host link's DR"
e2e_finish
