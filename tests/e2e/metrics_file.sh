#!/usr/bin/env bash
# The metrics file on a bare link. A pass with --prometheus prints the same text as
# without it and writes the file: mode 0644, promtool clean, every test at 0. A run
# killed with SIGKILL half-way through writing the next file (an LD_PRELOAD shim
# holds it there) leaves the previous file whole and in place.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab
e2e_require promtool
e2e_require_tool
[[ -r ${E2E_SHIM_STALL_WRITE:-} ]] || e2e_skip "no shim library (E2E_SHIM_STALL_WRITE)"

e2e_lab_up --bare
folder=$E2E_WORK/textfiles
metrics=$folder/corvanite-$LAB_HOST_IF.prom
mkdir -p "$folder"

E2E_TOOL_ARGS=(-i "$LAB_HOST_IF" --once --prometheus "$metrics")
E2E_EXPECT_STATUS=1
e2e_run_tool
head -n -2 "$E2E_DIR/expected/bare_pass.txt" >"$E2E_WORK/bare_once.txt"
e2e_expect_output_file "$E2E_WORK/bare_once.txt"
e2e_expect_metrics_file "$metrics"
zeroes=$(grep -c '^corvanite_test_success{.*} 0$' "$metrics" || true)
[[ $zeroes == 8 ]] || e2e_fail "$zeroes tests at 0 in the bare lab's metrics, not 8"
cp "$metrics" "$E2E_WORK/first.prom"

e2e_log "a second pass, killed while it writes the file"
marker=$E2E_WORK/stalled
lab_exec_prefix "$E2E_LAB" host
"${LAB_EXEC_PREFIX[@]}" env LD_PRELOAD="$E2E_SHIM_STALL_WRITE" CORVANITE_SHIM_FOLDER="$folder" \
  CORVANITE_SHIM_MARKER="$marker" \
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
  "$E2E_TOOL" "${E2E_TOOL_ARGS[@]}" >"$E2E_WORK/killed.out" 2>"$E2E_WORK/killed.err" &
runner=$!
# shellcheck disable=SC2317 # called at exit through lab_at_exit
stop_runner() { kill -KILL "$runner" 2>/dev/null || true; }
lab_at_exit stop_runner
# The shim marks the moment it has written half the file; a pass takes about 28 s.
for ((i = 0; i < 900; i++)); do
  [[ -e $marker ]] && break
  kill -0 "$runner" 2>/dev/null || break
  sleep 0.1
done
if [[ -e $marker ]]; then
  # The wrappers exec into the tool: the job's PID is the tool's.
  [[ $(readlink "/proc/$runner/exe") == "$(readlink -f "$E2E_TOOL")" ]] ||
    e2e_fail "process $runner is not the tool but $(readlink "/proc/$runner/exe")"
  kill -KILL "$runner"
  rc=0
  wait "$runner" || rc=$?
  [[ $rc == 137 ]] || e2e_fail "the killed run ended with $rc, not 137"
  if cmp -s "$E2E_WORK/first.prom" "$metrics"; then
    e2e_log "the previous file is intact"
  else
    e2e_fail "the killed run changed $metrics"
  fi
  # What the killed run left is its half-written temporary file, under a name the
  # textfile collector does not read.
  mapfile -t left < <(find "$folder" -mindepth 1 -name '.*')
  if [[ ${#left[@]} -eq 1 && -s ${left[0]} && ${left[0]} != *.prom ]]; then
    e2e_log "the killed run left $(basename "${left[0]}") ($(stat -c %s "${left[0]}") bytes)"
  else
    e2e_fail "expected one half-written hidden file, found: ${left[*]:-none}"
  fi
  [[ $(find "$folder" -name '*.prom' | wc -l) == 1 ]] || e2e_fail "another *.prom file appeared"
else
  e2e_fail "the run never reached the metrics write (see $E2E_WORK/killed.err)"
fi
e2e_finish
