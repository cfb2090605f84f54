#!/usr/bin/python3
"""Runs one pass of the tool and times it from outside.

Every line of the tool's standard output is stamped with a monotonic clock as it
arrives on the pipe (the tool writes each line whole). From the stamps come the pass's
wall time up to its prompt and the length of each test, which is compared with the
fixed waits inside that test. The tool's own CPU time from its exec to its prompt comes
from its threads' schedstat (that of the whole process, wrappers included, from wait4()
when it has ended); its peak resident memory (VmHWM) is read from /proc while it waits
at its prompt, before "q" is typed (without a prompt, sampled every 20 ms). Prints one
JSON object.

    pass_timer.py [--watch PID] -- COMMAND...
COMMAND runs the tool (every wrapper must exec into the next). --watch PID adds the
CPU time that process used while the tool ran (e.g. a tcpdump on the same link).

The wrappers (ip netns exec, unshare, a shell) take milliseconds of their own before
the tool starts. COMMAND inherits the write end of a pipe as fd 9; the last wrapper
closes it just before it execs the tool (`exec tool 9>&-`), and the moment the pipe
reads end-of-file is the tool's start: the pass's overhead is counted from there.
"""

import json
import os
import selectors
import subprocess
import sys
import time

EXEC_MARK_FD = 9

# (label, line that starts the span, line that ends it, fixed waits inside it in ms,
#  of which listening). Tests 3, 4 and 7 end at their successor's header; they
# listen for 2000 ms unless a reply ends the wait.
SPANS = [
    ("test 1", "\t1.", "Test ", 2000, 2000),
    ("test 2", "\t2.", "Test ", 4000, 2000),
    ("test 3", "\t3.", "\t4.", 2000, 2000),
    ("test 4", "\t4.", "\t5.", 2000, 2000),
    ("test 5", "\t5.", "Test ", 3000, 1000),
    ("test 6", "\t6.", "Test ", 8000, 1000),
    ("test 7", "\t7.", "\t8.", 2000, 2000),
    ("test 8", "\t8.", "Test ", 5000, 5000),
]
FIXED_WAITS_MS = 28000


def cpu_ms_of(pid):
    """User plus system time of a running process, from /proc/PID/stat."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    ticks = int(fields[11]) + int(fields[12])
    return ticks * 1000.0 / os.sysconf("SC_CLK_TCK")


def run_time_ms(pid):
    """CPU time so far of every thread of a process, to the nanosecond (the first field
    of each thread's schedstat); None where the kernel does not keep it."""
    total = 0
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/schedstat") as stat:
                total += int(stat.read().split()[0])
    except (FileNotFoundError, ProcessLookupError, IndexError, ValueError):
        return None
    return total / 1e6


def memory_kb(pid, field):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return None


def main():
    split = sys.argv.index("--")
    command = sys.argv[split + 1:]
    options = sys.argv[1:split]
    watched = int(options[options.index("--watch") + 1]) if "--watch" in options else None
    watched_before = cpu_ms_of(watched) if watched else None
    mark_read, mark_write = os.pipe()
    os.dup2(mark_write, EXEC_MARK_FD)
    os.close(mark_write)
    started = time.monotonic()
    child = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             pass_fds=(EXEC_MARK_FD,))
    os.close(EXEC_MARK_FD)
    # One thread waits on both the mark and the output, so that both stamps
    # carry the same wake-up delay.
    waiting = selectors.DefaultSelector()
    waiting.register(mark_read, selectors.EVENT_READ, "mark")
    waiting.register(child.stdout, selectors.EVENT_READ, "output")
    tool_start_ms = None
    at_start = at_prompt = (None, None)
    lines = []
    partial = b""
    peak_kb = None
    sampled_kb = None
    while waiting.get_map():
        events = waiting.select(timeout=0.02)
        if tool_start_ms is not None and peak_kb is None:
            # A pass without a prompt (--json) ends on its own: its high-water mark
            # is sampled every 20 ms from the tool's exec on.
            try:
                sampled_kb = max(sampled_kb or 0, memory_kb(child.pid, "VmHWM") or 0) or None
            except (FileNotFoundError, ProcessLookupError):
                pass
        for key, _ in events:
            now = (time.monotonic() - started) * 1000.0
            chunk = os.read(key.fd, 65536)
            if key.data == "mark":
                if not chunk:
                    tool_start_ms = now
                    at_start = (run_time_ms(child.pid), run_time_ms(watched) if watched else None)
                    waiting.unregister(mark_read)
                continue
            if not chunk:
                waiting.unregister(child.stdout)
                continue
            *complete, partial = (partial + chunk).split(b"\n")
            for raw_line in complete:
                lines.append((now, raw_line.decode(errors="replace") + "\n"))
                if "To exit enter" in lines[-1][1] and not child.stdin.closed:
                    # The wrappers have exec'd into the tool: this is its own high-water mark.
                    peak_kb = memory_kb(child.pid, "VmHWM")
                    at_prompt = (run_time_ms(child.pid), run_time_ms(watched) if watched else None)
                    child.stdin.write(b"q\n")
                    child.stdin.close()
    if partial:
        lines.append(((time.monotonic() - started) * 1000.0, partial.decode(errors="replace")))
    if not child.stdin.closed:
        child.stdin.close()
    _, status, usage = os.wait4(child.pid, 0)
    ended = (time.monotonic() - started) * 1000.0
    os.close(mark_read)
    # Without a wrapper that closes the mark, the tool's own exit is the mark:
    # then only the from-the-start figures mean anything.
    if tool_start_ms is not None and lines and tool_start_ms > lines[0][0]:
        tool_start_ms = None
    watched_ms = cpu_ms_of(watched) - watched_before if watched else None
    # The tool's own CPU from its exec to its prompt, and the watched process's over
    # the same span: the rusage figures also hold the wrappers' start-up.
    tool_cpu_ms = watched_span_ms = None
    if tool_start_ms is not None and None not in (at_start[0], at_prompt[0]):
        tool_cpu_ms = at_prompt[0] - at_start[0]
    if tool_cpu_ms is not None and None not in (at_start[1], at_prompt[1]):
        watched_span_ms = at_prompt[1] - at_start[1]

    def first_at_or_after(prefix, index):
        for i in range(index, len(lines)):
            if lines[i][1].startswith(prefix):
                return i
        return None

    spans = []
    for label, opener, closer, fixed, listening in SPANS:
        a = first_at_or_after(opener, 0)
        b = first_at_or_after(closer, a + 1) if a is not None else None
        if a is None or b is None:
            continue
        took = lines[b][0] - lines[a][0]
        spans.append({"test": label, "ms": round(took, 1), "fixed_ms": fixed,
                      "listening_ms": listening, "over_ms": round(took - fixed, 1)})
    prompt = next((t for t, text in lines if "To exit enter" in text), None)
    print(json.dumps({
        "status": os.waitstatus_to_exitcode(status),
        "wall_ms": round(ended, 1),
        "to_prompt_ms": round(prompt, 1) if prompt is not None else None,
        # From the tool's own exec: without the wrappers' start-up.
        "tool_start_ms": round(tool_start_ms, 1) if tool_start_ms is not None else None,
        "tool_to_prompt_ms": (round(prompt - tool_start_ms, 1)
                              if prompt is not None and tool_start_ms is not None else None),
        "tool_to_first_line_ms": (round(lines[0][0] - tool_start_ms, 1)
                                  if lines and tool_start_ms is not None else None),
        "fixed_waits_ms": FIXED_WAITS_MS,
        "cpu_user_ms": round(usage.ru_utime * 1000.0, 1),
        "cpu_system_ms": round(usage.ru_stime * 1000.0, 1),
        # Without a prompt (--json), the last sample of the tool's own; wait4()'s
        # would hold this script's, copied into the child before its exec.
        "peak_rss_kb": peak_kb if peak_kb is not None else sampled_kb,
        "watched_cpu_ms": round(watched_ms, 1) if watched_ms is not None else None,
        "tool_cpu_ms": round(tool_cpu_ms, 2) if tool_cpu_ms is not None else None,
        "watched_cpu_same_span_ms": (round(watched_span_ms, 2)
                                     if watched_span_ms is not None else None),
        # The tool's CPU over the watched process's (tcpdump on the same link), both
        # from the tool's exec to its prompt where that is known.
        "cpu_ratio_to_watched": (
            round(tool_cpu_ms / watched_span_ms, 3) if tool_cpu_ms is not None and watched_span_ms
            else round((usage.ru_utime + usage.ru_stime) * 1000.0 / watched_ms, 3)
            if watched_ms else None),
        "report_bytes": len("".join(text for _, text in lines).encode()),
        "spans": spans,
        "output": "".join(text for _, text in lines),
        "line_ms": [round(t - (tool_start_ms or 0.0), 2) for t, _ in lines],
    }))
    return 0


if __name__ == "__main__":
    sys.exit(main())
