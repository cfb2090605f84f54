#!/usr/bin/env bash
# A user given CAP_NET_RAW alone runs the interactive battery on a bare link: at the
# prompt the process holds the capability permitted for the next pass, but none is in
# effect; a second pass still opens its raw sockets and captures with it.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab witness
e2e_require setpriv
e2e_require getpcaps
e2e_require_tool
setpriv --reuid nobody --regid nogroup --clear-groups test -x "$E2E_TOOL" ||
  e2e_skip "user nobody cannot run $E2E_TOOL (a folder on its path is closed to others)"

e2e_lab_up --bare
lab_exec_prefix "$E2E_LAB" host
input=$E2E_WORK/prompt.in
mkfifo "$input"
# Held open for writing by this shell, so the tool waits at its prompt.
exec 7<>"$input"
"${LAB_EXEC_PREFIX[@]}" setpriv --reuid nobody --regid nogroup --clear-groups \
  --inh-caps=+net_raw --ambient-caps=+net_raw "$E2E_TOOL" <"$input" >"$E2E_WORK/tool.out" \
  2>"$E2E_WORK/tool.err" &
pid=$!

# $1-th prompt: wait for it (a pass is about 30 s).
at_prompt() {
  local deadline=$((SECONDS + 90))
  until (($(grep -c "To exit enter 'q'" "$E2E_WORK/tool.out") >= $1)); do
    kill -0 "$pid" 2>/dev/null || e2e_fail "the tool ended before prompt $1"
    ((SECONDS < deadline)) || e2e_fail "no prompt $1 within 90 s"
    ((E2E_FAILED == 0)) || return 1
    sleep 0.2
  done
}

# Capability bits of one set of the process, from the kernel's own view.
caps() { awk -v set="$1:" '$1 == set { print $2 }' "/proc/$pid/status"; }

check_at_prompt() {
  local effective permitted
  effective=$(caps CapEff)
  permitted=$(caps CapPrm)
  e2e_log "at prompt $1: $(getpcaps "$pid" 2>&1) (CapEff $effective, CapPrm $permitted)"
  [[ $effective =~ ^0+$ ]] || e2e_fail "at prompt $1 capabilities $effective are in effect"
  # CAP_NET_RAW is bit 13: kept for the next pass, nothing else.
  [[ $((16#$permitted)) -eq $((1 << 13)) ]] ||
    e2e_fail "at prompt $1 the permitted set is $permitted, not CAP_NET_RAW alone"
  local shown
  shown=$(getpcaps "$pid" 2>&1)
  if [[ $shown =~ =[ip]*e ]]; then
    e2e_fail "getpcaps shows an effective capability: $shown"
  fi
}

if at_prompt 1; then
  check_at_prompt 1
  echo y >&7
  if at_prompt 2; then
    check_at_prompt 2
  fi
fi
echo q >&7
rc=0
wait "$pid" || rc=$?
exec 7>&-
[[ $rc -eq 0 ]] || e2e_fail "the tool ended with $rc"
# The second pass had its rights: the raw-socket tests ran, no privilege failure.
if grep -q "privilege" "$E2E_WORK/tool.out"; then
  e2e_fail "a pass lacked the right to open raw sockets: $(grep -m1 privilege "$E2E_WORK/tool.out")"
fi
n=$(grep -c "Test failed:  no router responded to PIM-SM Hello" "$E2E_WORK/tool.out" || true)
[[ $n -eq 2 ]] || e2e_fail "expected test 8 to run in both passes, it reported $n times"
e2e_finish
