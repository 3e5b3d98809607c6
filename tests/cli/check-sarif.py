#!/usr/bin/env python3
# Validates a SARIF log against a schema and prints "URI:LINE MESSAGE" for
# each result; exit status 1 with the reason when the log is not valid.
import json
import sys

import jsonschema

schema = json.load(open(sys.argv[1], encoding="utf-8"))
with open(sys.argv[2], encoding="utf-8", errors="strict") as f:
    log = json.load(f)
validator = jsonschema.Draft7Validator(schema, format_checker=jsonschema.FormatChecker())
errors = sorted(validator.iter_errors(log), key=lambda e: list(e.path))
if errors:
    for e in errors:
        print("invalid at", "/".join(str(p) for p in e.path), ":", e.message)
    sys.exit(1)
for run in log["runs"]:
    for r in run.get("results", []):
        loc = r.get("locations", [{}])[0].get("physicalLocation", {})
        uri = loc.get("artifactLocation", {}).get("uri", "")
        line = loc.get("region", {}).get("startLine", 0)
        print(f"{uri}:{line} {r['message']['text']}")
