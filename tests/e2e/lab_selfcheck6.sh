# shellcheck shell=bash
# The IPv6 half of the lab's self-check (sourced by lab_selfcheck.sh, which has built the
# lab and defined v, expect and ms_within): what the IPv6 variants give the host link,
# observed from the host namespace. Nothing here runs for a lab without IPv6.
# shellcheck disable=SC2154 # variant, router and pings come from lab_selfcheck.sh

router6=$(v router6) mld=$(v mld) snooping=$(v snooping)
beacons6=$(v beacons6)

probe6() { lab_host_exec "$E2E_LAB" "$LAB_PYTHON" "$E2E_REPO/lab/probe.py" -6 "$@"; }
receive6() {
  lab_host_exec "$E2E_LAB" "$LAB_PYTHON" "$E2E_REPO/lab/receive.py" --timeout 2 --listen \
    --iface "$LAB_HOST_IF" "$@"
}
ping6() { lab_host_exec "$E2E_LAB" ping -6 -n -c 1 -W 2 "$1%$LAB_HOST_IF" 2>&1 || true; }
ll6=$LAB_ROUTER6_LL
watch_log=$E2E_WORK/watch6.log

# The waiting observations, started together (checked below, each in its place; the
# IPv4 half's receivers have ended, so the ports they shared are free). Each receiver's
# socket filters by its own channel: group, and source for SSM.
for g in ff02::2 ff02::16 ff02::d "$ll6"; do
  obs "ping6-$g" ping6 "$g"
done
obs asm6 receive6 --group "$LAB_ASM6_GROUP" --port "$LAB_ASM_PORT" --count 5
obs ssm6 receive6 --group "$LAB_SSM6_GROUP" --port "$LAB_SSM_PORT" --source "$LAB_SSM6_SOURCE" \
  --count 5
# A channel with another source (an address nobody sends from).
obs ssm6-other receive6 --group "$LAB_SSM6_GROUP" --port "$LAB_SSM_PORT" --source 2001:db8::21 \
  --count 1

# --- the host side ---------------------------------------------------------------------
out=$(lab_host_exec "$E2E_LAB" ip -6 -o addr show dev "$LAB_HOST_IF")
expect "$LAB_HOST6_LL on $LAB_HOST_IF" 1 "$out" "inet6 $LAB_HOST6_LL/64 scope link"
expect "$LAB_HOST6_ADDR on $LAB_HOST_IF" 1 "$out" "inet6 $LAB_HOST6_ADDR/$LAB_HOST6_PREFIX scope global"
expect "tentative IPv6 address" 0 "$out" "tentative"
out=$(lab_host_exec "$E2E_LAB" ip -6 route get "$LAB_ASM6_GROUP")
expect "IPv6 multicast route on $LAB_HOST_IF" 1 "$out" "dev $LAB_HOST_IF "
# The SSM source lies behind the IPv6 router, as a real channel's does.
out=$(lab_host_exec "$E2E_LAB" ip -6 route get "$LAB_SSM6_SOURCE")
expect "route to $LAB_SSM6_SOURCE through $ll6" 1 "$out" "via $ll6 dev $LAB_HOST_IF "
out=$(lab_host_exec "$E2E_LAB" "$LAB_PYTHON" -c 'import socket
print(socket.getaddrinfo(socket.gethostname(), None, socket.AF_INET6)[0][4][0])')
expect "host name resolving to $LAB_HOST6_ADDR" 1 "$out" "^$LAB_HOST6_ADDR$"

# --- one link, two routers: each kernel keeps to its own family -------------------------
if ((router && router6)); then
  out=$(lab_router_sh "$E2E_LAB" 'if [ -e /proc/sys/net/ipv6 ]; then echo ipv6; else echo none; fi')
  expect "IPv6 in the IPv4 router's guest" 0 "$out" "^ipv6$"
  out=$(ip -n "$(lab_ns "$E2E_LAB" router)" -4 -o addr show dev r0)
  expect "IPv4 address on r0 in the router namespace" 0 "$out" "inet "
fi

# --- pim6d, as it shows itself and as the host saw it start ------------------------------
if ((router6)); then
  out=$(lab_frr6 "$E2E_LAB" 'show ipv6 mld interface' 'show ipv6 pim interface')
  if ((mld)); then
    expect "pim6d as the MLDv$mld querier of r0" 1 "$out" "^r0 +up +$mld +$ll6 "
  fi
  expect "pim6d as PIM DR of r0" 1 "$out" "^ *r0 +up +$ll6 +[0-9]+ +local "
  out=$(cat "$watch_log")
  if ((mld == 2)); then
    expect "pim6d's first MLDv2 general query (QRV 2, QQIC 125, 10 s)" 1 "$out" \
      "^query v2 group=:: sources= from=$ll6 max_resp=10000 qrv=2 qqic=125 hlim=1 ra=0 "
  elif ((mld == 1)); then
    expect "pim6d's first MLDv1 general query" 1 "$out" \
      "^query v1 group=:: sources= from=$ll6 max_resp=10000 hlim=1 ra=0 "
  fi
  expect "pim6d's first PIMv6 Hello (holdtime 105, DR priority 1)" 1 "$out" \
    "^hello from=$ll6 holdtime=105 dr_priority=1 genid=[0-9]+ hlim=1 "
elif ((snooping)); then
  expect "the switch's first MLDv2 general query" 1 "$(cat "$watch_log")" \
    "^query v2 group=:: sources= from=$LAB_SWITCH6_LL .* hlim=1 ra=0 "
fi

# --- echo requests to the IPv6 router groups ---------------------------------------------
for g in ff02::2 ff02::16 ff02::d; do
  observed "ping6-$g"
  expect "echo reply to $g from the IPv6 router" $((router6 && pings)) "$seen" \
    "from $ll6%$LAB_HOST_IF:"
done
observed "ping6-$ll6"
expect "echo reply from $ll6 itself" "$router6" "$seen" "from $ll6%$LAB_HOST_IF:"

# --- IPv6 beacons on the link ------------------------------------------------------------
observed asm6
out=$seen
expect "IPv6 ASM beacons from $LAB_SSM6_SOURCE" "$beacons6" "$out" "^$LAB_SSM6_SOURCE [0-9]+$"
observed ssm6
out=$seen
expect "IPv6 SSM beacons from $LAB_SSM6_SOURCE" "$beacons6" "$out" "^$LAB_SSM6_SOURCE [0-9]+$"
# The channel with another source stays silent.
observed ssm6-other
out=$seen
expect "IPv6 SSM beacons on a channel from another source" 0 "$out" "^[0-9a-f:]+ [0-9]+$"

# --- MLD: queries after a Done and a BLOCK -----------------------------------------------
# The querier: pim6d, or with none the switch, which sends its group-and-source queries
# from its global address (RFC 3810 wants link-local) about a second late.
querier="" gs_from="" gs_ms=500
if ((router6 && mld)); then
  querier=$ll6 gs_from=$ll6
elif ((snooping)); then
  querier=$LAB_SWITCH6_LL gs_from=$LAB_SWITCH6_ADDR gs_ms=2000
fi
qv=2
((router6 && mld == 1)) && qv=1
# The timed probes, one after another in one process (as the IPv4 half's). A query
# after the Done must come within 500 ms, so that probe waits 1.5 s; after the BLOCK,
# the switch may take 2 s, so that one waits the default 2.5 s.
batch=(--wait 1.5 leave "$LAB_ASM6_GROUP" --then block "$LAB_SSM6_GROUP" "$LAB_SSM6_SOURCE"
  --then --wait 1.5 pim-hello --genid 1111)
((router6)) && batch+=(--then --wait 1.5 pim-hello --genid 2222)
probe6 "${batch[@]}" >"$E2E_WORK/selfcheck-probes6.out" ||
  e2e_fail "the IPv6 probes ended with status $?"
probed6() { sed -nE "s/^$1 //p" "$E2E_WORK/selfcheck-probes6.out"; }
out=$(probed6 1 | grep " group=$LAB_ASM6_GROUP " || true)
expect "group-specific query after an MLDv1 Done" "$([[ -n $querier ]] && echo 1 || echo 0)" \
  "$out" "^query v$qv group=$LAB_ASM6_GROUP sources= from=$querier "
if [[ -n $querier ]] && ! ms_within "$out" 500; then
  e2e_fail "the group-specific query came late: $out"
fi
out=$(probed6 2 | grep " group=$LAB_SSM6_GROUP " || true)
if ((qv == 1)); then
  # An MLDv1 querier answers with a query for the group alone.
  expect "MLDv1 group query after an MLDv2 BLOCK" 1 "$out" \
    "^query v1 group=$LAB_SSM6_GROUP sources= from=$querier "
else
  expect "group-and-source-specific query after an MLDv2 BLOCK" \
    "$([[ -n $querier ]] && echo 1 || echo 0)" "$out" \
    "^query v2 group=$LAB_SSM6_GROUP sources=$LAB_SSM6_SOURCE from=$gs_from "
fi
if [[ -n $querier ]] && ! ms_within "$out" "$gs_ms"; then
  e2e_fail "the query after the BLOCK came later than $gs_ms ms: $out"
fi

# --- PIMv6: triggered Hellos, and pim6d stays DR -----------------------------------------
out=$(probed6 3 | grep "^hello from=$ll6 " || true)
expect "triggered PIMv6 Hello after a Hello with DR priority 0" "$router6" "$out" \
  "^hello from=$ll6 holdtime=[0-9]+ dr_priority=[0-9]+ genid=[0-9]+ hlim=1 ms="
if ((router6)); then
  ms_within "$out" 1000 || e2e_fail "the triggered Hello came late: $out"
  out=$(probed6 4 | grep "^hello from=$ll6 " || true)
  expect "triggered PIMv6 Hello after a new generation ID" 1 "$out" "^hello from="
  out=$(lab_frr6 "$E2E_LAB" 'show ipv6 pim neighbor' 'show ipv6 pim interface')
  expect "the host as pim6d's neighbour with DR priority 0" 1 "$out" \
    "^ *r0 +$LAB_HOST6_LL .* 0 *$"
  expect "pim6d still DR of the host link" 1 "$out" "^ *r0 +up +$ll6 +1 +local "
fi

# --- the snooping switch -----------------------------------------------------------------
if ((snooping)); then
  sw=$(lab_ns "$E2E_LAB" switch)
  # While the host listens, the switch holds its port as a member of each group.
  receive6 --group "$LAB_ASM6_GROUP" --port "$LAB_ASM_PORT" >/dev/null &
  rx6=$!
  lab_host_exec "$E2E_LAB" "$LAB_PYTHON" "$E2E_REPO/lab/receive.py" --timeout 2 --listen \
    --group "$LAB_ASM_GROUP" --port "$LAB_ASM_PORT" >/dev/null &
  rx4=$!
  mdb=""
  for ((i = 0; i < 15; i++)); do
    mdb=$(bridge -n "$sw" mdb show)
    grep -q "port p-host grp $LAB_ASM6_GROUP " <<<"$mdb" &&
      grep -q "port p-host grp $LAB_ASM_GROUP " <<<"$mdb" && break
    sleep 0.1
  done
  wait "$rx6" "$rx4" || true
  expect "the switch's MLD entry for the host's port" 1 "$mdb" "port p-host grp $LAB_ASM6_GROUP "
  expect "the switch's IGMP entry for the host's port" 1 "$mdb" "port p-host grp $LAB_ASM_GROUP "
  if ((router)); then
    # The switch's IGMP querier (10.0.1.3) gives way to the router's lower address.
    out=$(lab_frr "$E2E_LAB" 'show ip igmp interface')
    expect "FRR as the IGMP querier behind the switch" 1 "$out" \
      "^r0 +up +$LAB_ROUTER_ADDR +3 +local "
  fi
fi

# --- the witness over IPv6: fields, rules, checksums, and one family per kernel ----------
if [[ $variant == ipv6 ]]; then
  e2e_witness_start
  # The pings come first (a capture that returned before it took packets misses them),
  # side by side: nothing here is timed.
  for g in ff02::2 ff02::16 ff02::d; do obs "w-ping6-$g" ping6 "$g"; done
  for g in 224.0.0.2 224.0.0.22 224.0.0.13; do obs "w-ping-$g" ping_group "$g" -W 2; done
  for g in ff02::2 ff02::16 ff02::d 224.0.0.2 224.0.0.22 224.0.0.13; do
    observed "w-ping$([[ $g == *:* ]] && echo 6)-$g"
  done
  probe6 leave "$LAB_ASM6_GROUP" --then block "$LAB_SSM6_GROUP" "$LAB_SSM6_SOURCE" \
    --then --wait 0.5 pim-hello >/dev/null || e2e_fail "the IPv6 probes ended with status $?"
  e2e_witness_stop
  h="src=$LAB_HOST6_LL " rules="hlim=1 ra=1 ra_value=0 proto=icmpv6 cksum=good "
  e2e_witness_saw "the MLDv1 Report" "$h" "dst=$LAB_ASM6_GROUP " "$rules" "icmpv6_type=131 " \
    "group=$LAB_ASM6_GROUP$"
  e2e_witness_saw "the MLDv1 Done" "$h" "dst=ff02::2 " "$rules" "icmpv6_type=132 "
  e2e_witness_saw "the MLDv2 ALLOW record" "$h" "dst=ff02::16 " "$rules" \
    "records=5/$LAB_SSM6_GROUP/$LAB_SSM6_SOURCE$"
  e2e_witness_saw "the MLDv2 BLOCK record" "$h" "records=6/$LAB_SSM6_GROUP/$LAB_SSM6_SOURCE$"
  e2e_witness_saw "the PIMv6 Hello's options" "$h" "dst=ff02::d " "hlim=1 " "proto=pim " \
    "cksum=good " "holdtime=30 " "dr_priority=0 " "genid=[0-9]+$"
  e2e_witness_saw "pim6d's PIMv6 Hello" "src=$ll6 " "proto=pim cksum=good " "dr_priority=1 "
  e2e_witness_saw "pim6d's group query" "src=$ll6 " "dst=$LAB_ASM6_GROUP " \
    "ra=1 ra_value=0 " "icmpv6_type=130 " "mld_v=2 group=$LAB_ASM6_GROUP " "qrv=2 qqic=125 "
  e2e_witness_saw "pim6d's group-and-source query" "src=$ll6 " "icmpv6_type=130 " \
    "group=$LAB_SSM6_GROUP " "sources=$LAB_SSM6_SOURCE$"
  e2e_witness_saw "pim6d's echo reply" "src=$ll6 " "dst=$LAB_HOST6_LL " "icmpv6_type=129 "
  e2e_witness_ipv6_rules "the probes' IPv6 messages"
  e2e_expect_interval "MLDv1 Report to Done" 190 10000 "$(e2e_mark v1-report6)" \
    "$(e2e_mark v1-done6)"
  e2e_expect_interval "MLDv2 ALLOW to BLOCK" 190 10000 "$(e2e_mark allow6)" "$(e2e_mark block6)"
  # Every frame the router side sent came from the kernel of its family: IPv4 from the
  # guest's MAC, IPv6 from r0's, and each echo request to a group got one reply.
  r0_mac=$(ip -n "$(lab_ns "$E2E_LAB" router)" -o link show r0 | sed -nE 's/.*link\/ether ([0-9a-f:]+).*/\1/p')
  frames=$(tshark -n -r "$E2E_WORK/witness.pcapng" -Y "ip.src == $LAB_ROUTER_ADDR or ipv6.src == $ll6" \
    -T fields -e eth.src -e ip.src -e ipv6.src -e icmp.type -e icmpv6.type 2>/dev/null)
  wrong=$(awk -F'\t' -v r0="$r0_mac" '($2 != "" && $1 == r0) || ($3 != "" && $1 != r0)' <<<"$frames")
  if [[ -z $frames ]]; then
    e2e_fail "no frame from either router in the capture"
  elif [[ -n $wrong ]]; then
    e2e_fail "frames from the wrong kernel for their family (r0 is $r0_mac): $wrong"
  else
    e2e_log "ok: IPv4 only from the guest, IPv6 only from r0 ($r0_mac)"
  fi
  n4=$(awk -F'\t' '$4 == "0"' <<<"$frames" | wc -l)
  n6=$(awk -F'\t' '$5 == "129"' <<<"$frames" | wc -l)
  if ((n4 == 3 && n6 == 3)); then
    e2e_log "ok: one echo reply to each of 3 IPv4 and 3 IPv6 group pings"
  else
    e2e_fail "echo replies to 3 IPv4 and 3 IPv6 group pings: $n4 and $n6"
  fi

  # Broken messages: the rules and the checksum verdicts must catch each of them.
  "$E2E_REPO/lab/witness" start "$E2E_LAB"
  probe6 --wait 0.2 report "$LAB_ASM6_GROUP" --no-router-alert --hop-limit 2 \
    --source "$LAB_HOST6_ADDR" --then --wait 0.2 report "$LAB_ASM6_GROUP" --bad-checksum \
    --then --wait 0.2 pim-hello --bad-checksum >/dev/null ||
    e2e_fail "the IPv6 probes ended with status $?"
  "$E2E_REPO/lab/witness" stop "$E2E_LAB"
  if "$E2E_REPO/lab/witness" check "$E2E_LAB" >"$E2E_WORK/bad6.txt" 2>"$E2E_WORK/bad6.err"; then
    e2e_fail "the witness passed an MLD report and a PIMv6 Hello with bad checksums"
  elif grep -q '^BAD .* proto=icmpv6 cksum=bad icmpv6_type=131 ' "$E2E_WORK/bad6.err" &&
    grep -q '^BAD .* proto=pim cksum=bad ' "$E2E_WORK/bad6.err"; then
    e2e_log "ok: the witness flags bad ICMPv6 and PIMv6 checksums"
  else
    e2e_fail "the witness failed without naming both bad messages: $(cat "$E2E_WORK/bad6.err")"
  fi
  rules_err=$(
    # shellcheck disable=SC2034 # read by e2e_witness_ipv6_rules
    E2E_FAILED=0 E2E_WITNESS=$E2E_WORK/bad6.txt
    e2e_witness_ipv6_rules "broken messages" 2>&1
  )
  for why in "source not link-local" "hop limit not 1" "no Router Alert of value 0" \
    "checksum not good"; do
    if [[ $rules_err == *"$why"* ]]; then
      e2e_log "ok: the IPv6 rules catch a message with $why"
    else
      e2e_fail "the IPv6 rules missed a message with $why: $rules_err"
    fi
  done
fi
