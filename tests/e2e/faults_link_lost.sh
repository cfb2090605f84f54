#!/usr/bin/env bash
# The host loses its way out during the pass, while test 2 pauses before joining:
#   link-down  the host's link goes down (its routes go with it): every test after that
#              reports the failed call and the pass goes on to the report
#   no-route   only the default route goes; the link and its subnet stay. Every test
#              works on the pass's one link, whatever the routing table says, so the
#              pass is the full lab's
# The tool neither hangs nor crashes. Usage: faults_link_lost.sh link-down|no-route
# shellcheck source-path=SCRIPTDIR source=hardening_lib.sh
. "$(dirname "$0")/hardening_lib.sh"
case ${1:-} in
  link-down | no-route) fault=$1 ;;
  *)
    echo "usage: $0 link-down|no-route" >&2
    exit 1
    ;;
esac
e2e_require_lab router
e2e_require_tool

e2e_lab_up
hns=$(lab_ns "$E2E_LAB" host)
hard_start_tool
# Test 2 pauses 2 s after its header: time enough to pull the link from under it.
if hard_wait_line 'Joining SSM Video Group' 1 30; then
  if [[ $fault == link-down ]]; then
    ip -n "$hns" link set "$LAB_HOST_IF" down
  else
    # Put back for a group's next scenario (link-down, which the lab does not recover
    # from unaided, comes last in its group).
    lab_at_exit ip -n "$hns" route replace default via "$LAB_ROUTER_ADDR"
    ip -n "$hns" route del default
  fi
  e2e_log "$fault at test 2"
fi
hard_answer q
hard_close_input
hard_wait_exit "$E2E_TOOL_TIMEOUT" || true
hard_expect_clean_exit
if [[ $fault == link-down ]]; then
  e2e_expect_output faults_link_down.txt
else
  e2e_expect_output full_pass.txt
fi
e2e_finish
