# shellcheck shell=bash
# Helpers for end-to-end scenarios: a lab from lab/lib.sh, the real binary run in its
# host namespace, its whole standard output compared with a golden text, and the
# witness's decoding of what it sent. Source this file from a scenario script:
#
#   . "$(dirname "$0")/lib.sh"
#   e2e_require_lab router
#   e2e_lab_up --no-beacons
#   e2e_witness_start
#   e2e_run_tool $'q\n'
#   e2e_witness_stop
#   e2e_expect_output bare_pass.txt
#
# Exit codes: 0 pass, 1 fail, 77 skipped (a tool the scenario needs is missing).

set -euo pipefail

E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
E2E_REPO=$(cd "$E2E_DIR/../.." && pwd)
E2E_SCENARIO=$(basename "$0" .sh)
# The binary comes from CTest as the first argument; by hand it is the default build's.
E2E_TOOL=${E2E_TOOL:-$E2E_REPO/build/bin/corvanite}
# Seconds the tool may run: a pass has about 28 s of fixed waits.
E2E_TOOL_TIMEOUT=${E2E_TOOL_TIMEOUT:-120}
E2E_FAILED=0

# shellcheck source-path=SCRIPTDIR/../.. source=lab/lib.sh
. "$E2E_REPO/lab/lib.sh"

# Keep each scenario's lab apart from any other lab on the machine, including another
# run of the same scenario from a second build tree.
E2E_LAB=$(printf '%s' "${E2E_SCENARIO//_/-}" | cut -c1-20)-$$
E2E_WORK=$(lab_dir "$E2E_LAB")

e2e_skip() {
  echo "SKIP: $*" >&2
  exit 77
}
e2e_fail() {
  echo "FAIL: $*" >&2
  E2E_FAILED=1
}
e2e_log() { echo "== $*" >&2; }

# e2e_require CMD...: skip when a command is missing.
e2e_require() {
  local c
  for c in "$@"; do
    command -v "$c" >/dev/null 2>&1 || e2e_skip "$c is not installed"
  done
}

# e2e_require_lab [router] [witness] [scapy]: skip unless this machine can build the lab
# (root, namespaces) and has the tools the scenario's parts need.
# shellcheck disable=SC2120 # arguments are optional
e2e_require_lab() {
  [[ $(id -u) -eq 0 ]] || e2e_skip "the lab needs root (network namespaces)"
  e2e_require ip unshare setsid
  local probe="cvl-probe-$$"
  ip netns add "$probe" 2>/dev/null || e2e_skip "cannot create network namespaces here"
  ip netns del "$probe"
  local need
  for need in "$@"; do
    case $need in
      router)
        [[ -x /usr/bin/linux.uml ]] || e2e_skip "user-mode-linux is not installed"
        [[ -x /usr/lib/frr/pimd && -x /usr/lib/frr/zebra ]] || e2e_skip "frr is not installed"
        e2e_require vtysh ping "$LAB_PYTHON"
        ;;
      witness) e2e_require tshark ;;
      scapy)
        "$LAB_PYTHON" -c 'import scapy.all' 2>/dev/null ||
          e2e_skip "python3-scapy is not installed for $LAB_PYTHON"
        ;;
      *)
        echo "e2e_require_lab: unknown need $need" >&2
        exit 1
        ;;
    esac
  done
}

# e2e_require_tool: the binary under test must exist (a missing build is a failure).
e2e_require_tool() {
  if [[ ! -x $E2E_TOOL ]]; then
    echo "FAIL: no tool binary at $E2E_TOOL (build the corvanite target)" >&2
    exit 1
  fi
}

# e2e_lab_up [VARIANT FLAG...]: the scenario's lab; torn down when the script exits.
# shellcheck disable=SC2120 # arguments are optional
e2e_lab_up() {
  lab_up "$E2E_LAB" "$@"
}

# e2e_run_tool STDIN_TEXT: run the binary in the host namespace with STDIN_TEXT as its
# standard input; its standard output goes to $E2E_WORK/tool.out. With no argument its
# standard input is empty (the end-of-input case).
# shellcheck disable=SC2120 # arguments are optional
e2e_run_tool() {
  local rc=0
  _e2e_tool_input "$@"
  e2e_log "running $E2E_TOOL in lab $E2E_LAB"
  timeout -k 5 "$E2E_TOOL_TIMEOUT" "${LAB_EXEC_PREFIX[@]}" "$E2E_TOOL" \
    <"$E2E_WORK/tool.in" >"$E2E_WORK/tool.out" 2>"$E2E_WORK/tool.err" || rc=$?
  _e2e_tool_verdict "$rc"
}

# _e2e_tool_input [STDIN_TEXT]: the tool's standard input file and LAB_EXEC_PREFIX.
_e2e_tool_input() {
  lab_exec_prefix "$E2E_LAB" host
  if [[ $# -gt 0 ]]; then
    printf '%s' "$1" >"$E2E_WORK/tool.in"
  else
    : >"$E2E_WORK/tool.in"
  fi
}

# _e2e_tool_verdict STATUS: what the tool wrote to standard error, and its exit status.
_e2e_tool_verdict() {
  if [[ -s $E2E_WORK/tool.err ]]; then
    e2e_log "tool standard error:"
    cat "$E2E_WORK/tool.err" >&2
  fi
  if [[ $1 -eq 124 || $1 -eq 137 ]]; then
    e2e_fail "the tool did not end within $E2E_TOOL_TIMEOUT s"
  elif [[ $1 -ne 0 ]]; then
    e2e_fail "the tool exited with $1, not 0"
  fi
}

# e2e_expand FILE: a golden text with the lab's constants put in for its @PLACEHOLDERS@.
e2e_expand() {
  sed -e "s/@HOST@/$LAB_HOST_ADDR/g" -e "s/@ROUTER@/$LAB_ROUTER_ADDR/g" \
    -e "s/@SSM_SOURCE@/$LAB_SSM_SOURCE/g" -e "s/@OTHER_SOURCE@/$LAB_OTHER_SOURCE/g" \
    -e "s/@RP@/$LAB_RP_ADDR/g" -e "s/@ASM_GROUP@/$LAB_ASM_GROUP/g" \
    -e "s/@SSM_GROUP@/$LAB_SSM_GROUP/g" "$1"
}

# e2e_expect_output GOLDEN: the tool's whole standard output, byte for byte.
e2e_expect_output() {
  local golden=$E2E_DIR/expected/$1
  e2e_expand "$golden" >"$E2E_WORK/expected.out"
  if cmp -s "$E2E_WORK/expected.out" "$E2E_WORK/tool.out"; then
    e2e_log "output matches $1"
  else
    e2e_fail "output differs from $1 (- expected, + actual; tabs and trailing blanks count):"
    diff -u --label expected --label actual "$E2E_WORK/expected.out" \
      "$E2E_WORK/tool.out" | cat -A >&2 || true
  fi
}

# e2e_witness_start / e2e_witness_stop: capture the host link around the tool's run.
e2e_witness_start() { "$E2E_REPO/lab/witness" start "$E2E_LAB"; }
e2e_witness_stop() {
  "$E2E_REPO/lab/witness" stop "$E2E_LAB"
  if "$E2E_REPO/lab/witness" check "$E2E_LAB" >"$E2E_WORK/witness.txt" \
    2>"$E2E_WORK/witness.err"; then
    e2e_log "witness: every message the host sent has good checksums"
  else
    e2e_fail "witness: bad checksums or an unreadable capture"
    grep -v '^Running as user' "$E2E_WORK/witness.err" >&2 || true
  fi
}

# e2e_witness_saw DESCRIPTION REGEX...: some message line of the witness matches every
# REGEX (extended, each against the same line), e.g.
#   e2e_witness_saw "IGMPv2 leave" "src=$LAB_HOST_ADDR " "igmp_type=0x17 " "group=233\."
e2e_witness_saw() {
  local what=$1 line
  shift
  while IFS= read -r line; do
    if _e2e_line_matches "$line" "$@"; then
      e2e_log "witness saw $what: $line"
      return 0
    fi
  done <"$E2E_WORK/witness.txt"
  e2e_fail "witness did not see $what"
  return 0
}

# _e2e_line_matches LINE REGEX...: LINE matches every REGEX.
_e2e_line_matches() {
  local line=$1 re
  shift
  for re in "$@"; do
    [[ $line =~ $re ]] || return 1
  done
}

# e2e_witness_count REGEX...: how many witness lines match every REGEX.
e2e_witness_count() {
  local line n=0
  while IFS= read -r line; do
    if _e2e_line_matches "$line" "$@"; then n=$((n + 1)); fi
  done <"$E2E_WORK/witness.txt"
  echo "$n"
}

# e2e_tool_messages_seen: the messages every pass of the battery sends whatever the
# network answers (tests 3 to 8), checked field by field on the witness's decoding.
e2e_tool_messages_seen() {
  local h="src=$LAB_HOST_ADDR "
  e2e_witness_saw "IGMPv2 report for $LAB_ASM_GROUP" "$h" "dst=$LAB_ASM_GROUP " \
    "proto=igmp " "igmp_type=0x16 " "group=$LAB_ASM_GROUP( |$)"
  e2e_witness_saw "IGMPv2 leave for $LAB_ASM_GROUP" "$h" "dst=224\.0\.0\.2 " \
    "igmp_type=0x17 " "group=$LAB_ASM_GROUP( |$)"
  # The host's kernel reports the same channel when test 2 joins it, always with a
  # Router Alert option; the tool's reports carry no IP option.
  e2e_witness_saw "IGMPv3 ALLOW for ($LAB_SSM_SOURCE, $LAB_SSM_GROUP)" "$h" \
    "dst=224\.0\.0\.22 " "ra=0 " "igmp_type=0x22 " "records=5:$LAB_SSM_GROUP:$LAB_SSM_SOURCE$"
  e2e_witness_saw "IGMPv3 BLOCK for ($LAB_SSM_SOURCE, $LAB_SSM_GROUP)" "$h" \
    "dst=224\.0\.0\.22 " "ra=0 " "igmp_type=0x22 " "records=6:$LAB_SSM_GROUP:$LAB_SSM_SOURCE$"
  local g
  for g in 224.0.0.2 224.0.0.22 224.0.0.13; do
    e2e_witness_saw "echo request to $g" "$h" "dst=${g//./\\.} " "proto=icmp " \
      "icmp_type=8 " "icmp_code=0 "
  done
  e2e_witness_saw "PIM Hello with holdtime 30, DR priority 0 and a generation ID" "$h" \
    "dst=224\.0\.0\.13 " "proto=pim " "pim_v=2 " "pim_type=0 " "holdtime=30 " \
    "dr_priority=0 " "genid=[0-9]+$"
}

# e2e_run_tool_timed STDIN_TEXT: as e2e_run_tool, and $E2E_WORK/tool.times gets, for each
# output line, the milliseconds since the tool started, a tab, and the line.
e2e_run_tool_timed() {
  local rc=0
  _e2e_tool_input "$@"
  e2e_log "running $E2E_TOOL in lab $E2E_LAB, timing its lines"
  "$LAB_PYTHON" "$E2E_DIR/stamp.py" "$E2E_WORK/tool.out" "$E2E_WORK/tool.times" \
    timeout -k 5 "$E2E_TOOL_TIMEOUT" "${LAB_EXEC_PREFIX[@]}" "$E2E_TOOL" \
    <"$E2E_WORK/tool.in" 2>"$E2E_WORK/tool.err" || rc=$?
  _e2e_tool_verdict "$rc"
}

# e2e_gaps_ms FROM_REGEX TO_REGEX: for every line matching FROM, the milliseconds until the
# next line after it that matches TO; one number per line (several for several passes).
e2e_gaps_ms() {
  awk -v from="$1" -v to="$2" '
    { tab = index($0, "\t"); ms = substr($0, 1, tab - 1); text = substr($0, tab + 1) }
    start != "" && text ~ to { print ms - start; start = "" }
    start == "" && text ~ from { start = ms }' "$E2E_WORK/tool.times"
}

# e2e_expect_gaps DESCRIPTION FROM_REGEX TO_REGEX MIN_MS MAX_MS: every such gap lies
# within [MIN, MAX], and there is at least one. Lines are stamped when the reader gets
# them, and a busy machine can delay that by tens of milliseconds, so scenarios leave
# 50 ms below a fixed wait.
e2e_expect_gaps() {
  local what=$1 gaps gap
  gaps=$(e2e_gaps_ms "$2" "$3")
  [[ -n $gaps ]] || {
    e2e_fail "$what: no such lines in the output"
    return 0
  }
  for gap in $gaps; do
    if ((gap < $4 || gap > $5)); then
      e2e_fail "$what took $gap ms, not within $4..$5 ms"
    else
      e2e_log "$what took $gap ms"
    fi
  done
}

# e2e_finish: the scenario's verdict as its exit status.
e2e_finish() {
  if ((E2E_FAILED)); then
    e2e_log "$E2E_SCENARIO FAILED (lab work folder: $E2E_WORK)"
    exit 1
  fi
  e2e_log "$E2E_SCENARIO passed"
  exit 0
}
