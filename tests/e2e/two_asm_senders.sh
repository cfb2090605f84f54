#!/usr/bin/env bash
# Two hosts send to the ASM beacon group: test 1 counts two members.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab router
e2e_require promtool
e2e_require_tool

e2e_lab_up --two-asm-senders
# One pass, --once with --prometheus: its text is the golden pass's without the prompt
# (the prompt and a second pass are faults.five_passes' and two_passes'), and its metrics file
# must satisfy promtool.
e2e_metrics_pass two_asm_senders.txt 0
e2e_finish
