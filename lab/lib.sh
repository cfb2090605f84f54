# shellcheck shell=bash
# The lab network: a host, a multicast router and a beacon source, each in a network
# namespace of its own, created and removed by these functions. Source this file.
#
#   host ns (eth0 10.0.1.2/24) --- r0 [router] r1 --- (eth0 198.51.100.20/24) source ns
#                                   RP 10.255.0.1
#
# This machine's kernel has no multicast routing, so the router's kernel is user-mode
# Linux running inside the router namespace on the raw veth ends r0 and r1; FRR's zebra
# and pimd run inside it. The lab sends nothing outside its own namespaces.
#
# With --two-links the host also has eth1 (10.0.2.2/24) to an empty namespace (-side).
#
# Every lab has a NAME; its namespaces (cvl-NAME-host, -router, -source, -side), its work
# folder ($LAB_ROOT/NAME) and /etc/netns/cvl-NAME-host/ derive from it, so several labs
# can run at once. Interface names inside the namespaces are fixed.

LAB_DIR_SELF=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
LAB_ROOT=${LAB_ROOT:-/tmp/corvanite-lab}
# Seconds from starting a lab to ready: measured up to 42 s on a 2-core machine with
# two guests booting beside other builds (about 5 s when idle).
LAB_READY_TIMEOUT=${LAB_READY_TIMEOUT:-120}
LAB_PYTHON=${LAB_PYTHON:-/usr/bin/python3}

# Addresses and constants of the lab, as LAB_HOST_ADDR etc. Golden texts of the e2e
# tests refer to these; the Python helpers read the same file.
LAB_FACTS=$LAB_DIR_SELF/facts.env
while IFS='=' read -r _lab_key _lab_value; do
  [[ -z $_lab_key || $_lab_key == \#* ]] && continue
  printf -v "LAB_$_lab_key" '%s' "$_lab_value"
done <"$LAB_FACTS"
unset _lab_key _lab_value
# Only set by the lab CLI: a lab that must outlive the shell that started it.
LAB_PERSIST=${LAB_PERSIST:-0}

# Router labs (user-mode Linux guests) that may run at once on this machine, whatever
# starts them (ctest -j N, two build trees, the lab CLI): each holds one slot, a lock
# file under LAB_SLOT_DIR, from lab_up until its processes are gone. A guest boots on
# about one core; more guests than cores only make every one of them slow.
LAB_SLOTS=${LAB_SLOTS:-$(nproc)}
LAB_SLOT_DIR=${LAB_SLOT_DIR:-/run/lock}
# Seconds lab_up waits for a free slot before it gives up.
LAB_SLOT_TIMEOUT=${LAB_SLOT_TIMEOUT:-3600}

lab_log() { printf 'lab: %s\n' "$*" >&2; }
lab_die() {
  lab_log "$*"
  return 1
}

# --- cleanup on exit -------------------------------------------------------------------

_lab_cleanups=()

_lab_run_cleanups() {
  local i
  for ((i = ${#_lab_cleanups[@]} - 1; i >= 0; i--)); do
    eval "${_lab_cleanups[i]}" || true
  done
  _lab_cleanups=()
}

# lab_at_exit CMD [ARG...]: run CMD when the shell exits, is interrupted or terminated,
# newest first. lab_up registers lab_down here, so a scenario cannot leak its lab.
lab_at_exit() {
  _lab_cleanups+=("$(printf '%q ' "$@")")
  trap '_lab_run_cleanups' EXIT
  trap '_lab_run_cleanups; trap - EXIT; exit 130' INT
  trap '_lab_run_cleanups; trap - EXIT; exit 143' TERM
}

# --- names -------------------------------------------------------------------------------

_lab_check_name() {
  [[ ${1:-} =~ ^[A-Za-z0-9][A-Za-z0-9_-]{0,31}$ ]] ||
    lab_die "lab name '${1:-}' must be 1-32 letters, digits, '-' or '_'"
}

# lab_ns NAME host|router|source|side: the namespace of one of the lab's nodes.
lab_ns() { printf 'cvl-%s-%s\n' "$1" "$2"; }
# lab_dir NAME: the lab's work folder.
lab_dir() { printf '%s/%s\n' "$LAB_ROOT" "$1"; }

# lab_parse_variant [FLAG...]: the one reading of lab_up's variant flags, into
#   LAB_V_ROUTER LAB_V_PIM LAB_V_IGMP LAB_V_PINGS LAB_V_BEACONS LAB_V_TWO_ASM
#   LAB_V_TWO_LINKS (1 or 0), LAB_V_FORWARDS (1 when beacon traffic reaches the host
#   link), LAB_V_SSM_FROM (the SSM beacon's source address), LAB_V_BEACON_SOURCE (the
#   source host's beacon address) and LAB_V_ASM_GROUP LAB_V_ASM_PORT LAB_V_SSM_GROUP
#   LAB_V_SSM_PORT (where the beacons are sent). Fails on an unknown flag.
# shellcheck disable=SC2153 # LAB_ASM_GROUP and the like come from facts.env
lab_parse_variant() {
  LAB_V_ROUTER=1 LAB_V_PIM=1 LAB_V_IGMP=1 LAB_V_PINGS=1 LAB_V_BEACONS=1 LAB_V_TWO_ASM=0
  LAB_V_TWO_LINKS=0
  LAB_V_SSM_FROM=$LAB_SSM_SOURCE LAB_V_BEACON_SOURCE=$LAB_SSM_SOURCE
  LAB_V_ASM_GROUP=$LAB_ASM_GROUP LAB_V_ASM_PORT=$LAB_ASM_PORT
  LAB_V_SSM_GROUP=$LAB_SSM_GROUP LAB_V_SSM_PORT=$LAB_SSM_PORT
  local flag
  for flag in "$@"; do
    case $flag in
      --bare) LAB_V_ROUTER=0 LAB_V_PIM=0 LAB_V_IGMP=0 LAB_V_PINGS=0 LAB_V_BEACONS=0 ;;
      --no-pim) LAB_V_PIM=0 ;;
      --no-igmp) LAB_V_IGMP=0 ;;
      --ignore-pings) LAB_V_PINGS=0 ;;
      --no-beacons) LAB_V_BEACONS=0 ;;
      --ssm-wrong-source) LAB_V_SSM_FROM=$LAB_OTHER_SOURCE ;;
      --two-asm-senders) LAB_V_TWO_ASM=1 ;;
      --two-links) LAB_V_TWO_LINKS=1 ;;
      --beacons-elsewhere)
        LAB_V_SSM_FROM=$LAB_OWN_SOURCE LAB_V_BEACON_SOURCE=$LAB_OWN_SOURCE
        LAB_V_ASM_GROUP=$LAB_OWN_ASM_GROUP LAB_V_ASM_PORT=$LAB_OWN_ASM_PORT
        LAB_V_SSM_GROUP=$LAB_OWN_SSM_GROUP LAB_V_SSM_PORT=$LAB_OWN_SSM_PORT
        ;;
      *) lab_die "unknown lab variant flag: $flag" || return 1 ;;
    esac
  done
  # An IGMP-only or PIM-only router forwards no multicast to the host link.
  LAB_V_FORWARDS=$((LAB_V_BEACONS && LAB_V_PIM && LAB_V_IGMP))
}

# --- running things ----------------------------------------------------------------------

# lab_exec_prefix NAME host|router|source: set LAB_EXEC_PREFIX to the command words that
# run a command in that namespace (for callers that wrap it, e.g. in timeout). In the
# host namespace the command also gets its own UTS namespace named $LAB_HOSTNAME, which
# the lab's hosts file maps to the host's lab address.
lab_exec_prefix() {
  local ns
  ns=$(lab_ns "$1" "$2")
  LAB_EXEC_PREFIX=(ip netns exec "$ns")
  if [[ $2 == host ]]; then
    # shellcheck disable=SC2016 # expanded by the inner shell
    LAB_EXEC_PREFIX+=(unshare --uts -- /bin/sh -c
      'echo "$0" >/proc/sys/kernel/hostname && exec "$@"' "$LAB_HOSTNAME")
  fi
}

# lab_exec NAME host|router|source CMD...: run CMD in that namespace.
lab_exec() {
  lab_exec_prefix "$1" "$2"
  "${LAB_EXEC_PREFIX[@]}" "${@:3}"
}
lab_host_exec() { lab_exec "$1" host "${@:2}"; }
lab_source_exec() { lab_exec "$1" source "${@:2}"; }

# _lab_spawn NAME ROLE LABEL CMD...: start CMD in the background in ROLE's namespace and
# in a session of its own (a Ctrl-C at the terminal goes to the lab's teardown, not
# straight to its daemons); its PID goes to pids/LABEL.pid, its output to LABEL.log.
_lab_spawn() {
  local name=$1 role=$2 label=$3
  shift 3
  local dir
  dir=$(lab_dir "$name")
  setsid ip netns exec "$(lab_ns "$name" "$role")" "$@" \
    </dev/null >"$dir/$label.log" 2>&1 &
  echo $! >"$dir/pids/$label.pid"
}

# lab_spawn NAME ROLE LABEL CMD...: the same for scenarios (e.g. an extra sender); the
# process is ended by lab_down like the lab's own.
lab_spawn() { _lab_spawn "$@"; }

# _lab_stop_pid PID: TERM, then KILL after a bounded wait.
_lab_stop_pid() {
  local pid=$1 i
  kill -TERM "$pid" 2>/dev/null || return 0
  for ((i = 0; i < 50; i++)); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
}

# lab_stop NAME LABEL: end one process that the lab spawned.
lab_stop() {
  local f
  f="$(lab_dir "$1")/pids/$2.pid"
  [[ -f $f ]] || return 0
  _lab_stop_pid "$(<"$f")"
  rm -f "$f"
}

# lab_router_sh NAME SCRIPT: run a shell script inside the router's guest and print its
# output. The guest's sockets cannot be reached from outside, so the script travels as
# a command file through the work folder (router-init.sh runs it). Returns its status.
lab_router_sh() {
  local name=$1 script=$2 dir id i
  dir="$(lab_dir "$name")/router"
  [[ -d $dir/cmd ]] || lab_die "lab $name has no router" || return 1
  id="$dir/cmd/$(date +%s%N)-$$-$RANDOM"
  printf '%s\n' "$script" >"$id.tmp"
  mv "$id.tmp" "$id.sh"
  for ((i = 0; i < 150; i++)); do
    if [[ -f $id.rc ]]; then
      cat "$id.out"
      local rc
      rc=$(<"$id.rc")
      rm -f "$id.out" "$id.rc"
      return "$rc"
    fi
    sleep 0.1
  done
  rm -f "$id.sh"
  lab_die "router of lab $name did not run a command within 15 s"
}

# lab_frr NAME COMMAND...: run vtysh commands (e.g. "show ip pim neighbor") on the router.
lab_frr() {
  # shellcheck disable=SC2016 # expanded inside the guest
  local name=$1 cmd script='vtysh --vty_socket "$VTY_SOCKET"'
  shift
  for cmd in "$@"; do
    script+=" -c $(printf '%q' "$cmd")"
  done
  lab_router_sh "$name" "$script"
}

# lab_host_link_dr NAME: the address of the host link's PIM DR as FRR sees it.
lab_host_link_dr() {
  local line
  line=$(lab_frr "$1" 'show ip pim interface' | awk '$1 == "r0" { print $5 }')
  [[ -n $line ]] || lab_die "r0 is not a PIM interface on lab $1" || return 1
  if [[ $line == local ]]; then
    echo "$LAB_ROUTER_ADDR"
  else
    echo "$line"
  fi
}

# --- bringing a lab up -------------------------------------------------------------------

_lab_write_router_config() {
  local name=$1 dir pim=$LAB_V_PIM igmp=$LAB_V_IGMP ignore=$((!LAB_V_PINGS))
  dir="$(lab_dir "$name")/router"
  mkdir -p "$dir/cmd" "$dir/uml"
  cat >"$dir/router.env" <<EOF
RP_ADDR=$LAB_RP_ADDR
HOST_SIDE_ADDR=$LAB_ROUTER_ADDR/$LAB_HOST_PREFIX
SOURCE_SIDE_ADDR=$LAB_SOURCE_ROUTER_ADDR/$LAB_SOURCE_PREFIX
ICMP_ECHO_IGNORE_BROADCASTS=$ignore
EOF
  printf 'hostname lab-router\nline vty\n no login\n' >"$dir/zebra.conf"
  {
    echo "hostname lab-router"
    printf 'interface lo\n ip pim\n'
    echo "interface r0"
    ((pim)) && echo " ip pim"
    ((igmp)) && echo " ip igmp"
    printf 'interface r1\n ip pim\n'
    # 232/8 is FRR's default SSM range.
    echo "ip pim rp $LAB_RP_ADDR 224.0.0.0/4"
    printf 'line vty\n no login\n'
  } >"$dir/pimd.conf"
}

# _lab_uml_shim: print the path of the preload library that lets the guest kernel
# restore FPU state on machines with a large XSAVE area (see lab/uml-xstate-shim.c),
# building it first when it is missing or older than its source. Labs starting at once
# may build it side by side: each writes a file of its own and renames it into place.
_lab_uml_shim() {
  local source=$LAB_DIR_SELF/uml-xstate-shim.c shim=$LAB_ROOT/uml-xstate.so tmp
  if [[ ! $shim -nt $source ]]; then
    mkdir -p "$LAB_ROOT"
    tmp=$(mktemp "$LAB_ROOT/uml-xstate.XXXXXX")
    cc -O2 -shared -fPIC -o "$tmp" "$source" -ldl || {
      rm -f "$tmp"
      lab_die "cannot build $shim"
      return 1
    }
    mv -f "$tmp" "$shim"
  fi
  echo "$shim"
}

_lab_start_router() {
  local name=$1 dir shim
  dir="$(lab_dir "$name")/router"
  _lab_write_router_config "$name"
  shim=$(_lab_uml_shim) || return 1
  # umid/uml_dir keep the kernel's control files in the work folder instead of ~/.uml.
  _lab_spawn "$name" router router-uml env LD_PRELOAD="$shim" /usr/bin/linux.uml mem=256M \
    umid="cvl-$name" uml_dir="$dir/uml" \
    root=/dev/root rootfstype=hostfs rootflags=/ rw \
    init="$LAB_DIR_SELF/router-init.sh" LAB_ROUTER_DIR="$dir" \
    con=null con0=null,fd:1 \
    vec0:transport=raw,ifname=r0 vec1:transport=raw,ifname=r1
}

_lab_start_beacons() {
  local name=$1 ssm_from=$LAB_V_SSM_FROM
  _lab_spawn "$name" source beacon-asm "$LAB_PYTHON" "$LAB_DIR_SELF/beacon.py" \
    --group "$LAB_V_ASM_GROUP" --port "$LAB_V_ASM_PORT" --source "$LAB_V_BEACON_SOURCE" \
    --rate "$LAB_BEACON_RATE" --ttl "$LAB_BEACON_TTL"
  _lab_spawn "$name" source beacon-ssm "$LAB_PYTHON" "$LAB_DIR_SELF/beacon.py" \
    --group "$LAB_V_SSM_GROUP" --port "$LAB_V_SSM_PORT" --source "$ssm_from" \
    --rate "$LAB_BEACON_RATE" --ttl "$LAB_BEACON_TTL"
  if ((LAB_V_TWO_ASM)); then
    _lab_spawn "$name" source beacon-asm2 "$LAB_PYTHON" "$LAB_DIR_SELF/beacon.py" \
      --group "$LAB_ASM_GROUP" --port "$LAB_ASM_PORT" --source "$LAB_OTHER_SOURCE" \
      --rate "$LAB_BEACON_RATE" --ttl "$LAB_BEACON_TTL"
  fi
}

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
  local name=$1 pim=$LAB_V_PIM igmp=$LAB_V_IGMP
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

_lab_wait_ready() {
  local name=$1 deadline
  deadline=$(($(date +%s) + LAB_READY_TIMEOUT))
  ((LAB_V_ROUTER)) || return 0
  local rdir
  rdir="$(lab_dir "$name")/router"
  _lab_poll "$deadline" lab_host_exec "$name" ping -n -c 1 -W 0.2 "$LAB_ROUTER_ADDR" ||
    lab_die "router of lab $name does not answer ping (see $rdir/init.log)" || return 1
  _lab_poll "$deadline" _lab_frr_ready "$name" ||
    lab_die "FRR of lab $name does not show r0 up (see $rdir/init.log)" || return 1
  if ((LAB_V_FORWARDS)); then
    _lab_poll "$deadline" _lab_receives "$name" "$LAB_V_ASM_GROUP" "$LAB_V_ASM_PORT" ||
      lab_die "ASM beacons do not reach the host of lab $name" || return 1
    if [[ $LAB_V_SSM_FROM == "$LAB_V_BEACON_SOURCE" ]]; then
      _lab_poll "$deadline" _lab_receives "$name" "$LAB_V_SSM_GROUP" "$LAB_V_SSM_PORT" \
        "$LAB_V_SSM_FROM" ||
        lab_die "SSM beacons do not reach the host of lab $name" || return 1
    fi
  fi
}

# lab_up NAME [VARIANT FLAG...]: build a lab and wait until it is ready.
#   --bare              no router and no source: the host's link ends in an empty namespace
#   --no-pim            the router runs IGMP but not PIM on the host link
#   --no-igmp           the router runs PIM but not IGMP on the host link
#   --ignore-pings      the router ignores echo requests to groups (sysctl at 1)
#   --no-beacons        no beacon senders
#   --ssm-wrong-source  the SSM beacon is sent from $LAB_OTHER_SOURCE, not the tool's source
#   --two-asm-senders   a second ASM beacon sender, from $LAB_OTHER_SOURCE
#   --two-links         the host also has $LAB_SIDE_IF ($LAB_SIDE_ADDR) on a link without a
#                       router, and its host name resolves to that address; the default
#                       route still goes through the router's link
#   --beacons-elsewhere the beacons go to $LAB_OWN_ASM_GROUP:$LAB_OWN_ASM_PORT and
#                       ($LAB_OWN_SOURCE, $LAB_OWN_SSM_GROUP):$LAB_OWN_SSM_PORT instead
# Unless LAB_PERSIST=1, lab_down runs when the calling shell exits.
lab_up() {
  local name=${1:-}
  _lab_check_name "$name" || return 1
  shift
  lab_parse_variant "$@" || return 1
  local dir hns rns sns t0 waited=0
  dir=$(lab_dir "$name")
  hns=$(lab_ns "$name" host)
  rns=$(lab_ns "$name" router)
  sns=$(lab_ns "$name" source)
  if [[ -e $dir || -e /run/netns/$hns || -e /run/netns/$rns || -e /run/netns/$sns ||
    -e /run/netns/$(lab_ns "$name" side) ]]; then
    lab_die "lab $name exists already (lab_down $name removes it)"
    return 1
  fi
  ((LAB_PERSIST)) || lab_at_exit lab_down "$name"
  if ((LAB_V_ROUTER)); then
    t0=$(date +%s.%N)
    _lab_take_slot "$name" || return 1
    waited=$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
  fi
  t0=$(date +%s.%N)
  mkdir -p "$dir/pids"
  printf '%s\n' "$@" >"$dir/variant"

  ip netns add "$hns"
  ip netns add "$rns"
  ip -n "$hns" link set lo up
  ip -n "$rns" link set lo up
  # IPv6 would only add noise to the host link's captures.
  ip netns exec "$hns" sysctl -q -w net.ipv6.conf.all.disable_ipv6=1
  ip netns exec "$rns" sysctl -q -w net.ipv6.conf.all.disable_ipv6=1
  ip link add "$LAB_HOST_IF" netns "$hns" type veth peer name r0 netns "$rns"
  ip -n "$hns" addr add "$LAB_HOST_ADDR/$LAB_HOST_PREFIX" dev "$LAB_HOST_IF"
  ip -n "$hns" link set "$LAB_HOST_IF" up
  ip -n "$rns" link set r0 up
  # Multicast sent without a chosen interface follows the default route, router or not.
  ip -n "$hns" route add default via "$LAB_ROUTER_ADDR"

  # Without an option the tool tests the link that holds its host name's address.
  local name_addr=$LAB_HOST_ADDR
  if ((LAB_V_TWO_LINKS)); then
    # The far end of the side link is an empty namespace: carrier, and nothing else.
    local xns
    xns=$(lab_ns "$name" side)
    ip netns add "$xns"
    ip -n "$xns" link set lo up
    ip netns exec "$xns" sysctl -q -w net.ipv6.conf.all.disable_ipv6=1
    ip link add "$LAB_SIDE_IF" netns "$hns" type veth peer name s0 netns "$xns"
    ip -n "$hns" addr add "$LAB_SIDE_ADDR/$LAB_SIDE_PREFIX" dev "$LAB_SIDE_IF"
    ip -n "$hns" link set "$LAB_SIDE_IF" up
    ip -n "$xns" link set s0 up
    name_addr=$LAB_SIDE_ADDR
  fi
  mkdir -p "/etc/netns/$hns"
  printf '127.0.0.1 localhost\n%s %s %s\n' "$name_addr" "$LAB_HOSTNAME" \
    "$(hostname)" >"/etc/netns/$hns/hosts"

  if ((LAB_V_ROUTER)); then
    ip netns add "$sns"
    ip -n "$sns" link set lo up
    ip netns exec "$sns" sysctl -q -w net.ipv6.conf.all.disable_ipv6=1
    ip link add "$LAB_HOST_IF" netns "$sns" type veth peer name r1 netns "$rns"
    ip -n "$sns" addr add "$LAB_SSM_SOURCE/$LAB_SOURCE_PREFIX" dev "$LAB_HOST_IF"
    if [[ $LAB_V_SSM_FROM == "$LAB_OTHER_SOURCE" ]] || ((LAB_V_TWO_ASM)); then
      ip -n "$sns" addr add "$LAB_OTHER_SOURCE/$LAB_SOURCE_PREFIX" dev "$LAB_HOST_IF"
    fi
    if [[ $LAB_V_BEACON_SOURCE != "$LAB_SSM_SOURCE" ]]; then
      ip -n "$sns" addr add "$LAB_V_BEACON_SOURCE/$LAB_SOURCE_PREFIX" dev "$LAB_HOST_IF"
    fi
    ip -n "$sns" link set "$LAB_HOST_IF" up
    ip -n "$sns" route add default via "$LAB_SOURCE_ROUTER_ADDR"
    ip -n "$rns" link set r1 up
    _lab_start_router "$name"
    ((LAB_V_BEACONS)) && _lab_start_beacons "$name"
  fi

  _lab_wait_ready "$name" || return 1
  local secs
  secs=$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
  echo "$secs" >"$dir/ready-seconds"
  lab_log "lab $name ready in $secs s after $waited s waiting for a slot ($*)"
}

# _lab_take_slot NAME: hold one of the machine's LAB_SLOTS router slots for lab NAME.
# The lock stays on the open file, which the lab's processes inherit: the slot is free
# again once this shell and every process of the lab are gone (lab_down ends them), and
# a lab that the CLI left running keeps its slot.
_lab_take_slot() {
  local name=$1 i fd deadline=$((SECONDS + LAB_SLOT_TIMEOUT)) said=0
  mkdir -p "$LAB_SLOT_DIR"
  while :; do
    for ((i = 0; i < LAB_SLOTS; i++)); do
      exec {fd}>>"$LAB_SLOT_DIR/corvanite-lab-slot.$i"
      if flock -n "$fd"; then
        _lab_slot_fds[$name]=$fd
        return 0
      fi
      exec {fd}>&-
    done
    if ((!said)); then
      lab_log "lab $name waits for one of $LAB_SLOTS router slots"
      said=1
    fi
    ((SECONDS < deadline)) ||
      lab_die "no router slot came free within $LAB_SLOT_TIMEOUT s" || return 1
    sleep 0.5
  done
}
declare -gA _lab_slot_fds=()

# _lab_free_slot NAME: this shell's hold on lab NAME's slot ends.
_lab_free_slot() {
  local fd=${_lab_slot_fds[$1]:-}
  [[ -n $fd ]] || return 0
  exec {fd}>&-
  unset "_lab_slot_fds[$1]"
}

# lab_wait_for_line FILE REGEX SECONDS [COUNT [PID]]: wait until FILE holds COUNT
# (default 1) lines matching the extended REGEX. Fails (status 1) after SECONDS, or
# at once when PID is given and that process has ended without writing them.
lab_wait_for_line() {
  local file=$1 re=$2 want=${4:-1} pid=${5:-} deadline
  deadline=$(($(date +%s%N) / 1000000 + $3 * 1000))
  until (($(grep -cE -- "$re" "$file" 2>/dev/null || true) >= want)); do
    if [[ -n $pid ]] && ! kill -0 "$pid" 2>/dev/null; then
      # It may have written the line just before it ended.
      (($(grep -cE -- "$re" "$file" 2>/dev/null || true) >= want)) && return 0
      return 1
    fi
    (($(date +%s%N) / 1000000 < deadline)) || return 1
    sleep 0.02
  done
}

# --- tearing a lab down ------------------------------------------------------------------

# lab_down NAME: end every process of the lab, delete its namespaces (their veths go with
# them), its hosts file and its work folder. Safe to call twice or on a half-built lab.
lab_down() {
  local name=$1 dir f role ns pid i
  _lab_check_name "$name" || return 1
  dir=$(lab_dir "$name")
  if [[ -d $dir/router ]]; then
    # A clean power-off first, so the guest leaves nothing behind.
    touch "$dir/router/stop"
    if [[ -f $dir/pids/router-uml.pid ]]; then
      pid=$(<"$dir/pids/router-uml.pid")
      for ((i = 0; i < 50; i++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
      done
    fi
  fi
  if [[ -d $dir/pids ]]; then
    for f in "$dir"/pids/*.pid; do
      [[ -f $f ]] || continue
      _lab_stop_pid "$(<"$f")"
      rm -f "$f"
    done
  fi
  for role in host router source side; do
    ns=$(lab_ns "$name" "$role")
    [[ -e /run/netns/$ns ]] || continue
    # Whatever still runs in the lab's own namespaces was started by the lab (the
    # guest's helper processes, a scenario's stray child).
    for pid in $(ip netns pids "$ns" 2>/dev/null); do
      _lab_stop_pid "$pid"
    done
    ip netns del "$ns" 2>/dev/null || true
  done
  _lab_free_slot "$name"
  rm -rf "/etc/netns/$(lab_ns "$name" host)"
  rmdir /etc/netns 2>/dev/null || true
  if [[ ${LAB_KEEP_WORKDIR:-0} != 1 ]]; then
    rm -rf "$dir"
    rmdir "$LAB_ROOT" 2>/dev/null || true
  fi
}

# lab_list: the names of the labs that exist.
lab_list() {
  local f
  for f in /run/netns/cvl-*-host; do
    [[ -e $f ]] || continue
    f=${f#/run/netns/cvl-}
    echo "${f%-host}"
  done
}
