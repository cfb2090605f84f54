#!/usr/bin/env bash
# Benchmarks of the tool in the lab (lab/lib.sh), one pass each:
#   bare        a link where nothing answers: every wait runs to its end
#   full        the full lab: router, PIM, IGMP, beacons
#   bare-flood  the bare link carrying BENCH_RATE frames/s of unrelated traffic
#               (flood_unrelated.py), with tcpdump capturing the same link with the
#               filter 'ip proto 2 or ip proto 103' in the same run
#   bare-lookalike  the same with BENCH_RATE frames/s that a naive filter passes: IGMP
#               queries for other groups, PIM Join/Prunes, echo replies with other
#               identifiers (flood_lookalike.py --kind lookalike)
#   bare-hellos the same with PIM Hellos from BENCH_RATE new source addresses a second
#               (flood_lookalike.py --kind hellos)
#   bare-beacon-senders  the bare link carrying BENCH_SENDER_RATE datagrams/s (default
#               100000) to the ASM beacon's group and port, each from a new forged
#               source (flood_lookalike.py --kind beacon-senders), next to tcpdump
#               capturing those datagrams; a second pass with --json measures the
#               JSON line (its RSS from wait4, wrappers included)
#   bare-v6     a -6 pass on the IPv6 bare link (--ipv6-bare)
#   bare-flood-v6  that link carrying BENCH_RATE frames/s of unrelated IPv6 traffic
#               (flood_unrelated.py --ipv6: MLDv2 reports, PIMv6 Join/Prunes, ICMPv6
#               errors, UDP), next to tcpdump capturing MLD and PIMv6
# Each flood case prints the tool's CPU over tcpdump's in the same pass.
# pass_timer.py times every pass from outside the tool. Prints a table and, with
# BENCH_JSON=FILE, writes every run's figures to FILE.
#
#   BENCH_TOOL  the binary (default build-bench/bin/corvanite: configure it as a
#               release build; a sanitizer build measures the sanitizers)
#   BENCH_RUNS  passes per case (default 1)
#   BENCH_RATE  background frames per second (default 50000)
#   BENCH_CASES the cases to run (default "bare full bare-flood bare-lookalike
#               bare-hellos bare-v6 bare-flood-v6")
# Exit codes: 0 done, 1 a run failed, 77 a tool it needs is missing.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=lab/lib.sh source-path=SCRIPTDIR/..
. "$repo/lab/lib.sh"
tool=${BENCH_TOOL:-$repo/build-bench/bin/corvanite}
runs=${BENCH_RUNS:-1}
rate=${BENCH_RATE:-50000}
sender_rate=${BENCH_SENDER_RATE:-100000}
cases=${BENCH_CASES:-bare full bare-flood bare-lookalike bare-hellos bare-v6 bare-flood-v6}
# The tool's options for the case under way: -6 for the IPv6 cases.
tool_args=()
json=${BENCH_JSON:-}

skip() {
  echo "bench: SKIP: $*" >&2
  exit 77
}
[[ $(id -u) -eq 0 ]] || skip "the lab needs root"
[[ -x $tool ]] || {
  echo "bench: no tool binary at $tool" >&2
  exit 1
}
"$LAB_PYTHON" -c 'import scapy.all' 2>/dev/null || skip "python3-scapy is missing"
command -v tcpdump >/dev/null || skip "tcpdump is missing"
if [[ " $cases " == *" full "* ]] && ! [[ -x /usr/bin/linux.uml && -x /usr/lib/frr/pimd ]]; then
  skip "user-mode-linux and frr are needed for the full lab"
fi

results=$(mktemp)
lab_at_exit rm -f "$results"

# one_pass LAB CASE [--watch PID]: one timed pass in LAB's host namespace.
one_pass() {
  local name=$1 label=$2
  shift 2
  lab_exec_prefix "$name" host
  local figures
  # The last hop closes pass_timer.py's start mark (fd 9) as it execs the tool.
  # shellcheck disable=SC2016 # expanded by that shell
  figures=$("$LAB_PYTHON" "$repo/bench/pass_timer.py" "$@" -- "${LAB_EXEC_PREFIX[@]}" \
    /bin/sh -c 'exec "$0" "$@" 9>&-' "$tool" "${tool_args[@]}")
  printf '{"case": "%s", "figures": %s}\n' "$label" "$figures" >>"$results"
  echo "bench: $label pass done" >&2
}

# json_pass LAB CASE: one pass with --json in LAB's host namespace. It ends on its
# own, without a prompt; exit status 1 (a test failed) is a clean end there.
json_pass() {
  local name=$1 label=$2 figures
  lab_exec_prefix "$name" host
  # shellcheck disable=SC2016 # expanded by that shell
  figures=$("$LAB_PYTHON" "$repo/bench/pass_timer.py" -- "${LAB_EXEC_PREFIX[@]}" \
    /bin/sh -c 'exec "$0" "$@" 9>&-' "$tool" "${tool_args[@]}" --json)
  printf '{"case": "%s", "scripted": true, "figures": %s}\n' "$label" "$figures" >>"$results"
  echo "bench: $label pass done" >&2
}

# bench_bare [CASE VARIANT]: passes on a bare link (default: bare, --bare).
bench_bare() {
  local label=${1:-bare} variant=${2:---bare} name=bench-bare-$$ i
  lab_up "$name" "$variant"
  for ((i = 0; i < runs; i++)); do one_pass "$name" "$label"; done
  lab_down "$name"
}

bench_full() {
  local name=bench-full-$$ i
  lab_up "$name"
  for ((i = 0; i < runs; i++)); do one_pass "$name" full; done
  lab_down "$name"
}

# wait_for_line FILE REGEX SECONDS WHAT: lab_wait_for_line, saying that WHAT did not
# start when it fails.
wait_for_line() {
  lab_wait_for_line "$1" "$2" "$3" || {
    echo "bench: $4 did not start" >&2
    return 1
  }
}

# bench_bare_flood CASE SCRIPT [ARG...]: the bare link under SCRIPT's flood, next to
# tcpdump; with --ipv6 among the ARGs, the IPv6 bare link and a -6 pass. FLOOD_RATE
# overrides BENCH_RATE, FLOOD_FILTER tcpdump's filter, and FLOOD_JSON_PASS=1 adds a
# pass with --json after each timed one.
bench_bare_flood() {
  local label=$1 script=$2 name=bench-flood-$$ hns mac i capture variant=--bare
  local filter=${FLOOD_FILTER:-'ip proto 2 or ip proto 103'}
  shift 2
  if [[ " $* " == *" --ipv6 "* ]]; then
    variant=--ipv6-bare filter='ip6 protochain 58 or ip6 protochain 103'
  fi
  lab_up "$name" "$variant"
  hns=$(lab_ns "$name" host)
  mac=$(ip -n "$hns" -br link show "$LAB_HOST_IF" | awk '{ print $3 }')
  lab_spawn "$name" router background "$LAB_PYTHON" "$repo/bench/$script" \
    --iface r0 --host-mac "$mac" --rate "${FLOOD_RATE:-$rate}" "$@"
  wait_for_line "$(lab_dir "$name")/background.log" 'distinct frames' 60 \
    "the background traffic" || return 1
  for ((i = 0; i < runs; i++)); do
    # ip netns exec execs tcpdump, so $! is tcpdump itself.
    ip netns exec "$hns" tcpdump -i "$LAB_HOST_IF" -n -w /dev/null \
      "$filter" 2>"$(lab_dir "$name")/tcpdump.log" &
    capture=$!
    wait_for_line "$(lab_dir "$name")/tcpdump.log" 'listening on' 10 tcpdump || return 1
    one_pass "$name" "$label" --watch "$capture"
    kill -INT "$capture"
    wait "$capture" || true
    grep -E 'captured|dropped by kernel' "$(lab_dir "$name")/tcpdump.log" | sed 's/^/bench: tcpdump: /' >&2
    [[ ${FLOOD_JSON_PASS:-0} == 1 ]] && json_pass "$name" "$label-json"
  done
  lab_stop "$name" background
  sed 's/^/bench: /' "$(lab_dir "$name")/background.log" >&2
  lab_down "$name"
}

for c in $cases; do
  case $c in
    bare) bench_bare ;;
    full) bench_full ;;
    bare-flood) bench_bare_flood bare-flood flood_unrelated.py ;;
    bare-lookalike) bench_bare_flood bare-lookalike flood_lookalike.py --kind lookalike ;;
    bare-hellos) bench_bare_flood bare-hellos flood_lookalike.py --kind hellos ;;
    bare-beacon-senders)
      FLOOD_RATE=$sender_rate FLOOD_JSON_PASS=1 \
        FLOOD_FILTER="udp and dst host $LAB_ASM_GROUP and dst port $LAB_ASM_PORT" \
        bench_bare_flood bare-beacon-senders flood_lookalike.py --kind beacon-senders
      ;;
    bare-v6)
      tool_args=(-6)
      bench_bare bare-v6 --ipv6-bare
      tool_args=()
      ;;
    bare-flood-v6)
      tool_args=(-6)
      bench_bare_flood bare-flood-v6 flood_unrelated.py --ipv6
      tool_args=()
      ;;
    *)
      echo "bench: unknown case $c" >&2
      exit 1
      ;;
  esac
done

[[ -z $json ]] || cp "$results" "$json"
"$LAB_PYTHON" "$repo/bench/summary.py" "$results"
