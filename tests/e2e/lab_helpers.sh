#!/usr/bin/env bash
# The lab's shell helpers that need no lab (no root, no namespace): waiting for lines
# in a log that may not exist yet, and the variant table, as lab_up reads it and as
# doc/lab.md shows it.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"

tmp=$(mktemp -d)
lab_at_exit rm -rf "$tmp"

# --- lab_wait_for_line -----------------------------------------------------------------

# wait_case WHAT WANT_STATUS ARG...: lab_wait_for_line ARG... ends with WANT_STATUS and
# writes nothing to standard error.
wait_case() {
  local what=$1 want=$2 rc=0
  shift 2
  lab_wait_for_line "$@" 2>"$tmp/wait.err" || rc=$?
  if ((rc != want)); then
    e2e_fail "wait for a line, $what: status $rc, not $want"
  elif [[ -s $tmp/wait.err ]]; then
    e2e_fail "wait for a line, $what: wrote to standard error: $(head -c 300 "$tmp/wait.err")"
  else
    e2e_log "ok: wait for a line, $what"
  fi
}

# A log that a process creates only after the wait has begun, as a daemon's does.
(
  sleep 0.3
  printf 'starting\nCapturing on eth0\n' >"$tmp/late.log"
) &
wait_case "the log appears after the wait began" 0 "$tmp/late.log" '^Capturing on' 60
wait "$!"

wait_case "the log never appears" 1 "$tmp/never.log" 'anything' 1

# A writer that has ended: its lines are counted once more, then the wait gives up at
# once instead of waiting out its time.
printf 'marker\nmarker\n' >"$tmp/ended.log"
sh -c 'echo marker >>"$1"' sh "$tmp/ended.log" &
writer=$!
wait "$writer"
start=$SECONDS
wait_case "the third line, written just before its writer ended" 0 \
  "$tmp/ended.log" '^marker$' 60 3 "$writer"
wait_case "a fourth line from a writer that has ended" 1 \
  "$tmp/ended.log" '^marker$' 60 4 "$writer"
((SECONDS - start < 30)) || e2e_fail "waits on an ended writer took $((SECONDS - start)) s"

# --- the variant table -----------------------------------------------------------------

# setting SETTINGS KEY: one KEY=VALUE of lab_variant_settings' output.
setting() { sed -n "s/^$2=//p" <<<"$1"; }

# expect_settings WHAT "FLAG..." KEY=VALUE...: the lab with those flags has those
# settings.
expect_settings() {
  local what=$1 flags out pair
  read -ra flags <<<"$2"
  shift 2
  if ! out=$(lab_variant_settings "${flags[@]}" 2>"$tmp/variant.err"); then
    e2e_fail "$what: refused: $(cat "$tmp/variant.err")"
    return 0
  fi
  for pair in "$@"; do
    if [[ $(setting "$out" "${pair%%=*}") != "${pair#*=}" ]]; then
      e2e_fail "$what: ${pair%%=*} is '$(setting "$out" "${pair%%=*}")', not '${pair#*=}'"
      return 0
    fi
  done
  e2e_log "ok: $what"
}

expect_settings "the full lab forwards the beacons from the tool's source" "" \
  router=1 pim=1 igmp=1 forwards=1 ssm_from="$LAB_SSM_SOURCE" asm_group="$LAB_ASM_GROUP" \
  source_addrs="$LAB_SSM_SOURCE"
expect_settings "a router without PIM forwards nothing" "--no-pim" pim=0 igmp=1 forwards=0
expect_settings "flags combine, and the second ASM sender gets its address" \
  "--no-igmp --two-asm-senders" igmp=0 forwards=0 two_asm=1 \
  source_addrs="$LAB_SSM_SOURCE $LAB_OTHER_SOURCE"
expect_settings "the wrong SSM source is an address of the source host" \
  "--ssm-wrong-source" ssm_from="$LAB_OTHER_SOURCE" beacon_source="$LAB_SSM_SOURCE" \
  source_addrs="$LAB_SSM_SOURCE $LAB_OTHER_SOURCE"
expect_settings "the operator's own beacons take their facts" "--beacons-elsewhere" \
  asm_group="$LAB_OWN_ASM_GROUP" asm_port="$LAB_OWN_ASM_PORT" ssm_group="$LAB_OWN_SSM_GROUP" \
  ssm_port="$LAB_OWN_SSM_PORT" ssm_from="$LAB_OWN_SOURCE" \
  source_addrs="$LAB_SSM_SOURCE $LAB_OWN_SOURCE"
expect_settings "a bare lab has no router to forward" "--bare" router=0 forwards=0
expect_settings "the IPv6 lab keeps the IPv4 router and adds pim6d with MLDv2 and beacons" \
  "--ipv6" router=1 forwards=1 ipv6=1 router6=1 mld=2 beacons6=1 snooping=0
expect_settings "no beacons means none of either family" "--ipv6 --no-beacons" forwards=0 \
  beacons6=0 router6=1
expect_settings "a bare lab after the IPv6 flag has no IPv6 router either" "--ipv6 --bare" \
  ipv6=1 router=0 router6=0 beacons6=0
expect_settings "the bare IPv6 lab has IPv6 on the link and no router" "--ipv6-bare" ipv6=1 \
  router=0 router6=0 beacons6=0
expect_settings "the MLDv1 router" "--ipv6-mldv1" router6=1 mld=1
expect_settings "ignoring group pings holds for both routers" "--ipv6-ignore-pings" pings=0 \
  router6=1
expect_settings "the switch brings IPv6 to the link, no IPv6 router" "--snooping" snooping=1 \
  ipv6=1 router6=0 router=1

# A row that would start pim6d on a link without IPv6 is refused by lab_up.
_lab_variant_settings["test-router6-alone"]="router6=1"
if lab_variant_settings --test-router6-alone >/dev/null 2>"$tmp/variant.err"; then
  e2e_fail "an IPv6 router without IPv6 on the link was taken"
elif grep -q "needs IPv6 on the host link" "$tmp/variant.err"; then
  e2e_log "ok: an IPv6 router without IPv6 on the link is refused"
else
  e2e_fail "an IPv6 router without IPv6 was refused for another reason: $(cat "$tmp/variant.err")"
fi
unset '_lab_variant_settings[test-router6-alone]'

# Every row of the table sets only keys the full lab has, and its text names only facts
# that exist: what a new row could get wrong.
for v in "${LAB_VARIANT_NAMES[@]}"; do
  [[ $v == full ]] && continue
  lab_variant_settings "--$v" >/dev/null 2>"$tmp/variant.err" ||
    e2e_fail "variant $v: $(cat "$tmp/variant.err")"
  lab_variant_text "$v" >/dev/null 2>"$tmp/variant.err" ||
    e2e_fail "variant $v: $(cat "$tmp/variant.err")"
done
e2e_log "checked the ${#LAB_VARIANT_NAMES[@]} rows of lab/variants.txt"

for flag in --no-such-variant --full no-pim; do
  if lab_variant_settings "$flag" >/dev/null 2>"$tmp/variant.err"; then
    e2e_fail "the variant flag '$flag' was taken"
  elif grep -qF -- "unknown lab variant flag: $flag" "$tmp/variant.err"; then
    e2e_log "ok: the variant flag '$flag' is refused by name"
  else
    e2e_fail "the variant flag '$flag' was refused without its name: $(cat "$tmp/variant.err")"
  fi
done

# --- golden texts' placeholders and the witness's fields, over IPv6 ------------------------

# An IPv6 constant becomes its placeholder only as a whole address, not inside a longer
# one (fe80::10, fe80::1a, 2001:db8::200, ff3e:20:2001:db8::20), whatever follows it.
text='reply from fe80::1 and fe80::10, [ff3e::120]:8020 from 2001:db8::20 (not 2001:db8::200),
fe80::2%eth0, ff3e:20:2001:db8::19; fe80::1a, ff3e:20:2001:db8::20, 10.0.1.2.'
want='reply from @ROUTER6_LL@ and fe80::10, [@SSM6_GROUP@]:@SSM_PORT@ from @SSM6_SOURCE@ (not 2001:db8::200),
@HOST6_LL@%eth0, @ASM6_GROUP@; fe80::1a, ff3e:20:2001:db8::20, @HOST@.'
got=$(e2e_unexpand <<<"$text")
if [[ $got != "$want" ]]; then
  e2e_fail "IPv6 placeholders: got '$got', not '$want'"
elif [[ $(printf '%s\n' "$got" >"$tmp/golden.txt" && e2e_expand "$tmp/golden.txt") != "$text" ]]; then
  e2e_fail "IPv6 placeholders do not expand back to the text"
else
  e2e_log "ok: IPv6 addresses become placeholders and back"
fi

E2E_WITNESS=$tmp/witness.txt
cat >"$E2E_WITNESS" <<'EOT'
t=0.1 at=1.1 src=fe80::2 dst=ff02::d hlim=1 ra=0 proto=pim cksum=good pim_v=2 pim_type=0 options=1,19,20 holdtime=30 dr_priority=0 genid=111
t=0.2 at=1.2 src=fe80::1 dst=ff02::d hlim=1 ra=0 proto=pim cksum=good pim_v=2 pim_type=0 options=1,2,19,20 holdtime=105 dr_priority=1 genid=999
t=9.1 at=9.1 src=fe80::2 dst=ff02::d hlim=1 ra=0 proto=pim cksum=good pim_v=2 pim_type=0 options=1,19,20 holdtime=30 dr_priority=0 genid=222
EOT
got=$(e2e_witness_values genid "src=$LAB_HOST6_LL " "proto=pim " | tr '\n' ' ')
if [[ $got == "111 222 " ]]; then
  e2e_log "ok: the witness's values of one field, for the lines that match"
else
  e2e_fail "e2e_witness_values genid of the host's Hellos: '$got', not '111 222 '"
fi
# Only what the host sent once the tool ran counts as the tool's (the lab's own joins
# just before it are repeated by the kernel for a second).
E2E_WORK=$tmp
echo 5.5 >"$E2E_WORK/tool.started"
got=$(e2e_witness_count_since_tool "src=$LAB_HOST6_LL ")
if [[ $got == 1 ]]; then
  e2e_log "ok: the witness counts the host's messages from the tool's start on"
else
  e2e_fail "e2e_witness_count_since_tool: $got of the host's messages, not 1"
fi

# doc/lab.md's table of variants is the table's rows, in its order.
for v in "${LAB_VARIANT_NAMES[@]}"; do
  # shellcheck disable=SC2016 # Markdown's backticks
  [[ $v == full ]] || printf '| `--%s` | %s |\n' "$v" "$(lab_variant_text "$v")"
done >"$tmp/variants.md"
sed -n '/^| Flag | The network then |$/,/^$/p' "$E2E_REPO/doc/lab.md" | sed '1,2d;/^$/d' \
  >"$tmp/readme.md"
if cmp -s "$tmp/variants.md" "$tmp/readme.md"; then
  e2e_log "ok: doc/lab.md's variants are the table's"
else
  e2e_fail "doc/lab.md's table of variants differs from lab/variants.txt (- doc/lab.md, + table):"
  diff -u --label doc/lab.md --label lab/variants.txt "$tmp/readme.md" "$tmp/variants.md" >&2 || true
fi

e2e_finish
