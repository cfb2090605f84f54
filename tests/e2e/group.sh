#!/usr/bin/env bash
# Several scenarios in one lab: the lab is built once as VARIANT (a router lab's guest
# boots once, not once a scenario), then each scenario runs in it in turn, as it would
# alone, and last the lab is torn down and must leave nothing behind.
#
#   group.sh NAME "VARIANT..." LABEL=SCRIPT[,ARG...] ...
#
# VARIANT: rows of lab/variants.txt, lab_up's flags without their "--" ("full": none).
# LABEL names the scenario in the log and in E2E_ONLY / E2E_SKIP (extended regexes on
# the labels: run only the matching ones / leave the matching ones out). A scenario
# that skips itself (a tool it needs is missing) does not fail the group; the group
# skips when all of them did. Scenarios that change the lab (a sysctl, a firewall
# table, the link) put it back when they end, or come last in their group.
# shellcheck source-path=SCRIPTDIR source=lib.sh
E2E_GROUP=${1:?group name}
E2E_GROUP_FLAGS=()
for variant in ${2:?variants}; do
  [[ $variant == full ]] || E2E_GROUP_FLAGS+=("--$variant")
done
shift 2
. "$(dirname "$0")/lib.sh"
E2E_SCENARIO=group-$E2E_GROUP
E2E_LAB=$(printf 'g-%s' "${E2E_GROUP//[._]/-}" | cut -c1-20)-$$
E2E_WORK=$(lab_dir "$E2E_LAB")

settings=$(lab_variant_settings ${E2E_GROUP_FLAGS[@]+"${E2E_GROUP_FLAGS[@]}"})
needs=()
grep -qx 'router=1' <<<"$settings" && needs+=(router)
grep -qx 'router6=1' <<<"$settings" && needs+=(router6)
# shellcheck disable=SC2119 # no needs: a bare lab
e2e_require_lab ${needs[@]+"${needs[@]}"}

chosen=()
for entry in "$@"; do
  label=${entry%%=*}
  [[ -n ${E2E_ONLY:-} && ! $label =~ $E2E_ONLY ]] && continue
  [[ -n ${E2E_SKIP:-} && $label =~ $E2E_SKIP ]] && continue
  chosen+=("$entry")
done
((${#chosen[@]})) || e2e_skip "E2E_ONLY / E2E_SKIP leave no scenario of group $E2E_GROUP"

t0=$SECONDS
e2e_lab_up ${E2E_GROUP_FLAGS[@]+"${E2E_GROUP_FLAGS[@]}"}
boot=$((SECONDS - t0))
export E2E_SHARED_LAB=$E2E_LAB E2E_SHARED_FLAGS="${E2E_GROUP_FLAGS[*]}"

passed=0 skipped=0 failed=()
summary=("lab ${E2E_GROUP_FLAGS[*]:-full} up in ${boot} s")
for entry in "${chosen[@]}"; do
  label=${entry%%=*}
  IFS=, read -ra run <<<"${entry#*=}"
  e2e_log "scenario $label (${run[*]})"
  t=$SECONDS
  rc=0
  bash "$E2E_DIR/${run[0]}" "${run[@]:1}" || rc=$?
  case $rc in
    0)
      verdict=passed
      passed=$((passed + 1))
      ;;
    77)
      verdict=skipped
      skipped=$((skipped + 1))
      ;;
    *)
      verdict="FAILED ($rc)"
      failed+=("$label")
      ;;
  esac
  summary+=("$label $verdict in $((SECONDS - t)) s")
  # A scenario that failed may have left the lab in any state: the rest would only
  # fail after it, so they do not run.
  if ((rc != 0 && rc != 77)); then
    for left in "${chosen[@]:$((${#summary[@]} - 1))}"; do
      summary+=("${left%%=*} not run")
    done
    break
  fi
done

e2e_lab_down_checked
summary+=("lab down; group $E2E_GROUP took $((SECONDS - t0)) s")
printf '== %s\n' "${summary[@]}" >&2
if ((${#failed[@]})); then
  e2e_fail "group $E2E_GROUP: ${failed[*]} failed"
elif ((passed == 0 && skipped > 0)); then
  e2e_skip "every scenario of group $E2E_GROUP skipped itself"
fi
e2e_finish
