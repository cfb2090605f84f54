#!/usr/bin/env bash
# The lab's shell helpers that need no lab (no root, no namespace): waiting for lines
# in a log that may not exist yet, and the variant table, as lab_up reads it and as the
# README shows it.
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

# The README's table of variants is the table's rows, in its order.
for v in "${LAB_VARIANT_NAMES[@]}"; do
  # shellcheck disable=SC2016 # Markdown's backticks
  [[ $v == full ]] || printf '| `--%s` | %s |\n' "$v" "$(lab_variant_text "$v")"
done >"$tmp/variants.md"
sed -n '/^| Flag | The network then |$/,/^$/p' "$E2E_REPO/README.md" | sed '1,2d;/^$/d' \
  >"$tmp/readme.md"
if cmp -s "$tmp/variants.md" "$tmp/readme.md"; then
  e2e_log "ok: the README's variants are the table's"
else
  e2e_fail "the README's table of variants differs from lab/variants.txt (- README, + table):"
  diff -u --label README --label lab/variants.txt "$tmp/readme.md" "$tmp/variants.md" >&2 || true
fi

e2e_finish
