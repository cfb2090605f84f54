#!/usr/bin/env bash
# promtool check metrics on every sample pass's metrics: it must report nothing.
# Usage: promtool_check_samples.sh SAMPLE_BINARY FOLDER      (exit 77: no promtool)
set -euo pipefail
command -v promtool >/dev/null || {
  echo "SKIP: promtool is not installed (Debian package prometheus)" >&2
  exit 77
}
rm -rf "$2"
mkdir -p "$2"
"$1" "$2"
failed=0 files=0
for file in "$2"/*.prom; do
  files=$((files + 1))
  if ! report=$(promtool check metrics <"$file" 2>&1) || [[ -n $report ]]; then
    echo "promtool check metrics on $(basename "$file"):" >&2
    echo "$report" >&2
    failed=1
  fi
done
((files >= 9)) || {
  echo "only $files sample files were written" >&2
  exit 1
}
((failed == 0)) && echo "promtool: $files sample files clean"
exit "$failed"
