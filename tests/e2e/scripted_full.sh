#!/usr/bin/env bash
# Runs for scripts against the full lab: --once prints the pass without the prompt
# and exits 0 since every test succeeds, its metrics file clean. The IPv4 --json
# object of the same lab is checked in ipv6.scripted, whose lab holds the full lab's
# IPv4 side (its IPv4 half of -4 -6 --once prints this scenario's text).
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab router
e2e_require promtool
e2e_require_tool

e2e_lab_up

E2E_TOOL_ARGS=(--once --prometheus "$E2E_WORK/corvanite.prom")
e2e_run_tool
head -n -2 "$E2E_DIR/expected/full_pass.txt" >"$E2E_WORK/full_once.txt"
e2e_expect_output_file "$E2E_WORK/full_once.txt"
e2e_expect_metrics_file "$E2E_WORK/corvanite.prom"
e2e_finish
