# shellcheck shell=bash
# The beacon senders in the source namespace (sourced by lab/lib.sh).

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
