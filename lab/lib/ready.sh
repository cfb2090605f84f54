# shellcheck shell=bash
# Waiting on conditions, never on sleeps alone: a lab's readiness and lines in a log
# (sourced by lab/lib.sh).

# Seconds from starting a lab to ready: measured up to 42 s on a 2-core machine with
# two guests booting beside other builds (about 5 s when idle).
LAB_READY_TIMEOUT=${LAB_READY_TIMEOUT:-120}

# _lab_poll DEADLINE CMD...: run CMD until it succeeds or the deadline (epoch s) passes.
_lab_poll() {
  local deadline=$1
  shift
  until "$@" >/dev/null 2>&1; do
    (($(date +%s) < deadline)) || return 1
    sleep 0.1
  done
}

# _lab_frr_ready NAME: FRR shows r0 as the variant has it: PIM on (the router is the
# link's DR) or off, IGMP up or off. One vtysh run: each costs most of a second inside
# the guest. An IGMP-only r0 is still listed by "show ip pim interface", with DR "*".
_lab_frr_ready() {
  local name=$1 pim igmp
  pim=$(lab_variant "$name" pim)
  igmp=$(lab_variant "$name" igmp)
  lab_frr "$name" 'show ip pim interface' 'show ip igmp interface' |
    awk -v pim="$pim" -v igmp="$igmp" '
      /PIM DR/ { sec = "pim" }
      /Querier/ { sec = "igmp" }
      $1 == "r0" && sec == "pim" && $2 == "up" && $5 == "local" { p = 1 }
      $1 == "r0" && sec == "igmp" && $2 == "up" { i = 1 }
      END { exit !(p == pim && i == igmp) }'
}

_lab_receives() { # NAME GROUP PORT [SOURCE]
  local args=(--group "$2" --port "$3" --count 1 --timeout 2)
  [[ -n ${4:-} ]] && args+=(--source "$4")
  lab_host_exec "$1" "$LAB_PYTHON" "$LAB_DIR_SELF/receive.py" "${args[@]}"
}

# _lab_wait_ready NAME: poll until lab NAME is ready: the router answers a ping, FRR
# shows r0 as the variant has it, and the beacons that should reach the host do.
_lab_wait_ready() {
  local name=$1 deadline rdir
  deadline=$(($(date +%s) + LAB_READY_TIMEOUT))
  (($(lab_variant "$name" router))) || return 0
  rdir="$(lab_dir "$name")/router"
  _lab_poll "$deadline" lab_host_exec "$name" ping -n -c 1 -W 0.2 "$LAB_ROUTER_ADDR" ||
    lab_die "router of lab $name does not answer ping (see $rdir/init.log)" || return 1
  _lab_poll "$deadline" _lab_frr_ready "$name" ||
    lab_die "FRR of lab $name does not show r0 up (see $rdir/init.log)" || return 1
  (($(lab_variant "$name" forwards))) || return 0
  _lab_poll "$deadline" _lab_receives "$name" "$(lab_variant "$name" asm_group)" \
    "$(lab_variant "$name" asm_port)" ||
    lab_die "ASM beacons do not reach the host of lab $name" || return 1
  local from
  from=$(lab_variant "$name" ssm_from)
  # A beacon from the wrong source reaches no socket joined to the tool's channel, and
  # an IGMPv2 router serves no channel at all.
  [[ $from == "$(lab_variant "$name" beacon_source)" ]] || return 0
  (($(lab_variant "$name" forwards_ssm))) || return 0
  _lab_poll "$deadline" _lab_receives "$name" "$(lab_variant "$name" ssm_group)" \
    "$(lab_variant "$name" ssm_port)" "$from" ||
    lab_die "SSM beacons do not reach the host of lab $name" || return 1
}

# _lab_wait_ready6 NAME: poll until lab NAME's IPv6 side is ready: pim6d has sent an MLD
# query of the variant's version and a PIMv6 Hello on the host link (the watcher saw
# them), answers echo (to ff02::2, or to its link-local address where it ignores group
# pings), and the IPv6 beacons reach sockets joined in the host namespace; a switch
# without an IPv6 router behind it has sent its first MLD query.
_lab_wait_ready6() {
  local name=$1 deadline log router6 mld
  (($(lab_variant "$name" ipv6))) || return 0
  deadline=$(($(date +%s) + LAB_READY_TIMEOUT))
  log="$(lab_dir "$name")/watch6.log"
  router6=$(lab_variant "$name" router6)
  if (($(lab_variant "$name" snooping) && !router6)); then
    lab_wait_for_line "$log" "^query v2 group=:: .*from=$LAB_SWITCH6_LL " \
      $((deadline - $(date +%s))) ||
      lab_die "the switch of lab $name sent no MLD query (see $log)" || return 1
  fi
  ((router6)) || return 0
  local rdir
  rdir="$(lab_dir "$name")"
  mld=$(lab_variant "$name" mld)
  if ((mld)); then
    lab_wait_for_line "$log" "^query v$mld group=:: .*from=$LAB_ROUTER6_LL " \
      $((deadline - $(date +%s))) ||
      lab_die "pim6d of lab $name sent no MLDv$mld query (see $rdir/pim6d.log)" || return 1
  fi
  lab_wait_for_line "$log" "^hello from=$LAB_ROUTER6_LL " $((deadline - $(date +%s))) ||
    lab_die "pim6d of lab $name sent no PIMv6 Hello (see $rdir/pim6d.log)" || return 1
  local target=ff02::2
  (($(lab_variant "$name" pings))) || target=$LAB_ROUTER6_LL
  _lab_poll "$deadline" _lab_answers6 "$name" "$target" ||
    lab_die "the IPv6 router of lab $name does not answer echo to $target" || return 1
  lab_wait_for_line "$rdir/member6.log" '^member of ' $((deadline - $(date +%s))) ||
    lab_die "lab $name's router namespace did not join $LAB_ASM6_GROUP" || return 1
  (($(lab_variant "$name" beacons6))) || return 0
  _lab_poll "$deadline" _lab_receives "$name" "$LAB_ASM6_GROUP" "$LAB_ASM_PORT" ||
    lab_die "IPv6 ASM beacons do not reach the host of lab $name" || return 1
  _lab_poll "$deadline" _lab_receives "$name" "$LAB_SSM6_GROUP" "$LAB_SSM_PORT" \
    "$LAB_SSM6_SOURCE" ||
    lab_die "IPv6 SSM beacons do not reach the host of lab $name" || return 1
}

# _lab_answers6 NAME ADDRESS: the IPv6 router's link-local address answers an echo
# request to ADDRESS on the host link.
_lab_answers6() {
  local out
  out=$(lab_host_exec "$1" ping -6 -n -c 1 -W 0.5 "$2%$LAB_HOST_IF") || return 1
  [[ $out == *"from $LAB_ROUTER6_LL%$LAB_HOST_IF:"* ]]
}

# _lab_count_lines FILE REGEX: how many lines of FILE match the extended REGEX; 0 while
# FILE does not exist.
_lab_count_lines() {
  local n
  n=$(grep -cE -- "$2" "$1" 2>/dev/null) || true
  echo "${n:-0}"
}

# lab_wait_for_line FILE REGEX SECONDS [COUNT [PID]]: wait until FILE holds COUNT
# (default 1) lines matching the extended REGEX; FILE may not exist yet. Fails (status
# 1) after SECONDS, or at once when PID is given and that process has ended without
# writing them.
lab_wait_for_line() {
  local file=$1 re=$2 want=${4:-1} pid=${5:-} deadline
  deadline=$(($(date +%s%N) / 1000000 + $3 * 1000))
  until (($(_lab_count_lines "$file" "$re") >= want)); do
    if [[ -n $pid ]] && ! kill -0 "$pid" 2>/dev/null; then
      # It may have written the line just before it ended.
      (($(_lab_count_lines "$file" "$re") >= want)) && return 0
      return 1
    fi
    (($(date +%s%N) / 1000000 < deadline)) || return 1
    sleep 0.02
  done
}

# _lab_start_watch6 NAME: the host's watcher of MLD queries and PIMv6 Hellos on its
# link (lab/watch6.py), for the readiness check; waits until it listens.
_lab_start_watch6() {
  local name=$1 dir
  dir=$(lab_dir "$name")
  lab_spawn "$name" host watch6 "$LAB_PYTHON" "$LAB_DIR_SELF/watch6.py" \
    --iface "$LAB_HOST_IF" --timeout "$((LAB_READY_TIMEOUT + 60))"
  lab_wait_for_line "$dir/watch6.log" '^listening$' 30 1 "$(<"$dir/pids/watch6.pid")" ||
    lab_die "the IPv6 watcher of lab $name did not start (see $dir/watch6.log)"
}
