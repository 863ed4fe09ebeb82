#!/usr/bin/env python3
"""Checks every JSON document the tests made against docs/custdisp-cli.schema.json.

The command-line tests keep each `custdisp-cli --json` run (its arguments, exit
code and standard output) in a folder; this checks each one: standard output
is exactly one document, the schema accepts it, and its exit_code is the
process's. Python and Debian's python3-jsonschema because no Qt or C++
validator of JSON Schema draft 2020-12 is packaged in Debian.

usage: check_json_documents.py SCHEMA FOLDER
"""
import copy
import json
import pathlib
import sys

import jsonschema


def problems_of(validator, run):
    if run["exit_code"] == 2:  # a usage error prints no document
        return [] if run["stdout"] == "" else ["a usage error printed on stdout"]
    try:
        document = json.loads(run["stdout"])
    except json.JSONDecodeError as e:
        return [f"stdout is not one JSON document: {e}"]
    found = [f"{'/'.join(map(str, e.absolute_path))}: {e.message}" for e in validator.iter_errors(document)]
    if document.get("exit_code") != run["exit_code"]:
        found.append(f"exit_code {document.get('exit_code')} but the process exited {run['exit_code']}")
    return found


# Faults the schema must catch, each made from a document that passed.
MUTATIONS = {
    "no schema_version": lambda d: d.pop("schema_version"),
    "an unknown field": lambda d: d.update(surprise=1),
    "a renamed field": lambda d: d.update(exitcode=d.pop("exit_code")),
    "an unknown command": lambda d: d.update(command="flash"),
}


def main():
    schema = json.loads(pathlib.Path(sys.argv[1]).read_text())
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    runs = sorted(pathlib.Path(sys.argv[2]).glob("*.json"))
    failed = 0
    kinds = set()
    for path in runs:
        run = json.loads(path.read_text())
        found = problems_of(validator, run)
        if found:
            failed += 1
            print(f"FAIL {path.name}: custdisp-cli {' '.join(run['args'])}", *found, sep="\n    ")
            continue
        if run["exit_code"] == 2:
            continue
        document = json.loads(run["stdout"])
        kinds.add((document["command"], document.get("dry_run", False)))
        for port in document.get("ports", []) if isinstance(document.get("ports"), list) else []:
            if isinstance(port.get("record"), dict):
                kinds.add(("record", port["record"].get("state")))
        for name, mutate in MUTATIONS.items():
            bad = copy.deepcopy(document)
            mutate(bad)
            if validator.is_valid(bad):
                failed += 1
                print(f"FAIL {path.name}: the schema accepts {name}")
    # Every kind of document must have been made, or a test has stopped making it.
    for kind in [("isp", False), ("isp", True), ("params", False), ("version", False), ("ports", False)]:
        if kind not in kinds:
            failed += 1
            print(f"FAIL no test made a document of {kind[0]}{' --dry-run' if kind[1] else ''}")
    # The display record's entries as a port's report shows them.
    for kind in [("record", "holds"), ("record", "did-not-complete")]:
        if kind not in kinds:
            failed += 1
            print(f"FAIL no test made a document with a display record entry that {kind[1]}")
    print(f"{len(runs) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
