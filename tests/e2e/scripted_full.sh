#!/usr/bin/env bash
# Runs for scripts against the full lab: --once prints the pass without the prompt
# and exits 0 since every test succeeds; --json prints one object that validates and
# names the router as querier (IGMPv3), ping responder and PIM neighbour with FRR's
# Hello options, the beacon's source as member, and the text mode's report lines.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab router
e2e_require promtool
e2e_require_tool

e2e_lab_up

E2E_TOOL_ARGS=(--once --prometheus "$E2E_WORK/corvanite.prom")
e2e_run_tool
head -n -2 "$E2E_DIR/expected/full_pass.txt" >"$E2E_WORK/full_once.txt"
cp "$E2E_WORK/tool.out" "$E2E_WORK/text.out"
e2e_expect_output_file "$E2E_WORK/full_once.txt"
e2e_expect_metrics_file "$E2E_WORK/corvanite.prom"

E2E_TOOL_ARGS=(--json)
e2e_run_tool
"$LAB_PYTHON" "$E2E_DIR/check_pass_json.py" "$E2E_WORK/tool.out" full "$E2E_WORK/text.out" >&2 ||
  e2e_fail "the JSON pass does not hold what the lab holds"
n=$(wc -l <"$E2E_WORK/tool.out")
[[ $n -eq 1 ]] || e2e_fail "--json printed $n lines, not one"
e2e_finish
