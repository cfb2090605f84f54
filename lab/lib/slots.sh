# shellcheck shell=bash
# The machine-wide bound on router labs (sourced by lab/lib.sh).
#
# Router labs (user-mode Linux guests) that may run at once on this machine, whatever
# starts them (ctest -j N, two build trees, the lab CLI): each holds one slot, a lock
# file under LAB_SLOT_DIR, from lab_up until its processes are gone. A guest boots in
# about 5 s on one core and then costs about an eighth of a core: two a core keep the
# cores busy while the tool waits on its probes, more only make every boot slow.
LAB_SLOTS=${LAB_SLOTS:-$((2 * $(nproc)))}
LAB_SLOT_DIR=${LAB_SLOT_DIR:-/run/lock}
# Seconds lab_up waits for a free slot before it gives up.
LAB_SLOT_TIMEOUT=${LAB_SLOT_TIMEOUT:-3600}

# _lab_take_slot NAME: hold one of the machine's LAB_SLOTS router slots for lab NAME.
# The lock stays on the open file, which the lab's processes inherit: the slot is free
# again once this shell and every process of the lab are gone (lab_down ends them), and
# a lab that the CLI left running keeps its slot.
_lab_take_slot() {
  local name=$1 i fd deadline=$((SECONDS + LAB_SLOT_TIMEOUT)) said=0
  mkdir -p "$LAB_SLOT_DIR"
  while :; do
    for ((i = 0; i < LAB_SLOTS; i++)); do
      exec {fd}>>"$LAB_SLOT_DIR/corvanite-lab-slot.$i"
      if flock -n "$fd"; then
        _lab_slot_fds[$name]=$fd
        return 0
      fi
      exec {fd}>&-
    done
    if ((!said)); then
      lab_log "lab $name waits for one of $LAB_SLOTS router slots"
      said=1
    fi
    ((SECONDS < deadline)) ||
      lab_die "no router slot came free within $LAB_SLOT_TIMEOUT s" || return 1
    sleep 0.5
  done
}
declare -gA _lab_slot_fds=()

# _lab_free_slot NAME: this shell's hold on lab NAME's slot ends.
_lab_free_slot() {
  local fd=${_lab_slot_fds[$1]:-}
  [[ -n $fd ]] || return 0
  exec {fd}>&-
  unset "_lab_slot_fds[$1]"
}
