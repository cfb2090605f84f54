#!/usr/bin/env bash
# Another process holds UDP ports 10002 and 8020: tests 1 and 2 report the failed
# bind (EADDRINUSE, 98) and the host's ASM and SSM capability stays unproven; the
# router tests are unharmed.
# shellcheck source-path=SCRIPTDIR source=hardening_lib.sh
. "$(dirname "$0")/hardening_lib.sh"
e2e_require_lab router
e2e_require_tool

e2e_lab_up
lab_spawn "$E2E_LAB" host port-holder "$LAB_PYTHON" -c '
import signal, socket, sys
held = []
for port in map(int, sys.argv[1:]):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("0.0.0.0", port))
    held.append(s)
print("holding", flush=True)
signal.sigwait([signal.SIGTERM])' "$LAB_ASM_PORT" "$LAB_SSM_PORT"
lab_wait_for_line "$E2E_WORK/port-holder.log" '^holding$' 20 1 \
  "$(<"$E2E_WORK/pids/port-holder.pid")" || {
  cat "$E2E_WORK/port-holder.log" >&2
  e2e_fail "the port holder did not start"
  e2e_finish
}
e2e_run_tool $'q\n'
e2e_expect_output faults_ports_held.txt
e2e_finish
