#!/usr/bin/env bash
# A host name that resolves to nothing (not in the hosts file; the only name server
# is loopback, where none listens): the tests that bind to the host's own address
# (5, 6 and 8) report the lookup's failure, EAI_AGAIN (-3); the others are unharmed.
# shellcheck source-path=SCRIPTDIR source=hardening_lib.sh
. "$(dirname "$0")/hardening_lib.sh"
e2e_require_lab router
e2e_require_tool

e2e_lab_up
hard_name_files nowhere-in-the-lab $'127.0.0.1 localhost\n'
e2e_run_tool --under HARD_NAME_WRAPPER $'q\n'
e2e_expect_output faults_name_unresolvable.txt
e2e_finish
