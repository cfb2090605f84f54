#!/usr/bin/env bash
# A router without PIM: --once --json exits 1, since test 8 fails, and its pass still
# validates and names the router as the querier.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab router
e2e_require promtool
e2e_require_tool

e2e_lab_up --no-pim
E2E_TOOL_ARGS=(--once --json --prometheus "$E2E_WORK/corvanite.prom")
E2E_EXPECT_STATUS=1
e2e_run_tool
e2e_expect_metrics_file "$E2E_WORK/corvanite.prom"
"$LAB_PYTHON" "$E2E_DIR/check_pass_json.py" "$E2E_WORK/tool.out" no-pim >&2 ||
  e2e_fail "the JSON pass does not hold what the lab holds"
e2e_finish
