#!/usr/bin/env bash
# The router runs IGMP but not PIM on the host link. Run 1: while UDP and TCP traffic
# whose first bytes read like PIM Hellos and C-RP-Advertisements reaches the host,
# test 8 still hears no PIM router and fails after its full 5 s. Run 2: a real
# Candidate-RP-Advertisement from the source host reaches the host while no Hello
# comes: test 8 reports the RP advertiser, whose address the report names.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab router scapy witness
e2e_require_tool

# host_counter TABLE FIELD: a counter of the host's IP stack, e.g. Udp: NoPorts, the
# datagrams that reached the host for a port nobody holds.
host_counter() {
  lab_host_exec "$E2E_LAB" cat /proc/net/snmp |
    awk -v table="$1" -v field="$2" '$1 == table {
      if (!named) { for (i = 2; i <= NF; i++) column[$i] = i; named = 1 }
      else { print $column[field]; exit } }'
}

e2e_lab_up --no-pim

udp_before=$(host_counter Udp: NoPorts)
lab_spawn "$E2E_LAB" source lookalikes "$LAB_PYTHON" "$E2E_DIR/inject.py" lookalikes "$LAB_HOST_ADDR"
e2e_witness_start
e2e_run_tool --timed $'q\n'
e2e_witness_stop
lab_stop "$E2E_LAB" lookalikes
udp_after=$(host_counter Udp: NoPorts)
((udp_after - udp_before > 100)) ||
  e2e_fail "the look-alikes did not reach the host ($((udp_after - udp_before)) UDP datagrams)"
e2e_expect_output no_pim_lookalikes.txt
e2e_expect_interval "test 8 without PIM" 5000 6500 "$(e2e_mark hello)" 'line:^Test failed:  no router responded to PIM-SM Hello'

lab_spawn "$E2E_LAB" source crp "$LAB_PYTHON" "$E2E_DIR/inject.py" crp "$LAB_HOST_ADDR"
e2e_run_tool $'q\n'
lab_stop "$E2E_LAB" crp
e2e_expect_output no_pim_rp_advertised.txt
e2e_finish
