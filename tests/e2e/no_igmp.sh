#!/usr/bin/env bash
# The router runs PIM but not IGMP on the host link: it still answers pings to the
# router groups, but sends no query, so both IGMP tests fail. The host can do SSM and
# an IGMPv3-capable router answered, yet no IGMPv3 query came: the report blames
# the path between them.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab router witness
e2e_require promtool
e2e_require_tool

e2e_lab_up --no-igmp
# One pass, --once with --prometheus: its text is the golden pass's without the prompt
# (the prompt and a second pass are faults.five_passes' and two_passes'), and its metrics file
# must satisfy promtool.
e2e_witness_start
e2e_metrics_pass no_igmp.txt 1
e2e_witness_stop
# Without queries both IGMP tests wait out every pause and listening window.
e2e_expect_interval "test 5 without queries (2 s pause)" 2000 3000 "$(e2e_mark v2-report)" \
  "$(e2e_mark v2-leave)"
e2e_expect_interval "test 5 (1 s listening) and test 6 (5 s pause) without queries" \
  6000 7500 "$(e2e_mark v2-leave)" "$(e2e_mark allow)"
e2e_expect_interval "test 6 without queries (2 s pause)" 2000 3000 "$(e2e_mark allow)" \
  "$(e2e_mark block)"
e2e_expect_interval "test 6 without queries (1 s listening)" 1000 2000 \
  "$(e2e_mark block)" "$(e2e_mark echo-13)"
e2e_finish
