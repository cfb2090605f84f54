#!/usr/bin/env bash
# An unprivileged user with CAP_NET_RAW alone (no root, no other capability) gets
# the same pass as root: raw sockets, the link captures and group joins need no more.
# shellcheck source-path=SCRIPTDIR source=hardening_lib.sh
. "$(dirname "$0")/hardening_lib.sh"
e2e_require_lab router
e2e_require setpriv
e2e_require_tool
setpriv --reuid nobody --regid nogroup --clear-groups test -x "$E2E_TOOL" ||
  e2e_skip "user nobody cannot run $E2E_TOOL (a folder on its path is closed to others)"

e2e_lab_up
# shellcheck disable=SC2034 # used through e2e_run_tool --under
nobody_with_net_raw=(setpriv --reuid nobody --regid nogroup --clear-groups
  --inh-caps=+net_raw --ambient-caps=+net_raw)
e2e_run_tool --under nobody_with_net_raw $'q\n'
e2e_expect_output full_pass.txt
e2e_finish
