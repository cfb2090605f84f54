# shellcheck shell=bash
# The beacon senders (sourced by lab/lib.sh): the IPv4 ones in the source namespace,
# behind the router's guest; the IPv6 ones in the router namespace.
#
# The IPv6 beacons have no router to cross: the router namespace sends them on r0
# itself, from $LAB_SSM6_SOURCE on its loopback, which the host reaches through the
# router (its default route), so the SSM channel's source lies behind the first hop.

# _lab_start_beacons NAME: the ASM and SSM beacons of lab NAME's variant, and the
# second ASM sender where it has one.
_lab_start_beacons() {
  local name=$1 asm_group asm_port from
  asm_group=$(lab_variant "$name" asm_group)
  asm_port=$(lab_variant "$name" asm_port)
  from=$(lab_variant "$name" beacon_source)
  _lab_start_beacon "$name" beacon-asm "$asm_group" "$asm_port" "$from"
  _lab_start_beacon "$name" beacon-ssm "$(lab_variant "$name" ssm_group)" \
    "$(lab_variant "$name" ssm_port)" "$(lab_variant "$name" ssm_from)"
  if (($(lab_variant "$name" two_asm))); then
    _lab_start_beacon "$name" beacon-asm2 "$asm_group" "$asm_port" "$LAB_OTHER_SOURCE"
  fi
}

# _lab_start_beacon NAME LABEL GROUP PORT SOURCE: one sender of LAB_BEACON_RATE
# datagrams a second, from SOURCE.
_lab_start_beacon() {
  lab_spawn "$1" source "$2" "$LAB_PYTHON" "$LAB_DIR_SELF/beacon.py" \
    --group "$3" --port "$4" --source "$5" --rate "$LAB_BEACON_RATE" --ttl "$LAB_BEACON_TTL"
}

# _lab_start_beacon6 NAME LABEL GROUP PORT: one IPv6 sender of LAB_BEACON_RATE
# datagrams a second from $LAB_SSM6_SOURCE, on r0.
_lab_start_beacon6() {
  lab_spawn "$1" router "$2" "$LAB_PYTHON" "$LAB_DIR_SELF/beacon.py" --group "$3" \
    --port "$4" --source "$LAB_SSM6_SOURCE" --iface r0 --rate "$LAB_BEACON_RATE" \
    --ttl "$LAB_BEACON_TTL"
}
