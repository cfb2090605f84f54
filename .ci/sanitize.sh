#!/usr/bin/env bash
# The unit tests and every code path's end-to-end scenarios against a build with
# AddressSanitizer and UndefinedBehaviorSanitizer (-fno-sanitize-recover: any
# finding ends the process with an error, so the test that ran it fails).
#
#   SANITIZE_BUILD  build folder (default build-asan)
#   SANITIZE_CXX    compiler (default g++; clang++ works too)
#   CTEST_ARGS      ctest arguments choosing the tests (default: those below), e.g.
#                   "-L unit" for the unit tests alone, "-E ^$" for every test
# Left out by default, to keep CI within its hour: the lab's own checks
# (e2e.lab_selfcheck.*), which never run the tool, and the scenarios that run the
# tool's same code against another lab variant (the router ignoring pings, without
# IGMP or PIM, other senders, the diagnosis's other variants and the field situations
# it must read right, five passes in a row):
# every reader, probe, renderer and diagnosis path still runs here, in the full, bare,
# scripted, fault, flood, IPv6 and metrics scenarios.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${SANITIZE_BUILD:-$repo/build-asan}

cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER="${SANITIZE_CXX:-g++}" \
  -DCORVANITE_SANITIZE=ON -DCORVANITE_WERROR=ON >/dev/null
cmake --build "$build" -j2

# Leaks count as findings; a sanitizer's first report stops the process.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# The scenarios left out, by their names: a standalone one is the test e2e.NAME, one in
# a group (e2e.lab.GROUP) is left out through E2E_SKIP, and a group left with none skips
# before it builds its lab.
left_out='lab_selfcheck[.]|scripted_repeat|two_passes|ssm_wrong_source|two_asm_senders|beacons_elsewhere|two_links|ignore_pings|no_igmp|no_beacons|no_pim|prometheus_stack|faults[.]five_passes|ipv6[.](bare|mldv1|diag_)|diag[.](querier_old_version|membership_interval|switch_querier|query_off_subnet|multiple_queriers|host_forced_igmp|host_firewall|no_route_back|beacon_ttl_2|forced_igmp_3|forced_mld_2|snooping_drops_v3|v2_querier|late_hello|robust_querier|long_querier|silent_querier)|watch[.][a-z_]+6'
if [[ -n ${CTEST_ARGS:-} ]]; then
  read -ra args <<<"$CTEST_ARGS"
else
  args=(-E "^e2e[.]($left_out)")
  export E2E_SKIP="^($left_out)"
fi
ctest --test-dir "$build" --output-on-failure -j "${TEST_JOBS:-8}" "${args[@]}"
