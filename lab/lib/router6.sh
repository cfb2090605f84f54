# shellcheck shell=bash
# The IPv6 side of a lab (sourced by lab/lib.sh): the host link's IPv6 addresses, FRR's
# zebra and pim6d in the router namespace, and the IPv6 beacons.
#
# Neither this machine's kernel nor the user-mode Linux guest's has IPv6 multicast
# routing, so the IPv6 router does the link-local half only (MLD queries, PIMv6 Hellos,
# echo to ff02::2, ff02::16 and ff02::d) and needs no guest: pim6d runs in the router
# namespace itself, on r0. The guest reads r0 raw for its IPv4 router and has no IPv6
# (its kernel's ipv6 module is never loaded); the namespace's kernel has no IPv4 address
# on r0. So one veth carries both families, and each kernel answers only its own.
#
# The IPv6 beacons have no router to cross: the router namespace sends them on r0
# itself, from $LAB_SSM6_SOURCE on its loopback, which the host reaches through the
# router (its default route), so the SSM channel's source lies behind the first hop.

# pim6d's vty (TCP, 127.0.0.1 of the router namespace): the packaged vtysh knows no
# pim6d command.
LAB_PIM6D_VTY_PORT=2622

# lab_pim6d_prefix: the folder of the pim6d build that lab/build-pim6d cached.
lab_pim6d_prefix() { "$LAB_DIR_SELF/build-pim6d" --where; }

# _lab_enable_ipv6 NS IF: IPv6 on interface IF of namespace NS with no address of its
# own making (the lab gives fixed ones) and no duplicate address detection (else the
# addresses stay tentative for a second or two).
_lab_enable_ipv6() {
  ip netns exec "$1" sysctl -q -w "net.ipv6.conf.$2.addr_gen_mode=1" \
    "net.ipv6.conf.$2.accept_dad=0" "net.ipv6.conf.$2.accept_ra=0" \
    "net.ipv6.conf.$2.disable_ipv6=0"
}

# _lab_host_ipv6 NAME: the host's IPv6 addresses on its link and its default route
# through the IPv6 router's link-local address (whether a router answers there or not).
_lab_host_ipv6() {
  local name=$1 hns
  hns=$(lab_ns "$name" host)
  _lab_enable_ipv6 "$hns" lo
  _lab_enable_ipv6 "$hns" "$LAB_HOST_IF"
  ip -n "$hns" -6 addr add "$LAB_HOST6_LL/64" dev "$LAB_HOST_IF"
  ip -n "$hns" -6 addr add "$LAB_HOST6_ADDR/$LAB_HOST6_PREFIX" dev "$LAB_HOST_IF"
  ip -n "$hns" -6 route add default via "$LAB_ROUTER6_LL" dev "$LAB_HOST_IF"
}

# _lab_write_router6_config NAME: zebra.conf and pim6d.conf in the work folder's
# router6/, as lab NAME's variant has them.
_lab_write_router6_config() {
  local name=$1 dir mld
  dir="$(lab_dir "$name")/router6"
  mld=$(lab_variant "$name" mld)
  mkdir -p "$dir/run"
  chown frr:frr "$dir/run"
  printf 'hostname lab-router6\nline vty\n no login\n' >"$dir/zebra.conf"
  {
    echo "hostname lab-router6"
    echo "interface r0"
    echo " ipv6 pim"
    if ((mld)); then
      echo " ipv6 mld"
      echo " ipv6 mld version $mld"
    fi
    printf 'line vty\n no login\n'
  } >"$dir/pim6d.conf"
}

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
  _lab_write_router6_config "$name"
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

# _lab_start_beacon6 NAME LABEL GROUP PORT: one IPv6 sender of LAB_BEACON_RATE
# datagrams a second from $LAB_SSM6_SOURCE, on r0.
_lab_start_beacon6() {
  lab_spawn "$1" router "$2" "$LAB_PYTHON" "$LAB_DIR_SELF/beacon.py" --group "$3" \
    --port "$4" --source "$LAB_SSM6_SOURCE" --iface r0 --rate "$LAB_BEACON_RATE" \
    --ttl "$LAB_BEACON_TTL"
}

# lab_frr6 NAME COMMAND...: run commands (e.g. "show ipv6 pim neighbor") on lab NAME's
# pim6d, through its TCP vty.
lab_frr6() {
  local name=$1
  shift
  [[ -f $(lab_dir "$name")/pids/pim6d.pid ]] || lab_die "lab $name has no pim6d" || return 1
  lab_exec "$name" router "$LAB_PYTHON" "$LAB_DIR_SELF/vty.py" "$LAB_PIM6D_VTY_PORT" "$@"
}

# _lab_start_watch6 NAME: the host's watcher of MLD queries and PIMv6 Hellos on its
# link (lab/watch6.py), for the readiness check; waits until it listens.
_lab_start_watch6() {
  local name=$1 dir
  dir=$(lab_dir "$name")
  lab_spawn "$name" host watch6 "$LAB_PYTHON" "$LAB_DIR_SELF/watch6.py" \
    --iface "$LAB_HOST_IF" --timeout "$((LAB_READY_TIMEOUT + 60))"
  lab_wait_for_line "$dir/watch6.log" '^listening$' 30 1 "$(<"$dir/pids/watch6.pid")" ||
    lab_die "the IPv6 watcher of lab $name did not start (see $dir/watch6.log)"
}
