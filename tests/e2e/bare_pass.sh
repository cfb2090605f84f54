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
e2e_run_tool_timed $'q\n'
e2e_witness_stop
e2e_expect_output bare_pass.txt
e2e_tool_messages_seen

# Each wait runs out in full and not much later.
e2e_expect_gaps "test 1 (2 s listening)" '^\t1[.]' '^Test failed' 1950 2600
e2e_expect_gaps "test 2 (2 s pause, 2 s listening)" '^\t2[.]' '^Test failed' 3950 4700
e2e_expect_gaps "test 3 (2 s for a reply)" '^\t3[.]' '^\t4[.]' 1950 2600
e2e_expect_gaps "test 4 (2 s for a reply)" '^\t4[.]' '^\t5[.]' 1950 2600
e2e_expect_gaps "test 5 (2 s pause, 1 s listening)" '^\t5[.]' '^Test failed' 2950 3700
e2e_expect_gaps "test 6 (5 s and 2 s pauses, 1 s listening)" '^\t6[.]' '^Test failed' 7950 8800
e2e_expect_gaps "test 7 (2 s for a reply)" '^\t7[.]' '^\t8[.]' 1950 2600
e2e_expect_gaps "test 8 (5 s listening)" '^\t8[.]' '^Test failed' 4950 5700
e2e_finish
