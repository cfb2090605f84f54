#!/usr/bin/env bash
# What the host itself does wrong, in the full lab:
#   forced-igmp   net.ipv4.conf.eth0.force_igmp_version=2: test 2 fails with the
#                 host-does-not-support-SSM text instead of joining without its source,
#                 the report drops the host's SSM row, and the diagnosis names the setting;
#   rp-filter     strict reverse-path filtering with the route to the beacons' sources
#                 over a second link: their datagrams reach eth0 and the kernel drops
#                 them; the report no longer blames the path beyond the router;
#   firewall      an nftables rule drops the beacons' ports: the same, with no cause
#                 the tool can name; beside it ufw's `ct state invalid drop` drops the
#                 echo replies to the group pings, which come from the router's unicast
#                 address: the host, not the router, is named for the silent pings;
#   no-route-back loose reverse-path filtering and no route back to the beacons'
#                 sources at all (the default route gone): the kernel drops them, and
#                 the cause is rp_filter, not unknown.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab router
e2e_require_tool

E2E_EXPECT_STATUS=1
no_traffic_rows=("Path to first hop router seems to be working for ASM, but not receiving"
  "Path to first hop router seems to be working for SSM, but not receiving")
case ${1:?forced-igmp, rp-filter, firewall or no-route-back} in
  forced-igmp)
    e2e_lab_up
    # Put back for a group's next scenario; the router may still take the host for an
    # IGMPv2 member for a while, so this case comes last in its group.
    lab_at_exit lab_host_exec "$E2E_LAB" sysctl -qw "net.ipv4.conf.$LAB_HOST_IF.force_igmp_version=0"
    lab_host_exec "$E2E_LAB" sysctl -qw "net.ipv4.conf.$LAB_HOST_IF.force_igmp_version=2"
    e2e_diagnosis_runs
    e2e_expect_diagnosis \
      "host-igmp-version-forced@problem,setting=net.ipv4.conf.$LAB_HOST_IF.force_igmp_version,value=2" \
      "querier" "pim-dr" "beacon-ttl"
    # Test 2's header, then the refusal text straight after it.
    grep -A1 '^	2\.  Joining SSM Video Group' "$E2E_WORK/explain.out" | tail -n 1 |
      grep -qx 'The host does not support SSM <IGMPv3> ' ||
      e2e_fail "test 2 did not fail with the host-does-not-support-SSM text"
    e2e_expect_report_rows absent "Host Operating System is capable of Source Specific" \
      "${no_traffic_rows[1]}" "SSM is functioning for Beacon Group"
    e2e_expect_report_rows present "Host Operating System is capable of Any Source"
    ;;
  rp-filter)
    e2e_lab_up --two-links
    # The way back to the beacons' sources is the side link; strict filtering then
    # drops what arrives from them on eth0.
    lab_host_exec "$E2E_LAB" ip route add "$LAB_SSM_SOURCE/32" dev "$LAB_SIDE_IF"
    lab_host_exec "$E2E_LAB" sysctl -qw net.ipv4.conf.all.rp_filter=1 \
      "net.ipv4.conf.$LAB_HOST_IF.rp_filter=1"
    e2e_diagnosis_runs -i "$LAB_HOST_IF"
    e2e_expect_diagnosis \
      "host-drops-beacon@problem,interface=$LAB_HOST_IF,beacons.0.group=$LAB_ASM_GROUP,beacons.0.port=$LAB_ASM_PORT,beacons.0.senders.0=$LAB_SSM_SOURCE,beacons.0.datagrams_received=0,beacons.0.cause=rp_filter,beacons.0.route_interface=$LAB_SIDE_IF,beacons.1.source=$LAB_SSM_SOURCE,beacons.1.cause=rp_filter,rp_filter.value=1" \
      "querier" "pim-dr"
    e2e_expect_report_rows absent "${no_traffic_rows[@]}"
    ;;
  firewall)
    e2e_require nft
    e2e_lab_up
    lab_at_exit lab_host_exec "$E2E_LAB" nft delete table inet beacons_dropped
    lab_host_exec "$E2E_LAB" nft -f - <<EOT
table inet beacons_dropped {
  chain input {
    type filter hook input priority 0;
    ct state invalid drop
    udp dport { $LAB_ASM_PORT, $LAB_SSM_PORT } drop
  }
}
EOT
    e2e_diagnosis_runs
    e2e_expect_diagnosis \
      "host-drops-beacon@problem,beacons.0.group=$LAB_ASM_GROUP,beacons.0.cause=unknown,beacons.1.group=$LAB_SSM_GROUP,beacons.1.cause=unknown" \
      "host-drops-replies@problem,interface=$LAB_HOST_IF,pings.0.group=224.0.0.2" \
      "querier" "pim-dr"
    # The router answered; only the host dropped its replies.
    ! grep -q 'router-ignores-pings' "$E2E_WORK/json.out" "$E2E_WORK/explain.out" ||
      e2e_fail "router-ignores-pings blames the router for the host's firewall"
    e2e_expect_report_rows absent "${no_traffic_rows[@]}"
    ;;
  no-route-back)
    e2e_lab_up
    # Put back for a group's next scenario.
    lab_at_exit lab_host_exec "$E2E_LAB" ip route replace default via "$LAB_ROUTER_ADDR"
    lab_at_exit lab_host_exec "$E2E_LAB" sysctl -qw net.ipv4.conf.all.rp_filter=0 \
      "net.ipv4.conf.$LAB_HOST_IF.rp_filter=0"
    lab_host_exec "$E2E_LAB" ip route del default
    lab_host_exec "$E2E_LAB" sysctl -qw net.ipv4.conf.all.rp_filter=2 \
      "net.ipv4.conf.$LAB_HOST_IF.rp_filter=2"
    e2e_diagnosis_runs -i "$LAB_HOST_IF"
    e2e_expect_diagnosis \
      "host-drops-beacon@problem,beacons.0.group=$LAB_ASM_GROUP,beacons.0.cause=rp_filter,beacons.0.no_route=true,beacons.1.source=$LAB_SSM_SOURCE,beacons.1.cause=rp_filter,rp_filter.value=2" \
      "querier" "pim-dr"
    grep -q "as the host has no route back to $LAB_SSM_SOURCE" "$E2E_WORK/explain.out" ||
      e2e_fail "--explain does not name the missing route back"
    e2e_expect_report_rows absent "${no_traffic_rows[@]}"
    ;;
  *) e2e_fail "no such case: $1" ;;
esac
e2e_finish
