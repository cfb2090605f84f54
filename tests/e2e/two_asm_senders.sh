#!/usr/bin/env bash
# Two hosts send to the ASM beacon group: test 1 counts two members.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab router
e2e_require promtool
e2e_require_tool

e2e_lab_up --two-asm-senders
e2e_run_tool $'q\n'
e2e_expect_output two_asm_senders.txt
# The same lab with --prometheus: the same text, and metrics promtool accepts.
e2e_metrics_pass two_asm_senders.txt 0
e2e_finish
