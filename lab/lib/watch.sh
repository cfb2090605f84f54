# shellcheck shell=bash
# The watch lab (--watch, sourced by lab/lib.sh): the snooping switch of lib/switch.sh
# with short timers, no router behind it, and the beacons of both families sent into its
# router port from the router namespace. The host's port floods nothing, so the host gets
# a group's datagrams only while the switch holds its membership there: a membership the
# host stops reporting (its queries kept from it, say) really stops the stream, within
# $LAB_WATCH_MEMBERSHIP_S s of its last report. And the controls that a watch scenario
# turns mid-run: the queries toward the host, the switch's querier and its IGMP version,
# the beacon senders.
#
# Why these settings (measured): a snooping bridge floods multicast while no querier
# exists on it, and a port with mcast_flood off then gets nothing at all, so "no querier"
# is made by keeping the switch's queries from the host (a bridge-family nftables table),
# never by turning the querier off. Flooding also skips that port for link-local groups
# from other ports: only the switch's own queries, which it sends on each port itself,
# reach the host.

# _lab_make_watch NAME: the switch's timers and ports, the beacons' addresses in the
# router namespace. Runs after _lab_make_switch, before the bridge comes up.
_lab_make_watch() {
  local name=$1 sns rns
  sns=$(lab_ns "$name" switch)
  rns=$(lab_ns "$name" router)
  # The bridge takes centiseconds.
  ip -n "$sns" link set br0 type bridge \
    mcast_query_interval $((LAB_WATCH_QUERY_S * 100)) \
    mcast_membership_interval $((LAB_WATCH_MEMBERSHIP_S * 100)) \
    mcast_query_response_interval $((LAB_WATCH_RESPONSE_S * 100)) \
    mcast_startup_query_interval $((LAB_WATCH_QUERY_S * 100 / 4))
  # The host's port: no flooding, never a router port (a report of the host's never
  # makes it one, and what the host sends decides nothing else). The router port
  # carries the host's reports upstream, as toward a real router.
  ip -n "$sns" link set dev p-host type bridge_slave mcast_flood off mcast_router 0
  ip -n "$sns" link set dev p-router type bridge_slave mcast_router 2
  # The sources: the SSM channel's own addresses, off the host's subnet as a real
  # channel's are (the host's default route points into the switch all the same).
  ip -n "$rns" addr add "$LAB_SSM_SOURCE/32" dev r0
  if (($(lab_variant "$name" ipv6))); then
    _lab_enable_ipv6 "$rns" lo
    _lab_enable_ipv6 "$rns" r0
    ip -n "$rns" -6 addr add "$LAB_SSM6_SOURCE/128" dev lo
  fi
}

# _lab_start_watch_beacons NAME: the ASM and SSM beacons of both families, from the
# router namespace into the switch's router port.
_lab_start_watch_beacons() {
  local name=$1
  lab_watch_beacon "$name" beacon-asm start
  lab_watch_beacon "$name" beacon-ssm start
  if (($(lab_variant "$name" ipv6))); then
    lab_watch_beacon "$name" beacon-asm6 start
    lab_watch_beacon "$name" beacon-ssm6 start
  fi
}

# _lab_wait_ready_watch NAME: poll until every beacon reaches a socket joined in the
# host namespace: the switch's querier counts, its memberships forward.
_lab_wait_ready_watch() {
  local name=$1 deadline
  (($(lab_variant "$name" watch))) || return 0
  deadline=$(($(date +%s) + LAB_READY_TIMEOUT))
  _lab_poll "$deadline" _lab_receives "$name" "$LAB_ASM_GROUP" "$LAB_ASM_PORT" ||
    lab_die "ASM beacons do not reach the host of lab $name through its switch" || return 1
  _lab_poll "$deadline" _lab_receives "$name" "$LAB_SSM_GROUP" "$LAB_SSM_PORT" \
    "$LAB_SSM_SOURCE" ||
    lab_die "SSM beacons do not reach the host of lab $name through its switch" || return 1
  (($(lab_variant "$name" ipv6))) || return 0
  _lab_poll "$deadline" _lab_receives "$name" "$LAB_ASM6_GROUP" "$LAB_ASM_PORT" ||
    lab_die "IPv6 ASM beacons do not reach the host of lab $name" || return 1
  _lab_poll "$deadline" _lab_receives "$name" "$LAB_SSM6_GROUP" "$LAB_SSM_PORT" \
    "$LAB_SSM6_SOURCE" ||
    lab_die "IPv6 SSM beacons do not reach the host of lab $name" || return 1
}

# lab_watch_beacon NAME LABEL start|stop: one beacon sender (beacon-asm, beacon-ssm,
# beacon-asm6, beacon-ssm6); stop ends it by its PID.
lab_watch_beacon() {
  local name=$1 label=$2 group port source
  if [[ $3 == stop ]]; then
    lab_stop "$name" "$label"
    return
  fi
  case $label in
    beacon-asm) group=$LAB_ASM_GROUP port=$LAB_ASM_PORT source=$LAB_SSM_SOURCE ;;
    beacon-ssm) group=$LAB_SSM_GROUP port=$LAB_SSM_PORT source=$LAB_SSM_SOURCE ;;
    beacon-asm6) group=$LAB_ASM6_GROUP port=$LAB_ASM_PORT source=$LAB_SSM6_SOURCE ;;
    beacon-ssm6) group=$LAB_SSM6_GROUP port=$LAB_SSM_PORT source=$LAB_SSM6_SOURCE ;;
    *)
      lab_die "no watch beacon $label"
      return 1
      ;;
  esac
  [[ -f $(lab_dir "$name")/pids/$label.pid ]] && return 0
  local gate=()
  # The IPv4 channel is served as an SSM router serves it: while IGMPv3 reports (which
  # the switch passes to its router port) hold it, for one membership interval after
  # the last. A host that an IGMPv2 querier put in IGMPv2 mode loses it.
  [[ $label == beacon-ssm ]] && gate=(--ssm-gate r0 --gate-hold "$LAB_WATCH_MEMBERSHIP_S")
  lab_spawn "$name" router "$label" "$LAB_PYTHON" "$LAB_DIR_SELF/beacon.py" \
    --group "$group" --port "$port" --source "$source" --iface r0 \
    --rate "$LAB_BEACON_RATE" --ttl "$LAB_BEACON_TTL" "${gate[@]}"
}

# lab_watch_queries NAME on|off: let the switch's queries of both families reach the
# host, or keep every one from it (the host then hears no querier; the switch still
# has one and keeps forwarding by its memberships until they age out).
lab_watch_queries() {
  local sns
  sns=$(lab_ns "$1" switch)
  ip netns exec "$sns" nft delete table bridge cvl_watch 2>/dev/null || true
  [[ $2 == on ]] && return 0
  # Both hooks: the switch's own queries leave through output, any other's through
  # forward. ("out" is a keyword of nft: the chains are named otherwise.)
  ip netns exec "$sns" nft -f - <<'EOF'
table bridge cvl_watch {
  chain to_host_fwd {
    type filter hook forward priority 0;
    oifname "p-host" ip protocol igmp drop
    oifname "p-host" icmpv6 type mld-listener-query drop
  }
  chain to_host_own {
    type filter hook output priority 0;
    oifname "p-host" ip protocol igmp drop
    oifname "p-host" icmpv6 type mld-listener-query drop
  }
}
EOF
}

# lab_watch_querier NAME 1|0: the switch's querier (both families) on or off. Off, the
# switch floods, which the host's port does not take: its streams stop at once.
lab_watch_querier() {
  ip -n "$(lab_ns "$1" switch)" link set br0 type bridge mcast_querier "$2"
}

# lab_watch_igmp_version NAME 2|3: the IGMP version the switch's querier queries in.
# Its IGMPv2 queries put the host's kernel in IGMPv2 compatibility mode.
lab_watch_igmp_version() {
  ip -n "$(lab_ns "$1" switch)" link set br0 type bridge mcast_igmp_version "$2"
}

# lab_watch_reset NAME: the watch lab as lab_up left it: queries reach the host, the
# querier runs in IGMPv3, every beacon runs.
lab_watch_reset() {
  lab_watch_queries "$1" on
  lab_watch_querier "$1" 1
  lab_watch_igmp_version "$1" 3
  _lab_start_watch_beacons "$1"
}

# lab_watch_host_groups NAME: the groups beyond the link's own (224.0.0.x, ff02::) that
# the switch forwards to the host's port, one a line: empty once the host's memberships
# of them have all aged out or been left. (The host's solicited-node groups stay.)
lab_watch_host_groups() {
  bridge -n "$(lab_ns "$1" switch)" -j mdb show dev br0 |
    "$LAB_PYTHON" -c 'import json, sys
for entry in json.load(sys.stdin):
    for m in entry.get("mdb", []):
        group = m.get("grp", "")
        if m.get("port") == "p-host" and not group.startswith(("224.0.0.", "ff02:")):
            print(group)'
}
