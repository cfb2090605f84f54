#!/usr/bin/env bash
# One pass on a bare link: no router, no beacon source. Every test that needs the
# network fails, each after its fixed waits, and the report says only that the host
# can join groups. The tool still sends every message of the battery.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab witness
e2e_require_tool

e2e_lab_up --bare
e2e_witness_start
e2e_run_tool --timed $'q\n'
e2e_witness_stop
e2e_expect_output bare_pass.txt
e2e_tool_messages_seen

# Each wait runs out in full, timed between the messages that open and close it (the
# kernel's own reports, for tests 1 and 2, may leave up to a few ms late; see
# e2e_mark). Upper bounds only catch a wait that ran far too long: how fast the tool
# is belongs to bench/.
e2e_expect_interval "test 1 (2 s listening)" 1980 3000 "$(e2e_mark join-asm)" \
  "$(e2e_mark leave-asm)"
e2e_expect_interval "test 2 (2 s pause, 2 s listening)" 3980 5000 "$(e2e_mark leave-asm)" \
  "$(e2e_mark echo-2)"
e2e_expect_interval "test 3 (2 s for a reply)" 2000 3000 "$(e2e_mark echo-2)" \
  "$(e2e_mark echo-22)"
e2e_expect_interval "test 4 (2 s for a reply)" 2000 3000 "$(e2e_mark echo-22)" \
  "$(e2e_mark v2-report)"
e2e_expect_interval "test 5 (2 s pause)" 2000 3000 "$(e2e_mark v2-report)" \
  "$(e2e_mark v2-leave)"
e2e_expect_interval "test 5 (1 s listening) and test 6 (5 s pause)" 6000 7500 \
  "$(e2e_mark v2-leave)" "$(e2e_mark allow)"
e2e_expect_interval "test 6 (2 s pause)" 2000 3000 "$(e2e_mark allow)" "$(e2e_mark block)"
e2e_expect_interval "test 6 (1 s listening)" 1000 2000 "$(e2e_mark block)" \
  "$(e2e_mark echo-13)"
e2e_expect_interval "test 7 (2 s for a reply)" 2000 3000 "$(e2e_mark echo-13)" \
  "$(e2e_mark hello)"
# Test 8 ends at the report, and only its first line marks that moment.
e2e_expect_interval "test 8 (5 s listening)" 5000 6500 "$(e2e_mark hello)" \
  'line:^Test failed:  no router responded to PIM-SM Hello'
e2e_finish
