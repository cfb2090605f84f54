#!/bin/sh
# PID 1 of the lab router's user-mode Linux guest. The guest sees the machine's file
# system through hostfs, so everything it writes goes under $LAB_ROUTER_DIR, which the
# kernel command line hands over as an environment variable.
#
# Its only channel to the outside is that folder: lab/lib/guest.sh writes NAME.sh command
# files into cmd/, this loop runs them and writes NAME.out and NAME.rc back; a file
# named "stop" powers the guest off.
set -u
PATH=/usr/sbin:/usr/bin:/sbin:/bin
export PATH

dir=${LAB_ROUTER_DIR:?}
log=$dir/init.log
exec >>"$log" 2>&1

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /var/tmp
mount -t devtmpfs devtmpfs /dev 2>/dev/null || true

# shellcheck source=/dev/null
. "$dir/router.env"

ip link set lo up
ip addr add "$RP_ADDR/32" dev lo
ip link set vec0 name r0
ip link set vec1 name r1
ip addr add "$HOST_SIDE_ADDR" dev r0
ip addr add "$SOURCE_SIDE_ADDR" dev r1
ip link set r0 up
ip link set r1 up

sysctl -q -w net.ipv4.ip_forward=1
sysctl -q -w "net.ipv4.icmp_echo_ignore_broadcasts=$ICMP_ECHO_IGNORE_BROADCASTS"
for f in /proc/sys/net/ipv4/conf/*/rp_filter; do echo 0 >"$f"; done

run=/run/frr
mkdir -p "$run"
chown frr:frr "$run"
for d in zebra pimd; do
  "/usr/lib/frr/$d" -d --vty_socket "$run" -A 127.0.0.1 -f "$dir/$d.conf" \
    -i "$run/$d.pid" -z "$run/zserv.api" ||
    echo "router-init: $d failed to start"
done

# Readiness itself is judged from outside (ping, then FRR's interface state): a
# vtysh run costs most of a second in the guest.
echo started >"$dir/started"

while [ ! -e "$dir/stop" ]; do
  for req in "$dir"/cmd/*.sh; do
    [ -e "$req" ] || continue
    id=${req%.sh}
    VTY_SOCKET=$run sh "$req" >"$id.out" 2>&1
    echo $? >"$id.rc.tmp"
    sync
    rm -f "$req"
    mv "$id.rc.tmp" "$id.rc"
  done
  sleep 0.1
done

sync
poweroff -f
