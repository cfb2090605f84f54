#!/usr/bin/env bash
# The Debian package on this throwaway machine: build it, check it with lintian,
# install it, check the capability its postinst grants, the manual page and the
# monitor's units (installed disabled, systemd-analyze verify clean, their security
# exposure), run the installed binary as the monitor runs it (a user in the metrics
# group with CAP_NET_RAW only) in a full lab, compare its output with the golden text
# and check the metrics file it wrote, then remove and purge the package and check
# that nothing of it is left.
#
# Usage: .ci/package.sh [build-dir]     (root; Debian 12; installs and removes the package)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-package}
export DEBIAN_FRONTEND=noninteractive
tool=/usr/bin/corvanite
manual=/usr/share/man/man8/corvanite.8.gz

# shellcheck source=tests/e2e/lib.sh
. tests/e2e/lib.sh

fail() {
  echo "package: $*" >&2
  exit 1
}

if dpkg-query -W -f='${Status}' corvanite 2>/dev/null | grep -q installed; then
  fail "corvanite is installed already; this test installs and removes it itself"
fi
need=()
for package in lintian man-db libcap2-bin util-linux acl passwd systemd prometheus; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    need+=("$package")
done
if ((${#need[@]})); then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

# The manual's source, at every level mandoc reports (the build checks warnings). A
# stale mandoc.db on the machine makes mandoc note each cross reference it lacks: that
# is the machine's index, not the page.
lint=$(mandoc -T lint -W style doc/corvanite.8 2>&1) || fail "mandoc -T lint: $lint"
lint=$(grep -v ': outdated mandoc.db lacks ' <<<"$lint" || true)
[[ -z $lint ]] || fail "mandoc -T lint reports: $lint"

scripts/package-deb "$build"
deb=$(ls "$build"/packages/corvanite_*_amd64.deb)
echo "== lintian $deb"
lintian --fail-on error,warning "$deb" || fail "lintian reports errors or warnings"
# The captures' library is Debian's shared one, whose security updates reach the tool.
dpkg-deb -f "$deb" Depends | grep -q 'libpcap0\.8' || fail "the package does not depend on libpcap0.8"

# Everything named after the tool before the package comes in, to compare after removal.
leftovers() { find /usr /etc /var/lib/dpkg -xdev -name '*corvanite*' | sort; }
before=$(leftovers)

textfiles=/var/lib/prometheus/node-exporter
metrics=$textfiles/corvanite-ci-$$.prom
# Also on a failure half-way: never leave the package on the machine.
remove_if_installed() {
  rm -f "$metrics"
  if dpkg-query -W -f='${Status}' corvanite 2>/dev/null | grep -q "ok installed"; then
    dpkg --purge corvanite
  fi
}
lab_at_exit remove_if_installed
echo "== dpkg -i $deb"
dpkg -i "$deb"
caps=$(getcap "$tool")
echo "getcap: $caps"
[[ $caps == *cap_net_raw* ]] || fail "getcap $tool shows no cap_net_raw: '$caps'"

echo "== man -l $manual"
warnings=$(MANWIDTH=80 man -l --warnings "$manual" 2>&1 >/dev/null)
[[ -z $warnings ]] || fail "man -l warns: $warnings"
MANWIDTH=80 man -l "$manual" | grep -q "corvanite .* test what IPv4 and IPv6 multicast works" ||
  fail "man -l did not render the page's name line"

units=(corvanite-monitor@eth0.service corvanite-monitor@eth0.timer)
echo "== the monitor's units"
# The service has no [Install] section (static): only its timer can be enabled.
for pair in corvanite-monitor@.service=static corvanite-monitor@.timer=disabled \
  corvanite-monitor@eth0.timer=disabled; do
  unit=${pair%=*}
  [[ -f /lib/systemd/system/${unit/@*./@.} ]] || fail "$unit is not installed"
  state=$(systemctl is-enabled "$unit" 2>&1 || true)
  [[ $state == "${pair#*=}" ]] || fail "$unit is '$state', not ${pair#*=}"
done
report=$(systemd-analyze verify --man=no "${units[@]}" 2>&1) || fail "systemd-analyze verify: $report"
[[ -z $report ]] || fail "systemd-analyze verify reports: $report"
exposure=$(systemd-analyze security --offline=true "${units[0]}" | tail -n 1)
echo "systemd-analyze security: $exposure"
[[ $exposure =~ level\ for\ [^:]+:\ ([0-9.]+) ]] || fail "no exposure level in '$exposure'"
awk -v level="${BASH_REMATCH[1]}" 'BEGIN { exit !(level <= 2.0) }' ||
  fail "the service's exposure level rose above 2.0: $exposure"
getfacl -cp "$textfiles" | grep -qx 'group:corvanite-metrics:rwx' ||
  fail "the metrics group may not write $textfiles"

# As the monitor runs it: a plain user in the metrics group, with no privilege but the
# file capability's raw sockets, writing into the textfile folder.
echo "== $tool as the monitor runs it, in a full lab"
E2E_TOOL=$tool
e2e_require_lab router
e2e_lab_up
# One pass ends where the interactive run would prompt: the golden text without its
# last two lines (the prompt's blank line and the prompt).
head -n -2 tests/e2e/expected/full_pass.txt >"$E2E_WORK/full_once.txt"
# shellcheck disable=SC2034 # read through --under
as_monitor=(setpriv --reuid nobody --regid nogroup --groups corvanite-metrics)
E2E_TOOL_ARGS=(-i "$LAB_HOST_IF" --once --prometheus "$metrics")
e2e_run_tool --under as_monitor
e2e_expect_output_file "$E2E_WORK/full_once.txt"
((E2E_FAILED == 0)) || fail "the installed tool did not pass the full lab as the monitor"
echo "output matches full_pass.txt"
[[ $(stat -c '%a' "$metrics") == 644 ]] || fail "$metrics is not mode 644"
report=$(promtool check metrics <"$metrics" 2>&1) || fail "promtool check metrics: $report"
[[ -z $report ]] || fail "promtool check metrics reports: $report"
succeeded=$(grep -c '^corvanite_test_success{.*} 1$' "$metrics" || true)
[[ $succeeded == 8 ]] || fail "$metrics shows $succeeded tests succeeded, not 8"
echo "metrics: mode 644, promtool clean, 8 tests succeeded"
rm -f "$metrics"

echo "== dpkg -r corvanite"
dpkg -r corvanite
if getfacl -cp "$textfiles" 2>/dev/null | grep -q corvanite-metrics; then
  fail "the metrics group's ACL entry is left on $textfiles"
fi
echo "== dpkg --purge corvanite"
dpkg --purge corvanite
status=$(dpkg-query -W -f='${db:Status-Abbrev}' corvanite 2>/dev/null || true)
[[ -z $status || $status == un* ]] || fail "dpkg still knows corvanite as '$status'"
! getent group corvanite-metrics >/dev/null || fail "the group corvanite-metrics is left"
while read -r path; do
  path=${path#.}
  [[ -d $path ]] && continue # a folder other packages share
  [[ ! -e $path ]] || fail "$path is left after dpkg -r"
done < <(dpkg-deb --fsys-tarfile "$deb" | tar -t)
after=$(leftovers)
[[ $before == "$after" ]] || fail "left behind after dpkg -r: $(comm -13 <(echo "$before") <(echo "$after"))"
echo "package: built, lintian clean, installed with cap_net_raw and its units disabled, ran as the monitor, removed and purged cleanly"
