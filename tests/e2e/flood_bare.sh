#!/usr/bin/env bash
# A pass on a link where nothing answers while it carries malformed traffic
# (flood.py): every test still fails as on the quiet link, so no runt, cut message or
# wrong header length was taken for a query, a Hello or an echo reply.
# Usage: flood_bare.sh [fragments]
#   fragments  also IGMP and PIM datagrams whose second fragment starts like a query
#              or a Hello (a non-first fragment is no message)
# shellcheck source-path=SCRIPTDIR source=hardening_lib.sh
. "$(dirname "$0")/hardening_lib.sh"
e2e_require_lab scapy
e2e_require_tool

e2e_lab_up --bare
extra=()
[[ ${1:-} == fragments ]] && extra=(--fragment-lookalikes)
hard_flood_start bare 5000 "${extra[@]}"
e2e_run_tool $'q\n'
hard_flood_stop
e2e_expect_output bare_pass.txt
e2e_finish
