# shellcheck shell=bash
# Cleanup when the calling shell ends (sourced by lab/lib.sh).

_lab_cleanups=()

_lab_run_cleanups() {
  local i
  for ((i = ${#_lab_cleanups[@]} - 1; i >= 0; i--)); do
    eval "${_lab_cleanups[i]}" || true
  done
  _lab_cleanups=()
}

# lab_at_exit CMD [ARG...]: run CMD when the shell exits, is interrupted or terminated,
# newest first. lab_up registers lab_down here, so a scenario cannot leak its lab.
lab_at_exit() {
  _lab_cleanups+=("$(printf '%q ' "$@")")
  trap '_lab_run_cleanups' EXIT
  trap '_lab_run_cleanups; trap - EXIT; exit 130' INT
  trap '_lab_run_cleanups; trap - EXIT; exit 143' TERM
}
