#!/usr/bin/env bash
# A host with two links: its host name resolves to the address of a link without a
# router, while its default route goes through the router's link. Without options every
# test uses the host name's link: the pass is the bare link's, and the witnesses on both
# links show every message the tool sends leaving on that one link and none on the
# other. With --interface naming the router's link (by name, then by address in JSON),
# the pass is the full lab's.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab router witness
e2e_require promtool
e2e_require_tool

e2e_lab_up --two-links

e2e_witness_start
e2e_witness_start "$LAB_SIDE_IF"
e2e_run_tool $'q\n'
e2e_witness_stop "$LAB_SIDE_IF"
e2e_witness_stop
e2e_expect_output bare_pass.txt

# The side link carries all of it: the kernel's reports for tests 1 and 2, then the
# tool's own messages of tests 3 to 8, each from the side link's address.
e2e_witness_use "$LAB_SIDE_IF"
e2e_tool_messages_seen "$LAB_SIDE_ADDR"
e2e_witness_saw "the join of $LAB_ASM_GROUP" "src=$LAB_SIDE_ADDR " "ra=1 " \
  "records=4:$LAB_ASM_GROUP:$"
e2e_witness_saw "the join of ($LAB_SSM_SOURCE, $LAB_SSM_GROUP)" "src=$LAB_SIDE_ADDR " \
  "ra=1 " "records=(5|1):$LAB_SSM_GROUP:$LAB_SSM_SOURCE$"
n=$(e2e_witness_count "src=$LAB_HOST_ADDR ")
[[ $n -eq 0 ]] || e2e_fail "$n messages on the side link came from the router link's address"

# Nothing from the host on the router's link once the tool ran (its capture was live:
# it saw the drain marker sent there when it stopped). Before, the kernel may still be
# repeating the reports of the lab's own readiness check, which left its groups there.
e2e_witness_use
n=$(e2e_witness_count_since_tool "src=($LAB_HOST_ADDR|$LAB_SIDE_ADDR) ")
if [[ $n -ne 0 ]]; then
  e2e_fail "$n messages of the host left on the router's link:"
  grep -E "src=($LAB_HOST_ADDR|$LAB_SIDE_ADDR) " "$E2E_WITNESS" >&2
  e2e_log "the tool started at $(<"$E2E_WORK/tool.started")"
fi

E2E_TOOL_ARGS=(--interface "$LAB_HOST_IF" --prometheus "$E2E_WORK/corvanite.prom")
e2e_run_tool $'q\n'
e2e_expect_output full_pass.txt
e2e_expect_metrics_file "$E2E_WORK/corvanite.prom"
info="corvanite_pass_interface_info{interface=\"$LAB_HOST_IF\",family=\"ipv4\",address=\"$LAB_HOST_ADDR\""
grep -qxF "$info,chosen_by=\"option\"} 1" "$E2E_WORK/corvanite.prom" ||
  e2e_fail "the metrics do not name the interface -i chose"

E2E_TOOL_ARGS=(--json -i "$LAB_HOST_ADDR")
e2e_run_tool
"$LAB_PYTHON" "$E2E_DIR/check_pass_json.py" "$E2E_WORK/tool.out" full >&2 ||
  e2e_fail "the JSON pass on the router's link does not hold what the lab holds"
"$LAB_PYTHON" - "$E2E_WORK/tool.out" "$LAB_HOST_IF" "$LAB_HOST_ADDR" <<'PY' >&2 ||
import json, sys
got = json.loads(open(sys.argv[1]).readline())["interface"]
want = {"name": sys.argv[2], "address": sys.argv[3], "chosen_by": "option"}
if got != want:
    sys.exit(f"interface is {got}, not {want}")
PY
  e2e_fail "the JSON pass does not name the interface -i chose"
e2e_finish
