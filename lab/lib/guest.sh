# shellcheck shell=bash
# Commands into the router's guest (sourced by lab/lib.sh). The guest's sockets cannot
# be reached from outside, so a command travels as a file through the work folder:
# router-init.sh runs cmd/ID.sh and writes ID.out and ID.rc back.

# lab_router_sh NAME SCRIPT: run a shell script inside the router's guest and print its
# output. Returns its status.
lab_router_sh() {
  local name=$1 script=$2 dir id i
  dir="$(lab_dir "$name")/router"
  [[ -d $dir/cmd ]] || lab_die "lab $name has no router" || return 1
  id="$dir/cmd/$(date +%s%N)-$$-$RANDOM"
  printf '%s\n' "$script" >"$id.tmp"
  mv "$id.tmp" "$id.sh"
  for ((i = 0; i < 150; i++)); do
    if [[ -f $id.rc ]]; then
      cat "$id.out"
      local rc
      rc=$(<"$id.rc")
      rm -f "$id.out" "$id.rc"
      return "$rc"
    fi
    sleep 0.1
  done
  rm -f "$id.sh"
  lab_die "router of lab $name did not run a command within 15 s"
}

# lab_frr NAME COMMAND...: run vtysh commands (e.g. "show ip pim neighbor") on the router.
lab_frr() {
  # shellcheck disable=SC2016 # expanded inside the guest
  local name=$1 cmd script='vtysh --vty_socket "$VTY_SOCKET"'
  shift
  for cmd in "$@"; do
    script+=" -c $(printf '%q' "$cmd")"
  done
  lab_router_sh "$name" "$script"
}

# lab_host_link_dr NAME: the address of the host link's PIM DR as FRR sees it.
lab_host_link_dr() {
  local line
  line=$(lab_frr "$1" 'show ip pim interface' | awk '$1 == "r0" { print $5 }')
  [[ -n $line ]] || lab_die "r0 is not a PIM interface on lab $1" || return 1
  if [[ $line == local ]]; then
    echo "$LAB_ROUTER_ADDR"
  else
    echo "$line"
  fi
}
