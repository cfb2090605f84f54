#!/usr/bin/env bash
# The SSM beacon comes from another source than the one the tool joins: test 2 hears
# nothing, test 1 still hears the ASM beacon.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab router
e2e_require promtool
e2e_require_tool

e2e_lab_up --ssm-wrong-source
# One pass, --once with --prometheus: its text is the golden pass's without the prompt
# (the prompt and a second pass are faults.five_passes' and two_passes'), and its metrics file
# must satisfy promtool.
e2e_metrics_pass ssm_wrong_source.txt 1
e2e_finish
