#!/usr/bin/env bash
# The whole test suite, end-to-end scenarios included, against a build with
# AddressSanitizer and UndefinedBehaviorSanitizer (-fno-sanitize-recover: any
# finding ends the process with an error, so the test that ran it fails).
#
#   SANITIZE_BUILD  build folder (default build-asan)
#   SANITIZE_CXX    compiler (default g++; clang++ works too)
#   CTEST_ARGS      ctest arguments choosing the tests (default: all but the lab's own
#                   checks), e.g. "-L unit" for the unit tests alone
# The lab's own checks (e2e.lab_selfcheck.*) never run the tool: under the sanitizers
# they would only check the lab a second time, at the price of seven router labs.
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
if [[ -n ${CTEST_ARGS:-} ]]; then
  read -ra args <<<"$CTEST_ARGS"
else
  args=(-E '^e2e[.]lab_selfcheck[.]')
fi
ctest --test-dir "$build" --output-on-failure -j "${TEST_JOBS:-8}" "${args[@]}"
