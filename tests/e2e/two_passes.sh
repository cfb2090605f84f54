#!/usr/bin/env bash
# "y" then "q" on a bare link: the second pass starts with "Running 8 Tests" and no
# banner, and ends in the same report: nothing of the first pass carries over.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab witness
e2e_require_tool

e2e_lab_up --bare
e2e_witness_start
e2e_run_tool $'y\nq\n'
e2e_witness_stop
e2e_expect_output two_passes.txt

# Each pass sends its own Hello, each with a Generation ID of its own: a router keeps
# the first one and would not answer the second Hello if both carried the same.
h="src=$LAB_HOST_ADDR .*proto=pim .*pim_type=0 .*holdtime=30 "
n=$(e2e_witness_count "$h")
[[ $n -eq 2 ]] || e2e_fail "expected 2 PIM Hellos from the host, the witness saw $n"
genids=$(grep -E "$h" "$E2E_WORK/witness.txt" | sed -nE 's/.* genid=([0-9]+)$/\1/p' |
  sort -u | wc -l)
[[ $genids -eq 2 ]] || e2e_fail "the two passes' Hellos share a Generation ID"
for g in 224.0.0.2 224.0.0.22 224.0.0.13; do
  n=$(e2e_witness_count "src=$LAB_HOST_ADDR " "dst=${g//./\\.} " "icmp_type=8 ")
  [[ $n -eq 2 ]] || e2e_fail "expected 2 echo requests to $g, the witness saw $n"
done
e2e_finish
