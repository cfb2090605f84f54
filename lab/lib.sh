# shellcheck shell=bash source-path=SCRIPTDIR
# The lab network: a host, a multicast router and a beacon source, each in a network
# namespace of its own, created and removed by these functions. Source this file; it
# sources the pieces in lab/lib/, one concern each.
#
#   host ns (eth0 10.0.1.2/24) --- r0 [router] r1 --- (eth0 198.51.100.20/24) source ns
#                                   RP 10.255.0.1
#
# This machine's kernel has no multicast routing, so the router's kernel is user-mode
# Linux running inside the router namespace on the raw veth ends r0 and r1; FRR's zebra
# and pimd run inside it. The lab sends nothing outside its own namespaces.
#
# With --two-links the host also has eth1 (10.0.2.2/24) to an empty namespace (-side).
# The IPv6 variants add IPv6 to the host link, and FRR's pim6d in the router namespace
# on r0 beside the guest (lib/router.sh); --snooping puts a Linux bridge (-switch)
# between eth0 and r0 (lib/switch.sh).
#
# Every lab has a NAME; its namespaces (cvl-NAME-host, -router, -source, -side, -switch),
# its work folder ($LAB_ROOT/NAME) and /etc/netns/cvl-NAME-host/ derive from it, so
# several labs can run at once. Interface names inside the namespaces are fixed. What a lab's variant
# changes is in its work folder (lab_variant NAME KEY), from the table lab/variants.txt.
#
#   lib/cleanup.sh   lab_at_exit: what runs when the calling shell ends
#   lib/exec.sh      names, commands in a namespace, the lab's own processes
#   lib/variant.sh   the variant table and lab_variant
#   lib/slots.sh     the machine-wide bound on router labs
#   lib/router.sh    both families' routers: FRR's configuration, the IPv4 router's
#                    guest and its boot, pim6d for IPv6
#   lib/guest.sh     commands into the router's guest (FRR's vtysh)
#   lib/beacons.sh   the beacon senders of both families
#   lib/switch.sh    the snooping switch and the second querier
#   lib/watch.sh     the watch lab: the switch's short timers, its beacons, the
#                    controls a scenario turns mid-run
#   lib/ready.sh     polling: the lab's readiness (the IPv6 watcher's too),
#                    lab_wait_for_line
#   lib/topology.sh  lab_up, lab_down, lab_list; the host's links and addresses

LAB_DIR_SELF=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
LAB_ROOT=${LAB_ROOT:-/tmp/corvanite-lab}
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

lab_log() { printf 'lab: %s\n' "$*" >&2; }
lab_die() {
  lab_log "$*"
  return 1
}

# shellcheck source=lib/cleanup.sh
. "$LAB_DIR_SELF/lib/cleanup.sh"
# shellcheck source=lib/exec.sh
. "$LAB_DIR_SELF/lib/exec.sh"
# shellcheck source=lib/variant.sh
. "$LAB_DIR_SELF/lib/variant.sh"
# shellcheck source=lib/slots.sh
. "$LAB_DIR_SELF/lib/slots.sh"
# shellcheck source=lib/router.sh
. "$LAB_DIR_SELF/lib/router.sh"
# shellcheck source=lib/guest.sh
. "$LAB_DIR_SELF/lib/guest.sh"
# shellcheck source=lib/beacons.sh
. "$LAB_DIR_SELF/lib/beacons.sh"
# shellcheck source=lib/switch.sh
. "$LAB_DIR_SELF/lib/switch.sh"
# shellcheck source=lib/watch.sh
. "$LAB_DIR_SELF/lib/watch.sh"
# shellcheck source=lib/ready.sh
. "$LAB_DIR_SELF/lib/ready.sh"
# shellcheck source=lib/topology.sh
. "$LAB_DIR_SELF/lib/topology.sh"
