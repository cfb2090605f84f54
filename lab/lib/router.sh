# shellcheck shell=bash
# The router: FRR's configuration and the user-mode Linux guest that runs it (sourced
# by lab/lib.sh).

# The guest's scheduling once it is up: round-robin real-time priority, above every test
# process (they all run at normal priority), as a real router has a CPU of its own.
# Measured under the flood scenario's 5000 frames/s, the guest held to the tool's CPU,
# with other router labs running: at normal priority (nice 0 or -10 alike) the guest
# waited 5 to 9 s of a 22 s pass for the CPU, its receive socket on r0 dropped 2800 to
# 7800 frames in bursts of up to 600, and 3 passes of 25 got no answer to the tool's
# report; at real-time priority it waited about 0.9 s, dropped 0 to 460 frames and
# answered every report within 0.3 ms. Booting stays at normal priority: a guest boots
# on about a core for seconds. 0 leaves the guest at normal priority.
LAB_ROUTER_RT_PRIORITY=${LAB_ROUTER_RT_PRIORITY:-1}

# _lab_write_router_config NAME: router.env (read by router-init.sh), zebra.conf and
# pimd.conf in the router's work folder, as lab NAME's variant has them.
_lab_write_router_config() {
  local name=$1 dir pim igmp ignore igmp_version query_interval
  dir="$(lab_dir "$name")/router"
  pim=$(lab_variant "$name" pim)
  igmp=$(lab_variant "$name" igmp)
  igmp_version=$(lab_variant "$name" igmp_version)
  query_interval=$(lab_variant "$name" query_interval)
  ignore=$((!$(lab_variant "$name" pings)))
  mkdir -p "$dir/cmd" "$dir/uml"
  cat >"$dir/router.env" <<EOT
RP_ADDR=$LAB_RP_ADDR
HOST_SIDE_ADDR=$LAB_ROUTER_ADDR/$LAB_HOST_PREFIX
SOURCE_SIDE_ADDR=$LAB_SOURCE_ROUTER_ADDR/$LAB_SOURCE_PREFIX
ICMP_ECHO_IGNORE_BROADCASTS=$ignore
EOT
  printf 'hostname lab-router\nline vty\n no login\n' >"$dir/zebra.conf"
  {
    echo "hostname lab-router"
    printf 'interface lo\n ip pim\n'
    echo "interface r0"
    ((pim)) && echo " ip pim"
    if ((igmp)); then
      echo " ip igmp"
      echo " ip igmp version $igmp_version"
      echo " ip igmp query-interval $query_interval"
    fi
    printf 'interface r1\n ip pim\n'
    # 232/8 is FRR's default SSM range.
    echo "ip pim rp $LAB_RP_ADDR 224.0.0.0/4"
    printf 'line vty\n no login\n'
  } >"$dir/pimd.conf"
}

# _lab_uml_shim: print the path of the preload library that lets the guest kernel
# restore FPU state on machines with a large XSAVE area (see lab/uml-xstate-shim.c),
# building it first when it is missing or older than its source. Labs starting at once
# may build it side by side: each writes a file of its own and renames it into place.
_lab_uml_shim() {
  local source=$LAB_DIR_SELF/uml-xstate-shim.c shim=$LAB_ROOT/uml-xstate.so tmp
  if [[ ! $shim -nt $source ]]; then
    mkdir -p "$LAB_ROOT"
    tmp=$(mktemp "$LAB_ROOT/uml-xstate.XXXXXX")
    cc -O2 -shared -fPIC -o "$tmp" "$source" -ldl || {
      rm -f "$tmp"
      lab_die "cannot build $shim"
      return 1
    }
    mv -f "$tmp" "$shim"
  fi
  echo "$shim"
}

# _lab_start_router NAME: configure and boot lab NAME's router guest in its namespace.
_lab_start_router() {
  local name=$1 dir shim
  dir="$(lab_dir "$name")/router"
  _lab_write_router_config "$name"
  shim=$(_lab_uml_shim) || return 1
  # umid/uml_dir keep the kernel's control files in the work folder instead of ~/.uml.
  lab_spawn "$name" router router-uml env LD_PRELOAD="$shim" /usr/bin/linux.uml mem=256M \
    umid="cvl-$name" uml_dir="$dir/uml" \
    root=/dev/root rootfstype=hostfs rootflags=/ rw \
    init="$LAB_DIR_SELF/router-init.sh" LAB_ROUTER_DIR="$dir" \
    con=null con0=null,fd:1 \
    vec0:transport=raw,ifname=r0 vec1:transport=raw,ifname=r1
}

# _lab_raise_router NAME: every process of lab NAME's guest (its kernel and the programs
# it runs, each a linux.uml process in the router namespace) to real-time priority
# LAB_ROUTER_RT_PRIORITY; what the guest starts later inherits it.
_lab_raise_router() {
  local name=$1 pid raised=0
  ((LAB_ROUTER_RT_PRIORITY > 0)) || return 0
  for pid in $(ip netns pids "$(lab_ns "$name" router)"); do
    [[ $(cat "/proc/$pid/comm" 2>/dev/null) == linux.uml ]] || continue
    # A guest program may end while this runs.
    if chrt --rr --all-tasks --pid "$LAB_ROUTER_RT_PRIORITY" "$pid" 2>/dev/null; then
      raised=$((raised + 1))
    elif kill -0 "$pid" 2>/dev/null; then
      lab_log "lab $name: cannot give guest process $pid real-time priority; its" \
        "answers may come late on a busy machine"
    fi
  done
  ((raised)) || lab_die "lab $name: no guest process to give real-time priority"
}

# _lab_stop_router NAME: power lab NAME's guest off cleanly, so it leaves nothing
# behind; lab_down ends whatever is still running after a bounded wait.
_lab_stop_router() {
  local dir pid i
  dir=$(lab_dir "$1")
  [[ -d $dir/router ]] || return 0
  touch "$dir/router/stop"
  [[ -f $dir/pids/router-uml.pid ]] || return 0
  pid=$(<"$dir/pids/router-uml.pid")
  for ((i = 0; i < 50; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
}
