#!/usr/bin/env bash
# Standard output a pipe whose reader has gone: the tool's first line kills it with
# SIGPIPE, at once, instead of running a pass nobody reads or spinning on the failed
# writes. Usage: faults_stdout_closed.sh [sigpipe-ignored]
#   sigpipe-ignored  the tool inherits SIGPIPE ignored (as from some supervisors): its
#                    writes fail with EPIPE and it must still end at once by itself.
# shellcheck source-path=SCRIPTDIR source=hardening_lib.sh
. "$(dirname "$0")/hardening_lib.sh"
ignore=0
case ${1:-} in
  '') ;;
  sigpipe-ignored) ignore=1 ;;
  *)
    echo "usage: $0 [sigpipe-ignored]" >&2
    exit 1
    ;;
esac
e2e_require_lab
e2e_require_tool

# What "at once" allows: a pass that went on would take its 28 s of fixed waits.
HARD_END_SECONDS=5

e2e_lab_up --bare
lab_exec_prefix "$E2E_LAB" host
# Standard input stays open and silent, so only the closed output can end the run.
verdict=$("${LAB_EXEC_PREFIX[@]}" "$LAB_PYTHON" - "$E2E_TOOL" "$ignore" "$HARD_END_SECONDS" \
  2>"$E2E_WORK/tool.err" <<'PY'
import os, resource, signal, subprocess, sys, time
tool, ignore, limit = sys.argv[1], sys.argv[2] == "1", float(sys.argv[3])
reader, writer = os.pipe()
os.close(reader)
in_reader, in_writer = os.pipe()
disposition = signal.SIG_IGN if ignore else signal.SIG_DFL
started = time.monotonic()
child = subprocess.Popen([tool], stdin=in_reader, stdout=writer, stderr=sys.stderr,
                         preexec_fn=lambda: signal.signal(signal.SIGPIPE, disposition))
os.close(writer)
os.close(in_reader)
try:
    status = child.wait(timeout=limit)
except subprocess.TimeoutExpired:
    child.kill()
    child.wait()
    status = "running"
used = resource.getrusage(resource.RUSAGE_CHILDREN)
print(status, f"{time.monotonic() - started:.3f}", f"{used.ru_utime + used.ru_stime:.3f}")
PY
)
read -r status secs cpu <<<"$verdict"
e2e_log "tool status $status after $secs s, $cpu s of CPU"
if [[ $status == running ]]; then
  e2e_fail "the tool still ran ${HARD_END_SECONDS} s after its output was closed"
elif ((ignore)); then
  [[ $status == 0 ]] || e2e_fail "with SIGPIPE ignored the tool ended with $status, not 0"
else
  [[ $status == -13 ]] || e2e_fail "the tool ended with $status, not by SIGPIPE"
fi
e2e_stderr_verdict
e2e_finish
