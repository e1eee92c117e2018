#!/usr/bin/env python3
"""Checks a JSON document of the program against docs/report.schema.json.

  check_report.py SCHEMA REPORT [--log LOG]   a tesmora.exe /REPORT file; with
      --log, its counters must be those the UTF-16LE log's report shows
  check_report.py SCHEMA SCAN --scan          tesmora-sig scan --json output
      (its detection records against the schema's detection definition)
Prints what is wrong and exits 1, or exits 0 silently."""
import json
import re
import sys

import jsonschema

LOG_COUNTERS = {
    "scanned directories": "directories",
    "scanned files": "files",
    "scanned streams": "streams",
    "scanned processes": "processes",
    "scanned modules": "modules",
    "infected files": "infectedFiles",
    "infected processes": "infectedProcesses",
    "repaired/removed files": "removedFiles",
    "renamed files": "renamedFiles",
    "terminated processes": "terminatedProcesses",
}


def main(argv):
    schema = json.load(open(argv[1], encoding="utf-8"))
    with open(argv[2], "rb") as f:
        raw = f.read()
    try:
        document = json.loads(raw.decode("utf-8"))
    except (UnicodeDecodeError, ValueError) as e:
        print(f"{argv[2]}: not UTF-8 JSON: {e}")
        return 1
    validator = jsonschema.Draft202012Validator
    validator.check_schema(schema)
    if "--scan" in argv:
        if document.get("format") != "tesmora-scan/1" or not isinstance(document.get("detections"), list):
            print(f"{argv[2]}: no tesmora-sig scan document")
            return 1
        item = dict(schema["$defs"]["detection"])
        item["$defs"] = schema["$defs"]
        errors = [e for d in document["detections"] for e in validator(item).iter_errors(d)]
    else:
        errors = list(validator(schema).iter_errors(document))
    for e in errors:
        print(f"{argv[2]}: {'/'.join(map(str, e.absolute_path))}: {e.message}")
    if errors:
        return 1
    if "--log" in argv:
        log = open(argv[argv.index("--log") + 1], "rb").read().decode("utf-16-le")
        counters = document["counters"]
        for label, key in LOG_COUNTERS.items():
            found = re.findall(r"^" + re.escape(label) + r":\t+(\d+)\r$", log, re.M)
            if not found:
                print(f"log lacks '{label}'")
                return 1
            if int(found[-1]) != counters[key]:
                print(f"{key}: report {counters[key]}, log {found[-1]}")
                return 1
        for phase in ("memory", "file"):
            found = re.findall(r"^elapsed time for " + phase + r" scan:\t+([0-9.]+) seconds\r$", log, re.M)
            if not found or abs(float(found[-1]) - counters[phase + "ScanSeconds"]) > 0.006:
                print(f"{phase} scan time: report {counters[phase + 'ScanSeconds']}, log {found}")
                return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
