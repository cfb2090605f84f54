# shellcheck shell=bash
# A lab's names, commands run in its namespaces, and the processes it starts (sourced
# by lab/lib.sh).

_lab_check_name() {
  [[ ${1:-} =~ ^[A-Za-z0-9][A-Za-z0-9_-]{0,31}$ ]] ||
    lab_die "lab name '${1:-}' must be 1-32 letters, digits, '-' or '_'"
}

# lab_ns NAME host|router|source|side: the namespace of one of the lab's nodes.
lab_ns() { printf 'cvl-%s-%s\n' "$1" "$2"; }
# lab_dir NAME: the lab's work folder.
lab_dir() { printf '%s/%s\n' "$LAB_ROOT" "$1"; }

# lab_exec_prefix NAME host|router|source: set LAB_EXEC_PREFIX to the command words that
# run a command in that namespace (for callers that wrap it, e.g. in timeout). In the
# host namespace the command also gets its own UTS namespace named $LAB_HOSTNAME, which
# the lab's hosts file maps to the host's lab address.
lab_exec_prefix() {
  local ns
  ns=$(lab_ns "$1" "$2")
  LAB_EXEC_PREFIX=(ip netns exec "$ns")
  if [[ $2 == host ]]; then
    # shellcheck disable=SC2016 # expanded by the inner shell
    LAB_EXEC_PREFIX+=(unshare --uts -- /bin/sh -c
      'echo "$0" >/proc/sys/kernel/hostname && exec "$@"' "$LAB_HOSTNAME")
  fi
}

# lab_exec NAME host|router|source CMD...: run CMD in that namespace.
lab_exec() {
  lab_exec_prefix "$1" "$2"
  "${LAB_EXEC_PREFIX[@]}" "${@:3}"
}
lab_host_exec() { lab_exec "$1" host "${@:2}"; }
lab_source_exec() { lab_exec "$1" source "${@:2}"; }

# lab_spawn NAME ROLE LABEL CMD...: start CMD in the background in ROLE's namespace and
# in a session of its own (a Ctrl-C at the terminal goes to the lab's teardown, not
# straight to its daemons); its PID goes to pids/LABEL.pid, its output to LABEL.log.
# lab_down ends it with the lab's own processes.
lab_spawn() {
  local name=$1 role=$2 label=$3
  shift 3
  local dir
  dir=$(lab_dir "$name")
  setsid ip netns exec "$(lab_ns "$name" "$role")" "$@" \
    </dev/null >"$dir/$label.log" 2>&1 &
  echo $! >"$dir/pids/$label.pid"
}

# _lab_stop_pid PID: TERM, then KILL after a bounded wait.
_lab_stop_pid() {
  local pid=$1 i
  kill -TERM "$pid" 2>/dev/null || return 0
  for ((i = 0; i < 50; i++)); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
}

# lab_stop NAME LABEL: end one process that the lab spawned.
lab_stop() {
  local f
  f="$(lab_dir "$1")/pids/$2.pid"
  [[ -f $f ]] || return 0
  _lab_stop_pid "$(<"$f")"
  rm -f "$f"
}
