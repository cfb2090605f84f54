#!/usr/bin/env bash
# Standard input ends before any answer: after one pass and one prompt the tool ends as
# on "q", with status 0, instead of prompting without end.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab
e2e_require_tool

e2e_lab_up --bare
e2e_run_tool
e2e_expect_output end_of_input.txt
e2e_finish
