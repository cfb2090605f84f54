#!/usr/bin/env bash
# The Debian package on this throwaway machine: build it, check it with lintian,
# install it, check the capability its postinst grants and the manual page, run the
# installed binary as user nobody in a full lab and compare its output with the golden
# text, then remove the package and check that nothing of it is left.
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
for package in lintian man-db libcap2-bin util-linux; do
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

# Everything named after the tool before the package comes in, to compare after removal.
leftovers() { find /usr /etc /var/lib/dpkg -xdev -name '*corvanite*' | sort; }
before=$(leftovers)

# Also on a failure half-way: never leave the package on the machine.
remove_if_installed() {
  if dpkg-query -W -f='${Status}' corvanite 2>/dev/null | grep -q "ok installed"; then
    dpkg -r corvanite
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
MANWIDTH=80 man -l "$manual" | grep -q "corvanite .* test what IPv4 multicast works" ||
  fail "man -l did not render the page's name line"

# As a plain user: only the file capability gives it raw sockets.
echo "== $tool --once as nobody in a full lab"
E2E_TOOL=$tool
e2e_require_lab router
e2e_lab_up
# One pass ends where the interactive run would prompt: the golden text without its
# last two lines (the prompt's blank line and the prompt).
head -n -2 tests/e2e/expected/full_pass.txt >"$E2E_WORK/full_once.txt"
# shellcheck disable=SC2034 # read through --under
as_nobody=(setpriv --reuid nobody --regid nogroup --clear-groups)
E2E_TOOL_ARGS=(--once)
e2e_run_tool --under as_nobody
e2e_expect_output_file "$E2E_WORK/full_once.txt"
((E2E_FAILED == 0)) || fail "the installed tool did not pass the full lab as nobody"
echo "output matches full_pass.txt"

echo "== dpkg -r corvanite"
dpkg -r corvanite
status=$(dpkg-query -W -f='${db:Status-Abbrev}' corvanite 2>/dev/null || true)
[[ -z $status || $status == un* ]] || fail "dpkg still knows corvanite as '$status'"
while read -r path; do
  path=${path#.}
  [[ -d $path ]] && continue # a folder other packages share
  [[ ! -e $path ]] || fail "$path is left after dpkg -r"
done < <(dpkg-deb --fsys-tarfile "$deb" | tar -t)
after=$(leftovers)
[[ $before == "$after" ]] || fail "left behind after dpkg -r: $(comm -13 <(echo "$before") <(echo "$after"))"
echo "package: built, lintian clean, installed with cap_net_raw, ran as nobody, removed cleanly"
