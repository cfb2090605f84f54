#!/usr/bin/python3
"""Checks JSON Lines (one pass per line) against the pass schema.

Usage: validate.py FILE [--expect-invalid] [--schema NAME]. NAME is a schema
beside this script (pass.schema.json by default; watch.schema.json for
--watch). Exit 0 when every line is valid (or, with --expect-invalid, when
every line is rejected), else 1.
"""
import json
import pathlib
import sys

import jsonschema

def main() -> int:
    expect_invalid = "--expect-invalid" in sys.argv[2:]
    name = "pass.schema.json"
    if "--schema" in sys.argv[2:-1]:
        name = sys.argv[sys.argv.index("--schema", 2) + 1]
    schema = json.loads((pathlib.Path(__file__).parent / name).read_text())
    validator = jsonschema.Draft7Validator(schema)
    lines = pathlib.Path(sys.argv[1]).read_text().splitlines()
    if not lines:
        print("validate: no passes in " + sys.argv[1], file=sys.stderr)
        return 1
    failed = False
    for number, line in enumerate(lines, 1):
        errors = list(validator.iter_errors(json.loads(line)))
        if expect_invalid and not errors:
            print(f"validate: line {number} should have been rejected", file=sys.stderr)
            failed = True
        if not expect_invalid:
            for error in errors:
                where = "/".join(str(p) for p in error.absolute_path)
                print(f"validate: line {number} at /{where}: {error.message}", file=sys.stderr)
                failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
