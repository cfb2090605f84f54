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
# One pass, --once with --prometheus: its text is the golden pass's without the prompt
# (the prompt and a second pass are faults.five_passes' and two_passes'), and its metrics file
# must satisfy promtool.
e2e_metrics_pass no_beacons.txt 1
e2e_finish
