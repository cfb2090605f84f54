#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang, ASan and UBSan, and runs each
# one for a bounded time from the seed corpus of real packets.
#
#   FUZZ_SECONDS   seconds per target (default 20; eight targets)
#   FUZZ_BUILD     build folder (default build-fuzz)
#
# A crash, a sanitizer report or a broken property fails the run; the input that
# did it is left as crash-* in $FUZZ_BUILD/artifacts/TARGET/.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
seconds=${FUZZ_SECONDS:-20}
build=${FUZZ_BUILD:-$repo/build-fuzz}
targets=(ip_datagram link_frame membership_query mld_query echo_reply pim_message address
  ipv6_capture)

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: clang++ is not installed (scripts/install-build-deps installs it)" >&2
  exit 1
fi

cmake -S "$repo/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j2

passed=0
failed=0
for target in "${targets[@]}"; do
  work=$build/corpus/$target
  artifacts=$build/artifacts/$target
  rm -rf "$work" "$artifacts"
  mkdir -p "$work" "$artifacts"
  log=$build/$target.log
  # New inputs go to the first folder; the committed seeds stay as they are.
  # 4096 bytes: the most the tool's listening loop ever hands to a reader.
  if "$build/bin/fuzz_$target" "$work" "$repo/fuzz/corpus" \
    -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=1024 \
    -artifact_prefix="$artifacts/" -print_final_stats=1 >"$log" 2>&1; then
    runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$log")
    cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -1)
    echo "fuzz_$target: ok, ${runs:-?} inputs in ${seconds} s, $cov"
    passed=$((passed + 1))
  else
    echo "fuzz_$target: FAILED (log: $log)" >&2
    tail -n 40 "$log" >&2
    failed=$((failed + 1))
  fi
done

echo "fuzz: $passed passed, $failed failed"
((failed == 0))
