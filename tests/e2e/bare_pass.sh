#!/usr/bin/env bash
# One pass on a bare link (no router, no beacons), then "q": the banner, every test
# header and failure line, the report with only the host's own conclusions, the prompt.
# The witness checks the messages the battery sends whatever the network answers.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab witness
e2e_require_tool

e2e_lab_up --bare
e2e_witness_start
e2e_run_tool $'q\n'
e2e_witness_stop
e2e_expect_output bare_pass.txt
e2e_tool_messages_seen
e2e_finish
