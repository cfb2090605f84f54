# shellcheck shell=bash
# Helpers of the watch lab's checks (sourced after lib.sh): a packet capture of the
# host's link as the witness, and a clean start for each watch.

# e2e_watch_capture_start FILE: tcpdump on the host's link into FILE (pcap), every IPv4
# IGMP and UDP packet and every IPv6 one (MLD hides behind a hop-by-hop header, which
# tcpdump's icmp6 does not look past). Returns once the capture runs.
e2e_watch_capture_start() {
  local file=$1 log=$1.log i
  rm -f "$file"
  # -U: each packet written as it comes, so a capture ended by TERM keeps them all.
  setsid ip netns exec "$(lab_ns "$E2E_LAB" host)" tcpdump -i "$LAB_HOST_IF" -n -U \
    -w "$file" 'igmp or udp or ip6' >"$log" 2>&1 &
  _e2e_watch_capture_pid=$!
  lab_at_exit _e2e_watch_capture_end
  for ((i = 0; i < 100; i++)); do
    grep -q 'listening on' "$log" 2>/dev/null && return 0
    kill -0 "$_e2e_watch_capture_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "FAIL: the capture did not start: $(cat "$log")" >&2
  exit 1
}

_e2e_watch_capture_end() {
  [[ -n ${_e2e_watch_capture_pid:-} ]] || return 0
  _lab_stop_pid "$_e2e_watch_capture_pid"
  wait "$_e2e_watch_capture_pid" 2>/dev/null || true
  _e2e_watch_capture_pid=
}

# e2e_watch_capture_stop FILE: end the capture and decode it into FILE.jsonl.
e2e_watch_capture_stop() {
  _e2e_watch_capture_end
  "$LAB_PYTHON" "$E2E_DIR/watch_witness.py" "$1" >"$1.jsonl"
}

# e2e_watch_clean_start: the lab as lab_up left it, and no membership of the host left
# in the switch (what an earlier scenario's receivers left ages out in at most one
# membership interval): a watch then begins with the host's own join.
e2e_watch_clean_start() {
  lab_watch_reset "$E2E_LAB"
  local deadline=$((SECONDS + LAB_WATCH_MEMBERSHIP_S + 10))
  while [[ -n $(lab_watch_host_groups "$E2E_LAB") ]]; do
    if ((SECONDS > deadline)); then
      echo "FAIL: the switch still forwards to the host: $(lab_watch_host_groups "$E2E_LAB")" >&2
      exit 1
    fi
    sleep 0.5
  done
}
