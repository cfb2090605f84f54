#!/usr/bin/env bash
# On a bare link: --once exits 1 with the pass's text and no prompt. Then --json
# --repeat 35 prints one line per pass; after the third, SIGTERM while the fourth pass
# holds its beacon membership ends the run at once with 143, and the host holds no
# membership of the tool's afterwards.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab
e2e_require_tool

e2e_lab_up --bare
E2E_TOOL_ARGS=(--once)
E2E_EXPECT_STATUS=1
e2e_run_tool
head -n -2 "$E2E_DIR/expected/bare_pass.txt" >"$E2E_WORK/bare_once.txt"
e2e_expect_output_file "$E2E_WORK/bare_once.txt"

# /proc/net/igmp names groups in hex, in the byte order of the host.
# shellcheck disable=SC2046 # one argument per byte
asm_hex=$(printf '%02X' $(echo "$LAB_ASM_GROUP" | tr . ' ' | awk '{ print $4, $3, $2, $1 }'))
memberships() { lab_host_exec "$E2E_LAB" cat /proc/net/igmp; }

lab_exec_prefix "$E2E_LAB" host
"${LAB_EXEC_PREFIX[@]}" "$E2E_TOOL" --json --repeat 35 \
  </dev/null >"$E2E_WORK/repeat.out" 2>"$E2E_WORK/tool.err" &
pid=$!
lab_at_exit kill -KILL "$pid"
# Three passes of about 28 s with 35 s between them.
lab_wait_for_line "$E2E_WORK/repeat.out" '^\{"tool"' 240 3 "$pid" ||
  e2e_fail "three passes did not come within 240 s"
# The fourth pass begins 35 s after the third ended, with test 1's join.
deadline=$((SECONDS + 60))
until memberships | grep -qi "$asm_hex"; do
  ((SECONDS < deadline)) || break
  sleep 0.05
done
memberships | grep -qi "$asm_hex" || e2e_fail "the fourth pass never joined $LAB_ASM_GROUP"
kill -TERM "$pid"
rc=0
wait "$pid" || rc=$?
[[ $rc -eq 143 ]] || e2e_fail "SIGTERM ended the run with $rc, not 143"
n=$(wc -l <"$E2E_WORK/repeat.out")
[[ $n -eq 3 ]] || e2e_fail "three passes printed $n lines"
"$LAB_PYTHON" "$E2E_DIR/check_pass_json.py" "$E2E_WORK/repeat.out" bare >&2 ||
  e2e_fail "the repeated passes do not hold what a bare link holds"
if memberships | grep -qi "$asm_hex"; then
  e2e_fail "a membership of $LAB_ASM_GROUP outlived the run"
fi
e2e_stderr_verdict
e2e_finish
