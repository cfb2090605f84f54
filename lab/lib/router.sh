# shellcheck shell=bash
# The routers of both families (sourced by lab/lib.sh): FRR's configuration, the
# user-mode Linux guest that runs the IPv4 router, and FRR's pim6d in the router
# namespace for IPv6.
#
# Neither this machine's kernel nor the user-mode Linux guest's has IPv6 multicast
# routing, so the IPv6 router does the link-local half only (MLD queries, PIMv6 Hellos,
# echo to ff02::2, ff02::16 and ff02::d) and needs no guest: pim6d runs in the router
# namespace itself, on r0. The guest reads r0 raw for its IPv4 router and has no IPv6
# (its kernel's ipv6 module is never loaded); the namespace's kernel has no IPv4 address
# on r0. So one veth carries both families, and each kernel answers only its own.

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

# _lab_write_frr_config NAME 4|6: FRR's configuration of lab NAME's router for one
# family, as its variant has it: zebra.conf and pimd.conf in the work folder's router/
# (the guest's, with router.env for router-init.sh), or zebra.conf and pim6d.conf in
# router6/. The families differ in their words ("ip" or "ipv6", IGMP or MLD) and in
# what only the guest routes: the source link r1 and the RP.
_lab_write_frr_config() {
  local name=$1 family=$2 dir ip group_protocol version host pim=1 query_interval=
  if ((family == 4)); then
    dir="$(lab_dir "$name")/router" ip=ip host=lab-router group_protocol=igmp
    pim=$(lab_variant "$name" pim)
    version=$(lab_variant "$name" igmp_version)
    (($(lab_variant "$name" igmp))) || version=0
    query_interval=$(lab_variant "$name" query_interval)
    mkdir -p "$dir/cmd" "$dir/uml"
    cat >"$dir/router.env" <<EOT
RP_ADDR=$LAB_RP_ADDR
HOST_SIDE_ADDR=$LAB_ROUTER_ADDR/$LAB_HOST_PREFIX
SOURCE_SIDE_ADDR=$LAB_SOURCE_ROUTER_ADDR/$LAB_SOURCE_PREFIX
ICMP_ECHO_IGNORE_BROADCASTS=$((!$(lab_variant "$name" pings)))
EOT
  else
    dir="$(lab_dir "$name")/router6" ip=ipv6 host=lab-router6 group_protocol=mld
    version=$(lab_variant "$name" mld)
    mkdir -p "$dir/run"
    chown frr:frr "$dir/run"
  fi
  printf 'hostname %s\nline vty\n no login\n' "$host" >"$dir/zebra.conf"
  {
    echo "hostname $host"
    ((family == 4)) && printf 'interface lo\n ip pim\n'
    echo "interface r0"
    ((pim)) && echo " $ip pim"
    if ((version)); then
      echo " $ip $group_protocol"
      echo " $ip $group_protocol version $version"
      [[ -n $query_interval ]] && echo " $ip $group_protocol query-interval $query_interval"
    fi
    if ((family == 4)); then
      printf 'interface r1\n ip pim\n'
      # 232/8 is FRR's default SSM range.
      echo "ip pim rp $LAB_RP_ADDR 224.0.0.0/4"
    fi
    printf 'line vty\n no login\n'
  } >"$dir/$([[ $family == 4 ]] && echo pimd || echo pim6d).conf"
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
  _lab_write_frr_config "$name" 4
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

# --- IPv6: pim6d in the router namespace ---------------------------------------------

# pim6d's vty (TCP, 127.0.0.1 of the router namespace): the packaged vtysh knows no
# pim6d command.
LAB_PIM6D_VTY_PORT=2622

# lab_pim6d_prefix: the folder of the pim6d build that lab/build-pim6d cached.
lab_pim6d_prefix() { "$LAB_DIR_SELF/build-pim6d" --where; }

# _lab_start_router6 NAME: lab NAME's IPv6 router: r0's addresses in the router
# namespace, zebra and pim6d, the group the tool's MLDv1 test reports held on r0, and
# the IPv6 beacons where the variant has them. The host's watcher must be listening
# already (lab_up starts it), so that it sees pim6d's first query and Hello.
_lab_start_router6() {
  local name=$1 rns dir prefix ignore
  rns=$(lab_ns "$name" router)
  dir="$(lab_dir "$name")/router6"
  prefix=$(lab_pim6d_prefix) || return 1
  ignore=$((!$(lab_variant "$name" pings)))
  _lab_enable_ipv6 "$rns" lo
  _lab_enable_ipv6 "$rns" r0
  # A router answers echo to ff02::2, ff02::16 and ff02::d only while it forwards. The
  # namespace's own membership (below) is reported in MLDv1, as the tool's test 5 reports
  # it: pim6d files every MLDv1 listener as one, so the tool's Done ends it and draws a
  # group-specific query; an MLDv2 report of the namespace would keep the group alive.
  ip netns exec "$rns" sysctl -q -w net.ipv6.conf.all.forwarding=1 \
    net.ipv6.conf.r0.forwarding=1 net.ipv6.conf.r0.force_mld_version=1 \
    "net.ipv6.icmp.echo_ignore_multicast=$ignore"
  ip -n "$rns" -6 addr add "$LAB_ROUTER6_LL/64" dev r0
  ip -n "$rns" -6 addr add "$LAB_ROUTER6_ADDR/$LAB_HOST6_PREFIX" dev r0
  ip -n "$rns" -6 addr add "$LAB_SSM6_SOURCE/128" dev lo
  _lab_write_frr_config "$name" 6
  # In the foreground, so that the lab holds their PIDs and their logs. pim6d that finds
  # no zebra socket retries only 10 s later: it starts once zebra listens.
  local d deadline=$(($(date +%s) + 30))
  for d in zebra pim6d; do
    lab_spawn "$name" router "$d" "$prefix/sbin/$d" --log stdout -A 127.0.0.1 \
      --vty_socket "$dir/run" -f "$dir/$d.conf" -i "$dir/run/$d.pid" -z "$dir/run/zserv.api"
    [[ $d == pim6d ]] || _lab_poll "$deadline" test -S "$dir/run/zserv.api" ||
      lab_die "zebra of lab $name's IPv6 router did not start (see $(lab_dir "$name")/zebra.log)" ||
      return 1
  done
  # Without multicast routing the kernel hands pim6d an MLDv1 Report only for a group
  # this namespace has joined; FRR's "ipv6 mld join" does not make the kernel join.
  lab_spawn "$name" router member6 "$LAB_PYTHON" "$LAB_DIR_SELF/member.py" \
    --group "$LAB_ASM6_GROUP" --iface r0
  if (($(lab_variant "$name" beacons6))); then
    _lab_start_beacon6 "$name" beacon6-asm "$LAB_ASM6_GROUP" "$LAB_ASM_PORT"
    _lab_start_beacon6 "$name" beacon6-ssm "$LAB_SSM6_GROUP" "$LAB_SSM_PORT"
  fi
}

# lab_frr6 NAME COMMAND...: run commands (e.g. "show ipv6 pim neighbor") on lab NAME's
# pim6d, through its TCP vty.
lab_frr6() {
  local name=$1
  shift
  [[ -f $(lab_dir "$name")/pids/pim6d.pid ]] || lab_die "lab $name has no pim6d" || return 1
  lab_exec "$name" router "$LAB_PYTHON" "$LAB_DIR_SELF/vty.py" "$LAB_PIM6D_VTY_PORT" "$@"
}
