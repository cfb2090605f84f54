#!/usr/bin/python3
"""Turns run.sh's per-pass figures (one JSON object a line) into the tables of
doc/figures.md, with the machine they were measured on. Fails when a pass did not
end cleanly."""

import json
import os
import platform
import statistics
import sys


def machine():
    model = "unknown CPU"
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as info:
        mem_kb = int(info.readline().split()[1])
    return (f"{os.cpu_count()} x {model}, {mem_kb / 1048576:.0f} GiB, "
            f"Linux {platform.release()}")


def main():
    with open(sys.argv[1]) as results:
        runs = [json.loads(line) for line in results if line.strip()]
    print(f"Machine: {machine()}")
    # A scripted pass (--json) ends with 1 when a test failed: a clean end too.
    failed = [r for r in runs
              if r["figures"]["status"] not in ((0, 1) if r.get("scripted") else (0,))]
    cases = []
    for r in runs:
        if r["case"] not in cases:
            cases.append(r["case"])

    print("\n| case | passes | tool start to prompt (ms) | over 28000 ms fixed waits | "
          "tool CPU (ms) | peak RSS (kB) | tcpdump CPU (ms) | tool/tcpdump CPU | "
          "report (bytes) |")
    print("|---|---|---|---|---|---|---|---|---|")
    for case in cases:
        figs = [r["figures"] for r in runs if r["case"] == case]
        # From the tool's own exec where the wrappers marked it; else from the start
        # of the wrappers (ip netns exec and the rest), which is longer.
        # A --json pass has no prompt: from its start to its end.
        prompt = [f.get("tool_to_prompt_ms") or f["to_prompt_ms"] or f["wall_ms"] for f in figs]
        cpu = [f["tool_cpu_ms"] if f.get("tool_cpu_ms") is not None else
               f["cpu_user_ms"] + f["cpu_system_ms"] for f in figs]
        rss = [f["peak_rss_kb"] or 0 for f in figs]
        dump = [f["watched_cpu_same_span_ms"] if f.get("watched_cpu_same_span_ms") is not None
                else f["watched_cpu_ms"] for f in figs if f["watched_cpu_ms"] is not None]
        dumped = f"{statistics.median(dump):.0f}" if dump else "-"
        ratios = [f["cpu_ratio_to_watched"] for f in figs if f.get("cpu_ratio_to_watched")]
        ratio = f"{statistics.median(ratios):.2f}" if ratios else "-"
        report = max(f.get("report_bytes", 0) for f in figs)
        print(f"| {case} | {len(figs)} | {statistics.median(prompt):.0f} | "
              f"{statistics.median(prompt) - 28000:+.0f} | {statistics.median(cpu):.1f} | "
              f"{max(rss)} | {dumped} | {ratio} | {report} |" if prompt else
              f"| {case} | {len(figs)} | - | - | - | - | - | - | - |")

    starts = [r["figures"]["tool_start_ms"] for r in runs if r["figures"].get("tool_start_ms")]
    if starts:
        print(f"\nThe lab's wrappers took {statistics.median(starts):.1f} ms (median) to start "
              "the tool; the figures above, CPU included, count from the tool's own start.")
    print("\nEach test's length between its output lines against the fixed waits inside it "
          "(median over the passes; 'over' is the overrun in ms, 'reply' a wait that a reply "
          "ended early):\n")
    print("| test | fixed (listening) ms | " + " | ".join(f"{c} over" for c in cases) + " |")
    print("|---|---|" + "---|" * len(cases))
    labels = [s["test"] for s in runs[0]["figures"]["spans"]] if runs else []
    for label in labels:
        row = []
        fixed = None
        for case in cases:
            overs = []
            for r in runs:
                if r["case"] != case:
                    continue
                for s in r["figures"]["spans"]:
                    if s["test"] == label:
                        overs.append(s["over_ms"])
                        fixed = f'{s["fixed_ms"]} ({s["listening_ms"]})'
            # A reply that ends a wait early leaves no overrun to speak of. A line's
            # stamp can come up to a millisecond late, so a span may read a little
            # under its fixed wait without any reply.
            row.append(("reply" if statistics.median(overs) < -1.0 else
                        f"{statistics.median(overs):+.1f}") if overs else "-")
        print(f"| {label} | {fixed} | " + " | ".join(row) + " |")
    for r in failed:
        print(f"\n{r['case']}: the tool ended with {r['figures']['status']}", file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
