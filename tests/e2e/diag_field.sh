#!/usr/bin/env bash
# Situations common in the field, made for real, that a diagnosis must read right:
#   no-route-back     full lab, the host's default route gone and rp_filter=2: no route
#                     back to the beacons' source at all, so loose filtering drops them;
#   beacon-ttl-2      full lab, the beacons sent with TTL 3 (an nftables rule at the
#                     source): they arrive with TTL 2, one hop from being lost;
#   secondary-subnet  full lab, the host only in a second subnet of the router's link
#                     (the router keeps querying from its first address, and from the
#                     second too, and answers pings from the second);
#   forced-igmp-3     igmp-v2 lab, force_igmp_version=3 on the host: the kernel treats 3
#                     as 0 and falls back to IGMPv2 like the default;
#   forced-mld-2      ipv6-mldv1 lab, force_mld_version=2 on the host: it ignores the
#                     MLDv1 queries and sends MLDv2 reports that the router cannot read;
#   snooping-drops-v3 two-queriers lab, the switch drops the host's IGMPv3 reports (a
#                     bridge-family nftables rule): IGMPv2 reports and leaves still pass;
#   v2-querier        two-queriers lab, the second switch's querier at IGMPv2 from
#                     0.0.0.0 beside FRR at IGMPv3: the host falls back to IGMPv2;
#   silent-querier    switch-querier lab, the switch querying every 10 s with fast leave
#                     on the host's port, and its group-specific queries kept from the
#                     host (as a router with immediate leave or explicit tracking, or a
#                     proxying switch, would): queries on the link, none answers the probe.
#   robust-querier    no-igmp lab, a querier of its own on the host link (tests/e2e/peer.py)
#                     at robustness 3 and a 125 s query interval, the link's only one;
#   long-querier      the same querier at a 256 s query interval, beyond what a snooping
#                     switch's 260 s allow once its 10 s to answer are added;
#   late-hello        full lab, a second PIM router with a higher address beside FRR: it
#                     answers the ping of 224.0.0.13, but its Hellos come every 30 s and its
#                     answer to a new neighbour 8 s late, after the tool stopped listening.
# Each case's expectations stand in the table below; the witness checks of each case
# prove that the situation really happened.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
case=${1:?no-route-back, beacon-ttl-2, secondary-subnet, forced-igmp-3, forced-mld-2, snooping-drops-v3, v2-querier, silent-querier, robust-querier, long-querier or late-hello}
if [[ $case == silent-querier ]]; then
  e2e_require_lab
elif [[ $case == forced-mld-2 ]]; then
  e2e_require_lab router router6
else
  e2e_require_lab router
fi
e2e_require_tool

# The router's second subnet on the host's link, and the host's address in it.
secondary_router=10.0.9.1
secondary_host=10.0.9.2
# The address of peer.py's router on the host's subnet: above the lab router's, so that
# it wins a PIM election on addresses.
peer_addr=10.0.1.5

# CASE|EXPECTATION. EXPECTATION is check_diagnosis.py's (ID..., or !ID for a finding
# that must not come), or !text:TEXT: the --explain run does not print TEXT.
expectations=(
  "no-route-back|querier@info,address=$LAB_ROUTER_ADDR"
  "no-route-back|host-drops-beacon@problem,beacons.0.cause=rp_filter"
  "beacon-ttl-2|beacon-ttl@info,beacons.0.group=$LAB_ASM_GROUP,beacons.0.lowest_ttl=2"
  "beacon-ttl-2|beacon-ttl-low@warning"
  "secondary-subnet|querier@info,address=$LAB_ROUTER_ADDR"
  "secondary-subnet|!query-off-subnet"
  "secondary-subnet|!multiple-queriers"
  "forced-igmp-3|querier-old-version@problem,address=$LAB_ROUTER_ADDR,version=2"
  "forced-igmp-3|host-igmp-compat-mode@warning,interface=$LAB_HOST_IF,mode=2"
  "forced-igmp-3|!host-igmp-version-forced@problem"
  "forced-igmp-3|!text:never falls back"
  "forced-mld-2|querier@info,address=$LAB_ROUTER6_LL,version=1"
  "forced-mld-2|host-mld-version-forced@problem,value=2"
  "snooping-drops-v3|multiple-queriers@warning"
  "snooping-drops-v3|snooping-drops-igmpv3@problem"
  "v2-querier|switch-querier@warning,source=0.0.0.0"
  "v2-querier|host-igmp-compat-mode@warning,interface=$LAB_HOST_IF,mode=2"
  "v2-querier|old-version-query@problem"
  "silent-querier|switch-querier@warning,source=0.0.0.0"
  "silent-querier|!no-querier"
  "silent-querier|querier-silent-to-probe@warning"
  "robust-querier|querier@info,address=$peer_addr,robustness=3,query_interval_s=125,membership_interval_s=385"
  "robust-querier|!membership-interval"
  "robust-querier|!no-querier"
  "long-querier|querier@info,address=$peer_addr,robustness=3,query_interval_s=256"
  "long-querier|membership-interval@warning,address=$peer_addr,query_interval_s=256,report_gap_s=266"
  "late-hello|pim-dr@info,address=$LAB_ROUTER_ADDR,neighbours.1=null,unheard_repliers.0=$peer_addr,unheard_repliers.1=null"
  "late-hello|!pim-holdtime"
  "late-hello|!pim-passive"
)

# check_expectations: each of this case's expectations against the last
# e2e_diagnosis_runs.
check_expectations() {
  local row expectation ok n=0
  for row in "${expectations[@]}"; do
    [[ ${row%%|*} == "$case" ]] || continue
    n=$((n + 1))
    expectation=${row#*|}
    ok=1
    if [[ $expectation == '!text:'* ]]; then
      if grep -qF -- "${expectation#!text:}" "$E2E_WORK/explain.out"; then
        echo "check_diagnosis: the --explain run prints '${expectation#!text:}'" >&2
        ok=0
      fi
    else
      "$LAB_PYTHON" "$E2E_DIR/check_diagnosis.py" "$E2E_WORK/json.out" \
        "$E2E_WORK/explain.out" "$expectation" >&2 || ok=0
    fi
    if ((ok)); then
      e2e_log "met: $expectation"
    else
      e2e_fail "not met: $expectation"
    fi
  done
  ((n)) || e2e_fail "no expectations for case $case"
}

# witness_at_least N WHAT REGEX...: the witness saw at least N such messages since the
# tool's last run began.
witness_at_least() {
  local want=$1 what=$2 n
  shift 2
  n=$(e2e_witness_count_since_tool "$@")
  ((n >= want)) || e2e_fail "witness saw $n $what since the tool began, not $want or more"
  e2e_log "witness saw $n $what"
}

# host_igmp_mode: the host interface's IGMP mode as its kernel shows it (V2, V3).
host_igmp_mode() {
  lab_host_exec "$E2E_LAB" cat /proc/net/igmp | awk -v i="$LAB_HOST_IF" '$2 == i { print $5 }'
}

# rp_filter_drops: the host's count of datagrams dropped by reverse-path filtering.
rp_filter_drops() {
  lab_host_exec "$E2E_LAB" cat /proc/net/netstat | awk '
    $1 == "TcpExt:" && !names { for (i = 2; i <= NF; i++) col[$i] = i; names = 1; next }
    $1 == "TcpExt:" { print $col["IPReversePathFilter"] }'
}

# peer_up: a namespace of its own on the host link, at $peer_addr: a macvlan of the
# router namespace's end of the link, which hears the host's multicast as r0 does.
peer_up() {
  local pns rns
  pns=$(lab_ns "$E2E_LAB" peer)
  rns=$(lab_ns "$E2E_LAB" router)
  lab_at_exit ip netns del "$pns"
  ip netns add "$pns"
  ip -n "$pns" link set lo up
  ip netns exec "$pns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1
  ip -n "$rns" link add peer0 link r0 type macvlan mode bridge
  ip -n "$rns" link set peer0 netns "$pns"
  ip -n "$pns" addr add "$peer_addr/$LAB_HOST_PREFIX" dev peer0
  ip -n "$pns" link set peer0 up
}

# peer_querier SECONDS: peer.py's querier, at robustness 3 and that query interval, the
# link's only querier (the lab router's IGMP is off).
peer_querier() {
  e2e_lab_up --no-igmp
  peer_up
  lab_at_exit lab_stop "$E2E_LAB" peer-querier
  lab_spawn "$E2E_LAB" peer peer-querier "$LAB_PYTHON" "$E2E_DIR/peer.py" querier "$1" peer0
  sleep 1
  e2e_witness_start
  e2e_diagnosis_runs
  e2e_witness_stop
  witness_at_least 3 "general queries from $peer_addr" "src=$peer_addr " "igmp_v=3 igmp_type=0x11 "
  n=$(e2e_witness_count_since_tool "igmp_type=0x11 ")
  m=$(e2e_witness_count_since_tool "src=$peer_addr " "igmp_type=0x11 ")
  ((n == m)) || e2e_fail "$((n - m)) queries came from another querier than $peer_addr"
}

case $case in
  no-route-back)
    e2e_lab_up
    E2E_EXPECT_STATUS=1
    lab_at_exit lab_host_exec "$E2E_LAB" ip route replace default via "$LAB_ROUTER_ADDR"
    for key in all "$LAB_HOST_IF"; do
      lab_at_exit lab_host_exec "$E2E_LAB" sysctl -qw \
        "net.ipv4.conf.$key.rp_filter=$(lab_host_exec "$E2E_LAB" sysctl -n "net.ipv4.conf.$key.rp_filter")"
      lab_host_exec "$E2E_LAB" sysctl -qw "net.ipv4.conf.$key.rp_filter=2"
    done
    lab_host_exec "$E2E_LAB" ip route del default
    lab_host_exec "$E2E_LAB" ip route get "$LAB_SSM_SOURCE" >/dev/null 2>&1 &&
      e2e_fail "the host still has a route to $LAB_SSM_SOURCE"
    before=$(rp_filter_drops)
    e2e_diagnosis_runs -i "$LAB_HOST_IF"
    after=$(rp_filter_drops)
    # The beacons came, and the kernel's reverse-path filter is what dropped them.
    ((after - before >= 10)) ||
      e2e_fail "the host's reverse-path filter dropped $((after - before)) datagrams, not 10 or more"
    e2e_log "the host's reverse-path filter dropped $((after - before)) datagrams"
    ;;
  beacon-ttl-2)
    e2e_require nft
    e2e_lab_up
    E2E_EXPECT_STATUS=0
    srcns=$(lab_ns "$E2E_LAB" source)
    lab_at_exit ip netns exec "$srcns" nft delete table ip beacon_ttl_low
    lab_at_exit lab_host_exec "$E2E_LAB" nft delete table ip beacon_ttl_seen
    ip netns exec "$srcns" nft -f - <<EOT
table ip beacon_ttl_low {
  chain sent {
    type filter hook output priority 0;
    udp dport { $LAB_ASM_PORT, $LAB_SSM_PORT } ip ttl set 3
  }
}
EOT
    # The host's own count of beacons that arrive with TTL 2.
    lab_host_exec "$E2E_LAB" nft -f - <<EOT
table ip beacon_ttl_seen {
  chain arriving {
    type filter hook prerouting priority -300;
    udp dport { $LAB_ASM_PORT, $LAB_SSM_PORT } ip ttl 2 counter
    udp dport { $LAB_ASM_PORT, $LAB_SSM_PORT } ip ttl != 2 counter
  }
}
EOT
    e2e_diagnosis_runs
    counts=$(lab_host_exec "$E2E_LAB" nft list table ip beacon_ttl_seen |
      sed -n 's/.*counter packets \([0-9]*\).*/\1/p' | paste -sd' ')
    read -r at_2 other <<<"$counts"
    ((at_2 >= 10 && other == 0)) ||
      e2e_fail "beacons arrived $at_2 times with TTL 2 and $other times with another"
    e2e_log "beacons arrived $at_2 times with TTL 2, none with another"
    ;;
  secondary-subnet)
    # Last in its group: the host's address changes under the lab's other scenarios.
    e2e_lab_up
    E2E_EXPECT_STATUS=0
    lab_at_exit lab_router_sh "$E2E_LAB" "ip addr del $secondary_router/$LAB_HOST_PREFIX dev r0"
    lab_router_sh "$E2E_LAB" "ip addr add $secondary_router/$LAB_HOST_PREFIX dev r0"
    lab_at_exit lab_host_exec "$E2E_LAB" ip route replace default via "$LAB_ROUTER_ADDR"
    lab_at_exit lab_host_exec "$E2E_LAB" ip addr del "$secondary_host/$LAB_HOST_PREFIX" dev "$LAB_HOST_IF"
    lab_at_exit lab_host_exec "$E2E_LAB" ip addr replace "$LAB_HOST_ADDR/$LAB_HOST_PREFIX" dev "$LAB_HOST_IF"
    lab_host_exec "$E2E_LAB" ip addr add "$secondary_host/$LAB_HOST_PREFIX" dev "$LAB_HOST_IF"
    lab_host_exec "$E2E_LAB" ip addr del "$LAB_HOST_ADDR/$LAB_HOST_PREFIX" dev "$LAB_HOST_IF"
    lab_host_exec "$E2E_LAB" ip route replace default via "$secondary_router"
    e2e_witness_start
    e2e_diagnosis_runs -i "$LAB_HOST_IF"
    e2e_witness_stop
    # The router answers from its first address, outside the only subnet the host has.
    witness_at_least 1 "router queries from $LAB_ROUTER_ADDR" "src=$LAB_ROUTER_ADDR " "igmp_type=0x11 "
    witness_at_least 1 "host messages from $secondary_host" "src=$secondary_host " "proto=igmp "
    # ...and also from its second one, the host's subnet: one router, two addresses, tied
    # together by the Address List of its Hellos.
    witness_at_least 1 "router queries from $secondary_router" "src=$secondary_router " \
      "igmp_type=0x11 "
    witness_at_least 1 "echo replies from $secondary_router" "src=$secondary_router " "icmp_type=0 "
    witness_at_least 1 "PIM Hellos with an Address List" "src=$LAB_ROUTER_ADDR " "pim_type=0 " \
      "options=([^ ]*,)?24( |$)"
    ;;
  forced-igmp-3)
    e2e_lab_up --igmp-v2
    E2E_EXPECT_STATUS=1
    lab_at_exit lab_host_exec "$E2E_LAB" sysctl -qw "net.ipv4.conf.$LAB_HOST_IF.force_igmp_version=0"
    lab_host_exec "$E2E_LAB" sysctl -qw "net.ipv4.conf.$LAB_HOST_IF.force_igmp_version=3"
    e2e_diagnosis_runs
    # The kernel itself, not the tool, says that 3 did not keep it at IGMPv3.
    mode=$(host_igmp_mode)
    [[ $mode == V2 ]] || e2e_fail "the host's kernel shows $LAB_HOST_IF in mode '$mode', not V2"
    e2e_log "with force_igmp_version=3 the host's kernel is in IGMP mode $mode"
    ;;
  forced-mld-2)
    e2e_lab_up --ipv6-mldv1
    E2E_EXPECT_STATUS=1
    lab_at_exit lab_host_exec "$E2E_LAB" sysctl -qw "net.ipv6.conf.$LAB_HOST_IF.force_mld_version=0"
    lab_host_exec "$E2E_LAB" sysctl -qw "net.ipv6.conf.$LAB_HOST_IF.force_mld_version=2"
    e2e_witness_start
    e2e_diagnosis_runs -6
    e2e_witness_stop
    # Test 1's join leaves as an MLDv2 report, under the MLDv1 querier's queries. (Test
    # 5's own MLDv1 report of the same group is the tool's, not the kernel's.)
    witness_at_least 1 "MLDv2 joins of $LAB_ASM6_GROUP" "icmpv6_type=143 " \
      "records=([^ ]*,)?4/$LAB_ASM6_GROUP/"
    witness_at_least 1 "MLDv1 queries from $LAB_ROUTER6_LL" "src=$LAB_ROUTER6_LL " \
      "icmpv6_type=130 " " mld_v=1 "
    ;;
  snooping-drops-v3)
    e2e_require nft
    e2e_lab_up --two-queriers
    E2E_EXPECT_STATUS=1
    sns=$(lab_ns "$E2E_LAB" switch)
    lab_at_exit ip netns exec "$sns" nft delete table bridge igmpv3_dropped
    ip netns exec "$sns" nft -f - <<EOT
table bridge igmpv3_dropped {
  chain forward {
    type filter hook forward priority 0;
    iifname "p-host" ip protocol igmp @th,0,8 0x22 counter drop
  }
}
EOT
    e2e_witness_start
    e2e_diagnosis_runs
    e2e_witness_stop
    dropped=$(ip netns exec "$sns" nft list table bridge igmpv3_dropped |
      sed -n 's/.*counter packets \([0-9]*\).*/\1/p')
    ((dropped > 0)) || e2e_fail "the switch dropped no IGMPv3 report"
    e2e_log "the switch dropped $dropped IGMPv3 reports"
    # The IGMPv2 leave of test 5 still drew the router's group-specific query.
    witness_at_least 1 "group-specific queries from $LAB_ROUTER_ADDR" "src=$LAB_ROUTER_ADDR " \
      "igmp_v=3 igmp_type=0x11 " "group=[1-9]"
    ;;
  v2-querier)
    # Last in its group: the host stays in IGMPv2 compatibility mode for minutes.
    e2e_lab_up --two-queriers
    E2E_EXPECT_STATUS=1
    qns=$(lab_ns "$E2E_LAB" querier)
    # Restarting the querier (off, then on) makes it query at once in its new version.
    lab_at_exit ip -n "$qns" link set br0 type bridge mcast_querier 1
    lab_at_exit ip -n "$qns" link set br0 type bridge mcast_igmp_version 3 \
      mcast_query_use_ifaddr 1 mcast_query_interval 12500 mcast_querier 0
    ip -n "$qns" link set br0 type bridge mcast_igmp_version 2 mcast_query_use_ifaddr 0 \
      mcast_query_interval 1000 mcast_querier 0
    ip -n "$qns" link set br0 type bridge mcast_querier 1
    e2e_witness_start
    e2e_diagnosis_runs
    e2e_witness_stop
    witness_at_least 1 "IGMPv2 queries from 0.0.0.0" "src=0.0.0.0 " "igmp_v=2 igmp_type=0x11 "
    witness_at_least 1 "IGMPv3 queries from $LAB_ROUTER_ADDR" "src=$LAB_ROUTER_ADDR " \
      "igmp_v=3 igmp_type=0x11 "
    mode=$(host_igmp_mode)
    [[ $mode == V2 ]] || e2e_fail "the host's kernel shows $LAB_HOST_IF in mode '$mode', not V2"
    ;;
  silent-querier)
    e2e_lab_up --switch-querier
    E2E_EXPECT_STATUS=1
    sns=$(lab_ns "$E2E_LAB" switch)
    ip -n "$sns" link set dev p-host type bridge_slave fastleave on
    # Fast leave spares the leave a query; the BLOCK of test 6 would still draw one.
    ip netns exec "$sns" nft -f - <<EOT
table bridge specific_queries_kept {
  chain forward_to_host {
    type filter hook forward priority 0;
    oifname "p-host" ip protocol igmp @th,0,8 0x11 @th,32,32 != 0 counter drop
  }
  chain sent_to_host {
    type filter hook output priority 0;
    oifname "p-host" ip protocol igmp @th,0,8 0x11 @th,32,32 != 0 counter drop
  }
}
EOT
    # A querier that starts (again) sends its first queries at the startup interval,
    # 31.25 s unless set: the whole --explain pass would fall between its first two.
    ip -n "$sns" link set br0 type bridge mcast_query_interval 1000 \
      mcast_startup_query_interval 1000 mcast_querier 0
    ip -n "$sns" link set br0 type bridge mcast_querier 1
    e2e_witness_start
    e2e_diagnosis_runs
    e2e_witness_stop
    witness_at_least 2 "general queries from 0.0.0.0" "src=0.0.0.0 " "igmp_type=0x11 " \
      "group=0\.0\.0\.0( |$)"
    n=$(e2e_witness_count_since_tool "igmp_type=0x11 " "group=[1-9]")
    ((n == 0)) || e2e_fail "the switch answered the probe with $n group-specific queries"
    ;;
  robust-querier)
    E2E_EXPECT_STATUS=1
    peer_querier 125
    ;;
  long-querier)
    E2E_EXPECT_STATUS=1
    peer_querier 256
    ;;
  late-hello)
    e2e_lab_up
    # FRR, no longer the DR, joins nothing for the host: the beacons stay away.
    E2E_EXPECT_STATUS=1
    peer_up
    # The group pings stop at the first reply: the lab router ignores them (Linux's
    # default) and the other answers them (as many routers do), so that its reply is
    # the one the pass keeps.
    lab_at_exit lab_router_sh "$E2E_LAB" "sysctl -q -w net.ipv4.icmp_echo_ignore_broadcasts=0"
    lab_router_sh "$E2E_LAB" "sysctl -q -w net.ipv4.icmp_echo_ignore_broadcasts=1"
    ip netns exec "$(lab_ns "$E2E_LAB" peer)" sysctl -qw net.ipv4.icmp_echo_ignore_broadcasts=0
    lab_at_exit lab_stop "$E2E_LAB" peer-pim
    lab_spawn "$E2E_LAB" peer peer-pim "$LAB_PYTHON" "$E2E_DIR/peer.py" late-hello 8 peer0
    e2e_witness_start
    e2e_diagnosis_runs
    e2e_witness_stop
    witness_at_least 1 "echo replies from $peer_addr" "src=$peer_addr " "icmp_type=0 "
    witness_at_least 1 "PIM Hellos from $peer_addr" "src=$peer_addr " "pim_type=0 "
    # None of its Hellos fell in the 5 s after one of the tool's.
    mapfile -t tool_hellos < <(e2e_witness_values at "src=$LAB_HOST_ADDR " "pim_type=0 " "holdtime=30 ")
    mapfile -t peer_hellos < <(e2e_witness_values at "src=$peer_addr " "pim_type=0 ")
    ((${#tool_hellos[@]} >= 1)) || e2e_fail "the witness saw no Hello of the tool"
    for t in "${tool_hellos[@]}"; do
      for p in "${peer_hellos[@]}"; do
        awk -v t="$t" -v p="$p" 'BEGIN { exit !(p >= t && p <= t + 5) }' &&
          e2e_fail "$peer_addr said Hello $(awk -v t="$t" -v p="$p" 'BEGIN { printf "%.1f", p - t }') s after the tool's"
      done
    done
    e2e_log "no Hello of $peer_addr in the 5 s after any of the tool's ${#tool_hellos[@]}"
    # FRR heard its Hellos and elected it: the DR is not the router the pass heard.
    dr=$(lab_host_link_dr "$E2E_LAB")
    [[ $dr == "$peer_addr" ]] || e2e_fail "FRR's DR of the host link is '$dr', not $peer_addr"
    e2e_log "FRR's DR of the host link is $dr"
    ;;
  *) e2e_fail "no such case: $case" ;;
esac
check_expectations
e2e_finish
