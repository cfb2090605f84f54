#!/usr/bin/env bash
# The router works but no beacon source sends: both beacon tests hear no member, and
# the report concludes that the path to the router works for ASM and SSM while the
# traffic from beyond it is missing.
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab router
e2e_require promtool
e2e_require_tool

e2e_lab_up --no-beacons
e2e_run_tool $'q\n'
e2e_expect_output no_beacons.txt
# The same lab with --prometheus: the same text, and metrics promtool accepts.
e2e_metrics_pass no_beacons.txt 1
e2e_finish
