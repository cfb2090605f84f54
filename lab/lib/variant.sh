# shellcheck shell=bash
# The lab's variants (sourced by lab/lib.sh): the table lab/variants.txt, read once,
# turned into a lab's settings by lab_variant_settings; lab_up keeps them in the lab's
# work folder, where lab_variant NAME KEY reads them.

LAB_VARIANTS=$LAB_DIR_SELF/variants.txt
# The variant names in the table's order, and each one's settings and description.
LAB_VARIANT_NAMES=()
declare -gA _lab_variant_settings=() _lab_variant_text=()
while IFS='|' read -r _lab_name _lab_settings _lab_text; do
  _lab_name=${_lab_name//[[:space:]]/}
  [[ -z $_lab_name || $_lab_name == \#* ]] && continue
  LAB_VARIANT_NAMES+=("$_lab_name")
  read -r _lab_settings <<<"$_lab_settings"
  read -r _lab_text <<<"$_lab_text"
  _lab_variant_settings[$_lab_name]=$_lab_settings
  _lab_variant_text[$_lab_name]=$_lab_text
done <"$LAB_VARIANTS"
unset _lab_name _lab_settings _lab_text

# lab_expand_facts TEXT: TEXT with each $FACT replaced by that constant of facts.env.
lab_expand_facts() {
  local text=$1 out="" var
  while [[ $text =~ \$([A-Z][A-Z0-9_]*) ]]; do
    var=LAB_${BASH_REMATCH[1]}
    [[ -n ${!var+set} ]] || lab_die "no lab fact ${BASH_REMATCH[1]} (in '$1')" || return 1
    out+=${text%%"${BASH_REMATCH[0]}"*}${!var}
    text=${text#*"${BASH_REMATCH[0]}"}
  done
  printf '%s\n' "$out$text"
}

# lab_variant_text NAME: what the network does in variant NAME, facts put in.
lab_variant_text() {
  [[ -n ${_lab_variant_text[$1]+set} ]] || lab_die "no lab variant $1" || return 1
  lab_expand_facts "${_lab_variant_text[$1]}"
}

# lab_variant_settings [FLAG...]: the settings of a lab with these variant flags, one
# KEY=VALUE a line: the table's keys, plus forwards (1 when beacon traffic reaches the
# host link), forwards_ssm (1 when the SSM channel does too: a source-specific join
# needs an IGMPv3 router), beacons6 (1 when IPv6 beacons are sent on it) and
# source_addrs (the source host's addresses, space-separated). Fails on an unknown flag,
# and on an IPv6 router without IPv6 on the link.
lab_variant_settings() {
  local -A v=()
  local names=(full) flag word key value
  for flag in "$@"; do
    if [[ $flag != --* || $flag == --full || -z ${_lab_variant_settings[${flag#--}]+set} ]]; then
      lab_die "unknown lab variant flag: $flag"
      return 1
    fi
    names+=("${flag#--}")
  done
  local name words
  for name in "${names[@]}"; do
    read -ra words <<<"${_lab_variant_settings[$name]}"
    for word in "${words[@]}"; do
      key=${word%%=*}
      value=$(lab_expand_facts "${word#*=}") || return 1
      if [[ $name != full && -z ${v[$key]+set} ]]; then
        lab_die "variant $name sets $key, which the full lab does not have"
        return 1
      fi
      v[$key]=$value
    done
  done
  if ((v[watch] && (v[router] || !v[snooping]))); then
    lab_die "the watch lab's beacons sit on its switch: it has no router (router=0, snooping=1)"
    return 1
  fi
  if ((v[router6] && !v[ipv6])); then
    lab_die "an IPv6 router (router6=1) needs IPv6 on the host link (ipv6=1)"
    return 1
  fi
  # An IGMP-only or PIM-only router forwards no multicast to the host link; the watch
  # lab's beacons need none, they are on the switch.
  v[forwards]=$(((v[beacons] && v[pim] && v[igmp]) || v[watch]))
  v[forwards_ssm]=$((v[forwards] && v[igmp_version] >= 3))
  # The IPv6 beacons are sent on the host link from the IPv6 router's namespace.
  v[beacons6]=$(((v[beacons] && v[router6]) || (v[watch] && v[ipv6])))
  v[source_addrs]=$LAB_SSM_SOURCE
  local extra
  for extra in "${v[ssm_from]}" "${v[beacon_source]}"; do
    [[ " ${v[source_addrs]} " == *" $extra "* ]] || v[source_addrs]+=" $extra"
  done
  ((v[two_asm])) && [[ " ${v[source_addrs]} " != *" $LAB_OTHER_SOURCE "* ]] &&
    v[source_addrs]+=" $LAB_OTHER_SOURCE"
  for key in "${!v[@]}"; do
    printf '%s=%s\n' "$key" "${v[$key]}"
  done | sort
}

# lab_variant NAME KEY: one setting of lab NAME's variant (see lab_variant_settings).
lab_variant() {
  local file key value
  file="$(lab_dir "$1")/variant.env"
  [[ -f $file ]] || lab_die "lab $1 has no variant (no $file)" || return 1
  while IFS='=' read -r key value; do
    if [[ $key == "$2" ]]; then
      printf '%s\n' "$value"
      return 0
    fi
  done <"$file"
  lab_die "no variant setting $2 for lab $1"
}
