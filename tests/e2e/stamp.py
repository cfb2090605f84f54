"""Runs a command, copies its standard output byte for byte and notes when each line came.

Usage: stamp.py OUT TIMES COMMAND [ARG...]. TIMES gets one line per output line: the
wall-clock time it came (seconds since the epoch, the clock of the witness capture's
kernel time stamps), a tab, the line. The tool flushes every
line it writes, so the arrival time is the time the tool wrote it or later, never
earlier: on a busy machine the reader may get a line late. Exits with the
command's status. Starting the command from here, rather than reading a pipe that is
already running, keeps the first lines from being stamped late.
"""
import subprocess
import sys
import time

out_path, times_path, command = sys.argv[1], sys.argv[2], sys.argv[3:]
with open(out_path, "wb") as out, open(times_path, "w", encoding="utf-8") as times:
    with subprocess.Popen(command, stdout=subprocess.PIPE) as tool:
        for line in iter(tool.stdout.readline, b""):
            now = time.time()
            out.write(line)
            out.flush()
            text = line.decode("utf-8", "replace").rstrip("\n")
            times.write(f"{now:.6f}\t{text}\n")
            times.flush()
    sys.exit(tool.returncode)
