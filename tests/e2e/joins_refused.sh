#!/usr/bin/env bash
# A host whose stack refuses every group membership (igmp_max_memberships 0 makes
# Linux answer every join with ENOBUFS): test 1 fails in its own scope, test 2 reports
# that the host does not support SSM, and the battery goes on.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab
e2e_require_tool

e2e_lab_up --bare
lab_host_exec "$E2E_LAB" sysctl -qw net.ipv4.igmp_max_memberships=0
e2e_run_tool $'q\n'
e2e_expect_output joins_refused.txt
e2e_finish
