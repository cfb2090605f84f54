#!/usr/bin/env bash
# Every kind of usage error, in the host namespace of a bare lab (lo and eth0 only):
# exit status 2, nothing on standard output, exactly the golden line and usage on
# standard error, and not one packet on the link.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab witness
e2e_require_tool

e2e_lab_up --bare
hns=$(lab_ns "$E2E_LAB" host)
# A link that is down and one without an IPv4 address, for --interface.
ip -n "$hns" link add down0 type veth peer name down0p
ip -n "$hns" addr add 10.0.7.1/24 dev down0
ip -n "$hns" link add noip0 type veth peer name noip0p
ip -n "$hns" link set noip0 up

cases=(
  "--interface nosuch0"
  "--interface 10.9.9.9"
  "--interface down0"
  "--interface 10.0.7.1"
  "--interface noip0"
  "--interface="
  "--asm-group 233.4.200.19"
  "--asm-group 233.4.200.19:0"
  "--asm-group 10.1.2.3:5000"
  "--asm-group 224.0.0.9:5000"
  "--ssm-channel 232.1.1.1:5000"
  "--ssm-channel 127.0.0.1,232.1.1.1:5000"
  "--ssm-channel 198.51.100.20,232.1.1.1:65536"
  "--no-such-option"
  "stray"
)
e2e_witness_start
lab_exec_prefix "$E2E_LAB" host
: >"$E2E_WORK/tool.out"
for words in "${cases[@]}"; do
  rc=0
  # shellcheck disable=SC2086 # each case is split into its words on purpose
  "${LAB_EXEC_PREFIX[@]}" "$E2E_TOOL" $words </dev/null >"$E2E_WORK/case.out" \
    2>"$E2E_WORK/case.err" || rc=$?
  [[ $rc -eq 2 ]] || e2e_fail "corvanite $words exited with $rc, not 2"
  [[ -s $E2E_WORK/case.out ]] && e2e_fail "corvanite $words wrote to standard output"
  { printf '$ corvanite %s\n' "$words"; cat "$E2E_WORK/case.err"; } >>"$E2E_WORK/tool.out"
done
e2e_witness_stop
n=$(e2e_witness_count "src=$LAB_HOST_ADDR ")
[[ $n -eq 0 ]] || e2e_fail "the refused runs sent $n messages"
e2e_expect_output usage_errors.txt
e2e_finish
