# shellcheck shell=bash
# The watch lab's half of the self-check (sourced by lab_selfcheck.sh, which has built
# the lab): without the tool, plain receivers joined through the kernel show what the
# watch scenarios rest on. With the switch's queries kept from the host, each stream
# stops one membership interval after the host's last report; with them, it flows on
# past two intervals. Both families at once; every moment from the capture's timestamps.
# shellcheck source-path=SCRIPTDIR disable=SC2154 # E2E_LAB, E2E_WORK: from lib.sh

# shellcheck source=watch_lib.sh
. "$E2E_DIR/watch_lib.sh"

# watch_phase NAME QUERIES CHECK...: both families' ASM receivers for two membership
# intervals and a bit, queries on or off, then the capture checked.
watch_phase() {
  local name=$1 queries=$2 cap=$E2E_WORK/selfcheck-watch-$1.pcap
  shift 2
  e2e_watch_clean_start
  lab_watch_queries "$E2E_LAB" "$queries"
  e2e_watch_capture_start "$cap"
  local hold=$((LAB_WATCH_MEMBERSHIP_S * 2 + 4)) rx4 rx6
  lab_host_exec "$E2E_LAB" "$LAB_PYTHON" "$E2E_REPO/lab/receive.py" --timeout "$hold" \
    --listen --group "$LAB_ASM_GROUP" --port "$LAB_ASM_PORT" >/dev/null &
  rx4=$!
  lab_host_exec "$E2E_LAB" "$LAB_PYTHON" "$E2E_REPO/lab/receive.py" --timeout "$hold" \
    --listen --iface "$LAB_HOST_IF" --group "$LAB_ASM6_GROUP" --port "$LAB_ASM_PORT" \
    >/dev/null &
  rx6=$!
  wait "$rx4" "$rx6" || true
  e2e_watch_capture_stop "$cap"
  lab_watch_queries "$E2E_LAB" on
  if "$LAB_PYTHON" "$E2E_DIR/check_watch.py" lab --witness "$cap.jsonl" "$@" \
    >"$E2E_WORK/selfcheck-watch-$name.out" 2>&1; then
    while read -r line; do e2e_log "ok: $line"; done <"$E2E_WORK/selfcheck-watch-$name.out"
  else
    e2e_fail "the watch lab, $name: $(cat "$E2E_WORK/selfcheck-watch-$name.out")"
  fi
}

watch_phase quiet off --stops "$LAB_HOST_ADDR,$LAB_ASM_GROUP" \
  --stops "$LAB_HOST6_LL,$LAB_ASM6_GROUP" --membership "$LAB_WATCH_MEMBERSHIP_S"
watch_phase queried on --flows "$LAB_HOST_ADDR,$LAB_ASM_GROUP" \
  --flows "$LAB_HOST6_LL,$LAB_ASM6_GROUP" --membership "$LAB_WATCH_MEMBERSHIP_S" \
  --query-interval "$LAB_WATCH_QUERY_S"
