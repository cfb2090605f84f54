#!/usr/bin/env bash
# The router runs PIM but not IGMP on the host link: it still answers pings to the
# router groups, but sends no query, so both IGMP tests fail. The host can do SSM and
# an IGMPv3-capable router answered, yet no IGMPv3 query came: the report blames
# the path between them.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab router
e2e_require_tool

e2e_lab_up --no-igmp
e2e_run_tool_timed $'q\n'
e2e_expect_output no_igmp.txt
e2e_expect_gaps "test 5 without queries" '^\t5[.]' '^Test failed' 2950 3700
e2e_expect_gaps "test 6 without queries" '^\t6[.]' '^Test failed' 7950 8800
e2e_finish
