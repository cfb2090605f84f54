#!/usr/bin/env bash
# Without the right to open raw sockets (CAP_NET_RAW out of the bounding set, root or
# not): tests 1 and 2 still hear the beacons; tests 3 to 8 each print their header and
# the raw-socket failure with error 1 (EPERM), and the report says what was learnt.
# shellcheck source-path=SCRIPTDIR source=hardening_lib.sh
. "$(dirname "$0")/hardening_lib.sh"
e2e_require_lab router
e2e_require setpriv
e2e_require_tool

e2e_lab_up
# shellcheck disable=SC2034 # used through e2e_run_tool --under
without_net_raw=(setpriv --inh-caps=-all --bounding-set=-net_raw)
e2e_run_tool --under without_net_raw $'q\n'
e2e_expect_output faults_no_raw_rights.txt
e2e_finish
