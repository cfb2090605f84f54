#!/usr/bin/env bash
# The router ignores echo requests sent to groups, while another program on the host
# pings the router's own address the whole time and gets its replies. None of the
# three ping tests may take those replies for its own: rows 3, 5 and 7 stay out of
# the report, and each ping test waits its full 2 s.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab router witness
e2e_require promtool
e2e_require ping
e2e_require_tool

e2e_lab_up --ignore-pings
lab_spawn "$E2E_LAB" host other-ping ping -n -i 0.05 "$LAB_ROUTER_ADDR"
# One pass, --once with --prometheus: its text is the golden pass's without the prompt
# (the prompt and a second pass are faults.five_passes' and two_passes'), and its metrics file
# must satisfy promtool.
e2e_witness_start
e2e_metrics_pass ignore_pings.txt 1
e2e_witness_stop
answered=$(grep -c ' bytes from ' "$E2E_WORK/other-ping.log" || true)
((answered > 100)) || e2e_fail "the other program's pings were not answered ($answered replies)"
e2e_expect_interval "test 3 among other replies" 2000 3000 "$(e2e_mark echo-2)" \
  "$(e2e_mark echo-22)"
e2e_expect_interval "test 4 among other replies" 2000 3000 "$(e2e_mark echo-22)" \
  "$(e2e_mark v2-report)"
e2e_expect_interval "test 7 among other replies" 2000 3000 "$(e2e_mark echo-13)" \
  "$(e2e_mark hello)"
e2e_finish
