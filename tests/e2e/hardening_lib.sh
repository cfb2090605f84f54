# shellcheck shell=bash
# Helpers for the hardening scenarios (faults_*.sh, flood_*.sh), on top of lib.sh: the
# tool started in the background so that a scenario can act while it runs (at a given
# output line, at each prompt), and its own privileges, host name or name files.
#
#   . "$(dirname "$0")/hardening_lib.sh"      # the binary comes in E2E_TOOL
#   hard_start_tool                            # stdin a pipe the scenario writes to
#   hard_wait_line 'To exit enter' 1 60        # 1st prompt within 60 s
#   hard_answer q
#   hard_wait_exit 10
#   hard_expect_clean_exit
#   e2e_expect_output my_golden.txt
#
# A tool that needs no acting while it runs goes through e2e_run_tool (lib.sh).

# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

HARD_PID=
HARD_TOOL_PID=
HARD_RC=

# hard_stop_tool: end the tool if it still runs (only that process, by its PID).
hard_stop_tool() {
  [[ -n $HARD_PID ]] || return 0
  if [[ -n $HARD_TOOL_PID && $HARD_TOOL_PID != "$HARD_PID" ]]; then
    kill -KILL "$HARD_TOOL_PID" 2>/dev/null || true
  fi
  kill -0 "$HARD_PID" 2>/dev/null && kill -KILL "$HARD_PID" 2>/dev/null
  wait "$HARD_PID" 2>/dev/null || true
  HARD_PID=
}

# hard_start_tool [--timed] [WRAPPER...]: start the tool in the lab's host namespace
# (its own UTS namespace named $LAB_HOSTNAME), WRAPPER words (e.g. setpriv ...) right
# before it. Its standard input is a FIFO kept open by this shell on fd 7, so the tool
# waits at its prompts until hard_answer; its output goes to $E2E_WORK/tool.out and
# tool.err. HARD_PID is what to wait for; HARD_TOOL_PID (hard_tool_pid) the tool's own
# PID: every wrapper execs into the next. --timed: the tool runs under stamp.py, which
# notes when each output line came in tool.times (as e2e_run_tool --timed does).
# shellcheck disable=SC2120 # arguments are optional
hard_start_tool() {
  local stamp=()
  if [[ ${1:-} == --timed ]]; then
    stamp=("$LAB_PYTHON" "$E2E_DIR/stamp.py" "$E2E_WORK/tool.out" "$E2E_WORK/tool.times")
    shift
  fi
  lab_exec_prefix "$E2E_LAB" host
  rm -f "$E2E_WORK/tool.fifo"
  mkfifo "$E2E_WORK/tool.fifo"
  exec 7<>"$E2E_WORK/tool.fifo"
  e2e_log "starting $E2E_TOOL in lab $E2E_LAB${1:+ under $*}"
  if ((${#stamp[@]})); then
    # An earlier run's output must not answer a wait before stamp.py has opened its own.
    : >"$E2E_WORK/tool.out"
    : >"$E2E_WORK/tool.times"
    "${stamp[@]}" "${LAB_EXEC_PREFIX[@]}" "$@" "$E2E_TOOL" <&7 2>"$E2E_WORK/tool.err" &
  else
    "${LAB_EXEC_PREFIX[@]}" "$@" "$E2E_TOOL" <&7 >"$E2E_WORK/tool.out" 2>"$E2E_WORK/tool.err" &
  fi
  HARD_PID=$!
  HARD_TOOL_PID=
  ((${#stamp[@]})) || HARD_TOOL_PID=$HARD_PID
  lab_at_exit hard_stop_tool
}

# hard_tool_pid: sets HARD_TOOL_PID once the tool runs (under stamp.py: its one child).
hard_tool_pid() {
  [[ -n $HARD_TOOL_PID ]] && return 0
  HARD_TOOL_PID=$(tr -d ' ' <"/proc/$HARD_PID/task/$HARD_PID/children" 2>/dev/null)
  [[ -n $HARD_TOOL_PID ]] || e2e_fail "no tool process under $HARD_PID"
}

# hard_answer TEXT: type TEXT and a newline at the tool's prompt.
hard_answer() { printf '%s\n' "$1" >&7; }

# hard_close_input: end of input for the tool (the FIFO's last writer goes away).
hard_close_input() { exec 7>&-; }

# hard_wait_line REGEX COUNT SECONDS: wait until COUNT output lines match REGEX; fails
# the scenario (status 1) when they have not come within SECONDS or the tool ended.
hard_wait_line() {
  lab_wait_for_line "$E2E_WORK/tool.out" "$1" "$3" "$2" "$HARD_PID" && return 0
  if kill -0 "$HARD_PID" 2>/dev/null; then
    e2e_fail "no output line $2 matching '$1' within $3 s"
  else
    e2e_fail "the tool ended before output line $2 matching '$1'"
  fi
  return 1
}

# hard_wait_exit SECONDS: wait for the tool to end; HARD_RC is its status. A tool
# still running after SECONDS is killed and fails the scenario.
hard_wait_exit() {
  local deadline=$((SECONDS + $1))
  while kill -0 "$HARD_PID" 2>/dev/null; do
    if ((SECONDS >= deadline)); then
      e2e_fail "the tool did not end within $1 s"
      hard_stop_tool
      HARD_RC=137
      return 1
    fi
    sleep 0.05
  done
  HARD_RC=0
  wait "$HARD_PID" || HARD_RC=$?
  HARD_PID=
}

# hard_expect_clean_exit: the run's verdict (e2e_tool_verdict) on HARD_RC.
hard_expect_clean_exit() { e2e_tool_verdict "$HARD_RC"; }

# hard_name_files NAME HOSTS_TEXT: files for a host whose name is NAME and whose
# /etc/hosts holds HOSTS_TEXT; the resolver asks only loopback, so a name the hosts
# file lacks fails without a packet leaving the lab. Sets HARD_NAME_WRAPPER to the
# words that run a command with them (a mount and UTS namespace of its own).
hard_name_files() {
  local name=$1
  printf '%s' "$2" >"$E2E_WORK/hosts.fault"
  printf 'nameserver 127.0.0.1\noptions attempts:1 timeout:1\n' >"$E2E_WORK/resolv.fault"
  # shellcheck disable=SC2016 # expanded by the inner shell
  # shellcheck disable=SC2034 # read by the scenarios
  HARD_NAME_WRAPPER=(unshare --uts --mount -- /bin/sh -c
    'mount --bind "$1" /etc/hosts && mount --bind "$2" /etc/resolv.conf &&
     echo "$3" >/proc/sys/kernel/hostname && shift 3 && exec "$@"'
    sh "$E2E_WORK/hosts.fault" "$E2E_WORK/resolv.fault" "$name")
}

# hard_flood_start full|bare [RATE [FLOOD_OPTION...]]: flood.py sending malformed
# traffic out of the router namespace's end of the host link; returns once the frames
# are going out. The router's guest reads that end too, but not the flood: flood.py
# bypasses the queueing layer, where the guest's packet socket would get a copy
# (measured: of a 5-second flood, 22,961 frames reached the guest without the bypass,
# with it only the link's own 5 frames of those seconds).
hard_flood_start() {
  local variant=$1 rate=${2:-5000} mac
  mac=$(ip -n "$(lab_ns "$E2E_LAB" host)" -br link show "$LAB_HOST_IF" | awk '{ print $3 }')
  lab_spawn "$E2E_LAB" router flood "$LAB_PYTHON" "$E2E_DIR/flood.py" --iface r0 \
    --host-mac "$mac" --variant "$variant" --rate "$rate" "${@:3}"
  if ! lab_wait_for_line "$E2E_WORK/flood.log" 'distinct frames' 30 1 \
    "$(<"$E2E_WORK/pids/flood.pid")"; then
    cat "$E2E_WORK/flood.log" >&2 2>/dev/null || true
    e2e_fail "the flood did not start within 30 s"
    return 1
  fi
  e2e_log "$(head -n 1 "$E2E_WORK/flood.log")"
}

# hard_flood_stop: end the flood; fails the scenario unless it ran until now.
hard_flood_stop() {
  local pid
  pid=$(cat "$E2E_WORK/pids/flood.pid" 2>/dev/null || true)
  if [[ -z $pid ]] || ! kill -0 "$pid" 2>/dev/null; then
    e2e_fail "the flood had ended before the pass did:"
    cat "$E2E_WORK/flood.log" >&2 2>/dev/null || true
  fi
  lab_stop "$E2E_LAB" flood
  if grep -q 'sent [0-9]* frames' "$E2E_WORK/flood.log"; then
    e2e_log "$(grep 'sent [0-9]* frames' "$E2E_WORK/flood.log")"
  else
    e2e_fail "the flood did not report what it sent"
  fi
}
