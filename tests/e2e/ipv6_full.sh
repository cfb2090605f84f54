#!/usr/bin/env bash
# Two IPv6 passes (-6) against the IPv6 lab (pim6d with MLDv2 and PIMv6, beacons to the
# ASM group and from S to the SSM channel): every test succeeds both times and the report
# prints every positive IPv6 conclusion. The witness checks what the tool sends: every
# MLD and PIM message from the link-local address with hop limit 1 and a good checksum,
# a Router Alert on each MLD message, the reports in their order (MLDv1 Report, Done,
# MLDv2 ALLOW, BLOCK), echo requests to ff02::2, ff02::16 and ff02::d, and a Hello with
# DR priority 0 whose Generation ID differs per pass.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab router router6 witness
e2e_require_tool

e2e_lab_up --ipv6
e2e_witness_start
E2E_TOOL_ARGS=(-6)
e2e_run_tool $'y\nq\n'
e2e_witness_stop
e2e_expect_output ipv6_full_two_passes.txt

h="src=$LAB_HOST6_LL "
e2e_witness_ipv6_rules "the host's IPv6 messages"

# The tool's own MLD messages in capture order: R (MLDv1 Report), D (Done), A and B
# (MLDv2 ALLOW and BLOCK for the channel to ff02::16, 5 s and more after the Done). The
# host kernel's own reports of test 2's channel, repeated into test 5, are passed over.
g6=$LAB_ASM6_GROUP c6="$LAB_SSM6_GROUP/$LAB_SSM6_SOURCE"
order="" done_at=
while IFS= read -r line; do
  [[ $line == *"$h"* && $line == *" proto=icmpv6 "* && $line =~ \ at=([0-9.]+)\  ]] || continue
  at=${BASH_REMATCH[1]}
  if [[ $line == *" dst=$g6 "*" icmpv6_type=131 "*" group=$g6"* ]]; then
    order+=R done_at=
  elif [[ $line == *" dst=ff02::2 "*" icmpv6_type=132 "*" group=$g6"* ]]; then
    order+=D done_at=$at
  elif [[ -n $done_at && $line == *" dst=ff02::16 "*" icmpv6_type=143 "*"records="[56]"/$c6"* ]] &&
    awk -v a="$at" -v d="$done_at" 'BEGIN { exit !(a - d >= 4.5) }'; then
    # The BLOCK ends the pass's MLD: later reports are the next pass's kernel's.
    if [[ $line == *"records=5/"* ]]; then order+=A; else order+=B done_at=; fi
  fi
done <"$E2E_WITNESS"
[[ $order == RDABRDAB ]] ||
  e2e_fail "the tool's MLD messages came as $order, not R D A B in each of two passes"

for g in ff02::2 ff02::16 ff02::d; do
  n=$(e2e_witness_count "$h" "dst=$g " "hlim=1 " "proto=icmpv6 " "cksum=good " \
    "icmpv6_type=128 " "icmpv6_code=0 ")
  [[ $n -eq 2 ]] || e2e_fail "expected 2 echo requests to $g, one a pass, the witness saw $n"
done

n=$(e2e_witness_count "$h" "dst=ff02::d " "proto=pim " "pim_type=0 " "holdtime=30 " \
  "dr_priority=0 " "genid=[0-9]+$")
[[ $n -eq 2 ]] || e2e_fail "expected 2 PIMv6 Hellos with DR priority 0, the witness saw $n"
mapfile -t genids < <(e2e_witness_values genid "$h" "proto=pim " "pim_type=0 " "holdtime=30 ")
[[ ${#genids[@]} -eq 2 && ${genids[0]} != "${genids[1]}" ]] ||
  e2e_fail "the two passes' Hellos carry Generation IDs ${genids[*]}, not two different ones"
e2e_finish
