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
#   e2e_finish
#
# Every run of the tool ends in one verdict (e2e_tool_verdict): exit status 0 and an
# empty standard error, unless the scenario said why not (e2e_allow_stderr).
# With E2E_UPDATE_GOLDEN=1, e2e_expect_output writes the tool's output back to the
# golden file, the lab's constants turned back into their @PLACEHOLDERS@, and the
# scenario fails so that nobody mistakes an update for a pass.
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
E2E_STDERR_WHY=

# shellcheck source-path=SCRIPTDIR/../.. source=lab/lib.sh
. "$E2E_REPO/lab/lib.sh"

# Keep each scenario's lab apart from any other lab on the machine, including another
# run of the same scenario from a second build tree. Under tests/e2e/group.sh the
# scenario runs in the group's lab instead (E2E_SHARED_LAB, built with the flags
# E2E_SHARED_FLAGS), one scenario after another.
E2E_SHARED_LAB=${E2E_SHARED_LAB:-}
if [[ -n $E2E_SHARED_LAB ]]; then
  E2E_LAB=$E2E_SHARED_LAB
else
  E2E_LAB=$(printf '%s' "${E2E_SCENARIO//_/-}" | cut -c1-20)-$$
fi
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

# e2e_require_lab [router] [router6] [witness] [scapy]: skip unless this machine can build
# the lab (root, namespaces) and has the tools the scenario's parts need (router6: the
# pim6d that lab/install-deps builds, for the IPv6 variants).
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
      router6)
        lab_pim6d_prefix >/dev/null 2>&1 ||
          e2e_skip "pim6d is not built (lab/install-deps builds it)"
        # pim6d runs as the packaged frr's user.
        getent passwd frr >/dev/null || e2e_skip "frr is not installed (no user frr)"
        e2e_require ping "$LAB_PYTHON"
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
# In a group's lab, the flags must be the ones the group built it with (a scenario
# never runs in a lab other than its own), and what the scenario spawned there
# (lab_spawn) ends with the scenario, not with the lab.
# shellcheck disable=SC2120 # arguments are optional
e2e_lab_up() {
  if [[ -z $E2E_SHARED_LAB ]]; then
    lab_up "$E2E_LAB" "$@"
    return
  fi
  if [[ "$*" != "${E2E_SHARED_FLAGS:-}" ]]; then
    echo "FAIL: $E2E_SCENARIO wants a lab '$*', the group's is '${E2E_SHARED_FLAGS:-}'" >&2
    exit 1
  fi
  [[ -d $E2E_WORK/pids ]] || {
    echo "FAIL: the group's lab $E2E_LAB is not up" >&2
    exit 1
  }
  local f
  _e2e_shared_pids=()
  for f in "$E2E_WORK"/pids/*.pid; do
    [[ -f $f ]] && _e2e_shared_pids+=("$f")
  done
  lab_at_exit _e2e_release_spawned
  e2e_log "$E2E_SCENARIO in the group's lab $E2E_LAB (${*:-full})"
}

# e2e_lab_down_checked: tear the scenario's lab down and check that it left nothing
# behind: no namespace, hosts file, work folder or process of its own.
e2e_lab_down_checked() {
  local pids left p r router router6
  router=$(lab_variant "$E2E_LAB" router)
  router6=$(lab_variant "$E2E_LAB" router6)
  pids=$(for r in host router source side switch querier; do
    ip netns pids "$(lab_ns "$E2E_LAB" "$r")" 2>/dev/null || true
  done)
  lab_down "$E2E_LAB"
  left=$(ls -d /run/netns/cvl-"$E2E_LAB"-* 2>/dev/null || true)
  [[ -z $left ]] || e2e_fail "namespaces left after teardown: $left"
  [[ ! -e /etc/netns/$(lab_ns "$E2E_LAB" host) ]] || e2e_fail "hosts file left after teardown"
  [[ ! -e $E2E_WORK ]] || e2e_fail "work folder left after teardown"
  for p in $pids; do
    kill -0 "$p" 2>/dev/null &&
      e2e_fail "process $p ($(cat "/proc/$p/comm" 2>/dev/null)) outlived the lab"
  done
  [[ -n $pids ]] || ((!router && !router6)) || e2e_fail "no lab process was running before teardown"
  e2e_log "teardown checked: $(wc -w <<<"$pids") processes ended, no namespace or file left"
}

# _e2e_release_spawned: end the processes this scenario spawned in a group's lab.
_e2e_release_spawned() {
  local f
  for f in "$E2E_WORK"/pids/*.pid; do
    [[ -f $f && " ${_e2e_shared_pids[*]} " != *" $f "* ]] || continue
    _lab_stop_pid "$(<"$f")"
    rm -f "$f"
  done
}
_e2e_shared_pids=()

# Arguments the tool gets in the next runs (none: the interactive battery), and the exit
# status those runs must end with.
E2E_TOOL_ARGS=()
E2E_EXPECT_STATUS=0
E2E_TOOL_STATUS=0 # the last run's

# e2e_run_tool [--timed] [--under ARRAY] [STDIN_TEXT]: run the binary in the host
# namespace, the words of the array variable ARRAY (a wrapper such as setpriv ...,
# which may hold a "--" of its own) right before it, with STDIN_TEXT as its standard
# input (none: an empty one, the end-of-input case); at most E2E_TOOL_TIMEOUT s. Its
# output goes to $E2E_WORK/tool.out, its standard error to tool.err, and the run ends
# in e2e_tool_verdict. --timed: tool.times gets, for each output line, the wall-clock
# time the reader got it (seconds since the epoch), a tab, and the line.
# shellcheck disable=SC2120 # arguments are optional
e2e_run_tool() {
  local rc=0 timed=0 under=()
  if [[ ${1:-} == --timed ]]; then
    timed=1
    shift
  fi
  if [[ ${1:-} == --under ]]; then
    local -n _e2e_under=$2
    under=("${_e2e_under[@]}")
    shift 2
  fi
  lab_exec_prefix "$E2E_LAB" host
  if [[ $# -gt 0 ]]; then
    printf '%s' "$1" >"$E2E_WORK/tool.in"
  else
    : >"$E2E_WORK/tool.in"
  fi
  e2e_log "running $E2E_TOOL in lab $E2E_LAB${under[0]:+ under ${under[*]}}"
  date +%s.%N >"$E2E_WORK/tool.started"
  local run=(timeout -k 5 "$E2E_TOOL_TIMEOUT" "${LAB_EXEC_PREFIX[@]}" "${under[@]}" "$E2E_TOOL"
    ${E2E_TOOL_ARGS[@]+"${E2E_TOOL_ARGS[@]}"})
  if ((timed)); then
    "$LAB_PYTHON" "$E2E_DIR/stamp.py" "$E2E_WORK/tool.out" "$E2E_WORK/tool.times" \
      "${run[@]}" <"$E2E_WORK/tool.in" 2>"$E2E_WORK/tool.err" || rc=$?
  else
    "${run[@]}" <"$E2E_WORK/tool.in" >"$E2E_WORK/tool.out" 2>"$E2E_WORK/tool.err" || rc=$?
  fi
  E2E_TOOL_STATUS=$rc
  e2e_tool_verdict "$rc"
}

# e2e_run_tool_shared [STDIN_TEXT]: e2e_run_tool, but in a group's lab a pass of the
# same arguments and input that an earlier scenario of the group ran (through this
# function too) is read back instead of run again: scenarios that check different
# outputs of one pass of the unchanged lab share that pass. The verdict on its status
# and standard error is given again here. Alone, or first in its group, a scenario runs
# the pass itself. Only for a pass in the lab as the group built it: a scenario that
# changes the lab calls e2e_run_tool.
# shellcheck disable=SC2120 # arguments are optional
e2e_run_tool_shared() {
  if [[ -z $E2E_SHARED_LAB ]]; then
    e2e_run_tool "$@"
    return
  fi
  local key saved
  key=$(printf '%q ' ${E2E_TOOL_ARGS[@]+"${E2E_TOOL_ARGS[@]}"} "stdin=${1-}" | md5sum)
  saved=$E2E_WORK/shared-pass-${key%% *}
  if [[ -f $saved/status ]]; then
    e2e_log "the pass ${E2E_TOOL_ARGS[*]} that $(<"$saved/by") ran in this lab, read back"
    cp "$saved/tool.out" "$saved/tool.err" "$E2E_WORK/"
    e2e_tool_verdict "$(<"$saved/status")"
    return
  fi
  e2e_run_tool "$@"
  mkdir -p "$saved"
  cp "$E2E_WORK/tool.out" "$E2E_WORK/tool.err" "$saved/"
  echo "$E2E_SCENARIO" >"$saved/by"
  echo "$E2E_TOOL_STATUS" >"$saved/status"
}

# e2e_allow_stderr WHY: the tool's next runs may write to standard error, for the
# reason WHY (e.g. a sanitizer's report is what the scenario looks for).
e2e_allow_stderr() { E2E_STDERR_WHY=$1; }

# e2e_tool_verdict STATUS: the one verdict on a run of the tool: it ended by itself
# (not killed at its time limit), with status E2E_EXPECT_STATUS (0 unless a scenario
# says otherwise), and wrote nothing to standard error.
e2e_tool_verdict() {
  if [[ $1 -eq 124 || $1 -eq 137 ]]; then
    e2e_fail "the tool did not end within its time limit"
  elif [[ $1 -ne $E2E_EXPECT_STATUS ]]; then
    e2e_fail "the tool exited with $1, not $E2E_EXPECT_STATUS"
  fi
  e2e_stderr_verdict
}

# e2e_stderr_verdict: the tool's standard error is empty, or the scenario said why not.
e2e_stderr_verdict() {
  if [[ -s $E2E_WORK/tool.err ]]; then
    if [[ -n $E2E_STDERR_WHY ]]; then
      e2e_log "tool standard error ($E2E_STDERR_WHY):"
    else
      e2e_fail "the tool wrote to standard error:"
    fi
    head -n 60 "$E2E_WORK/tool.err" >&2
  fi
}

# The golden texts' @PLACEHOLDERS@ and the lab's constants they stand for.
E2E_PLACEHOLDERS=(HOST=HOST_ADDR ROUTER=ROUTER_ADDR SSM_SOURCE=SSM_SOURCE
  OTHER_SOURCE=OTHER_SOURCE RP=RP_ADDR ASM_GROUP=ASM_GROUP SSM_GROUP=SSM_GROUP
  ASM_PORT=ASM_PORT SSM_PORT=SSM_PORT SIDE=SIDE_ADDR OWN_SOURCE=OWN_SOURCE
  OWN_ASM_GROUP=OWN_ASM_GROUP OWN_ASM_PORT=OWN_ASM_PORT OWN_SSM_GROUP=OWN_SSM_GROUP
  OWN_SSM_PORT=OWN_SSM_PORT HOST6=HOST6_ADDR HOST6_LL=HOST6_LL ROUTER6=ROUTER6_ADDR
  ROUTER6_LL=ROUTER6_LL SSM6_SOURCE=SSM6_SOURCE ASM6_GROUP=ASM6_GROUP SSM6_GROUP=SSM6_GROUP
  SWITCH=SWITCH_ADDR SWITCH6_LL=SWITCH6_LL SWITCH6=SWITCH6_ADDR)

# e2e_expand FILE: a golden text with the lab's constants put in for its @PLACEHOLDERS@.
e2e_expand() {
  local args=() pair var
  for pair in "${E2E_PLACEHOLDERS[@]}"; do
    var=LAB_${pair#*=}
    args+=(-e "s/@${pair%%=*}@/${!var}/g")
  done
  sed "${args[@]}" "$1"
}

# e2e_unexpand: standard input with the lab's constants turned back into placeholders;
# a constant counts only as a whole address or number (not inside a longer one: an IPv6
# address ends where no hex digit or colon follows).
e2e_unexpand() {
  local args=() pair var value
  for pair in "${E2E_PLACEHOLDERS[@]}"; do
    var=LAB_${pair#*=}
    value=${!var//./\\.}
    if [[ $value == *:* ]]; then
      args+=(-e "s/(^|[^0-9a-fA-F:])${value}([^0-9a-fA-F:]|$)/\\1@${pair%%=*}@\\2/g")
    else
      args+=(-e "s/(^|[^0-9.])${value}([^0-9]|\\.[^0-9]|\\.?$)/\\1@${pair%%=*}@\\2/g")
    fi
  done
  # Twice: two constants side by side share the character between them.
  sed -E "${args[@]}" | sed -E "${args[@]}"
}

# e2e_expect_output GOLDEN: the tool's whole standard output, byte for byte.
e2e_expect_output() {
  local golden=$E2E_DIR/expected/$1
  if [[ ${E2E_UPDATE_GOLDEN:-0} == 1 ]]; then
    e2e_unexpand <"$E2E_WORK/tool.out" >"$golden"
    e2e_expand "$golden" | cmp -s - "$E2E_WORK/tool.out" ||
      e2e_fail "$1: the output does not survive the placeholders both ways"
    e2e_fail "updated $1 (E2E_UPDATE_GOLDEN=1); review the change and run again"
    return 0
  fi
  e2e_expand "$golden" >"$E2E_WORK/expected.out"
  if cmp -s "$E2E_WORK/expected.out" "$E2E_WORK/tool.out"; then
    e2e_log "output matches $1"
  else
    e2e_fail "output differs from $1 (- expected, + actual; tabs and trailing blanks count):"
    diff -u --label expected --label actual "$E2E_WORK/expected.out" \
      "$E2E_WORK/tool.out" | cat -A >&2 || true
  fi
}

# e2e_expect_output_file FILE: the same against a text made from a golden file (e.g. a
# pass without its prompt), placeholders and all; never updated.
e2e_expect_output_file() {
  e2e_expand "$1" >"$E2E_WORK/expected.out"
  if cmp -s "$E2E_WORK/expected.out" "$E2E_WORK/tool.out"; then
    e2e_log "output matches $(basename "$1")"
  else
    e2e_fail "output differs from $(basename "$1") (- expected, + actual):"
    diff -u --label expected --label actual "$E2E_WORK/expected.out" \
      "$E2E_WORK/tool.out" | cat -A >&2 || true
  fi
}

# e2e_witness_start [IF] / e2e_witness_stop [IF]: capture the host link (or the host's
# interface IF) around the tool's run; stopping decodes the capture into the text that
# the witness checks below read (e2e_witness_use picks which).
# shellcheck disable=SC2120 # arguments are optional
e2e_witness_start() { "$E2E_REPO/lab/witness" start "$E2E_LAB" "$@"; }
# shellcheck disable=SC2120 # arguments are optional
e2e_witness_stop() {
  "$E2E_REPO/lab/witness" stop "$E2E_LAB" "$@" || e2e_fail "witness${1:+ on $1}: not drained"
  e2e_witness_use "$@"
  if "$E2E_REPO/lab/witness" check "$E2E_LAB" "$@" >"$E2E_WITNESS" \
    2>"$E2E_WORK/witness.err"; then
    e2e_log "witness${1:+ on $1}: every message the host sent has good checksums"
  else
    e2e_fail "witness${1:+ on $1}: bad checksums or an unreadable capture"
    grep -v '^Running as user' "$E2E_WORK/witness.err" >&2 || true
  fi
}

# e2e_witness_use [IF]: the witness checks read the capture of the host link (or of IF).
# shellcheck disable=SC2120 # arguments are optional
e2e_witness_use() {
  E2E_WITNESS=$E2E_WORK/witness${1:+-$1}.txt
}
E2E_WITNESS=

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
  done <"$E2E_WITNESS"
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
  done <"$E2E_WITNESS"
  echo "$n"
}

# e2e_witness_count_since_tool REGEX...: e2e_witness_count of the messages captured
# since the tool's last run began. The lab's readiness check joins and leaves groups on
# the host link just before, and the host's kernel repeats those reports for up to a
# second (IGMPv3's and MLDv2's robustness); they are no message of the tool's.
e2e_witness_count_since_tool() {
  local since line at n=0
  since=$(<"$E2E_WORK/tool.started")
  while IFS= read -r line; do
    [[ $line =~ \ at=([0-9.]+)\  ]] || continue
    at=${BASH_REMATCH[1]}
    awk -v a="$at" -v s="$since" 'BEGIN { exit !(a >= s) }' || continue
    if _e2e_line_matches "$line" "$@"; then n=$((n + 1)); fi
  done <"$E2E_WITNESS"
  echo "$n"
}

# e2e_witness_values FIELD REGEX...: the value of FIELD (e.g. genid) in every witness
# line that matches every REGEX, one a line, in capture order.
e2e_witness_values() {
  local field=$1 line
  shift
  while IFS= read -r line; do
    _e2e_line_matches "$line" "$@" || continue
    [[ $line =~ (^| )$field=([^ ]*) ]] && printf '%s\n' "${BASH_REMATCH[2]}"
  done <"$E2E_WITNESS"
}

# e2e_witness_ipv6_rules WHAT [ADDRESS...]: every MLD message (ICMPv6 types 130, 131,
# 132, 143) and PIM message that the host sent from ADDRESS (default: its link-local
# and global lab addresses) obeys the rules for the link: a link-local source, hop
# limit 1, a good checksum by tshark's verdict, and for MLD a Router Alert option of
# value 0 (RFC 2710 3, RFC 3810 5, RFC 7761 4.9). Fails naming each message that does
# not, and when the host sent none at all.
e2e_witness_ipv6_rules() {
  local what=$1 line n=0 bad=0 addr from=()
  shift
  if [[ $# -gt 0 ]]; then from=("$@"); else from=("$LAB_HOST6_LL" "$LAB_HOST6_ADDR"); fi
  while IFS= read -r line; do
    [[ $line =~ \ src=([^ ]+)\  ]] || continue
    addr=${BASH_REMATCH[1]}
    [[ " ${from[*]} " == *" $addr "* ]] || continue
    if [[ $line == *" proto=pim "* ]] ||
      [[ $line =~ \ icmpv6_type=(130|131|132|143)\  ]]; then
      n=$((n + 1))
      local why=""
      [[ $addr == fe80:* ]] || why+=" source not link-local;"
      [[ $line == *" hlim=1 "* ]] || why+=" hop limit not 1;"
      [[ $line == *" cksum=good "* ]] || why+=" checksum not good;"
      if [[ $line == *" proto=icmpv6 "* && $line != *" ra=1 ra_value=0 "* ]]; then
        why+=" no Router Alert of value 0;"
      fi
      if [[ -n $why ]]; then
        e2e_fail "$what:$why $line"
        bad=$((bad + 1))
      fi
    fi
  done <"$E2E_WITNESS"
  if ((n == 0)); then
    e2e_fail "$what: the host sent no MLD or PIM message over IPv6"
  elif ((bad == 0)); then
    e2e_log "$what: the host's $n MLD and PIM messages keep to the link's rules"
  fi
  return 0
}

# e2e_tool_messages_seen [ADDRESS]: the messages every pass of the battery sends whatever
# the network answers (tests 3 to 8), checked field by field on the witness's decoding,
# each from the host's lab address (or ADDRESS).
# shellcheck disable=SC2120 # arguments are optional
e2e_tool_messages_seen() {
  local h="src=${1:-$LAB_HOST_ADDR} "
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

# e2e_expect_interval WHAT MIN_MS MAX_MS FROM TO: time between two marks, in ms, for
# every FROM in turn (several for several passes), and there is at least one. A mark
# is a witness message, an extended regex on its line, taken at the kernel's time stamp
# of the capture (the messages the tool sends between its waits are their ends); or
# "line:REGEX", the tool's output line matching REGEX as the reader of a --timed run
# got it (late on a busy machine, never early: where it ends an interval, the lower
# bound still holds, and MAX must allow for it). Each FROM pairs with the first TO
# after it; the next FROM is looked for after that TO.
e2e_expect_interval() {
  local what=$1 min=$2 max=$3 gaps gap
  # The regexes go through the environment: awk -v would eat their backslashes.
  gaps=$(_e2e_marks | sort -n -k1,1 -s | FROM=$4 TO=$5 awk -F'\t' '
    BEGIN { from = ENVIRON["FROM"]; to = ENVIRON["TO"] }
    function is(mark, re) {
      if (substr(re, 1, 5) == "line:") return $2 == "line" && $3 ~ substr(re, 6)
      return $2 == "msg" && $3 ~ re
    }
    start != "" && is($0, to) { printf "%.0f\n", ($1 - start) * 1000; start = ""; next }
    start == "" && is($0, from) { start = $1 }')
  [[ -n $gaps ]] || {
    e2e_fail "$what: no such marks in the capture and output"
    return 0
  }
  for gap in $gaps; do
    if ((gap < min || gap > max)); then
      e2e_fail "$what took $gap ms, not within $min..$max ms"
    else
      e2e_log "$what took $gap ms"
    fi
  done
}

# e2e_mark NAME: the witness regex of one message the battery sends, for
# e2e_expect_interval. The tool's own messages leave as it sends them; the host
# kernel's membership reports (join-asm, leave-asm, join-ssm) go out from a timer a
# jiffy or so after the join or leave, so an interval they start may look a few ms short.
e2e_mark() {
  local h="src=${LAB_HOST_ADDR//./\\.} " asm=${LAB_ASM_GROUP//./\\.}
  local ssm="${LAB_SSM_GROUP//./\\.}:${LAB_SSM_SOURCE//./\\.}"
  local h6="src=$LAB_HOST6_LL " asm6=$LAB_ASM6_GROUP ssm6="$LAB_SSM6_GROUP/$LAB_SSM6_SOURCE"
  case $1 in
    echo-2) echo "${h}dst=224\\.0\\.0\\.2 .* proto=icmp .* icmp_type=8 " ;;
    echo-22) echo "${h}dst=224\\.0\\.0\\.22 .* proto=icmp .* icmp_type=8 " ;;
    echo-13) echo "${h}dst=224\\.0\\.0\\.13 .* proto=icmp .* icmp_type=8 " ;;
    v2-report) echo "${h}dst=$asm .* ra=0 proto=igmp .* igmp_type=0x16 group=$asm( |$)" ;;
    v2-leave) echo "${h}dst=224\\.0\\.0\\.2 .* ra=0 proto=igmp .* igmp_type=0x17 group=$asm( |$)" ;;
    allow) echo "${h}dst=224\\.0\\.0\\.22 .* ra=0 proto=igmp .* records=5:$ssm$" ;;
    block) echo "${h}dst=224\\.0\\.0\\.22 .* ra=0 proto=igmp .* records=6:$ssm$" ;;
    hello) echo "${h}dst=224\\.0\\.0\\.13 .* proto=pim .* pim_type=0 " ;;
    join-asm) echo "${h}dst=224\\.0\\.0\\.22 .* ra=1 proto=igmp .* records=4:$asm:$" ;;
    leave-asm) echo "${h}dst=224\\.0\\.0\\.22 .* ra=1 proto=igmp .* records=3:$asm:$" ;;
    # The IPv6 battery's messages, from the host's link-local address.
    echo6-2) echo "${h6}dst=ff02::2 .* proto=icmpv6 .* icmpv6_type=128 " ;;
    echo6-16) echo "${h6}dst=ff02::16 .* proto=icmpv6 .* icmpv6_type=128 " ;;
    echo6-d) echo "${h6}dst=ff02::d .* proto=icmpv6 .* icmpv6_type=128 " ;;
    v1-report6) echo "${h6}dst=$asm6 .* icmpv6_type=131 .* group=$asm6$" ;;
    v1-done6) echo "${h6}dst=ff02::2 .* icmpv6_type=132 .* group=$asm6$" ;;
    allow6) echo "${h6}dst=ff02::16 .* icmpv6_type=143 .* records=5/$ssm6$" ;;
    block6) echo "${h6}dst=ff02::16 .* icmpv6_type=143 .* records=6/$ssm6$" ;;
    hello6) echo "${h6}dst=ff02::d .* proto=pim .* pim_type=0 " ;;
    *)
      echo "e2e_mark: unknown mark $1" >&2
      return 1
      ;;
  esac
}

# _e2e_marks: TIME<tab>msg|line<tab>TEXT for every witness message and timed output line.
_e2e_marks() {
  if [[ -f $E2E_WITNESS ]]; then
    sed -nE 's/^t=[^ ]* at=([0-9.]+) (.*)$/\1\tmsg\t\2/p' "$E2E_WITNESS"
  fi
  if [[ -f $E2E_WORK/tool.times ]]; then
    sed -E 's/^([0-9.]+)\t/\1\tline\t/' "$E2E_WORK/tool.times"
  fi
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

# e2e_expect_metrics_file FILE: the tool's metrics file is there, readable by everyone
# (mode 0644), and promtool check metrics finds nothing to say about it.
e2e_expect_metrics_file() {
  local file=$1 report
  if [[ ! -f $file ]]; then
    e2e_fail "no metrics file $file"
    return 0
  fi
  [[ $(stat -c '%a' "$file") == 644 ]] || e2e_fail "$file has mode $(stat -c '%a' "$file"), not 644"
  if report=$(promtool check metrics <"$file" 2>&1) && [[ -z $report ]]; then
    e2e_log "promtool check metrics: $(basename "$file") ($(stat -c %s "$file") bytes) is clean"
  else
    e2e_fail "promtool check metrics on $(basename "$file"): $report"
  fi
}

# e2e_metrics_pass GOLDEN STATUS: one more pass of the lab's battery, --once with
# --prometheus on the lab's host interface: it prints GOLDEN's text without the prompt,
# exits with STATUS, and writes a metrics file that e2e_expect_metrics_file accepts.
e2e_metrics_pass() {
  local golden=$1 file=$E2E_WORK/metrics/corvanite-$LAB_HOST_IF.prom
  local args=(${E2E_TOOL_ARGS[@]+"${E2E_TOOL_ARGS[@]}"}) status=$E2E_EXPECT_STATUS
  mkdir -p "$E2E_WORK/metrics"
  E2E_TOOL_ARGS=(-i "$LAB_HOST_IF" --once --prometheus "$file")
  E2E_EXPECT_STATUS=$2
  e2e_run_tool
  head -n -2 "$E2E_DIR/expected/$golden" >"$E2E_WORK/once.txt"
  e2e_expect_output_file "$E2E_WORK/once.txt"
  e2e_expect_metrics_file "$file"
  E2E_TOOL_ARGS=(${args[@]+"${args[@]}"})
  E2E_EXPECT_STATUS=$status
}

# e2e_diagnosis_runs [--shared-json] [ARG...]: two runs in the scenario's lab, with ARGs
# before their own: --once --explain (its output in $E2E_WORK/explain.out) and --json
# (json.out). Both must end with status 1 or 0 as E2E_EXPECT_STATUS says.
# --shared-json: the --json pass through e2e_run_tool_shared (the lab unchanged).
# shellcheck disable=SC2120 # arguments are optional
e2e_diagnosis_runs() {
  local run_json=e2e_run_tool
  if [[ ${1:-} == --shared-json ]]; then
    run_json=e2e_run_tool_shared
    shift
  fi
  E2E_TOOL_ARGS=("$@" --once --explain)
  e2e_run_tool
  cp "$E2E_WORK/tool.out" "$E2E_WORK/explain.out"
  E2E_TOOL_ARGS=("$@" --json)
  $run_json
  cp "$E2E_WORK/tool.out" "$E2E_WORK/json.out"
}

# e2e_expect_diagnosis [--only] EXPECTATION...: the findings of the last
# e2e_diagnosis_runs, as tests/e2e/check_diagnosis.py reads them.
e2e_expect_diagnosis() {
  "$LAB_PYTHON" "$E2E_DIR/check_diagnosis.py" "$E2E_WORK/json.out" "$E2E_WORK/explain.out" \
    "$@" >&2 || {
    # What the pass recorded, so that a failure says why it diagnosed what it did.
    e2e_log "the --json pass printed:"
    cat "$E2E_WORK/json.out" >&2
    e2e_fail "the diagnosis is not what the lab makes"
  }
}

# e2e_expect_report_rows present|absent TEXT...: each TEXT is (or is not) the start of a
# report line ("=> ...") in the --explain run's output.
e2e_expect_report_rows() {
  local want=$1 row
  shift
  for row in "$@"; do
    if grep -qF -- "=> $row" "$E2E_WORK/explain.out"; then
      [[ $want == present ]] || e2e_fail "the report prints '$row'"
    else
      [[ $want == absent ]] || e2e_fail "the report lacks '$row'"
    fi
  done
}
