#!/usr/bin/env bash
# The host name resolves to 127.0.1.1 (Debian's default hosts file): the tool still
# binds its raw sockets to the link's address, so the pass is the full lab's and the
# witness sees every message leave from the host's lab address.
# shellcheck source-path=SCRIPTDIR source=hardening_lib.sh
. "$(dirname "$0")/hardening_lib.sh"
e2e_require_lab router witness
e2e_require_tool

e2e_lab_up
hard_name_files "$LAB_HOSTNAME" $'127.0.0.1 localhost\n127.0.1.1 '"$LAB_HOSTNAME"$'\n'
e2e_witness_start
e2e_run_tool --under HARD_NAME_WRAPPER $'q\n'
e2e_witness_stop
e2e_expect_output full_pass.txt
e2e_tool_messages_seen
e2e_finish
