#!/usr/bin/env bash
# One IPv6 pass (-6) on a link with no router of either family: the host can join, no
# test that needs a router succeeds, and each waits its whole time.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab
e2e_require_tool

e2e_lab_up --ipv6-bare
E2E_TOOL_ARGS=(-6)
e2e_run_tool $'q\n'
e2e_expect_output ipv6_bare_pass.txt
e2e_finish
