"""Runs a command, copies its standard output byte for byte and notes when each line came.

Usage: stamp.py OUT TIMES COMMAND [ARG...]. TIMES gets one line per output line: the
milliseconds since the command was started, a tab, the line. The tool flushes every
line it writes, so the arrival time is the time the tool wrote it. Exits with the
command's status. Starting the command from here, rather than reading a pipe that is
already running, keeps the first lines from being stamped late.
"""
import subprocess
import sys
import time

out_path, times_path, command = sys.argv[1], sys.argv[2], sys.argv[3:]
with open(out_path, "wb") as out, open(times_path, "w", encoding="utf-8") as times:
    start = time.monotonic()
    with subprocess.Popen(command, stdout=subprocess.PIPE) as tool:
        for line in iter(tool.stdout.readline, b""):
            elapsed = (time.monotonic() - start) * 1000
            out.write(line)
            out.flush()
            text = line.decode("utf-8", "replace").rstrip("\n")
            times.write(f"{elapsed:.0f}\t{text}\n")
            times.flush()
    sys.exit(tool.returncode)
