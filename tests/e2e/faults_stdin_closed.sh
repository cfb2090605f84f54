#!/usr/bin/env bash
# The tool started with no standard input at all (descriptor 0 closed, so its first
# socket takes that number): the pass runs as on a quiet link, and at the prompt the
# failed read ends the run as a "q" would.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab
e2e_require_tool

e2e_lab_up --bare
lab_exec_prefix "$E2E_LAB" host
# The wrappers must hand the closed descriptor on as it is, or this tests nothing.
# shellcheck disable=SC2016 # expanded by the inner shell
"${LAB_EXEC_PREFIX[@]}" /bin/sh -c 'test ! -e /proc/$$/fd/0' <&- ||
  e2e_fail "descriptor 0 is open behind the lab's wrappers"
rc=0
timeout -k 5 "$E2E_TOOL_TIMEOUT" "${LAB_EXEC_PREFIX[@]}" "$E2E_TOOL" <&- \
  >"$E2E_WORK/tool.out" 2>"$E2E_WORK/tool.err" || rc=$?
e2e_tool_verdict "$rc"
e2e_expect_output bare_pass.txt
e2e_finish
