# shellcheck shell=bash
# Bringing a lab up and down: its namespaces, links, hosts file and work folder
# (sourced by lab/lib.sh).

# lab_up NAME [VARIANT FLAG...]: build a lab and wait until it is ready. The flags are
# the rows of lab/variants.txt ("lab variants" lists them); the lab's settings go to
# its work folder, for lab_variant. Unless LAB_PERSIST=1, lab_down runs when the
# calling shell exits.
lab_up() {
  local name=${1:-}
  _lab_check_name "$name" || return 1
  shift
  local settings
  settings=$(lab_variant_settings "$@") || return 1
  local dir hns rns sns t0 waited=0 router
  dir=$(lab_dir "$name")
  hns=$(lab_ns "$name" host)
  rns=$(lab_ns "$name" router)
  sns=$(lab_ns "$name" source)
  if [[ -e $dir || -e /run/netns/$hns || -e /run/netns/$rns || -e /run/netns/$sns ||
    -e /run/netns/$(lab_ns "$name" side) || -e /run/netns/$(lab_ns "$name" switch) ||
    -e /run/netns/$(lab_ns "$name" querier) ]]; then
    lab_die "lab $name exists already (lab_down $name removes it)"
    return 1
  fi
  ((LAB_PERSIST)) || lab_at_exit lab_down "$name"
  mkdir -p "$dir/pids"
  printf 'flags=%s\n%s\n' "$*" "$settings" >"$dir/variant.env"
  router=$(lab_variant "$name" router)
  if ((router)); then
    t0=$(date +%s.%N)
    _lab_take_slot "$name" || return 1
    waited=$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
  fi
  t0=$(date +%s.%N)

  _lab_make_host "$name" || return 1
  if ((router)); then
    _lab_make_source "$name"
    _lab_start_router "$name" || return 1
    (($(lab_variant "$name" beacons))) && _lab_start_beacons "$name"
  fi
  local ipv6 router6 snooping
  ipv6=$(lab_variant "$name" ipv6)
  router6=$(lab_variant "$name" router6)
  snooping=$(lab_variant "$name" snooping)
  # Listening before the switch and pim6d start: readiness waits for their first
  # IPv6 queries and Hello on the host link.
  if ((ipv6 && (router6 || snooping))); then
    _lab_start_watch6 "$name" || return 1
  fi
  if ((snooping)); then
    _lab_start_switch "$name"
  fi
  if (($(lab_variant "$name" watch))); then
    _lab_start_watch_beacons "$name" || return 1
  fi
  if ((ipv6 && router6)); then
    _lab_start_router6 "$name" || return 1
  fi

  _lab_wait_ready "$name" || return 1
  _lab_wait_ready6 "$name" || return 1
  _lab_wait_ready_watch "$name" || return 1
  lab_stop "$name" watch6
  if ((router)); then
    _lab_raise_router "$name" || return 1
  fi
  local secs
  secs=$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
  echo "$secs" >"$dir/ready-seconds"
  lab_log "lab $name ready in $secs s after $waited s waiting for a slot ($*)"
}

# _lab_add_ns NS: a new namespace with loopback up and IPv6 off (it would only add
# noise to the host link's captures); the IPv6 variants turn it on where they need it.
_lab_add_ns() {
  ip netns add "$1"
  ip -n "$1" link set lo up
  ip netns exec "$1" sysctl -q -w net.ipv6.conf.all.disable_ipv6=1
}

# _lab_make_host NAME: the host namespace, its link to the router namespace (through
# the switch namespace where the variant has a switch), the host's IPv6 where it has
# IPv6, the side link where it has one, and the hosts file that names the tested link.
_lab_make_host() {
  local name=$1 hns rns
  hns=$(lab_ns "$name" host)
  rns=$(lab_ns "$name" router)
  _lab_add_ns "$hns"
  _lab_add_ns "$rns"
  if (($(lab_variant "$name" snooping))); then
    local wns
    wns=$(lab_ns "$name" switch)
    _lab_add_ns "$wns"
    ip link add "$LAB_HOST_IF" netns "$hns" type veth peer name p-host netns "$wns"
    ip link add r0 netns "$rns" type veth peer name p-router netns "$wns"
    _lab_make_switch "$name" || return 1
    if (($(lab_variant "$name" watch))); then
      _lab_make_watch "$name" || return 1
    fi
  else
    ip link add "$LAB_HOST_IF" netns "$hns" type veth peer name r0 netns "$rns"
  fi
  ip -n "$hns" addr add "$LAB_HOST_ADDR/$LAB_HOST_PREFIX" dev "$LAB_HOST_IF"
  ip -n "$hns" link set "$LAB_HOST_IF" up
  ip -n "$rns" link set r0 up
  # Multicast sent without a chosen interface follows the default route, router or not.
  ip -n "$hns" route add default via "$LAB_ROUTER_ADDR"
  local ipv6
  ipv6=$(lab_variant "$name" ipv6)
  ((ipv6)) && _lab_host_ipv6 "$name"

  # Without an option the tool tests the link that holds its host name's address.
  local name_addr=$LAB_HOST_ADDR
  if (($(lab_variant "$name" two_links))); then
    # The far end of the side link is an empty namespace: carrier, and nothing else.
    local xns
    xns=$(lab_ns "$name" side)
    _lab_add_ns "$xns"
    ip link add "$LAB_SIDE_IF" netns "$hns" type veth peer name s0 netns "$xns"
    ip -n "$hns" addr add "$LAB_SIDE_ADDR/$LAB_SIDE_PREFIX" dev "$LAB_SIDE_IF"
    ip -n "$hns" link set "$LAB_SIDE_IF" up
    ip -n "$xns" link set s0 up
    name_addr=$LAB_SIDE_ADDR
  fi
  mkdir -p "/etc/netns/$hns"
  {
    printf '127.0.0.1 localhost\n%s %s %s\n' "$name_addr" "$LAB_HOSTNAME" "$(hostname)"
    if ((ipv6)); then
      printf '::1 localhost\n%s %s %s\n' "$LAB_HOST6_ADDR" "$LAB_HOSTNAME" "$(hostname)"
    fi
  } >"/etc/netns/$hns/hosts"
}

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

# _lab_make_source NAME: the source namespace behind the router, with the addresses
# the variant's beacons are sent from.
_lab_make_source() {
  local name=$1 sns rns addr addrs
  sns=$(lab_ns "$name" source)
  rns=$(lab_ns "$name" router)
  _lab_add_ns "$sns"
  ip link add "$LAB_HOST_IF" netns "$sns" type veth peer name r1 netns "$rns"
  read -ra addrs <<<"$(lab_variant "$name" source_addrs)"
  for addr in "${addrs[@]}"; do
    ip -n "$sns" addr add "$addr/$LAB_SOURCE_PREFIX" dev "$LAB_HOST_IF"
  done
  ip -n "$sns" link set "$LAB_HOST_IF" up
  ip -n "$sns" route add default via "$LAB_SOURCE_ROUTER_ADDR"
  ip -n "$rns" link set r1 up
}

# lab_down NAME: end every process of the lab, delete its namespaces (their veths go with
# them), its hosts file and its work folder. Safe to call twice or on a half-built lab.
lab_down() {
  local name=$1 dir f role ns pid
  _lab_check_name "$name" || return 1
  dir=$(lab_dir "$name")
  _lab_stop_router "$name"
  if [[ -d $dir/pids ]]; then
    for f in "$dir"/pids/*.pid; do
      [[ -f $f ]] || continue
      _lab_stop_pid "$(<"$f")"
      rm -f "$f"
    done
  fi
  for role in host router source side switch querier; do
    ns=$(lab_ns "$name" "$role")
    [[ -e /run/netns/$ns ]] || continue
    # Whatever still runs in the lab's own namespaces was started by the lab (the
    # guest's helper processes, a scenario's stray child).
    for pid in $(ip netns pids "$ns" 2>/dev/null); do
      _lab_stop_pid "$pid"
    done
    ip netns del "$ns" 2>/dev/null || true
  done
  _lab_free_slot "$name"
  rm -rf "/etc/netns/$(lab_ns "$name" host)"
  rmdir /etc/netns 2>/dev/null || true
  if [[ ${LAB_KEEP_WORKDIR:-0} != 1 ]]; then
    rm -rf "$dir"
    rmdir "$LAB_ROOT" 2>/dev/null || true
  fi
}

# lab_list: the names of the labs that exist.
lab_list() {
  local f
  for f in /run/netns/cvl-*-host; do
    [[ -e $f ]] || continue
    f=${f#/run/netns/cvl-}
    echo "${f%-host}"
  done
}
