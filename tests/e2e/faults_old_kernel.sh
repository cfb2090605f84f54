#!/usr/bin/env bash
# A kernel older than 4.20 refuses PACKET_IGNORE_OUTGOING (an LD_PRELOAD shim plays
# it): the captures go on without it, the own-source check drops the host's own
# packets, and the pass against the full lab is the same as on a current kernel.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab router
e2e_require_tool
[[ -r ${E2E_SHIM_OLD_KERNEL:-} ]] || e2e_skip "no shim library (E2E_SHIM_OLD_KERNEL)"

e2e_lab_up
shim_log="$E2E_WORK/shim.log"
# shellcheck disable=SC2034 # used through e2e_run_tool --under
# A sanitizer build wants its runtime first among the preloaded libraries; the shim
# only wraps setsockopt, so the order does not matter to it.
old_kernel=(env LD_PRELOAD="$E2E_SHIM_OLD_KERNEL" CORVANITE_SHIM_LOG="$shim_log"
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0")
e2e_run_tool --under old_kernel $'q\n'
e2e_expect_output full_pass.txt
# One refusal per capture: tests 5, 6 and 8.
refusals=$(grep -c 'refused PACKET_IGNORE_OUTGOING' "$shim_log" 2>/dev/null || true)
if [[ ${refusals:-0} -ge 3 ]]; then
  e2e_log "the shim refused the option $refusals times"
else
  e2e_fail "the shim refused the option ${refusals:-0} times, expected 3 or more"
fi
e2e_finish
