# shellcheck shell=bash
# The switch between the host and the router's link (sourced by lab/lib.sh): a Linux
# bridge in a namespace of its own that snoops IGMPv3, and MLDv2 where the link carries
# IPv6, with a querier of its own as the variant has it; and, in --two-queriers, a
# second querier behind a port that the switch isolates from the router's.
#
# A Linux bridge's querier takes part in the election (it falls silent for as long as it
# hears a lower address query), and so does FRR's; only queriers that cannot hear each
# other both keep querying. Isolated ports forward to the other ports but not to each
# other, so the host hears both queriers and neither hears the other.

# _lab_make_switch NAME: the switch namespace's bridge over the ports p-host and
# p-router, which _lab_make_host made; left down until _lab_start_switch.
_lab_make_switch() {
  local name=$1 sns querier ipv6 on=1 from_addr=1
  sns=$(lab_ns "$name" switch)
  querier=$(lab_variant "$name" switch_querier)
  ipv6=$(lab_variant "$name" ipv6)
  case $querier in
    addr) ;;
    zero) from_addr=0 ;;
    none) on=0 ;;
    *)
      lab_die "switch_querier is addr, zero or none, not '$querier'"
      return 1
      ;;
  esac
  # Version 3 and 2: a querier of an older version would put the host's kernel in the
  # older version's compatibility mode for minutes.
  ip -n "$sns" link add br0 type bridge mcast_snooping 1 mcast_querier "$on" \
    mcast_igmp_version 3 mcast_mld_version 2 mcast_query_use_ifaddr "$from_addr"
  ip -n "$sns" link set p-host master br0
  ip -n "$sns" link set p-router master br0
  ip -n "$sns" link set p-host up
  ip -n "$sns" link set p-router up
  ip -n "$sns" addr add "$(lab_variant "$name" switch_addr)/$LAB_HOST_PREFIX" dev br0
  if ((ipv6)); then
    _lab_enable_ipv6 "$sns" br0
    ip -n "$sns" -6 addr add "$LAB_SWITCH6_LL/64" dev br0
    ip -n "$sns" -6 addr add "$LAB_SWITCH6_ADDR/$LAB_HOST6_PREFIX" dev br0
  fi
  if (($(lab_variant "$name" second_querier))); then
    _lab_make_second_querier "$name"
  fi
}

# _lab_make_second_querier NAME: the querier namespace, another switch's bridge with an
# IGMPv3 querier at $LAB_QUERIER2_ADDR, on the switch's port p-querier. That port and
# p-router are isolated from each other and are the switch's router ports for good, so
# the host's reports reach both queriers from the start.
_lab_make_second_querier() {
  local name=$1 sns qns port
  sns=$(lab_ns "$name" switch)
  qns=$(lab_ns "$name" querier)
  _lab_add_ns "$qns"
  ip link add up0 netns "$qns" type veth peer name p-querier netns "$sns"
  ip -n "$qns" link add br0 type bridge mcast_snooping 1 mcast_querier 1 \
    mcast_igmp_version 3 mcast_query_use_ifaddr 1
  ip -n "$qns" link set up0 master br0
  ip -n "$qns" link set up0 up
  ip -n "$qns" addr add "$LAB_QUERIER2_ADDR/$LAB_HOST_PREFIX" dev br0
  ip -n "$qns" link set br0 up
  ip -n "$sns" link set p-querier master br0
  ip -n "$sns" link set p-querier up
  for port in p-router p-querier; do
    ip -n "$sns" link set dev "$port" type bridge_slave isolated on mcast_router 2
  done
}

# _lab_start_switch NAME: the bridge comes up; its first queries follow about 0.9 s later.
_lab_start_switch() {
  ip -n "$(lab_ns "$1" switch)" link set br0 up
}
