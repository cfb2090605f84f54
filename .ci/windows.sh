#!/usr/bin/env bash
# Windows build: cross-compiles the tool and its tests with MinGW-w64
# (warnings as errors, statically linked) and runs the tests under Wine.
#
# Wine's sockets are opened by wineserver, so wineserver and every test run
# inside a network namespace made here with only loopback up: nothing the
# tests send or join can reach a real link. Where no namespace can be made,
# the tests run on 127.0.0.1 and the group-membership ones report skipped.
#
# Usage: .ci/windows.sh [build-dir]     (root; Debian 12)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-windows}

need=()
for package in cmake make googletest g++-mingw-w64-x86-64-posix wine wine64 mandoc; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    need+=("$package")
done
if ((${#need[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCORVANITE_WERROR=ON
cmake --build "$build" -j2

# -static must leave nothing but Windows' own DLLs to load.
for exe in "$build"/bin/*.exe; do
  if x86_64-w64-mingw32-objdump -p "$exe" | grep -i "DLL Name" |
    grep -viE "(kernel32|ws2_32|iphlpapi|msvcrt|user32|advapi32|shell32|ole32|ntdll)\.dll"; then
    echo "windows: $exe needs a DLL that Windows does not ship" >&2
    exit 1
  fi
done

# The build directory may be given relative or absolute.
WINEPREFIX=$(cd "$build" && pwd)/wine-prefix
export WINEPREFIX WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
mkdir -p "$WINEPREFIX"

netns=corvanite-win-$$
in_ns=()
# shellcheck disable=SC2317 # run by the trap
cleanup() {
  "${in_ns[@]}" "$wineserver" -k 2>/dev/null || true
  if ((${#in_ns[@]})); then ip netns del "$netns" 2>/dev/null || true; fi
}
trap cleanup EXIT
# A server left over from an earlier run would open sockets wherever it runs.
"$wineserver" -k 2>/dev/null || true

if ip netns add "$netns" 2>/dev/null; then
  in_ns=(ip netns exec "$netns")
  ip -n "$netns" link set lo up multicast on
  ip -n "$netns" route add 224.0.0.0/4 dev lo
  export CORVANITE_TEST_NETNS=$netns
else
  echo "windows: no network namespace; group membership tests will be skipped" >&2
fi

# A persistent server and one finished start-up before CTest: otherwise the
# server and wineboot inherit CTest's pipes and CTest waits for them forever.
"${in_ns[@]}" "$wineserver" -p
"${in_ns[@]}" setsid "$wine" cmd /c exit </dev/null >/dev/null 2>&1

# Now and then a fresh Wine prefix fails to start a program at all (no output, exit
# in 10 ms); a test that fails for itself fails all three times.
"${in_ns[@]}" ctest --test-dir "$build" -L 'unit|windows' --output-on-failure --timeout 120 \
  -j2 --repeat until-pass:3 | tee "$build/ctest-windows.log"
status=${PIPESTATUS[0]}
grep -E "\*\*\*Skipped|Not Run" "$build/ctest-windows.log" || true
exit "$status"
