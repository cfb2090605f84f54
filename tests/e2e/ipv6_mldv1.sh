#!/usr/bin/env bash
# The IPv6 lab with pim6d querying in MLDv1: test 5 gets an MLDv1 group query after the
# Done, test 6 no MLDv2 query, so the report says the path does not serve IPv6 SSM. The
# text against its golden file, the JSON against the lab.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab router router6
e2e_require_tool

e2e_lab_up --ipv6-mldv1
E2E_TOOL_ARGS=(-6 --once)
# Test 6 fails, so --once exits 1.
E2E_EXPECT_STATUS=1
e2e_run_tool
e2e_expect_output ipv6_mldv1_once.txt
cp "$E2E_WORK/tool.out" "$E2E_WORK/text.out"

E2E_TOOL_ARGS=(-6 --json)
e2e_run_tool_shared
"$LAB_PYTHON" "$E2E_DIR/check_pass_json.py" "$E2E_WORK/tool.out" mldv1-6 "$E2E_WORK/text.out" >&2 ||
  e2e_fail "the IPv6 JSON pass does not hold what the MLDv1 lab holds"
e2e_finish
