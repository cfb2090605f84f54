#!/usr/bin/env bash
# The SSM beacon comes from another source than the one the tool joins: test 2 hears
# nothing, test 1 still hears the ASM beacon.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab router
e2e_require promtool
e2e_require_tool

e2e_lab_up --ssm-wrong-source
e2e_run_tool $'q\n'
e2e_expect_output ssm_wrong_source.txt
# The same lab with --prometheus: the same text, and metrics promtool accepts.
e2e_metrics_pass ssm_wrong_source.txt 1
e2e_finish
