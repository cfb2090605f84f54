#!/usr/bin/python3
"""Checks a pass's diagnosis: in its JSON and in the text of a run with --explain.

Usage: check_diagnosis.py JSON TEXT [--only] EXPECTATION...
  JSON         the output of a --json run (one pass)
  TEXT         the output of a --once --explain run in the same lab
  --only       no finding but those expected may be in either run
  EXPECTATION  ID[@SEVERITY][,PATH=VALUE...]: the finding ID is in the JSON with that
               severity (any when not given) and evidence at each PATH (keys and list
               indexes joined by '.') equal to VALUE (compared as JSON when it parses,
               else as text), and the text run's diagnosis has the line
               "  [SEVERITY] SUMMARY" for it, followed by the line of its "fix" where it
               has one. A problem or a warning must have a fix; information must not.
  !ID[@SEVERITY]  the finding ID is in neither run (at that severity, when given):
               the false finding a situation must not produce.
Prints one line per problem; exits 1 when there is any.
"""
import json
import pathlib
import re
import sys

problems = []


def expect(condition, what):
    if not condition:
        problems.append(what)


def at(evidence, path):
    value = evidence
    for key in path.split("."):
        if isinstance(value, list):
            value = value[int(key)] if key.isdigit() and int(key) < len(value) else None
        elif isinstance(value, dict):
            value = value.get(key)
        else:
            return None
    return value


def parsed(text):
    try:
        return json.loads(text)
    except json.JSONDecodeError:
        return text


def counts_masked(text):
    """TEXT with each number of a datagram count put as #: ", 20 of them"."""
    return re.sub(r", [0-9]+ of them", ", # of them", text)


FIX = re.compile(r"^ +Fix: ")


def diagnosis_lines(text):
    """The findings after "Diagnosis:" up to the prompt or the end: each one's line,
    joined by a newline to the line of its fix where one follows."""
    lines = text.splitlines()
    if "Diagnosis:" not in lines:
        return None
    found = []
    for line in lines[lines.index("Diagnosis:") + 1:]:
        if FIX.match(line) and found and "\n" not in found[-1]:
            found[-1] += "\n" + line
        elif line.startswith("  ["):
            found.append(line)
        else:
            break
    return found


def finding_text(finding):
    """What --explain prints for a finding of the JSON: its line, and its fix under it,
    indented to where the summary starts."""
    head = f"  [{finding['severity']}] "
    text = head + finding["summary"]
    if "fix" in finding:
        text += "\n" + " " * len(head) + "Fix: " + finding["fix"]
    return text


def main():
    args = sys.argv[1:]
    only = "--only" in args
    args = [a for a in args if a != "--only"]
    passes = pathlib.Path(args[0]).read_text().splitlines()
    expect(len(passes) == 1, f"{len(passes)} JSON passes, not one")
    findings = json.loads(passes[0])["diagnosis"] if passes else []
    lines = diagnosis_lines(pathlib.Path(args[1]).read_text())
    expect(lines is not None, "the --explain run printed no 'Diagnosis:' line")
    lines = lines or []
    by_id = {f["id"]: f for f in findings}
    for finding in findings:
        has_fix = bool(finding.get("fix"))
        expect(has_fix == (finding["severity"] != "info"),
               f"{finding['id']} is a {finding['severity']} " +
               ("with a fix" if has_fix else "without a fix"))
    expected = set()
    for expectation in args[2:]:
        if expectation.startswith("!"):
            ident, _, severity = expectation[1:].partition("@")
            finding = by_id.get(ident)
            expect(finding is None or (severity and finding["severity"] != severity),
                   f"{ident} is there{' as a ' + severity if severity else ''}, and must not be")
            tag = f"  [{severity}] " if severity else "  ["
            if finding is not None:
                expect(not any(line.startswith(tag) and finding["summary"] in line
                               for line in lines),
                       f"the text's diagnosis has {ident}, and must not")
            # The text names no id: only runs that agree prove it absent from both.
            printed = [counts_masked(finding_text(f)) for f in findings]
            stray = [line for line in lines if counts_masked(line) not in printed]
            expect(not stray, f"the text's diagnosis has lines the JSON lacks: {stray}")
            continue
        head, *checks = expectation.split(",")
        ident, _, severity = head.partition("@")
        expected.add(ident)
        finding = by_id.get(ident)
        expect(finding is not None, f"no finding {ident} in {sorted(by_id)}")
        if finding is None:
            continue
        if severity:
            expect(finding["severity"] == severity,
                   f"{ident} is a {finding['severity']}, not a {severity}")
        for check in checks:
            path, _, value = check.partition("=")
            got = at(finding["evidence"], path)
            expect(got == parsed(value), f"{ident} evidence {path} is {got!r}, not {value}")
        # Two passes: counts (datagrams heard) may differ, the sentence may not.
        line = counts_masked(finding_text(finding))
        expect(line in [counts_masked(text) for text in lines],
               f"the text's diagnosis lacks: {line}\n  it has: {lines}")
    if only:
        expect(set(by_id) <= expected, f"unexpected findings: {sorted(set(by_id) - expected)}")
        expect(len(lines) == len(expected), f"the text's diagnosis has other lines: {lines}")
    for problem in problems:
        print("check_diagnosis: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
