#!/usr/bin/env bash
# A pass in the full lab while the host link carries malformed traffic (flood.py):
# the output is the one of the same lab without it, the tool exits cleanly, and a
# sanitizer build reports nothing.
# shellcheck source-path=SCRIPTDIR source=hardening_lib.sh
. "$(dirname "$0")/hardening_lib.sh"
e2e_require_lab router scapy
e2e_require_tool

e2e_lab_up
hard_flood_start full
e2e_run_tool $'q\n'
hard_flood_stop
e2e_expect_output full_pass.txt
e2e_finish
