#!/usr/bin/env bash
# The Debian package on this throwaway machine: build it, check it with lintian,
# install it, check the capability its postinst grants, the manual page and the
# monitor's units (installed disabled, systemd-analyze verify clean, their security
# exposure), run the installed binary as the monitor runs it (a user in the metrics
# group with CAP_NET_RAW only) in a full lab, compare its output with the golden text
# and check the metrics file it wrote; then a pass under the installed unit's own
# sandbox (tests/unit_sandbox/run_as_unit.sh) on a host held to IGMPv2, which the
# monitor must see, where the unit as it was (ProcSubset=pid) must not; then remove
# and purge the package and check that nothing of it is left: an enabled timer
# disabled, the textfile folder's ACL as it was, an administrator's default ACL kept.
# Last, an install on a folder without ACL support and with the metrics group there
# before: the install goes through with a message, and the purge keeps the group.
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
for package in lintian man-db libcap2-bin util-linux acl passwd systemd prometheus gcc libc6-dev; do
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
# The folder's ACL before the package, given a default ACL of an administrator's that
# removal must keep; put back as it was at the end.
mkdir -p "$textfiles"
acl_before_test=$(mktemp /var/tmp/textfiles-acl.XXXXXX)
getfacl -p "$textfiles" >"$acl_before_test"
setfacl -d -m group:adm:r-x "$textfiles"
acl_before=$(getfacl -cp "$textfiles")
# Outside /tmp, /var/tmp, /home and /root, which the unit's sandbox hides.
sandbox_work=$(mktemp -d /var/lib/unit-sandbox.XXXXXX)
chmod 755 "$sandbox_work" # the unit's user runs the helper from there
# Also on a failure half-way: never leave the package on the machine.
remove_if_installed() {
  rm -f "$metrics" "${sandbox_metrics:-}"
  if dpkg-query -W -f='${Status}' corvanite 2>/dev/null | grep -q "ok installed"; then
    dpkg --purge corvanite
  fi
  if [[ -n ${group_made_here:-} ]] && getent group corvanite-metrics >/dev/null; then
    groupdel corvanite-metrics
  fi
  setfacl --restore="$acl_before_test" || true
  rm -rf "$sandbox_work" "$acl_before_test"
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
awk -v level="${BASH_REMATCH[1]}" 'BEGIN { exit !(level <= 1.7) }' ||
  fail "the service's exposure level rose above 1.7: $exposure"
# The watch's service: installed disabled, as hardened as the monitor's.
watch_unit=corvanite-watch@eth0.service
state=$(systemctl is-enabled corvanite-watch@.service 2>&1 || true)
[[ $state == disabled ]] || fail "corvanite-watch@.service is '$state', not disabled"
report=$(systemd-analyze verify --man=no "$watch_unit" 2>&1) || fail "systemd-analyze verify: $report"
[[ -z $report ]] || fail "systemd-analyze verify reports: $report"
exposure=$(systemd-analyze security --offline=true "$watch_unit" | tail -n 1)
echo "systemd-analyze security: $exposure"
[[ $exposure =~ level\ for\ [^:]+:\ ([0-9.]+) ]] || fail "no exposure level in '$exposure'"
awk -v level="${BASH_REMATCH[1]}" 'BEGIN { exit !(level <= 1.7) }' ||
  fail "the watch service's exposure level rose above 1.7: $exposure"
getfacl -cp "$textfiles" | grep -qx 'group:corvanite-metrics:rwx' ||
  fail "the metrics group may not write $textfiles"
[[ $(sort /var/lib/corvanite/postinst-added | tr '\n' ' ') == "acl acl-mask group " ]] ||
  fail "postinst's record of what it added: $(tr '\n' ' ' </var/lib/corvanite/postinst-added)"

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

# The installed unit's sandbox, from its own lines, on a host held to IGMPv2: test 2
# must fail with the refusal and the metrics must name the setting, which the tool
# reads in /proc/sys. The unit as it was, with ProcSubset=pid, hides /proc/sys and
# /proc/net: the same check must fail there, or it proves nothing.
unit=/lib/systemd/system/corvanite-monitor@.service
echo "== a pass under $unit's sandbox, the host held to IGMPv2"
cc -std=c11 -O2 -Wall -Wextra -Werror -o "$sandbox_work/restrict_families" \
  tests/unit_sandbox/restrict_families.c
# The sandbox itself, before it counts for anything: the unit's process is no root,
# holds CAP_NET_RAW alone, cannot write a folder that its permissions would let it
# write, but can write the textfile folder, reads /proc/sys, and may not open a
# socket of a family the unit does not list.
mkdir -m 1777 "$sandbox_work/open"
# shellcheck disable=SC2016 # expanded by the inner shell
probe=$(bash tests/unit_sandbox/run_as_unit.sh --families "$sandbox_work/restrict_families" \
  "$unit" "$LAB_HOST_IF" /bin/sh -c '
    echo "uid=$(id -u)"; grep -E "^Cap(Eff|Prm|Bnd|Amb):" /proc/self/status | tr -d "\t"
    touch "$1/open/probe" 2>/dev/null && echo "open folder writable" || echo "open folder read-only"
    touch "$2/.unit-sandbox-probe" && rm "$2/.unit-sandbox-probe" && echo "textfiles writable"
    test -r /proc/sys/net/ipv4/conf/all/force_igmp_version && echo "/proc/sys readable"
    perl -MSocket -e "socket(my \$s, AF_UNIX, SOCK_STREAM, 0) or print qq(AF_UNIX refused\n)"
  ' sh "$sandbox_work" "$textfiles" 2>/dev/null) || true
expected_probe='CapPrm:0000000000002000
CapEff:0000000000002000
CapBnd:0000000000002000
CapAmb:0000000000002000
open folder read-only
textfiles writable
/proc/sys readable
AF_UNIX refused'
[[ $probe == uid=* && $probe != uid=0$'\n'* && ${probe#*$'\n'} == "$expected_probe" ]] ||
  fail "the unit's sandbox is not what the unit says: $probe"
echo "the sandbox: $(head -n 1 <<<"$probe"), CAP_NET_RAW alone, read-only but the textfile folder"
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
[[ $exec_start =~ --prometheus\ ([^ ]+) ]] || fail "$unit's ExecStart= writes no metrics file"
sandbox_metrics=${BASH_REMATCH[1]//%i/$LAB_HOST_IF}
[[ ! -e $sandbox_metrics ]] || fail "$sandbox_metrics exists already; not overwriting it"
lab_host_exec "$E2E_LAB" sysctl -qw "net.ipv4.conf.$LAB_HOST_IF.force_igmp_version=2"
lab_exec_prefix "$E2E_LAB" host
# unit_pass UNIT NAME: one pass under UNIT's sandbox in the lab's host namespace; its
# output in $sandbox_work/NAME.out, its metrics in NAME.prom. Exit status 1 (a test
# failed, which the unit counts as success) is the one expected; standard error may
# only name the lines the sandbox does not reproduce.
unit_pass() {
  local rc=0 out=$sandbox_work/$2
  rm -f "$sandbox_metrics"
  timeout -k 5 120 "${LAB_EXEC_PREFIX[@]}" bash tests/unit_sandbox/run_as_unit.sh \
    --families "$sandbox_work/restrict_families" "$1" "$LAB_HOST_IF" \
    </dev/null >"$out.out" 2>"$out.err" || rc=$?
  [[ $rc == 1 ]] || fail "the pass under $1 ended with $rc, not 1: $(cat "$out.err")"
  if grep -v '^run_as_unit: not reproduced: ' "$out.err"; then
    fail "the pass under $1 wrote to standard error"
  fi
  [[ -f $sandbox_metrics ]] || fail "the pass under $1 wrote no $sandbox_metrics"
  mv "$sandbox_metrics" "$out.prom"
}
# forced_igmp_caught NAME: test 2 failed with the refusal text straight after its header,
# and the metrics show it failed and name the forced IGMP version.
forced_igmp_caught() {
  local out=$sandbox_work/$1
  grep -A1 $'^\t2\.  Joining SSM Video Group' "$out.out" | tail -n 1 |
    grep -qx 'The host does not support SSM <IGMPv3> ' &&
    grep -Eq '^corvanite_test_success\{[^}]*family="ipv4"[^}]*test="ssm-beacon"[^}]*\} 0$' \
      "$out.prom" &&
    grep -Eq '^corvanite_diagnosis_finding\{[^}]*id="host-igmp-version-forced"[^}]*\} 1$' \
      "$out.prom"
}
unit_pass "$unit" unit
head -n 1 "$sandbox_work/unit.err"
report=$(promtool check metrics <"$sandbox_work/unit.prom" 2>&1) ||
  fail "promtool check metrics: $report"
forced_igmp_caught unit ||
  fail "under the unit's sandbox the pass did not see the host held to IGMPv2 (see $sandbox_work)"
echo "under the unit: test 2 failed with the refusal, host-igmp-version-forced in the metrics"
sed 's/^ProtectProc=.*/&\nProcSubset=pid/' "$unit" >"$sandbox_work/corvanite-monitor-subset-pid@.service"
grep -qx 'ProcSubset=pid' "$sandbox_work/corvanite-monitor-subset-pid@.service" ||
  fail "no ProtectProc= line in $unit to add ProcSubset=pid after"
unit_pass "$sandbox_work/corvanite-monitor-subset-pid@.service" subset-pid
! forced_igmp_caught subset-pid ||
  fail "with ProcSubset=pid the pass still saw the forced IGMP version: the sandbox is not the unit's"
echo "with ProcSubset=pid the same check fails, as it should"
rm -f "$sandbox_work"/*.prom

# An enabled timer: removal must disable it, not leave it firing at a missing unit.
systemctl enable corvanite-monitor@eth0.timer 2>/dev/null
[[ $(systemctl is-enabled corvanite-monitor@eth0.timer) == enabled ]] ||
  fail "could not enable corvanite-monitor@eth0.timer for the removal test"
echo "== dpkg -r corvanite"
dpkg -r corvanite
if getfacl -cp "$textfiles" 2>/dev/null | grep -q corvanite-metrics; then
  fail "the metrics group's ACL entry is left on $textfiles"
fi
[[ $(getfacl -cp "$textfiles") == "$acl_before" ]] ||
  fail "$textfiles's ACL is not what it was before: $(getfacl -cp "$textfiles")"
links=$(find /etc/systemd/system -name 'corvanite-monitor@*' -print)
[[ -z $links ]] || fail "dpkg -r left the monitor enabled: $links"
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
[[ ! -e /var/lib/corvanite ]] || fail "the purge left /var/lib/corvanite"

# The folder on a file system without ACLs (a ramfs in a mount namespace of the
# install's own) and the group made by an administrator: postinst says why the
# monitor cannot write there and the install goes on; the purge keeps the group.
echo "== dpkg -i on a textfile folder without ACL support, the group there before"
groupadd --system corvanite-metrics
group_made_here=1
install_log=$sandbox_work/install.log
# shellcheck disable=SC2016 # expanded by the inner shell
unshare --mount --propagation private sh -c \
  'mount -n -t ramfs ramfs "$1" && exec dpkg -i "$2"' sh "$textfiles" "$deb" >"$install_log" 2>&1 ||
  fail "dpkg -i failed on a folder without ACL support: $(cat "$install_log")"
grep "corvanite: cannot give the group corvanite-metrics write access" "$install_log" ||
  fail "postinst said nothing of the ACL it could not add: $(cat "$install_log")"
dpkg --purge corvanite
getent group corvanite-metrics >/dev/null || fail "the purge deleted the administrator's group"
[[ $(getfacl -cp "$textfiles") == "$acl_before" ]] ||
  fail "$textfiles's ACL changed: $(getfacl -cp "$textfiles")"
[[ ! -e /var/lib/corvanite ]] || fail "the purge left /var/lib/corvanite"
echo "installed with a message, purged; the group stays"
echo "package: built, lintian clean, installed with cap_net_raw and its units disabled, ran as the monitor and under the unit's sandbox, removed and purged cleanly"
