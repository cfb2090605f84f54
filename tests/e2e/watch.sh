#!/usr/bin/env bash
# A watch of the link in the watch lab (--watch: a snooping switch that ages the host's
# memberships in 20 s, the beacons behind it), with one thing going wrong as a real
# link's does, and the cause the watch must name for the outage it makes:
#
#   watch.sh no-querier [4|6]   the switch's queries never reach the host: each stream
#                               stops one membership interval after the host's last
#                               report (no-querier)
#   watch.sh querier-lost       the queries stop reaching the host mid-watch
#                               (querier-lost)
#   watch.sh source-stopped     the ASM beacon's sender is killed mid-watch while the
#                               queries and the SSM channel go on (source-stopped)
#   watch.sh old-version        an IGMPv2 querier appears mid-watch: the SSM channel
#                               stops (old-version-query); the host stays in IGMPv2
#                               mode for a while after, so this one comes last
#   watch.sh healthy [4|6]      queries every 5 s: no outage, exit status 0
#
# Two watches run side by side, one with --json and one printing its timeline, so one
# minute checks both outputs. A capture of the host's link is the witness: each expected
# moment (the last datagram before an outage) comes from its timestamps, and the
# watch's own times are put on its clock by the host's first report (check_watch.py).
# The scenario leaves the lab as it found it (queries through, querier in IGMPv3); a
# beacon it killed is started again by the next one's clean start.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
# shellcheck source=watch_lib.sh
. "$E2E_DIR/watch_lib.sh"

case=${1:?case}
family=${2:-4}
E2E_SCENARIO=watch-$case-$family
e2e_require_lab
e2e_require tcpdump
e2e_require_tool

if ((family == 6)); then
  asm=$LAB_ASM6_GROUP ssm=$LAB_SSM6_GROUP host=$LAB_HOST6_LL fam=(-6)
else
  asm=$LAB_ASM_GROUP ssm=$LAB_SSM_GROUP host=$LAB_HOST_ADDR fam=()
fi
# What goes wrong, when (seconds into the watch), and what the watch must then say.
control=() at=0 outages=() status=1
case $case in
  no-querier)
    duration=35
    outages=("$asm=no-querier" "$ssm=no-querier")
    ;;
  querier-lost)
    duration=45 at=10
    control=(lab_watch_queries "$E2E_LAB" off)
    outages=("$asm=querier-lost" "$ssm=querier-lost")
    ;;
  source-stopped)
    duration=30 at=12
    label=beacon-asm
    ((family == 6)) && label=beacon-asm6
    control=(lab_watch_beacon "$E2E_LAB" "$label" stop)
    outages=("$asm=source-stopped")
    ;;
  old-version)
    # The switch's querier turns IGMPv2: the host falls back to IGMPv2 reports, which
    # name no source, and the SSM channel's server lets it go one membership interval
    # after the last IGMPv3 report. The ASM group goes on.
    duration=50 at=8
    control=(lab_watch_igmp_version "$E2E_LAB" 2)
    outages=("$ssm=old-version-query")
    ;;
  healthy)
    duration=45 status=0
    ;;
  *)
    echo "watch.sh: no case $case" >&2
    exit 2
    ;;
esac

e2e_lab_up --watch
# shellcheck disable=SC2317 # run at exit
_watch_put_back() {
  lab_watch_queries "$E2E_LAB" on
  lab_watch_querier "$E2E_LAB" 1
  lab_watch_igmp_version "$E2E_LAB" 3
}
lab_at_exit _watch_put_back
e2e_watch_clean_start
[[ $case == no-querier ]] && lab_watch_queries "$E2E_LAB" off

cap=$E2E_WORK/watch-$case.pcap
e2e_watch_capture_start "$cap"
args=(--watch "$duration" --interface "$LAB_HOST_IF" ${fam[@]+"${fam[@]}"})
lab_exec_prefix "$E2E_LAB" host
e2e_log "watching for $duration s: $E2E_TOOL ${args[*]}"
limit=$((duration + 30))
timeout -k 5 "$limit" "${LAB_EXEC_PREFIX[@]}" "$E2E_TOOL" "${args[@]}" --json \
  </dev/null >"$E2E_WORK/watch.json" 2>"$E2E_WORK/watch-json.err" &
json_pid=$!
timeout -k 5 "$limit" "${LAB_EXEC_PREFIX[@]}" "$E2E_TOOL" "${args[@]}" \
  </dev/null >"$E2E_WORK/watch.txt" 2>"$E2E_WORK/watch-text.err" &
text_pid=$!
if ((${#control[@]})); then
  # Only the moment of the action is a sleep; what it caused is read off the capture.
  sleep "$at"
  e2e_log "at about $at s: ${control[*]}"
  "${control[@]}"
fi
json_status=0 text_status=0
wait "$json_pid" || json_status=$?
wait "$text_pid" || text_status=$?
e2e_watch_capture_stop "$cap"

checks=(--witness "$cap.jsonl" --json "$E2E_WORK/watch.json" --text "$E2E_WORK/watch.txt"
  --host "$host" --group "$asm" --group "$ssm" --status "$status" --duration "$duration"
  --tool-status "$json_status" --text-status "$text_status")
for o in ${outages[@]+"${outages[@]}"}; do checks+=(--outage "$o"); done
if "$LAB_PYTHON" "$E2E_DIR/check_watch.py" tool "${checks[@]}" >"$E2E_WORK/check.out" \
  2>"$E2E_WORK/check.err"; then
  while read -r line; do e2e_log "ok: $line"; done <"$E2E_WORK/check.out"
else
  while read -r line; do e2e_log "ok: $line"; done <"$E2E_WORK/check.out"
  e2e_fail "the watch ($case, IPv$family): $(cat "$E2E_WORK/check.err")"
  e2e_log "its JSON: $(head -c 3000 "$E2E_WORK/watch.json")"
  e2e_log "its text: $(head -c 3000 "$E2E_WORK/watch.txt")"
fi
for err in json text; do
  [[ -s $E2E_WORK/watch-$err.err ]] &&
    e2e_fail "the $err watch wrote to standard error: $(head -c 1000 "$E2E_WORK/watch-$err.err")"
done
e2e_finish
