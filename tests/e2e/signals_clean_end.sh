#!/usr/bin/env bash
# A pass ended by SIGINT or SIGTERM during each of the eight tests, on one router lab:
# the tool ends as the signal ends it (130, 143) and leaves nothing of the host behind
# on the router. A kill between test 5's report and its leave, test 6's ALLOW and its
# BLOCK, or test 8's Hello and its goodbye would otherwise keep the group for about
# 260 s and the neighbour for 30 s; here each is gone within the leave's query time.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab router
e2e_require_tool

e2e_lab_up
lab_exec_prefix "$E2E_LAB" host
host=${LAB_HOST_ADDR//./\\.}

# What the router holds of the host now, one line for each: groups, sources, neighbour.
router_state() {
  lab_frr "$E2E_LAB" 'show ip igmp groups' 'show ip igmp sources' 'show ip pim neighbor' |
    grep -E "(^| )($host|${LAB_ASM_GROUP//./\\.}|${LAB_SSM_GROUP//./\\.})( |$)" || true
}

# wait_for SECONDS WHAT REGEX: until the router's state of the host matches REGEX.
wait_for() {
  local deadline=$((SECONDS + $1))
  until router_state | grep -qE "$3"; do
    ((SECONDS < deadline)) || {
      e2e_fail "the router never showed $2 within $1 s"
      return 1
    }
    sleep 0.2
  done
}

# gone_within SECONDS WHAT: until the router holds nothing of the host.
gone_within() {
  local deadline=$((SECONDS + $1)) left
  while left=$(router_state) && [[ -n $left ]]; do
    ((SECONDS < deadline)) || {
      e2e_fail "$2: after $1 s the router still holds: $left"
      return 1
    }
    sleep 0.2
  done
  e2e_log "$2: the router holds nothing of the host"
}

# The header line each test prints as it begins.
header() { grep -qE "^$(printf '\t')$1\. " "$E2E_WORK/tool.out"; }

for test in 1 2 3 4 5 6 7 8; do
  if ((test % 2)); then signal=INT status=130; else signal=TERM status=143; fi
  # SIGINT to a background job of a script is ignored unless put back.
  "${LAB_EXEC_PREFIX[@]}" "$LAB_PYTHON" -c 'import os, signal, sys
signal.signal(signal.SIGINT, signal.SIG_DFL)
os.execv(sys.argv[1], sys.argv[1:])' "$E2E_TOOL" --once </dev/null >"$E2E_WORK/tool.out" \
    2>"$E2E_WORK/tool.err" &
  pid=$!
  deadline=$((SECONDS + 60))
  until header "$test"; do
    ((SECONDS < deadline)) || e2e_fail "test $test never began"
    ((E2E_FAILED == 0)) || break
    sleep 0.1
  done
  # Killed where something is owed: the router has seen the report, ALLOW or Hello.
  case $test in
    5) wait_for 10 "the IGMPv2 report's group" "${LAB_ASM_GROUP//./\\.}" ;;
    6) wait_for 15 "the ALLOW's source" "${LAB_SSM_SOURCE//./\\.}" ;;
    8) wait_for 5 "the host as a PIM neighbour" "^ *r0 +$host " ;;
    *) sleep 0.5 ;;
  esac
  kill "-$signal" "$pid"
  rc=0
  wait "$pid" || rc=$?
  [[ $rc -eq $status ]] || e2e_fail "SIG$signal in test $test ended the tool with $rc, not $status"
  [[ ! -s $E2E_WORK/tool.err ]] || e2e_fail "test $test: $(cat "$E2E_WORK/tool.err")"
  # A leave's group-specific queries end 2 s after it (robustness 2, 1 s apart).
  gone_within 5 "SIG$signal in test $test"
  ((E2E_FAILED == 0)) || break
done
e2e_finish
