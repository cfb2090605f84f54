#!/usr/bin/env bash
# A link where nothing queries (the bare lab): the diagnosis says that no query came in
# the time the pass watched, as a warning (silence proves no absence), points at
# a longer watch to tell for sure, and says nothing else.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab
e2e_require_tool

e2e_lab_up --bare
E2E_EXPECT_STATUS=1
e2e_diagnosis_runs
e2e_expect_diagnosis --only "no-querier@warning,interface=$LAB_HOST_IF"
grep -q "after about 260 s" "$E2E_WORK/explain.out" ||
  e2e_fail "the summary does not explain the snooping timeout"
grep -q "No IGMP query came on $LAB_HOST_IF in the .* s watched.*only a watch longer than that interval can" \
  "$E2E_WORK/explain.out" || e2e_fail "the summary claims more than the silence it saw"
e2e_finish
