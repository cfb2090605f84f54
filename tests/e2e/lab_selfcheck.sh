#!/usr/bin/env bash
# The lab's own check, without the tool: a lab variant is built and every behaviour the
# tool's tests depend on is observed for real from the host namespace, both the ones the
# variant keeps and the one it takes away. Then the lab is torn down and must leave
# nothing behind.
#
#   lab_selfcheck.sh VARIANT      (a row of lab/variants.txt: full, bare, no-pim, ...)
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"

variant=${1:?variant}
flags=()
[[ $variant == full ]] || flags=("--$variant")
# In a group's lab it checks that lab, whose flags may add to the variant's: each check
# follows the lab's own settings.
if [[ -z $E2E_SHARED_LAB ]]; then
  E2E_LAB=$(printf 'chk-%s' "$variant" | cut -c1-20)-$$
  E2E_WORK=$(lab_dir "$E2E_LAB")
else
  read -ra flags <<<"${E2E_SHARED_FLAGS:-}"
  [[ " ${flags[*]} " == *" --$variant "* || ($variant == full && ${#flags[@]} -eq 0) ]] || {
    echo "FAIL: the group's lab (${flags[*]}) is not of variant $variant" >&2
    exit 1
  }
fi

settings=$(lab_variant_settings "${flags[@]}")
needs=(scapy)
grep -qx 'router=1' <<<"$settings" && needs+=(router)
grep -qx 'router6=1' <<<"$settings" && needs+=(router6)
[[ $variant == full || $variant == ipv6 ]] && needs+=(witness)
e2e_require_lab "${needs[@]}"
# The watch lab's check takes its times from a capture.
grep -qx 'watch=1' <<<"$settings" && e2e_require tcpdump

e2e_lab_up "${flags[@]}"

# What the variant keeps, as lab_up read its flags.
v() { lab_variant "$E2E_LAB" "$1"; }
router=$(v router) pim=$(v pim) igmp=$(v igmp) pings=$(v pings) two_links=$(v two_links)
two_asm=$(v two_asm) ssm_from=$(v ssm_from) router6=$(v router6)
igmp_version=$(v igmp_version) query_interval=$(v query_interval)
# Multicast reaches the host link only from a router running both PIM and IGMP there.
beacons=$(v forwards)

probe() { lab_host_exec "$E2E_LAB" "$LAB_PYTHON" "$E2E_REPO/lab/probe.py" "$@"; }
# shellcheck disable=SC2317 # called through obs
receive() {
  lab_host_exec "$E2E_LAB" "$LAB_PYTHON" "$E2E_REPO/lab/receive.py" --timeout 2 --listen "$@"
}
# expect WHAT SHOULD(1/0) OUTPUT REGEX: OUTPUT holds a line matching REGEX iff SHOULD.
expect() {
  local what=$1 should=$2 out=$3 re=$4
  local seen=0
  grep -qE "$re" <<<"$out" && seen=1
  if ((seen == should)); then
    if ((seen)); then e2e_log "ok: $what"; else e2e_log "ok: no $what"; fi
  elif ((seen)); then
    e2e_fail "$what: unexpected, got: $out"
  else
    e2e_fail "$what: not seen, got: ${out:-nothing}"
  fi
}
# Observations that only wait (echo requests, receivers: most of them wait out a timeout
# that proves an absence) run side by side, each into a file of its own in the lab's
# work folder; the checks then read them in the order they always had, so the log reads
# the same. The probes whose answer is timed run alone, one after another.
declare -A obs_pid=()
obs() { # NAME CMD...: start CMD in the background, its output kept as NAME
  "${@:2}" >"$E2E_WORK/selfcheck-$1.out" &
  obs_pid[$1]=$!
}
observed() { # NAME: once CMD has ended, its output in $seen (in this shell: a subshell
  # cannot wait for it)
  wait "${obs_pid[$1]}" || true
  seen=$(<"$E2E_WORK/selfcheck-$1.out")
}
# shellcheck disable=SC2317 # called through obs
ping_group() { # GROUP [ping's options]: ping's output, errors too, whatever its status
  lab_host_exec "$E2E_LAB" ping -n -c 1 "${@:2}" "$1" 2>&1 || true
}
ms_within() { # OUTPUT MAX: a probe line's ms=N lies in 0..MAX
  local ms
  ms=$(sed -nE 's/.* ms=(-?[0-9]+)$/\1/p' <<<"$1" | head -n 1)
  [[ -n $ms ]] && ((ms >= 0 && ms <= $2))
}

# --- the host side, as the tool needs it -----------------------------------------------
name_addr=$LAB_HOST_ADDR
((two_links)) && name_addr=$LAB_SIDE_ADDR
addr=$(lab_host_exec "$E2E_LAB" "$LAB_PYTHON" -c \
  'import socket; print(socket.gethostbyname(socket.gethostname()))')
if [[ $addr == "$name_addr" ]]; then
  e2e_log "ok: host name resolves to $addr"
else
  e2e_fail "host name resolves to $addr, not $name_addr"
fi
route=$(lab_host_exec "$E2E_LAB" ip route get "$LAB_ASM_GROUP")
expect "multicast route on $LAB_HOST_IF" 1 "$route" "dev $LAB_HOST_IF"

# The echo requests wait beside the checks below, each read in its place.
((two_links)) && obs side-ping ping_group 224.0.0.2 -W 1 -I "$LAB_SIDE_IF"
for g in 224.0.0.2 224.0.0.22 224.0.0.13; do
  obs "ping-$g" ping_group "$g" -W 2
done

if ((two_links)); then
  # The side link has carrier and nothing behind it.
  out=$(lab_host_exec "$E2E_LAB" ip -o link show dev "$LAB_SIDE_IF")
  expect "$LAB_SIDE_IF up with carrier" 1 "$out" "[<,]LOWER_UP[,>]"
  observed side-ping
  expect "echo reply on $LAB_SIDE_IF" 0 "$seen" "bytes from"
fi

# --- router presence and state -----------------------------------------------------------
if ((router)); then
  out=$(lab_frr "$E2E_LAB" 'show ip pim interface' 'show ip igmp interface' 'show ip pim rp-info')
  expect "RP $LAB_RP_ADDR for 224.0.0.0/4" 1 "$out" "^ *$LAB_RP_ADDR +224\.0\.0\.0/4"
fi

# --- the guest's processes above the tests' -----------------------------------------------
if ((router)); then
  normal=""
  for pid in $(ip netns pids "$(lab_ns "$E2E_LAB" router)"); do
    [[ $(cat "/proc/$pid/comm" 2>/dev/null) == linux.uml ]] || continue
    # A guest program may have ended since the listing.
    cls=$(ps -o cls= -p "$pid" 2>/dev/null) || continue
    [[ $cls == *RR* ]] || normal+=" $pid"
  done
  if [[ -z $normal ]]; then
    e2e_log "ok: every process of the guest runs at real-time priority"
  else
    e2e_fail "guest processes at normal priority:$normal"
  fi
fi

# --- echo requests to the router groups --------------------------------------------------
for g in 224.0.0.2 224.0.0.22 224.0.0.13; do
  want=$pings
  [[ $g == 224.0.0.13 ]] && ((!pim)) && want=0
  observed "ping-$g"
  expect "echo reply to $g from the router" "$want" "$seen" "bytes from $LAB_ROUTER_ADDR:"
done

# --- beacons routed to a joined socket ---------------------------------------------------
asm=$(v asm_group) asm_port=$(v asm_port) ssm=$(v ssm_group) ssm_port=$(v ssm_port)
sender=$(v beacon_source)
# The receivers start together, where they always started: not at once after lab_up,
# while the router still prunes what the readiness check's receivers left. Each
# socket takes only its own channel's datagrams: the ports differ between the ASM group
# and the SSM channel, and an SSM socket filters by its own source.
obs asm receive --group "$asm" --port "$asm_port" --count 5
obs ssm receive --group "$ssm" --port "$ssm_port" --source "$sender" --count 5
[[ $ssm_from == "$sender" ]] ||
  obs ssm-other receive --group "$ssm" --port "$ssm_port" --source "$LAB_OTHER_SOURCE" --count 5
if [[ $asm != "$LAB_ASM_GROUP" ]]; then
  obs builtin-asm receive --group "$LAB_ASM_GROUP" --port "$LAB_ASM_PORT" --count 1
  obs builtin-ssm receive --group "$LAB_SSM_GROUP" --port "$LAB_SSM_PORT" \
    --source "$LAB_SSM_SOURCE" --count 1
fi
# ASM goes the shared tree through the RP: FRR holds (*,G) while a receiver is joined
# (the ASM receiver above).
# shellcheck disable=SC2317 # called through obs
mroute_joined() {
  local i mroute=""
  for ((i = 0; i < 10; i++)); do
    mroute=$(lab_frr "$E2E_LAB" 'show ip mroute')
    grep -qE "^ *\* +$asm " <<<"$mroute" && break
  done
  printf '%s\n' "$mroute"
}
((beacons && router)) && obs mroute mroute_joined
observed asm
out=$seen
expect "ASM beacons from $sender" "$beacons" "$out" "^$sender [0-9]+$"
if ((two_asm)); then
  expect "ASM beacons from the second sender $LAB_OTHER_SOURCE" 1 "$out" \
    "^$LAB_OTHER_SOURCE [0-9]+$"
else
  expect "ASM beacons from $LAB_OTHER_SOURCE" 0 "$out" "^$LAB_OTHER_SOURCE "
fi
ssm_ok=$(v forwards_ssm)
[[ $ssm_from == "$sender" ]] || ssm_ok=0
observed ssm
expect "SSM beacons from $sender" "$ssm_ok" "$seen" "^$sender [0-9]+$"
if [[ $ssm_from != "$sender" ]]; then
  observed ssm-other
  out=$seen
  expect "SSM beacons from the wrong source $LAB_OTHER_SOURCE" 1 "$out" \
    "^$LAB_OTHER_SOURCE [0-9]+$"
fi
if [[ $asm != "$LAB_ASM_GROUP" ]]; then
  # Beacons of the operator's own: the built-in group and channel stay silent.
  observed builtin-asm
  expect "ASM beacons at the built-in $LAB_ASM_GROUP" 0 "$seen" "^[0-9.]+ [0-9]+$"
  observed builtin-ssm
  out=$seen
  expect "SSM beacons at the built-in $LAB_SSM_GROUP" 0 "$out" "^[0-9.]+ [0-9]+$"
fi
if ((beacons && router)); then
  observed mroute
  expect "(*,$asm) in FRR's multicast routes" 1 "$seen" "^ *\* +$asm "
fi

# The probes whose answers are timed run one after another in one process, which starts
# scapy once for all of them: a leave, a BLOCK, a second leave for the switch's queriers
# where their answer is checked, and the PIM Hellos (the second, of a new generation ID,
# where the router runs PIM). Each probe's lines are read back by its number. The
# router's queries must come within 500 ms, so its probes wait 1.5 s, long enough to
# see one that came late; the switch's querier is given the default 2.5 s.
switch_leave=$(($(v snooping) && (!router || $(v second_querier))))
batch=(--wait 1.5 leave "$LAB_ASM_GROUP" --then --wait 1.5 block "$LAB_SSM_GROUP"
  "$LAB_SSM_SOURCE")
((switch_leave)) && batch+=(--then leave "$LAB_ASM_GROUP")
batch+=(--then --wait 1.5 pim-hello --genid 1111)
((pim)) && batch+=(--then --wait 1.5 pim-hello --genid 2222)
probe "${batch[@]}" >"$E2E_WORK/selfcheck-probes.out" ||
  e2e_fail "the probes ended with status $?"
probed() { # NUMBER: that probe's lines of the batch
  sed -nE "s/^$1 //p" "$E2E_WORK/selfcheck-probes.out"
}
hello=$((3 + switch_leave))

# --- IGMP: queries after a leave ---------------------------------------------------------
out=$(probed 1 | grep " group=$LAB_ASM_GROUP " || true)
expect "group-specific query in IGMPv$igmp_version after an IGMPv2 leave" "$igmp" "$out" \
  "^query v$igmp_version group=$LAB_ASM_GROUP (sources= )?from=$LAB_ROUTER_ADDR "
if ((igmp)) && ! ms_within "$out" 500; then
  e2e_fail "the group-specific query came late: $out"
fi
# An IGMPv2 router takes no IGMPv3 report, so it has no source to ask about.
out=$(probed 2 | grep " group=$LAB_SSM_GROUP " || true)
expect "group-and-source-specific query after an IGMPv3 BLOCK" "$((igmp && igmp_version >= 3))" \
  "$out" "^query v3 group=$LAB_SSM_GROUP sources=$LAB_SSM_SOURCE from=$LAB_ROUTER_ADDR "
if ((router && igmp)); then
  out=$(lab_frr "$E2E_LAB" 'show ip igmp interface r0')
  expect "FRR's IGMP version $igmp_version on r0" 1 "$out" "Version *: *$igmp_version\b"
  expect "FRR's query interval of $query_interval s on r0" 1 "$out" \
    "Query Interval *: *${query_interval}s"
fi

# --- the switch's IPv4 queriers ----------------------------------------------------------
if ((switch_leave)); then
  out=$(probed 3 | grep " group=$LAB_ASM_GROUP " || true)
  # Without a router the switch's own querier answers the leave; beside a router it may
  # or may not have heard the router's general query yet, so only the router is sure.
  if ((!router)); then
    case $(v switch_querier) in
      addr) switch_from=$(v switch_addr) ;;
      zero) switch_from=0.0.0.0 ;;
      *) switch_from="" ;;
    esac
    expect "the switch's group-specific query${switch_from:+ from $switch_from}" \
      "$([[ -n $switch_from ]] && echo 1 || echo 0)" "$out" \
      "^query v3 group=$LAB_ASM_GROUP (sources= )?from=${switch_from:-[0-9.]+} "
  fi
  if (($(v second_querier))); then
    expect "the second querier's group-specific query" 1 "$out" \
      "^query v3 group=$LAB_ASM_GROUP (sources= )?from=$LAB_QUERIER2_ADDR "
    expect "the router's group-specific query beside it" 1 "$out" \
      "^query v3 group=$LAB_ASM_GROUP (sources= )?from=$LAB_ROUTER_ADDR "
    # Neither hears the other: FRR stays the querier of its link.
    out=$(lab_frr "$E2E_LAB" 'show ip igmp interface r0')
    expect "FRR still the querier beside the isolated second querier" 1 "$out" \
      "Querier *: *(local|$LAB_ROUTER_ADDR)"
  fi
fi

# --- PIM: triggered Hello, and the router stays DR ---------------------------------------
out=$(probed "$hello" | grep "^hello from=$LAB_ROUTER_ADDR " || true)
expect "triggered PIM Hello after a Hello with DR priority 0" "$pim" "$out" \
  "^hello from=$LAB_ROUTER_ADDR holdtime=[0-9]+ dr_priority=[0-9]+ genid=[0-9]+ ms="
if ((pim)); then
  ms_within "$out" 1000 || e2e_fail "the triggered Hello came late: $out"
  # A new generation ID is a restarted neighbour, which must be answered again: what
  # the tool's second pass relies on.
  out=$(probed $((hello + 1)) | grep "^hello from=$LAB_ROUTER_ADDR " || true)
  expect "triggered PIM Hello after a new generation ID" 1 "$out" "^hello from="
  out=$(lab_frr "$E2E_LAB" 'show ip pim neighbor')
  expect "the host as FRR's PIM neighbour with DR priority 0" 1 "$out" \
    "^ *r0 +$LAB_HOST_ADDR .* 0 *$"
  dr=$(lab_host_link_dr "$E2E_LAB")
  if [[ $dr == "$LAB_ROUTER_ADDR" ]]; then
    e2e_log "ok: the router stays DR of the host link"
  else
    e2e_fail "DR of the host link is $dr, not the router"
  fi
fi

# --- the witness must pass good messages and catch a bad checksum ------------------------
if [[ $variant == full ]]; then
  e2e_witness_start
  # Nothing here is timed: the messages may go out side by side.
  obs w-ping ping_group 224.0.0.2 -W 1
  probe leave "$LAB_ASM_GROUP" --then block "$LAB_SSM_GROUP" "$LAB_SSM_SOURCE" \
    --then --wait 0.5 pim-hello >/dev/null || e2e_fail "the probes ended with status $?"
  observed w-ping
  e2e_witness_stop
  e2e_witness_saw "the IGMPv2 leave" "src=$LAB_HOST_ADDR " "igmp_type=0x17 " "cksum=good "
  e2e_witness_saw "the IGMPv3 BLOCK record" "src=$LAB_HOST_ADDR " \
    "records=6:$LAB_SSM_GROUP:$LAB_SSM_SOURCE$"
  e2e_witness_saw "the PIM Hello's options" "src=$LAB_HOST_ADDR " "proto=pim " \
    "holdtime=30 " "dr_priority=0 " "genid=[0-9]+$"
  e2e_witness_saw "the router's echo reply" "src=$LAB_ROUTER_ADDR " "icmp_type=0 "
  e2e_witness_saw "the router's group-specific query" "src=$LAB_ROUTER_ADDR " \
    "igmp_type=0x11 " "group=$LAB_ASM_GROUP "

  "$E2E_REPO/lab/witness" start "$E2E_LAB"
  probe --wait 0.2 report "$LAB_ASM_GROUP" --bad-checksum >/dev/null
  "$E2E_REPO/lab/witness" stop "$E2E_LAB"
  if "$E2E_REPO/lab/witness" check "$E2E_LAB" >/dev/null 2>"$E2E_WORK/bad.err"; then
    e2e_fail "the witness passed an IGMP report with a bad checksum"
  elif grep -q '^BAD .*proto=igmp cksum=bad' "$E2E_WORK/bad.err"; then
    e2e_log "ok: the witness flags a bad IGMP checksum"
  else
    e2e_fail "the witness failed without naming the bad message: $(cat "$E2E_WORK/bad.err")"
  fi
fi

# --- the IPv6 side -------------------------------------------------------------------------
if (($(v ipv6))); then
  # shellcheck source=lab_selfcheck6.sh
  . "$E2E_DIR/lab_selfcheck6.sh"
fi

# --- the watch lab: a membership the host stops reporting stops its stream --------------
if (($(v watch))); then
  # shellcheck source=lab_selfcheck_watch.sh
  . "$E2E_DIR/lab_selfcheck_watch.sh"
fi

# --- teardown leaves nothing (in a group's lab, the group checks it last) ---------------
[[ -n $E2E_SHARED_LAB ]] || e2e_lab_down_checked
e2e_finish
